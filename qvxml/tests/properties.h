#pragma once
// Properties of the library that hold for any input, each written once and checked
// both by a seeded test in the suite and by a fuzz target (FUZZ_PROPERTY).
// A check returns an empty string when the property holds, else what went wrong.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>

#include "qvxml/allocate.h"

// The streaming reader and the plain reference reader agree on input: same relay
// calls with the same texts in the same order, same status, same line count for the
// failure hook and same echoed output, with relays that stop at a point set by input.
std::string check_reader_agreement(std::string_view input);
// The relay calls of one parse of the file path with every relay set, logged as that
// check logs them, then the status and, when the failure hook is called, the line count
// it is given: content in runs when runs is set, and the end of input with elements
// open allowed when eof is.
std::string reader_trace(const char *path, bool runs, bool eof);
// The bounded quote substitution, its buffer size and texts taken from data: it never
// writes beyond the buffer, and growing to its result always completes the text.
std::string check_quote_substitution(std::string_view data);
// At the XML extent, characters to entity names and back gives the text unchanged.
std::string check_entity_round_trip(std::string_view text);
// A tree loaded from input, written out and loaded again, comes back identical when
// every value written fits the reader's word limit; otherwise the reload gives null.
std::string check_serialise_round_trip(std::string_view input);
// Loads from memory and loads of a file holding the same bytes give the same trees,
// streamed callbacks and outcomes.
std::string check_memory_input(std::string_view input);
// A relay that reads the parser's position at each tag finds the same one, and the parse
// ends the same, whether content goes over in runs or through the content relays.
std::string check_position_agreement(std::string_view input);
// A streamed load hands over the items of the last top-level element, each with its
// texts and attributes, as a whole load holds them, and that element's own text.
std::string check_stream_agreement(std::string_view input);

// qvxml.hpp against the C-style calls under it: the same tree seen through the views
// (ranges, lookups, texts as held and decoded), the same written text, the same
// streamed callbacks, reader events and outcomes.
std::string check_cxx_interface(std::string_view input);

// Aborts, a finding for a fuzz target, when failure says what went wrong.
inline void abort_on(const std::string &failure)
{
    if (failure.empty()) return;
    std::fprintf(stderr, "%s\n", failure.c_str());
    std::abort();
}
// A fuzz target that checks one property on each input.
#define FUZZ_PROPERTY(check)                                                                       \
    extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size)             \
    {                                                                                              \
        abort_on(check({reinterpret_cast<const char *>(data), size}));                             \
        return 0;                                                                                  \
    }

// What run puts on standard output: its descriptor is pointed at a memory file for the
// run, the stream rewound so that its position counts from the run's start.
inline std::string captured_stdout(const std::function<void()> &run)
{
    std::fflush(stdout);
    const int memory = memfd_create("captured-stdout", 0), saved = dup(1);
    if (memory < 0 || saved < 0 || dup2(memory, 1) < 0) std::abort();
    std::rewind(stdout);
    run();
    std::fflush(stdout);
    std::string out(static_cast<std::size_t>(lseek(memory, 0, SEEK_END)), '\0');
    if (pread(memory, out.data(), out.size(), 0) != ssize_t(out.size())) std::abort();
    dup2(saved, 1);
    close(saved);
    close(memory);
    std::clearerr(stdout);
    return out;
}

// Empty when a and b are equal, else both around their first difference.
inline std::string first_difference(const std::string &a, const std::string &b)
{
    const std::size_t at = std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin();
    const std::size_t from = at < 60 ? 0 : at - 60;
    return a == b ? "" : a.substr(from, 120) + "\n  instead of\n" + b.substr(from, 120);
}

// A memory file holding the given bytes, named through /proc/self/fd, for the library
// reads files by name.
struct memory_file {
    int fd;
    std::string name = "/proc/self/fd/" + std::to_string(fd);
    explicit memory_file(std::string_view data) : fd(memfd_create("property-input", 0))
    {
        if (fd < 0 || write(fd, data.data(), data.size()) != ssize_t(data.size())) std::abort();
    }
    ~memory_file() { close(fd); }
    memory_file &operator=(memory_file &&) = delete; // neither copied nor moved
    const char *path() const { return name.c_str(); }
};

// Notes the tracked allocator's counters; unbalanced() tells what a run left behind.
struct allocation_balance {
    unsigned long a = 0, l = 0; // blocks allocated and released
    unsigned long long t = 0;   // bytes in use
    allocation_balance() { get_allocate_statistics(&a, &l, &t); }
    std::string unbalanced() const
    {
        const allocation_balance now;
        if (now.a - a == now.l - l && now.t == t) return {};
        return "allocator out of balance: " + std::to_string((now.a - a) - (now.l - l)) +
               " blocks, " + std::to_string(static_cast<long long>(now.t - t)) + " bytes";
    }
    // For the fuzz targets: aborts, a finding, when the run left anything behind.
    void check() const { abort_on(unbalanced()); }
};
