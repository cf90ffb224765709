#include "test_support.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <sstream>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace
{

std::string decimal_address(const void *p)
{
    return std::to_string(static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)));
}

} // namespace

// ---------------------------------------------------------------------------
// Blocks and counters

class AllocatorBlocks : public TrackedTest
{
};

TEST_F(AllocatorBlocks, BothKindsComeZeroFilledAlignedAndCounted)
{
    const alloc_counts before = counts_now();
    std::vector<unsigned char *> blocks;
    unsigned long long bytes = 0;
    for (int n : {0, 1, 3, 7, 24, 100}) {
        for (void *p : {allocate(n), allocate_secure(n)}) {
            ASSERT_NE(p, nullptr);
            blocks.push_back(static_cast<unsigned char *>(p));
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t), 0u);
            for (int i = 0; i < n; ++i)
                EXPECT_EQ(blocks.back()[i], 0) << "byte " << i << " of " << n;
        }
        EXPECT_EQ(header_of(blocks.back())->secure, 1);
        EXPECT_EQ(header_of(blocks[blocks.size() - 2])->secure, 0);
        bytes += 2 * static_cast<unsigned>(n);
    }
    EXPECT_EQ(allocate(-1), allocate_secure(-8)); // both null, and not counted
    const alloc_counts held = counts_now();
    EXPECT_EQ(held.a - before.a, 12u);
    EXPECT_EQ(held.t - before.t, bytes); // requested sizes, not headers
    // either release name takes either kind
    for (std::size_t i = 0; i < blocks.size(); ++i)
        EXPECT_EQ(i % 2 ? liberate(blocks[i]) : liberate_secure(blocks[i]), nullptr);
    const alloc_counts after = counts_now();
    EXPECT_EQ(after.l - held.l, 12u);
    EXPECT_EQ(after.t, before.t);
}

// Resetting the counters would upset TrackedTest's before/after comparison, so this
// case stands on a plain test.
TEST(AllocatorStatistics, ResetThenTwoAllocationsAndTheirReleases)
{
    reset_allocate_statistics();
    void *p = allocate(10), *s = allocate_secure(20);
    const alloc_counts mid = counts_now();
    liberate(p);
    const unsigned long long secure_left = counts_now().t;
    liberate(s);
    const alloc_counts end = counts_now();
    EXPECT_EQ(std::tuple(mid.a, mid.l, mid.t, secure_left), std::tuple(2ul, 0ul, 30ull, 20ull));
    EXPECT_EQ(std::tuple(end.a, end.l, end.t), std::tuple(2ul, 2ul, 0ull));
}

// ---------------------------------------------------------------------------
// Allocation report on standard output and the trace log "qv-mem-log"

class AllocatorReport : public TrackedTest
{
};

TEST_F(AllocatorReport, OnlyOrdinaryAllocationsPrintCountSizeAndAddress)
{
    stdout_capture capture;
    liberate(allocate(24)); // switched off
    void *p = nullptr;
    unsigned long count = 0;
    {
        allocation_trace(1);
        liberate(allocate_secure(24)); // secure allocations and releases print nothing
        p = allocate(24);
        count = counts_now().a;
        liberate(p);
        allocation_trace(0);
    }
    EXPECT_EQ(capture.take(), std::to_string(count) + " allocate 24 " + decimal_address(p) + "\n");
}

class AllocatorTraceLog : public InTempDir
{
};

TEST_F(AllocatorTraceLog, EachTracedBlockAddsAnAllocateAndALiberateLine)
{
    EXPECT_EQ(set_memory_trace(7), 0); // returns the previous value
    EXPECT_EQ(set_memory_trace(0), 7);
    liberate(allocate(16)); // switched off: no log at all
    EXPECT_FALSE(std::filesystem::exists("qv-mem-log"));

    write_file("qv-mem-log", "earlier run\n");
    const std::time_t t0 = std::time(nullptr);
    std::vector<std::string> expected = {"earlier run"};
    const std::string pid = std::to_string(getpid());
    void *other = allocate(1); // keeps the allocation and release counts apart
    for (auto [alloc, n] : {std::pair{&allocate, 24}, std::pair{&allocate_secure, 40}}) {
        set_memory_trace(1);
        void *p = alloc(n);
        const std::string at = ":" + decimal_address(p) + ":" + std::to_string(n);
        expected.push_back(pid + ":memory:allocate:" + std::to_string(counts_now().a) + at);
        liberate(p);
        expected.push_back(pid + ":memory:liberate:" + std::to_string(counts_now().l) + at);
        liberate(nullptr); // writes no line
        set_memory_trace(0);
    }
    liberate(other);
    const std::time_t t1 = std::time(nullptr);

    std::vector<std::string> lines;
    std::istringstream log(read_file("qv-mem-log"));
    for (std::string line; std::getline(log, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 1; i < lines.size(); ++i) {
        // time:pid:the message
        const std::size_t colon = lines[i].find(':');
        const long long t = std::stoll(lines[i].substr(0, colon));
        EXPECT_GE(t, static_cast<long long>(t0));
        EXPECT_LE(t, static_cast<long long>(t1));
        EXPECT_EQ(lines[i].substr(colon + 1), pid + ":" + expected[i]);
    }
    EXPECT_EQ(lines[0], expected[0]);
}

// ---------------------------------------------------------------------------
// String copies and joins

class AllocatorStrings : public TrackedTest
{
};

TEST_F(AllocatorStrings, CopiesAreNewBlocksOfEitherKind)
{
    const char text[] = "hello";
    owned_text c{allocate_string(text)}, s{allocate_string_secure(text)};
    EXPECT_NE(c.get(), text);
    EXPECT_STREQ(c.get(), "hello");
    EXPECT_STREQ(s.get(), "hello");
    EXPECT_EQ(header_of(c.get())->secure, 0);
    EXPECT_EQ(header_of(s.get())->secure, 1);
}

// Each join gets tracked copies of its arguments; afterwards the test releases the
// result and whatever the caller still owns. A join that releases too little leaks,
// one that releases too much releases twice: the balance check (and ASan) sees both.
TEST_F(AllocatorStrings, JoinsConsumeExactlyWhatTheyOwn)
{
    using join = char *(*)(char *, char *);
    const join string = [](char *r, char *s) { return join_string(r, s); };   // reads s
    const join strings = [](char *r, char *s) { return join_strings(r, s); }; // consumes s
    const join comma = [](char *r, char *s) { return join_string_sep(r, s, ","); };
    const join no_sep = [](char *r, char *s) { return join_string_sep(r, s, nullptr); };
    struct join_case {
        join f;
        const char *r, *s, *result;
        bool caller_keeps_s, result_is_r;
    };
    const join_case cases[] = {
        {string, "ab", "cd", "abcd", true, false},
        {string, nullptr, "xy", "xy", true, false},
        {string, "ab", nullptr, "ab", false, true},
        {string, nullptr, nullptr, nullptr, false, false},
        {strings, "ab", "cd", "abcd", false, false},
        {strings, nullptr, "cd", "cd", false, false},
        {strings, "ab", nullptr, "ab", false, true},
        {strings, nullptr, nullptr, nullptr, false, false},
        {comma, "a", "b", "a,b", true, false},
        {comma, nullptr, "b", "b", true, false}, // no separator first
        {comma, nullptr, nullptr, nullptr, false, false},
        {comma, "a", nullptr, "a,", false, false},
        {no_sep, "a", "b", "ab", true, false},
    };
    for (const join_case &c : cases) {
        SCOPED_TRACE(std::string(c.r ? c.r : "(null)") + " + " + (c.s ? c.s : "(null)"));
        char *r = allocate_string(c.r), *s = allocate_string(c.s);
        const alloc_counts before = counts_now();
        owned_text result{c.f(r, s)};
        if (!c.result) {
            EXPECT_EQ(result, nullptr);
            continue;
        }
        ASSERT_NE(result, nullptr);
        EXPECT_STREQ(result.get(), c.result);
        if (c.result_is_r) {
            EXPECT_EQ(result.get(), r);
            EXPECT_EQ(counts_now().a, before.a);
        } else {
            EXPECT_GT(counts_now().a, before.a) << "the result is a new block";
        }
        if (c.caller_keeps_s) liberate(s);
    }
}

// ---------------------------------------------------------------------------
// Threads

class AllocatorThreads : public TrackedTest
{
};

TEST_F(AllocatorThreads, CountersBalanceAfterConcurrentUse)
{
    constexpr int thread_count = 4, rounds = 2000, held = 16;
    const alloc_counts before = counts_now();
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([t] {
            std::vector<unsigned char *> blocks(held, nullptr);
            for (int i = 0; i < rounds; ++i) {
                unsigned char *&slot = blocks[i % held];
                liberate(slot);
                const int n = 1 + (i * 7 + t) % 200;
                slot = static_cast<unsigned char *>(i % 50 == 0 ? allocate_secure(n) : allocate(n));
                if (!slot) continue;
                // each block is still zero and is this thread's alone
                if (slot[n - 1] != 0) ADD_FAILURE() << "block not zero-filled";
                std::memset(slot, t + 1, static_cast<std::size_t>(n));
            }
            for (unsigned char *p : blocks)
                liberate(p);
        });
    }
    for (std::thread &th : threads)
        th.join();
    const alloc_counts after = counts_now();
    EXPECT_EQ(after.a - before.a, static_cast<unsigned long>(thread_count * rounds));
    EXPECT_EQ(after.l - before.l, static_cast<unsigned long>(thread_count * rounds));
    EXPECT_EQ(after.t, before.t);
}
