// Each property over every stored input: the fuzz targets' kept corpora and seeds, the
// library's data files (every shape of markup, texts across the reader's input blocks,
// values at the writer's limit, the inputs that once broke one) and the converter's
// example exports and case inputs.
#include "test_support.h"

// A folder missing is a failure: the walk throws.
TEST(Properties, HoldOverStoredInputs)
{
    for (const std::string folder :
         {"qvxml/tests/data", "fuzz/corpus", "fuzz/seeds", "examples", "veltran/tests/cases"})
        for (const auto &f :
             fs::recursive_directory_iterator(QVXML_TEST_DATA "/../../../" + folder))
            // of the converter's cases, only the input files
            if (f.is_regular_file() &&
                (!folder.ends_with("cases") || f.path().extension() == ".xml")) {
                const std::string bytes = read_file(f.path());
                for (const auto check :
                     {check_reader_agreement, check_serialise_round_trip, check_memory_input,
                      check_entity_round_trip, check_quote_substitution, check_record_shape})
                    EXPECT_EQ(check(bytes), "") << f.path();
            }
}
