// Each property over a few hundred inputs of a fixed seed: generated markup, the
// sample documents mutated byte by byte, and the shapes that hit the limits.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "properties.h"

namespace
{

// clang-format off
constexpr std::string_view pieces[] = {
    "<", ">", "</", "/>", "/", "=", "?", "!", "\"", "'", "a", "bc", "x:y", "\n", "\r\n", " ", "\t",
    "\r", "&amp;", "&quot;", ";", "\x82", "\xff", "\x01", "\x7f", "<?xml v='1'?>", "<!-- c > -->",
    "<a k=\"v\">", "</a>", "<b/>", "&eacute;", "\"\"\"", "'''", "&&&;;;", "\x84\x94\x81", "&lt;"};
// clang-format on

std::string generated(std::mt19937 &rng)
{
    std::string s;
    for (std::size_t n = rng() % 60; n > 0; --n) {
        const unsigned pick = rng() % 200;
        if (pick == 0)
            s += std::string(8190 + rng() % 3, 'w'); // around the word limit
        else if (pick == 1)
            s += '\0';
        else if (pick == 2) // content across the reader's input blocks
            s += std::string(60000 + rng() % 10000, ' ');
        else if (pick == 3) // a dropped carriage return inside a word near the limit
            s += std::string(8000, 'w') + "\r" + std::string(200, 'w');
        else
            s += pieces[pick % std::size(pieces)];
    }
    return s;
}

// A substitution in the layout of its property: buffer size, the lengths of replace
// and with (8 when absent), then the texts.
std::string substitution(std::mt19937 &rng)
{
    static constexpr std::string_view texts[] = {"\"", "&quot;", "", "ab", "aa", "xyz", ""};
    const unsigned r = rng() % 7, w = rng() % 7; // the last stands for absent
    std::string s{static_cast<char>(rng() % 40), static_cast<char>(r < 6 ? texts[r].size() : 8),
                  static_cast<char>(w < 6 ? texts[w].size() : 8)};
    s.append(texts[r]).append(texts[w]);
    for (std::size_t n = rng() % 30; n > 0; --n)
        s += "ab\"&quot;"[rng() % 9];
    return s;
}

// A document with a value of q quotation marks in apostrophes: written with "&quot;"
// it fits the word limit up to 1364 of them.
std::string quoted_value(int q)
{
    return "<a k='" + std::string(static_cast<std::size_t>(q), '"') + "'>t</a>";
}

std::vector<std::string> inputs()
{
    std::mt19937 rng(7021);
    const std::string samples[] = {
        "<?xml version=\"1.0\"?>\n<list n=\"2\">\n\t<item id='1' kind=a>Caf\x82 &amp; bar</item>\n"
        "\t<item flag x=\"q&quot;\"/>\r\n<!DOCTYPE x>\n</list>\n",
        "<a\n>\n</a>\n<b>it's \"quoted\" <c/></b>"};
    std::vector<std::string> out{quoted_value(1364), quoted_value(1365)};
    for (int i = 0; i < 300; ++i) {
        if (i % 2) {
            out.push_back(generated(rng));
            continue;
        }
        std::string s = samples[rng() % std::size(samples)];
        for (std::size_t n = 1 + rng() % 4; n > 0; --n) {
            const std::size_t at = rng() % (s.size() + 1);
            const std::string_view piece = pieces[rng() % std::size(pieces)];
            if (rng() % 2 && at < s.size())
                s.erase(at, 1 + rng() % 3);
            else
                s.insert(at, piece);
        }
        out.push_back(s);
    }
    return out;
}

} // namespace

TEST(Properties, HoldOverSeededInputs)
{
    for (const std::string &input : inputs()) {
        const std::string shown = input.substr(0, 200);
        EXPECT_EQ(check_reader_agreement(input), "") << shown;
        EXPECT_EQ(check_serialise_round_trip(input), "") << shown;
        EXPECT_EQ(check_entity_round_trip(input), "") << shown;
    }
    std::mt19937 rng(3301);
    for (int i = 0; i < 2000; ++i) {
        const std::string data = substitution(rng);
        EXPECT_EQ(check_quote_substitution(data), "") << data;
    }
}

// The data files: reader inputs of every shape, and inputs that once broke a property.
TEST(Properties, HoldForDataCases)
{
    std::vector<std::filesystem::path> names{std::string(QVXML_TEST_DATA) +
                                             "/round-trip-limit.xml"};
    for (const auto &f :
         std::filesystem::directory_iterator(std::string(QVXML_TEST_DATA) + "/reader"))
        names.push_back(f.path());
    for (const auto &name : names) {
        std::ifstream file(name, std::ios::binary);
        ASSERT_TRUE(file) << name;
        std::stringstream data;
        data << file.rdbuf();
        EXPECT_EQ(check_serialise_round_trip(data.str()), "") << name;
        EXPECT_EQ(check_reader_agreement(data.str()), "") << name;
    }
}
