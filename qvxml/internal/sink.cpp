#include "qvxml/internal/sink.h"

#include <algorithm>
#include <array>

#include "qvxml/internal/impl.h"

using namespace qvxml::impl;

namespace
{

// A long run, so that the indentation of a deep tree, which grows with the square of
// its depth, costs few writes.
constexpr std::size_t repeat_run = 4096;

} // namespace

void text_sink::put_long_run(char c, std::size_t n)
{
    std::array<char, repeat_run> run;
    std::fill_n(run.data(), std::min(n, run.size()), c); // a short run fills little
    while (n > 0) {
        const std::size_t chunk = std::min(n, run.size());
        put(std::string_view{run.data(), chunk});
        n -= chunk;
    }
}

// Called when s does not fit beside what is staged: the staged bytes go, then s is
// staged, or handed over at once when it is larger than the staging buffer.
void text_sink::pass_on(std::string_view s)
{
    if (flush() != 0) return;
    if (s.size() <= capacity_) {
        std::memcpy(buffer_, s.data(), s.size());
        staged_ = s.size();
    } else {
        status_ = writer_->write(writer_->context, s.data(), s.size());
    }
}

int text_sink::flush()
{
    if (writer_ && status_ == 0 && staged_ > 0)
        status_ = writer_->write(writer_->context, buffer_, staged_);
    staged_ = 0;
    return status_;
}

void put_quot_escaped(text_sink &out, std::string_view text)
{
    for (std::size_t q; (q = text.find('"')) != text.npos; text.remove_prefix(q + 1)) {
        out.put(text.substr(0, q));
        out.put("&quot;");
    }
    out.put(text);
}
