#include "qvxml/internal/impl.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "qvxml/internal/grow.h"
#include "qvxml/internal/sink.h"

using namespace qvxml::impl;

namespace
{

// fprintf_xml_string_attribute escapes a value shorter than this on the stack
constexpr std::size_t attribute_stack_bytes = 1024;

// The output side of one substitution pass: a buffer of fixed size that remembers by
// how much the first piece that did not fit overflowed it. After an overflow nothing
// more is written, so the buffer keeps a prefix of the result.
class bounded_output
{
  public:
    bounded_output(char *buffer, std::size_t size) : buf_{buffer}, size_{size} {}
    // Unchanged input text, which may fill the buffer up to its last byte.
    bool put_text(const char *p, std::size_t n)
    {
        const std::size_t room = size_ - used_;
        if (n > room) {
            append(p, room);
            return stop(n - room);
        }
        append(p, n);
        return true;
    }
    // A replacement or the tail of the input: it must leave a byte for the terminator.
    bool put_spared(const char *p, std::size_t n)
    {
        const std::size_t room = size_ - used_;
        if (n >= room) {
            append(p, room);
            return stop(n - room);
        }
        append(p, n);
        return true;
    }
    // Ends the pass without completing it; d measures what did not fit (at least 1).
    bool stop(std::size_t d)
    {
        excess_ = std::max<std::size_t>(d, 1);
        return false;
    }
    // Terminates the text and returns the pass's result: the length when complete,
    // otherwise a size of at least size + 2 for the next attempt.
    std::size_t finish()
    {
        assert(excess_ != 0 || used_ < size_);
        buf_[size_ - 1] = '\0';
        if (used_ < size_) buf_[used_] = '\0';
        return excess_ != 0 ? size_ + 1 + excess_ : used_;
    }

  private:
    void append(const char *p, std::size_t n)
    {
        std::memcpy(buf_ + used_, p, n);
        used_ += n;
    }
    char *buf_;
    std::size_t size_;
    std::size_t used_ = 0;
    std::size_t excess_ = 0;
};

// The next occurrence of from at or after pos that lies wholly inside the window;
// an empty from occurs at every position.
const char *find_in_window(const char *input, std::size_t pos, std::size_t window,
                           std::string_view from)
{
    if (from.empty()) return input + pos;
    if (pos >= window) return nullptr;
    return static_cast<const char *>(memmem(input + pos, window - pos, from.data(), from.size()));
}

// One bounded pass. It reads input only as far as the buffer could hold it, plus one
// byte to learn whether input goes on, so a small buffer costs little on a long input.
std::size_t translate_string_with_string_impl(const char *startpos, const char *input, char *buffer,
                                              int buffersize, const char *replace, const char *with)
{
    if (!buffer || !input || (!replace && !with) || buffersize < 1) return 0;
    const std::string_view from{replace ? replace : ""};
    const std::string_view to{with ? with : ""};
    const auto size = static_cast<std::size_t>(buffersize);
    bounded_output out{buffer, size};
    const std::size_t seen = strnlen(input, size + 1);
    const bool goes_on = seen > size;
    const std::size_t window = std::min(seen, size);

    std::size_t pos = 0; // input position after the last replaced occurrence
    for (const char *at = startpos; at;) {
        const auto hit = static_cast<std::size_t>(at - input);
        assert(hit >= pos);
        if (!out.put_text(input + pos, hit - pos)) return out.finish();
        if (!out.put_spared(to.data(), to.size())) return out.finish();
        pos = hit + from.size();
        if (from.empty() && hit < seen) { // the empty text is replaced in front of each character
            if (!out.put_text(input + hit, 1)) return out.finish();
            pos = hit + 1;
        }
        if (!goes_on && pos >= seen) break;
        if (goes_on && pos >= window) {
            out.stop(1);
            return out.finish();
        }
        at = find_in_window(input, pos, window, from);
    }

    const std::size_t rest = window > pos ? window - pos : 0;
    if (!out.put_spared(input + pos, rest)) return out.finish();
    if (goes_on) {
        out.stop(1);
        return out.finish();
    }
    if (from.empty() && rest == 0 && seen > 0) (void)out.put_spared(to.data(), to.size());
    return out.finish();
}

// The buffer of fprintf_xml_string_attribute for a long value comes from the system
// allocator: it never leaves that function, so it is not counted with the library's
// blocks.
struct system_block_owner {
    void operator()(char *p) const noexcept { std::free(p); }
};
using system_block = std::unique_ptr<char, system_block_owner>;

} // namespace

std::size_t qvxml::impl::translate_string_with_string(const char *input, char *buffer,
                                                      int buffersize, const char *replace,
                                                      const char *with)
{
    if (!buffer || !input) return 0;
    const char *startpos = replace ? std::strstr(input, replace) : input;
    return translate_string_with_string_impl(startpos, input, buffer, buffersize, replace, with);
}

std::size_t qvxml::impl::translate_string_with_string_startpos(const char *startpos,
                                                               const char *input, char *buffer,
                                                               int buffersize, const char *replace,
                                                               const char *with)
{
    return translate_string_with_string_impl(startpos, input, buffer, buffersize, replace, with);
}

void qvxml::impl::fprintf_xml_string_attribute(FILE *h, const char *format, const char *attribute)
{
    if (!h || !format || !attribute) return;
    const std::string_view value{attribute};
    if (value.find('"') == value.npos) {
        std::fprintf(h, format, attribute);
        return;
    }
    text_sink count{nullptr, 0};
    put_quot_escaped(count, value);
    std::array<char, attribute_stack_bytes> stack;
    system_block heap;
    char *text = stack.data();
    if (count.size() >= stack.size()) {
        heap.reset(static_cast<char *>(std::malloc(count.size() + 1)));
        if (!heap) return;
        text = heap.get();
    }
    text_sink into{text, count.size()};
    put_quot_escaped(into, value);
    text[count.size()] = '\0';
    std::fprintf(h, format, text);
}

char *qvxml::impl::unserialize_xml_string_attribute_value(char *value)
{
    return value ? unserialize_xml_string_attribute_value(value, std::strlen(value)) : nullptr;
}

char *qvxml::impl::unserialize_xml_string_attribute_value(char *value, std::size_t length)
{
    const std::size_t at = std::string_view{value, length}.find("&quot;");
    if (at == std::string_view::npos) return value;
    const char *first = value + at;
    // every "&quot;" shrinks the text by five bytes, so the first pass fits
    std::size_t capacity = length;
    char *text = fits_block(capacity)
                     ? static_cast<char *>(allocate_secure(static_cast<int>(capacity)))
                     : nullptr;
    std::size_t r = translate_string_with_string_impl(first, value, text,
                                                      static_cast<int>(capacity), "&quot;", "\"");
    while (r > capacity) {
        liberate(text);
        text = fits_block(r) ? static_cast<char *>(allocate_secure(static_cast<int>(r))) : nullptr;
        capacity = r;
        r = translate_string_with_string_impl(first, value, text, static_cast<int>(capacity),
                                              "&quot;", "\"");
    }
    liberate(value);
    return text;
}
