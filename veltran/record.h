#pragma once
// The record format: the held-back records of a file, the sink a field is written
// to, the one escaper of field contents, and the newest-timestamp rule.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "qvxml/element.h"
#include "veltran/field_scan.h"
#include "veltran/output.h"

constexpr std::size_t recent_capacity = 256;        // the timestamp text kept, with its terminator
constexpr std::string_view bar_escape = "&brvbar;"; // what a "|" in a field becomes

// Copies n bytes of from to to, which do not overlap. Up to sixteen bytes are moved
// inline as two overlapping pieces, reading and writing only the n bytes: most fields
// are that short, and a call to memcpy costs more than the copy.
inline void copy_short(char *to, const char *from, std::size_t n)
{
    const auto pair = [&](auto piece) {
        std::memcpy(&piece, from, sizeof piece);
        decltype(piece) tail;
        std::memcpy(&tail, from + n - sizeof piece, sizeof piece);
        std::memcpy(to, &piece, sizeof piece);
        std::memcpy(to + n - sizeof piece, &tail, sizeof piece);
    };
    if (n > 16)
        std::memcpy(to, from, n);
    else if (n >= 8)
        pair(std::uint64_t{});
    else if (n >= 4)
        pair(std::uint32_t{});
    else if (n > 0) {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    }
}

// The records of one file, held back until the file is known to load, since a file
// that fails prints only its error line. Bytes are written once, into a chain of
// tracked chunks kept in memory up to a limit; past it a chunk stages them for an
// unlinked temporary file in the spill folder, so memory stays flat however large
// the file. Without a temporary file the memory simply grows; when even that fails,
// or the file cannot be written, the records are marked lost with the cause.
class held_records
{
  public:
    held_records() = default;
    held_records(const held_records &) = delete;
    held_records &operator=(const held_records &) = delete;
    ~held_records() { clear(); }

    void put(std::string_view s)
    {
        if (!put_whole(s)) put_slow(s);
    }
    void put(char c)
    {
        if (cursor_ == limit_) return put_slow({&c, 1});
        *cursor_++ = c;
    }
    // Puts s when it fits the chunk being filled; false, with nothing put, otherwise.
    bool put_whole(std::string_view s)
    {
        if (s.size() > std::size_t(limit_ - cursor_)) return false;
        copy_short(cursor_, s.data(), s.size());
        cursor_ += s.size();
        return true;
    }
    // Hands the staged bytes and the temporary file's buffer to the system, so that a
    // full disk shows now rather than when the records are emitted.
    void finish();
    // The number of bytes put so far.
    std::size_t size() const { return settled_ + std::size_t(cursor_ - open_); }
    // True when some bytes could not be kept; error() is then the cause's errno
    // (ENOMEM when memory ran out).
    bool lost() const { return error_ != 0; }
    int error() const { return error_; }
    // Copies the bytes [from, to) to out. False when out failed, or when the bytes
    // could not all be read back (error() then says why).
    bool emit(std::size_t from, std::size_t to, checked_output &out);
    // Where read_back hands the bytes: take gets them in pieces, in order, and returns
    // false to stop.
    struct piece_taker {
        void *context;
        bool (*take)(void *context, std::string_view piece);
    };
    // Hands the bytes [from, to) to take. False when take stopped, or when the bytes
    // could not all be read back (error() then says why).
    bool read_back(std::size_t from, std::size_t to, const piece_taker &take);
    // Forgets everything held; the temporary file is closed, which removes it.
    void clear();

  private:
    struct chunk {
        chunk *next;
    };
    static char *data_of(chunk *c) { return reinterpret_cast<char *>(c + 1); }
    void put_slow(std::string_view s);
    bool next_chunk();
    chunk *new_chunk();
    void fail(int error);
    bool write_staged();
    // The bytes held in memory, before those of the temporary file: the full chunks,
    // and the one being filled while nothing is staged for the file.
    std::size_t memory_part() const { return staging_ ? in_memory_ : size(); }

    chunk *first_ = nullptr, *last_ = nullptr; // the memory part, in order
    chunk *staging_ = nullptr;                 // past the memory part: bytes bound for spill_
    char *open_ = nullptr, *cursor_ = nullptr, *limit_ = nullptr; // the chunk being filled
    std::size_t settled_ = 0;                                     // bytes before open_
    std::size_t in_memory_ = 0; // bytes of the memory part in full chunks
    FILE *spill_ = nullptr;
    bool spill_failed_ = false;
    int error_ = 0;
};

// The folder of held records' temporary files: $TMPDIR when it is set, else /tmp
// (many systems keep /tmp in memory, so a very large export may need a disk).
const char *spill_folder();

// Where a field goes: the held records, or the end of a caller's text store whose
// capacity the sink knows. A store may reserve room for the separators still to
// come, so that cutting a long field never costs the record a field.
class field_sink
{
  public:
    explicit field_sink(held_records &records) : records_{&records} {}
    // Starts an empty text in text[0..capacity), keeping separators_due bytes back.
    field_sink(char *text, std::size_t capacity, std::size_t separators_due)
        : text_{text}, capacity_{capacity}, due_{separators_due}
    {
        text_[0] = '\0';
    }
    // Appends content. In a store, a piece is cut to the room left; an indivisible
    // piece (an escape) goes in whole or not at all. False once something was cut.
    bool put(std::string_view s, bool indivisible = false)
    {
        if (!text_) {
            records_->put(s);
            return true;
        }
        const std::size_t room = capacity_ - 1 - length_ - due_;
        std::size_t n = std::min(s.size(), room);
        if (indivisible && n < s.size()) n = 0;
        append(s.substr(0, n));
        cut_ = cut_ || n < s.size();
        return n == s.size();
    }
    // Appends one "|"; in a store it uses up one reserved byte when there is one.
    void separator()
    {
        if (!text_) {
            records_->put('|');
            return;
        }
        if (due_ > 0)
            --due_;
        else if (length_ + 1 >= capacity_)
            return;
        text_[length_++] = '|';
        text_[length_] = '\0';
    }
    // Appends s when it fits whole (in the held records, without a new chunk); false,
    // with nothing appended, otherwise.
    bool put_whole(std::string_view s)
    {
        if (!text_) return records_->put_whole(s);
        if (s.size() > capacity_ - 1 - length_ - due_) return false;
        append(s);
        return true;
    }
    std::string_view text() const { return {text_, length_}; }
    // True once a piece was cut to fit the store.
    bool cut() const { return cut_; }

  private:
    void append(std::string_view s)
    {
        copy_short(text_ + length_, s.data(), s.size());
        length_ += s.size();
        text_[length_] = '\0';
    }
    held_records *records_ = nullptr;
    char *text_ = nullptr;
    std::size_t capacity_ = 0, length_ = 0, due_ = 0;
    bool cut_ = false;
};

// Writes text with "|" as "&brvbar;" and a line feed as one blank, so that a record
// never spans two lines, then "|" when terminate is not 0. A field cut at the end of
// a store stops there; its separator is still written.
// Inline: it runs for every field of every record.
void put_pieces(field_sink &out, const char *text);
inline void put_field(field_sink &out, const char *text, int terminate)
{
    // a field that fits where it goes and has nothing to escape, the usual case, is
    // copied whole; any other goes piece by piece from its start
    if (*text != '\0') {
        const std::size_t run = field_stop(text);
        if (text[run] != '\0' || !out.put_whole({text, run})) put_pieces(out, text);
    }
    if (terminate) out.separator();
}
// put_field of the element's text, or of fallback when the element is null or has
// no text.
inline void put_element(field_sink &out, const xml_element *vptr, const char *fallback,
                        int terminate)
{
    put_field(out, vptr && vptr->value ? vptr->value : fallback, terminate);
}
// Copies text into store, keeping at most capacity - 1 bytes and the terminator.
// False when text was cut.
bool copy_bounded(char *store, std::size_t capacity, const char *text);

// The newest timestamp seen: the largest leading number and the text that first
// reached it, cut to recent_capacity - 1 bytes (the number is read from the whole).
struct newest_stamp {
    std::uint64_t since = 0;
    std::array<char, recent_capacity> recent{};
};
// put_element of the timestamp element stamp (with fallback ""), then the newest rule:
// a strictly larger number takes over, so among equal maxima the first text met
// stays. A null element or one without text counts as 0. False when the text taken
// over was cut to the store.
bool put_tracked_stamp(field_sink &out, newest_stamp &newest, const xml_element *stamp);
// The newest rule alone, for a timestamp text written elsewhere: returns its leading
// number, and false in taken_whole when the text taken over was cut to the store.
std::uint64_t track_stamp(newest_stamp &newest, const char *text, bool &taken_whole);
// Merges what a file found into the run's newest by the same rule.
void merge_stamp(newest_stamp &run, const newest_stamp &found);
