#include "veltran/record.h"

#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace
{

constexpr std::size_t hold_memory_limit = std::size_t(4) << 20;
constexpr std::size_t hold_growth_minimum = std::size_t(1) << 16;
constexpr std::size_t emit_block_size = std::size_t(1) << 16;
constexpr std::size_t spill_name_capacity = PATH_MAX;
constexpr std::string_view spill_name_pattern = "/veltran-XXXXXX";

// An unnamed file for the records past the memory limit, in $TMPDIR when it is set
// (many systems keep /tmp in memory, so a very large export may need a disk), else
// in /tmp. Null when no such file can be made.
FILE *open_spill()
{
    const char *dir = std::getenv("TMPDIR");
    if (!dir || !*dir) dir = "/tmp";
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

void held_records::emit(std::size_t from, std::size_t to)
{
    flush();
    const std::size_t in_memory = spill_ ? std::min(length_, hold_memory_limit) : length_;
    if (from < in_memory) {
        const std::size_t end = std::min(to, in_memory);
        std::fwrite(memory_ + from, 1, end - from, stdout);
        from = end;
    }
    if (from >= to) return;
    std::fflush(spill_);
    if (std::fseek(spill_, long(from - in_memory), SEEK_SET) != 0) return;
    char block[emit_block_size];
    for (std::size_t left = to - from; left > 0;) {
        const std::size_t n = std::fread(block, 1, std::min(left, sizeof block), spill_);
        if (n == 0) break;
        std::fwrite(block, 1, n, stdout);
        left -= n;
    }
    std::fseek(spill_, 0, SEEK_END);
}

void held_records::clear()
{
    memory_ = static_cast<char *>(liberate(memory_));
    capacity_ = length_ = staged_length_ = 0;
    if (spill_) std::fclose(spill_);
    spill_ = nullptr;
    spill_failed_ = lost_ = false;
}

void held_records::keep(std::string_view s)
{
    if (s.empty()) return;
    if (!spill_ && !spill_failed_ && length_ + s.size() > hold_memory_limit)
        spill_failed_ = !(spill_ = open_spill());
    if (!spill_) {
        lost_ = lost_ || !keep_in_memory(s);
        return;
    }
    if (length_ < hold_memory_limit) { // fill the memory part first
        const std::size_t n = std::min(s.size(), hold_memory_limit - length_);
        if (!keep_in_memory(s.substr(0, n))) {
            lost_ = true;
            return;
        }
        s.remove_prefix(n);
    }
    if (std::fwrite(s.data(), 1, s.size(), spill_) != s.size()) lost_ = true;
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

void copy_bounded(char *store, std::size_t capacity, const char *text)
{
    const std::size_t n = std::min(std::strlen(text), capacity - 1);
    std::memcpy(store, text, n);
    store[n] = '\0';
}

void track_stamp(newest_stamp &newest, const xml_element *stamp)
{
    const std::uint64_t n = integer_element(stamp);
    if (n <= newest.since) return;
    newest.since = n;
    copy_bounded(newest.recent.data(), newest.recent.size(), stamp->value);
}

void merge_stamp(newest_stamp &run, const newest_stamp &found)
{
    if (found.since > run.since) run = found;
}
