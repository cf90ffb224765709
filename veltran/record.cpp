#include "veltran/record.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace
{

constexpr std::size_t chunk_size = std::size_t(1) << 16;
constexpr std::size_t hold_memory_limit = std::size_t(4) << 20;
static_assert(hold_memory_limit % chunk_size == 0);
constexpr std::size_t spill_name_capacity = PATH_MAX;
constexpr std::string_view spill_name_pattern = "/veltran-XXXXXX";

// An unnamed file for the records past the memory limit, in the spill folder. Null
// when no such file can be made.
FILE *open_spill()
{
    const char *dir = spill_folder();
    int fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) { // a file system without unnamed files: a named one, unlinked at once
        char name[spill_name_capacity];
        const std::size_t length = std::strlen(dir);
        if (length + spill_name_pattern.size() >= sizeof name) return nullptr;
        std::memcpy(name, dir, length);
        std::memcpy(name + length, spill_name_pattern.data(), spill_name_pattern.size());
        name[length + spill_name_pattern.size()] = '\0';
        fd = mkostemp(name, O_CLOEXEC);
        if (fd < 0) return nullptr;
        unlink(name);
    }
    if (FILE *h = fdopen(fd, "w+")) return h;
    close(fd);
    return nullptr;
}

} // namespace

// put_field piece by piece through the sink, which cuts a piece to the room left and
// makes room in the held records. Rarely taken, so kept apart from put_field, whose
// usual path then needs no registers saved for it.
[[gnu::noinline]] void put_pieces(field_sink &out, const char *text)
{
    for (const char *p = text; *p;) {
        const std::size_t run = field_stop(p);
        if (!out.put({p, run})) break;
        p += run;
        if (*p == '\0') break;
        const bool fits = *p == '|' ? out.put(bar_escape, true) : out.put(" ");
        if (!fits) break;
        ++p;
    }
}

namespace
{

// The leading decimal digits of text: no blank skipped, no sign read, arithmetic
// modulo 2^64. end is set past the last digit.
std::uint64_t leading_number(const char *text, const char *&end)
{
    std::uint64_t n = 0;
    const char *p = text;
    for (; *p >= '0' && *p <= '9'; ++p)
        n = n * 10 + std::uint64_t(*p - '0');
    end = p;
    return n;
}

} // namespace

const char *spill_folder()
{
    const char *dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

void held_records::fail(int error)
{
    if (error_ == 0) error_ = error != 0 ? error : EIO;
}

// Chunks come straight from the system allocator: they are the converter's own
// store, never handed to the library, and every byte is written before it is read,
// so the tracked allocator's zero fill of 64 KiB a chunk would be wasted work.
held_records::chunk *held_records::new_chunk()
{
    auto *c = static_cast<chunk *>(std::malloc(sizeof(chunk) + chunk_size));
    if (!c) fail(ENOMEM);
    return c;
}

// Writes the staged bytes to the temporary file.
bool held_records::write_staged()
{
    const auto n = std::size_t(cursor_ - open_);
    if (n == 0) return true;
    errno = 0;
    if (std::fwrite(open_, 1, n, spill_) != n) fail(errno);
    settled_ += n;
    cursor_ = open_;
    return error_ == 0;
}

// Makes room for more bytes: the next chunk of the memory part, or once that is full
// (and a temporary file can be had) the staging chunk emptied into the file.
bool held_records::next_chunk()
{
    if (staging_) return write_staged();
    if (last_) { // the chunk being filled is full
        settled_ += chunk_size;
        in_memory_ += chunk_size;
    }
    if (in_memory_ >= hold_memory_limit && !spill_failed_) {
        spill_failed_ = !(spill_ = open_spill());
        if (spill_) {
            if (!(staging_ = new_chunk())) return false;
            open_ = cursor_ = data_of(staging_);
            limit_ = open_ + chunk_size;
            return true;
        }
    }
    chunk *c = new_chunk();
    if (!c) return false;
    c->next = nullptr;
    (last_ ? last_->next : first_) = c;
    last_ = c;
    open_ = cursor_ = data_of(c);
    limit_ = open_ + chunk_size;
    return true;
}

void held_records::put_slow(std::string_view s)
{
    while (error_ == 0) {
        const std::size_t n = std::min(s.size(), std::size_t(limit_ - cursor_));
        if (n) std::memcpy(cursor_, s.data(), n);
        cursor_ += n;
        s.remove_prefix(n);
        if (s.empty() || !next_chunk()) break;
    }
    settled_ += s.size(); // what could not be kept still counts, so ranges stay right
}

void held_records::finish()
{
    if (!spill_ || error_ != 0) return;
    errno = 0;
    if (write_staged() && std::fflush(spill_) != 0) fail(errno);
}

bool held_records::read_back(std::size_t from, std::size_t to, const piece_taker &take)
{
    finish();
    const std::size_t in_memory = memory_part();
    std::size_t at = 0;
    for (chunk *c = first_; c && from < std::min(to, in_memory); c = c->next, at += chunk_size) {
        if (from >= at + chunk_size) continue;
        const std::size_t end = std::min({to, in_memory, at + chunk_size});
        if (!take.take(take.context, {data_of(c) + (from - at), end - from})) return false;
        from = end;
    }
    if (from >= to) return true;
    // the rest from the temporary file, read back through the emptied staging chunk
    if (error_ != 0 || std::fseek(spill_, long(from - in_memory), SEEK_SET) != 0) {
        fail(errno);
        return false;
    }
    for (std::size_t left = to - from; left > 0;) {
        const std::size_t n = std::fread(open_, 1, std::min(left, chunk_size), spill_);
        if (n == 0) { // the file holds less than was written to it
            fail(std::ferror(spill_) ? errno : EIO);
            return false;
        }
        if (!take.take(take.context, {open_, n})) return false;
        left -= n;
    }
    std::fseek(spill_, 0, SEEK_END);
    return true;
}

// The part in memory is written as it stands; the part in the temporary file goes
// from file to output within the kernel where it can, which spares a large echo a
// copy of every byte in and out of this process.
bool held_records::emit(std::size_t from, std::size_t to, checked_output &out)
{
    const piece_taker write{&out, [](void *context, std::string_view piece) {
                                return static_cast<checked_output *>(context)->write(piece);
                            }};
    finish();
    const std::size_t in_memory = memory_part();
    if (spill_ && error_ == 0 && to > in_memory) {
        if (from < in_memory && !read_back(from, in_memory, write)) return false;
        from = std::max(from, in_memory);
        from += out.copy_from(fileno(spill_), off_t(from - in_memory), to - from);
    }
    return from >= to || read_back(from, to, write);
}

void held_records::clear()
{
    while (first_) {
        chunk *next = first_->next;
        std::free(first_);
        first_ = next;
    }
    std::free(std::exchange(staging_, nullptr));
    last_ = nullptr;
    open_ = cursor_ = limit_ = nullptr;
    settled_ = in_memory_ = 0;
    if (spill_) std::fclose(spill_);
    spill_ = nullptr;
    spill_failed_ = false;
    error_ = 0;
}

bool copy_bounded(char *store, std::size_t capacity, const char *text)
{
    const std::size_t length = std::strlen(text);
    const std::size_t n = std::min(length, capacity - 1);
    std::memcpy(store, text, n);
    store[n] = '\0';
    return n == length;
}

// A text of digits alone, the usual timestamp, has nothing to escape, so once its
// number is read it is copied whole when it fits.
bool put_tracked_stamp(field_sink &out, newest_stamp &newest, const xml_element *stamp)
{
    const char *text = stamp && stamp->value ? stamp->value : "";
    const char *end;
    const std::uint64_t n = leading_number(text, end);
    if (end == text || *end != '\0' || !out.put_whole({text, std::size_t(end - text)}))
        put_field(out, text, 0);
    out.separator();
    if (n <= newest.since) return true;
    newest.since = n;
    return copy_bounded(newest.recent.data(), newest.recent.size(), text);
}

std::uint64_t track_stamp(newest_stamp &newest, const char *text, bool &taken_whole)
{
    const char *end;
    const std::uint64_t n = leading_number(text, end);
    taken_whole = n <= newest.since;
    if (taken_whole) return n;
    newest.since = n;
    taken_whole = copy_bounded(newest.recent.data(), newest.recent.size(), text);
    return n;
}

void merge_stamp(newest_stamp &run, const newest_stamp &found)
{
    if (found.since > run.since) run = found;
}
