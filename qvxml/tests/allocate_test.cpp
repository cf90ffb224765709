#include <sstream>
#include <thread>

#include "test_support.h"

namespace
{

// From reset counters: both kinds come zero-filled, aligned, marked and counted in
// requested bytes; a negative size gives null uncounted; either release takes either kind.
TEST(AllocatorBlocks, BothKindsComeZeroFilledAlignedAndCounted)
{
    reset_allocate_statistics();
    std::vector<unsigned char *> blocks;
    unsigned long long bytes = 0;
    for (int n : {0, 1, 3, 7, 24, 100}) {
        for (int secure : {0, 1}) {
            auto *p = static_cast<unsigned char *>(secure ? allocate_secure(n) : allocate(n));
            ASSERT_NE(p, nullptr);
            blocks.push_back(p);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t), 0u);
            EXPECT_EQ(std::count(p, p + n, 0), n) << n;
            EXPECT_EQ(header_of(p)->secure, secure);
        }
        bytes += 2 * static_cast<unsigned>(n);
    }
    EXPECT_EQ(allocate(-1), allocate_secure(-8));
    const alloc_counts held = counts_now();
    EXPECT_EQ(std::tuple(held.a, held.l, held.t), std::tuple(12ul, 0ul, bytes));
    for (std::size_t i = 0; i < blocks.size(); ++i)
        EXPECT_EQ(i % 2 ? liberate(blocks[i]) : liberate_secure(blocks[i]), nullptr);
    const alloc_counts end = counts_now();
    EXPECT_EQ(std::tuple(end.a, end.l, end.t), std::tuple(12ul, 12ul, 0ull));
}

class Allocator : public InTempDir
{
};

// The report on standard output shows ordinary allocations only; the trace log
// "qv-mem-log" gets a line per traced allocation and release of either kind.
TEST_F(Allocator, ReportAndTraceLog)
{
    stdout_capture capture;
    liberate(allocate(24)); // both off
    allocation_trace(1);
    liberate(allocate_secure(24));
    void *p = allocate(24);
    const unsigned long count = counts_now().a;
    liberate(p);
    allocation_trace(0);
    EXPECT_EQ(capture.take(), std::to_string(count) + " allocate 24 " + address_of(p) + "\n");

    EXPECT_EQ(set_memory_trace(7), 0); // returns the previous value
    EXPECT_EQ(set_memory_trace(0), 7);
    EXPECT_FALSE(std::filesystem::exists("qv-mem-log"));
    write_file("qv-mem-log", "earlier run\n");
    const std::time_t t0 = std::time(nullptr);
    std::vector<std::string> expected = {"earlier run"};
    const std::string pid = std::to_string(getpid());
    void *other = allocate(1); // keeps the allocation and release counts apart
    for (auto [alloc, n] : {std::pair{&allocate, 24}, std::pair{&allocate_secure, 40}}) {
        set_memory_trace(1);
        void *q = alloc(n);
        const std::string at = ":" + address_of(q) + ":" + std::to_string(n);
        expected.push_back(pid + ":" + pid + ":memory:allocate:" + std::to_string(counts_now().a) +
                           at);
        liberate(q);
        expected.push_back(pid + ":" + pid + ":memory:liberate:" + std::to_string(counts_now().l) +
                           at);
        liberate(nullptr); // writes no line
        set_memory_trace(0);
    }
    liberate(other);
    std::istringstream log(read_file("qv-mem-log"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) {
        const std::size_t colon = line.find(':'); // time:pid:the message
        EXPECT_TRUE(lines.empty() || std::abs(std::stoll(line.substr(0, colon)) - t0) <= 2) << line;
        lines.push_back(lines.empty() ? line : line.substr(colon + 1));
    }
    EXPECT_EQ(lines, expected);
}

// Copies are new blocks of either kind. Each join gets tracked copies of its arguments
// and the test releases the result and what the caller still owns: a join that releases
// too little leaks, one that releases too much releases twice; the fixture and ASan see both.
TEST_F(Allocator, CopiesAndJoinsConsumeExactlyWhatTheyOwn)
{
    const char text[] = "hello";
    owned_text c{allocate_string(text)}, s{allocate_string_secure(text)};
    EXPECT_NE(c.get(), text);
    EXPECT_EQ(std::tuple(std::string(c.get()), std::string(s.get()), header_of(c.get())->secure,
                         header_of(s.get())->secure),
              std::tuple("hello", "hello", 0, 1));
    using join = char *(*)(char *, char *);
    const join string = [](char *r, char *t) { return join_string(r, t); };   // reads t
    const join strings = [](char *r, char *t) { return join_strings(r, t); }; // consumes t
    const join comma = [](char *r, char *t) { return join_string_sep(r, t, ","); };
    const join no_sep = [](char *r, char *t) { return join_string_sep(r, t, nullptr); };
    struct {
        join f;
        const char *r, *s, *result;
        bool caller_keeps_s, result_is_r;
    } const cases[] = {
        {string, "ab", "cd", "abcd", true, false},
        {string, nullptr, "xy", "xy", true, false},
        {string, "ab", nullptr, "ab", false, true},
        {string, nullptr, nullptr, nullptr, false, false},
        {strings, "ab", "cd", "abcd", false, false},
        {strings, nullptr, "cd", "cd", false, false},
        {strings, "ab", nullptr, "ab", false, true},
        {strings, nullptr, nullptr, nullptr, false, false},
        {comma, "a", "b", "a,b", true, false},
        {comma, nullptr, "b", "b", true, false},
        {comma, nullptr, nullptr, nullptr, false, false},
        {comma, "a", nullptr, "a,", false, false},
        {no_sep, "a", "b", "ab", true, false},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(std::string(k.r ? k.r : "(null)") + " + " + (k.s ? k.s : "(null)"));
        char *r = allocate_string(k.r), *t = allocate_string(k.s);
        const unsigned long before = counts_now().a;
        owned_text result{k.f(r, t)};
        EXPECT_EQ(std::string(result ? result.get() : "(null)"), k.result ? k.result : "(null)");
        EXPECT_TRUE(!k.result_is_r || result.get() == r);
        EXPECT_TRUE(!k.result || (counts_now().a == before) == k.result_is_r) << "a new block or r";
        if (k.caller_keeps_s) liberate(t);
    }
}

// Run by the ThreadSanitizer preset: the counters balance after concurrent use and each
// block is zero and its thread's alone.
TEST_F(Allocator, ThreadsCountersBalanceAfterConcurrentUse)
{
    constexpr int thread_count = 4, rounds = 2000, held = 16;
    const alloc_counts before = counts_now();
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t)
        threads.emplace_back([t] {
            std::vector<unsigned char *> blocks(held, nullptr);
            for (int i = 0; i < rounds; ++i) {
                unsigned char *&slot = blocks[i % held];
                liberate(slot);
                const int n = 1 + (i * 7 + t) % 200;
                slot = static_cast<unsigned char *>(i % 50 == 0 ? allocate_secure(n) : allocate(n));
                if (slot && slot[n - 1] != 0) ADD_FAILURE() << "block not zero-filled";
                if (slot) std::memset(slot, t + 1, static_cast<std::size_t>(n));
            }
            for (unsigned char *p : blocks)
                liberate(p);
        });
    for (std::thread &th : threads)
        th.join();
    const alloc_counts after = counts_now();
    EXPECT_EQ(after.a - before.a, static_cast<unsigned long>(thread_count * rounds));
    EXPECT_EQ(after.l - before.l, after.a - before.a);
}

} // namespace
