#include "veltran/record.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace
{

constexpr std::size_t staging_size = std::size_t(1) << 17;
constexpr std::size_t hold_memory_limit = std::size_t(4) << 20;
constexpr std::size_t hold_growth_minimum = std::size_t(1) << 16;
constexpr std::size_t emit_block_size = std::size_t(1) << 16;
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

// The leading decimal digits of the element's text: no blank skipped, no sign read,
// arithmetic modulo 2^64. 0 for a null element or one without text.
std::uint64_t integer_element(const xml_element *vptr)
{
    std::uint64_t n = 0;
    if (!vptr || !vptr->value) return 0;
    for (const char *p = vptr->value; *p >= '0' && *p <= '9'; ++p)
        n = n * 10 + std::uint64_t(*p - '0');
    return n;
}

} // namespace

const char *spill_folder()
{
    const char *dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

void held_records::finish()
{
    flush();
    if (spill_ && error_ == 0 && std::fflush(spill_) != 0) error_ = errno != 0 ? errno : EIO;
}

bool held_records::emit(std::size_t from, std::size_t to, checked_output &out)
{
    finish();
    const std::size_t in_memory = spill_ ? std::min(length_, hold_memory_limit) : length_;
    if (from < in_memory) {
        const std::size_t end = std::min(to, in_memory);
        if (!out.write({memory_ + from, end - from})) return false;
        from = end;
    }
    if (from >= to) return true;
    if (error_ != 0 || std::fseek(spill_, long(from - in_memory), SEEK_SET) != 0) {
        if (error_ == 0) error_ = errno != 0 ? errno : EIO;
        return false;
    }
    char block[emit_block_size];
    for (std::size_t left = to - from; left > 0;) {
        const std::size_t n = std::fread(block, 1, std::min(left, sizeof block), spill_);
        if (n == 0) { // the file holds less than was written to it
            error_ = std::ferror(spill_) && errno != 0 ? errno : EIO;
            return false;
        }
        if (!out.write({block, n})) return false;
        left -= n;
    }
    std::fseek(spill_, 0, SEEK_END);
    return true;
}

void held_records::stage()
{
    staged_ = static_cast<char *>(allocate(int(staging_size)));
    staged_capacity_ = staged_ ? staging_size : 0;
}

void held_records::clear()
{
    staged_ = static_cast<char *>(liberate(staged_));
    staged_capacity_ = 0;
    memory_ = static_cast<char *>(liberate(memory_));
    capacity_ = length_ = staged_length_ = 0;
    if (spill_) std::fclose(spill_);
    spill_ = nullptr;
    spill_failed_ = false;
    error_ = 0;
}

void held_records::keep(std::string_view s)
{
    if (s.empty()) return;
    if (!spill_ && !spill_failed_ && length_ + s.size() > hold_memory_limit)
        spill_failed_ = !(spill_ = open_spill());
    if (!spill_) {
        if (!keep_in_memory(s) && error_ == 0) error_ = ENOMEM;
        return;
    }
    if (length_ < hold_memory_limit) { // fill the memory part first
        const std::size_t n = std::min(s.size(), hold_memory_limit - length_);
        if (!keep_in_memory(s.substr(0, n))) {
            if (error_ == 0) error_ = ENOMEM;
            return;
        }
        s.remove_prefix(n);
    }
    errno = 0;
    if (std::fwrite(s.data(), 1, s.size(), spill_) != s.size() && error_ == 0)
        error_ = errno != 0 ? errno : EIO;
    length_ += s.size();
}

bool held_records::keep_in_memory(std::string_view s)
{
    if (!reserve(length_ + s.size())) return false;
    std::memcpy(memory_ + length_, s.data(), s.size());
    length_ += s.size();
    return true;
}

bool held_records::reserve(std::size_t needed)
{
    if (needed <= capacity_) return true;
    std::size_t grown = std::max({needed, capacity_ * 2, hold_growth_minimum});
    if (spill_) grown = std::min(grown, hold_memory_limit);
    if (grown > std::size_t(INT32_MAX)) grown = needed;
    if (grown > std::size_t(INT32_MAX)) return false;
    auto *bigger = static_cast<char *>(allocate(int(grown)));
    if (!bigger) return false;
    if (length_) std::memcpy(bigger, memory_, length_);
    liberate(memory_);
    memory_ = bigger;
    capacity_ = grown;
    return true;
}

void put_field(field_sink &out, const char *text, int terminate)
{
    for (const char *p = text; *p;) {
        const std::size_t run = std::strcspn(p, "|\n");
        if (!out.put({p, run})) break;
        p += run;
        if (*p == '\0') break;
        const bool fits = *p == '|' ? out.put("&brvbar;", true) : out.put(" ");
        if (!fits) break;
        ++p;
    }
    if (terminate) out.separator();
}

void put_element(field_sink &out, const xml_element *vptr, const char *fallback, int terminate)
{
    put_field(out, vptr && vptr->value ? vptr->value : fallback, terminate);
}

bool copy_bounded(char *store, std::size_t capacity, const char *text)
{
    const std::size_t length = std::strlen(text);
    const std::size_t n = std::min(length, capacity - 1);
    std::memcpy(store, text, n);
    store[n] = '\0';
    return n == length;
}

bool track_stamp(newest_stamp &newest, const xml_element *stamp)
{
    const std::uint64_t n = integer_element(stamp);
    if (n <= newest.since) return true;
    newest.since = n;
    return copy_bounded(newest.recent.data(), newest.recent.size(), stamp->value);
}

void merge_stamp(newest_stamp &run, const newest_stamp &found)
{
    if (found.since > run.since) run = found;
}
