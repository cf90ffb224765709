// Each property over stored inputs: the fuzz targets' kept corpora and seeds, the
// reader inputs of data/reader (every shape of markup, texts across the reader's
// input blocks, values at the writer's limit) and the inputs that once broke one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "properties.h"

namespace
{

const std::string data = QVXML_TEST_DATA, fuzz = data + "/../../../fuzz/";

// Runs check over every file of the folders; a folder missing or empty is a failure.
void over_files(std::initializer_list<std::string> folders, std::string (*check)(std::string_view))
{
    for (const std::string &folder : folders) {
        int files = 0;
        for (const auto &f : std::filesystem::directory_iterator(folder)) {
            if (!f.is_regular_file()) continue;
            std::ifstream in(f.path(), std::ios::binary);
            std::stringstream bytes;
            bytes << in.rdbuf();
            ++files;
            EXPECT_EQ(check(bytes.str()), "") << f.path();
        }
        EXPECT_GT(files, 0) << folder;
    }
}

} // namespace

TEST(Properties, HoldOverStoredInputs)
{
    const auto xml = {data + "/reader",
                      data,
                      fuzz + "corpus/reader_diff_fuzz",
                      fuzz + "corpus/builder_fuzz",
                      fuzz + "corpus/entity_fuzz",
                      fuzz + "seeds/xml"};
    over_files(xml, check_reader_agreement);
    over_files(xml, check_serialise_round_trip);
    over_files(xml, check_entity_round_trip);
    over_files({fuzz + "corpus/quote_fuzz", fuzz + "seeds/quote_fuzz"}, check_quote_substitution);
}
