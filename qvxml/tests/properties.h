#pragma once
// Properties of the library that hold for any input, each written once and checked
// both by a seeded test in the suite and by a fuzz target. A check returns an empty
// string when the property holds, else what went wrong.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

#include "qvxml/allocate.h"

// The streaming reader and the plain reference reader agree on input: same relay
// calls with the same texts in the same order, same status, same line count for the
// failure hook and same echoed output, with relays that stop at a point set by input.
// What run puts on standard output, caught in a memory stream.
std::string captured_stdout(const std::function<void()> &run);
std::string check_reader_agreement(std::string_view input);
// The bounded quote substitution, its buffer size and texts taken from data: it never
// writes beyond the buffer, and growing to its result always completes the text.
std::string check_quote_substitution(std::string_view data);
// At the XML extent, characters to entity names and back gives the text unchanged.
std::string check_entity_round_trip(std::string_view text);
// A tree loaded from input, written out and loaded again, comes back identical when
// every value written fits the reader's word limit; otherwise the reload gives null.
std::string check_serialise_round_trip(std::string_view input);

// A memory file holding the given bytes, named through /proc/self/fd, for the library
// reads files by name.
class memory_file
{
  public:
    explicit memory_file(std::string_view data)
    {
        fd_ = memfd_create("property-input", 0);
        if (fd_ < 0) std::abort();
        for (std::size_t done = 0; done < data.size();) {
            const ssize_t n = write(fd_, data.data() + done, data.size() - done);
            if (n <= 0) std::abort();
            done += static_cast<std::size_t>(n);
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    memory_file(const unsigned char *data, std::size_t size)
        : memory_file(std::string_view{reinterpret_cast<const char *>(data), size})
    {
    }
    ~memory_file() { close(fd_); }
    memory_file(const memory_file &) = delete;
    memory_file &operator=(const memory_file &) = delete;
    const char *path() const { return path_.c_str(); }

  private:
    int fd_ = -1;
    std::string path_;
};

// Notes the tracked allocator's counters; unbalanced() tells what a run left behind.
class allocation_balance
{
  public:
    allocation_balance() { get_allocate_statistics(&a_, &l_, &t_); }
    std::string unbalanced() const
    {
        unsigned long a, l;
        unsigned long long t;
        get_allocate_statistics(&a, &l, &t);
        if (a - a_ == l - l_ && t == t_) return {};
        return "allocator out of balance: " + std::to_string((a - a_) - (l - l_)) + " blocks, " +
               std::to_string(static_cast<long long>(t - t_)) + " bytes";
    }

    // For the fuzz targets: aborts, a finding, when the run left anything behind.
    void check() const
    {
        if (const std::string left = unbalanced(); !left.empty()) {
            std::fprintf(stderr, "%s\n", left.c_str());
            std::abort();
        }
    }

  private:
    unsigned long a_ = 0, l_ = 0;
    unsigned long long t_ = 0;
};
