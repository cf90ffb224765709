#pragma once
// Helpers shared by the fuzz targets: the library reads files by name, so fuzzed
// bytes are handed to it through an anonymous memory file.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "qvxml/allocate.h"

// A memory file holding the given bytes, named through /proc/self/fd.
class memory_file {
public:
    memory_file(const std::uint8_t *data, std::size_t size)
    {
        fd_ = memfd_create("fuzz-input", 0);
        if (fd_ < 0) std::abort();
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = write(fd_, data + done, size - done);
            if (n <= 0) std::abort();
            done += static_cast<std::size_t>(n);
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~memory_file() { close(fd_); }
    memory_file(const memory_file &) = delete;
    memory_file &operator=(const memory_file &) = delete;
    const char *path() const { return path_.c_str(); }

private:
    int fd_ = -1;
    std::string path_;
};

// Aborts (a finding) when the tracked allocator's counters moved between
// construction and check(): every block obtained during a run must be released.
class allocation_balance {
public:
    allocation_balance() { get_allocate_statistics(&a_, &l_, &t_); }
    void check() const
    {
        unsigned long a, l;
        unsigned long long t;
        get_allocate_statistics(&a, &l, &t);
        if (a - a_ != l - l_ || t != t_) {
            std::fprintf(stderr, "allocator out of balance: %lu blocks, %lld bytes\n",
                         (a - a_) - (l - l_), static_cast<long long>(t - t_));
            std::abort();
        }
    }

private:
    unsigned long a_ = 0, l_ = 0;
    unsigned long long t_ = 0;
};

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)
