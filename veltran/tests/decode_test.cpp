// data/decode.tsv: a record field and its UTF-8 text, "\xNN" standing for a byte and
// "(empty)" for nothing. Both forms of decode_field agree, however the sink is called,
// and the result never outgrows decoded_capacity.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "veltran/decode.h"

namespace
{

std::string unescaped(const std::string &s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i)
        out +=
            s.compare(i, 2, "\\x") == 0 ? char(std::stoi(s.substr((i += 3) - 1, 2), 0, 16)) : s[i];
    return out == "(empty)" ? "" : out;
}

TEST(Decode, FieldsBecomeUtf8)
{
    std::ifstream in(VELTRAN_TEST_DATA "/decode.tsv");
    std::string line, field, decoded, why;
    std::getline(in, line);
    for (int rows = 0;
         std::getline(in, field, '\t') && std::getline(in, decoded, '\t') && std::getline(in, why);
         ++rows) {
        SCOPED_TRACE(why);
        field = unescaped(field);
        std::string buffer(decoded_capacity(field.size()), '\0'), pieces;
        buffer.resize(decode_field(field, buffer.data()));
        decode_field(field, {&pieces, [](void *to, std::string_view piece) {
                                 EXPECT_FALSE(piece.empty());
                                 *static_cast<std::string *>(to) += piece;
                             }});
        EXPECT_EQ(buffer, unescaped(decoded));
        EXPECT_EQ(pieces, buffer);
    }
}

} // namespace
