#include "qvxml/internal/sink.h"

#include <algorithm>
#include <array>

namespace
{

// A long run, so that the indentation of a deep tree, which grows with the square of
// its depth, costs few writes.
constexpr std::size_t repeat_run = 4096;

} // namespace

void text_sink::put_repeated(char c, std::size_t n)
{
    std::array<char, repeat_run> run;
    run.fill(c);
    while (n > 0) {
        const std::size_t chunk = std::min(n, run.size());
        put(std::string_view{run.data(), chunk});
        n -= chunk;
    }
}

void put_quot_escaped(text_sink &out, std::string_view text)
{
    for (std::size_t q; (q = text.find('"')) != text.npos; text.remove_prefix(q + 1)) {
        out.put(text.substr(0, q));
        out.put("&quot;");
    }
    out.put(text);
}
