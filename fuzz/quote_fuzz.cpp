// The bounded substitution with fuzzed texts and buffer sizes: it never writes
// beyond buffersize, its result R obeys its rules (R < buffersize exactly when the
// result is complete, R is then the length; otherwise R >= buffersize + 2), and
// growing the buffer to R repeatedly always completes with the full result.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "qvxml/xmlparse.h"

namespace {

// The full substitution, computed plainly for comparison.
std::string expected(const std::string &in, const std::string &rep, const std::string &with)
{
    if (rep.empty()) {
        std::string out;
        for (char c : in) (out += with) += c;
        return out + with;
    }
    std::string out;
    std::size_t pos = 0;
    for (std::size_t q; (q = in.find(rep, pos)) != std::string::npos; pos = q + rep.size())
        out.append(in, pos, q - pos) += with;
    return out.append(in, pos);
}

constexpr unsigned char canary = 0xA5;
constexpr std::size_t guard = 16;

// One pass into a buffer of size bytes with guard bytes after it.
std::size_t pass(const std::string &in, const std::string &rep, const std::string &with, int size,
                 std::string &text)
{
    std::vector<unsigned char> buf(static_cast<std::size_t>(size) + guard, canary);
    auto *b = reinterpret_cast<char *>(buf.data());
    const std::size_t r = translate_string_with_string(in.c_str(), b, size, rep.c_str(), with.c_str());
    for (std::size_t i = 0; i < guard; ++i) FUZZ_CHECK(buf[static_cast<std::size_t>(size) + i] == canary);
    FUZZ_CHECK(std::memchr(b, 0, static_cast<std::size_t>(size)) != nullptr);
    text = b;
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 3) return 0;
    // layout: buffer size byte, replace length byte, with length byte, then the texts
    const int buffersize = 1 + data[0];
    const std::size_t rlen = data[1] % 8, wlen = data[2] % 8;
    std::string rest(reinterpret_cast<const char *>(data) + 3, size - 3);
    rest.erase(std::find(rest.begin(), rest.end(), '\0'), rest.end());
    if (rest.size() < rlen + wlen) return 0;
    const std::string rep = rest.substr(0, rlen), with = rest.substr(rlen, wlen);
    const std::string in = rest.substr(rlen + wlen);
    const std::string want = expected(in, rep, with);

    std::string text;
    int capacity = buffersize;
    std::size_t r = pass(in, rep, with, capacity, text);
    for (int rounds = 0; r >= static_cast<std::size_t>(capacity); ++rounds) {
        FUZZ_CHECK(r >= static_cast<std::size_t>(capacity) + 2);
        FUZZ_CHECK(rounds < 100000);
        capacity = static_cast<int>(r);
        r = pass(in, rep, with, capacity, text);
    }
    FUZZ_CHECK(r == want.size());
    FUZZ_CHECK(text == want);
    return 0;
}
