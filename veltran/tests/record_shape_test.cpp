// The converter's record shape over every stored input (test_support.h).
#include "record_shape.h"
#include "test_support.h"

TEST(Records, KeepTheirShapeOverStoredInputs)
{
    for (const fs::path &f : stored_inputs())
        EXPECT_EQ(check_record_shape(read_file(f)), "") << f;
}
