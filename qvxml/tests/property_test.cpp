// Each property of the library over every stored input (test_support.h).
#include "test_support.h"

TEST(Properties, HoldOverStoredInputs)
{
    for (const fs::path &f : stored_inputs()) {
        const std::string bytes = read_file(f);
        for (const auto check :
             {check_reader_agreement, check_serialise_round_trip, check_memory_input,
              check_position_agreement, check_stream_agreement, check_entity_round_trip,
              check_quote_substitution, check_cxx_interface})
            EXPECT_EQ(check(bytes), "") << f;
    }
}
