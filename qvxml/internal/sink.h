#pragma once
// The one path by which the library writes text: a sink that is either an open stream
// or a memory buffer of fixed capacity (or, with neither, only counts), and the
// escaping routine of attribute values, which writes through it. The tree printer,
// the value writers and the attribute writer all put their text here.

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>

class text_sink
{
  public:
    // Writes to the open stream h.
    explicit text_sink(FILE *h) : stream_{h} {}
    // Writes into buffer, keeping what does not fit out of it: at most capacity bytes,
    // no terminator added. A null buffer of capacity 0 only counts.
    text_sink(char *buffer, std::size_t capacity) : buffer_{buffer}, capacity_{capacity} {}

    void put(std::string_view s)
    {
        if (s.empty()) return; // an empty view may hold no address, which fwrite refuses
        if (stream_) {
            std::fwrite(s.data(), 1, s.size(), stream_);
        } else if (size_ < capacity_) {
            const std::size_t room = capacity_ - size_;
            std::memcpy(buffer_ + size_, s.data(), s.size() < room ? s.size() : room);
        }
        size_ += s.size();
    }
    void put(char c) { put(std::string_view{&c, 1}); }
    // n copies of c.
    void put_repeated(char c, std::size_t n);
    // Bytes put so far, whether or not a memory buffer had room for them.
    std::size_t size() const { return size_; }

  private:
    FILE *stream_ = nullptr;
    char *buffer_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
};

// text with every quotation mark written as "&quot;": an attribute value as XML
// writes it, so that reading it back restores the marks.
void put_quot_escaped(text_sink &out, std::string_view text);
