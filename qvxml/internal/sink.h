#pragma once
// The one path by which the library writes text: a sink that is an open stream, a
// memory buffer of fixed capacity (or, with neither, only counts), or a caller's
// document_writer fed through a staging buffer; and the escaping routine of attribute
// values, which writes through it. The tree printer, the value writers and the
// attribute writer all put their text here.

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "qvxml/internal/copy.h"

struct document_writer;

class text_sink
{
  public:
    // Writes to the open stream h.
    explicit text_sink(FILE *h) : stream_{h} {}
    // Writes into buffer, keeping what does not fit out of it: at most capacity bytes,
    // no terminator added. A null buffer of capacity 0 only counts.
    text_sink(char *buffer, std::size_t capacity) : buffer_{buffer}, capacity_{capacity} {}
    // Hands the text to writer in pieces, gathered in staging[0..capacity) (capacity
    // above 0). Once the writer returns non-zero nothing more is handed to it.
    text_sink(const document_writer &writer, char *staging, std::size_t capacity)
        : buffer_{staging}, capacity_{capacity}, writer_{&writer}
    {
    }

    void put(std::string_view s)
    {
        if (writer_ && s.size() <= capacity_ - staged_) { // the usual case of the writer functions
            copy_bytes(buffer_ + staged_, s.data(), s.size()); // mostly a few bytes
            staged_ += s.size();
            size_ += s.size();
            return;
        }
        if (s.empty()) return; // an empty view may hold no address, which fwrite refuses
        if (stream_) {
            std::fwrite(s.data(), 1, s.size(), stream_);
        } else if (writer_) {
            pass_on(s); // it does not fit beside what is staged
        } else if (size_ < capacity_) {
            const std::size_t room = capacity_ - size_;
            std::memcpy(buffer_ + size_, s.data(), s.size() < room ? s.size() : room);
        }
        size_ += s.size();
    }
    void put(char c) { put(std::string_view{&c, 1}); }
    // Room for n bytes in a writer's staging, for the caller to write straight into and
    // then take with took(n); null for any other sink, or when there is not that room.
    char *room_for(std::size_t n)
    {
        return writer_ && n <= capacity_ - staged_ ? buffer_ + staged_ : nullptr;
    }
    void took(std::size_t n)
    {
        staged_ += n;
        size_ += n;
    }
    // A run of tabs for the indentation of the printer, put without filling one.
    static constexpr std::string_view few_tabs = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t"
                                                 "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
    // n copies of c. The indentation of the printer, a few tabs, is put from a constant
    // run without filling one.
    void put_repeated(char c, std::size_t n)
    {
        if (c == '\t' && n <= few_tabs.size()) return put(std::string_view{few_tabs.data(), n});
        put_long_run(c, n);
    }
    // Bytes put so far, whether or not a memory buffer had room for them.
    std::size_t size() const { return size_; }
    // With a writer: hands it what is staged. 0, or the writer's first non-zero result.
    int flush();
    // The writer's first non-zero result, 0 while it has given none.
    int status() const { return status_; }

  private:
    void put_long_run(char c, std::size_t n);
    void pass_on(std::string_view s);
    FILE *stream_ = nullptr;
    char *buffer_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
    const document_writer *writer_ = nullptr;
    std::size_t staged_ = 0; // bytes in buffer_ not yet handed to writer_
    int status_ = 0;         // the writer's first non-zero result
};

// text with every quotation mark written as "&quot;": an attribute value as XML
// writes it, so that reading it back restores the marks.
void put_quot_escaped(text_sink &out, std::string_view text);
