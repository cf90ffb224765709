#include "test_support.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct statistics {
    unsigned long a = 0, l = 0;
    unsigned long long t = 0;
};

statistics read_statistics()
{
    statistics s;
    get_allocate_statistics(&s.a, &s.l, &s.t);
    return s;
}

std::string decimal_address(const void *p)
{
    return std::to_string(static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)));
}

// Switches the memory trace on for one scope, whatever the test's outcome.
struct memory_trace_on {
    memory_trace_on() { set_memory_trace(1); }
    ~memory_trace_on() { set_memory_trace(0); }
};

// Switches the allocation report on for one scope.
struct allocation_report_on {
    allocation_report_on() { allocation_trace(1); }
    ~allocation_report_on() { allocation_trace(0); }
};

std::vector<std::string> split(const std::string &text, char sep)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, sep);) parts.push_back(part);
    return parts;
}

} // namespace

// ---------------------------------------------------------------------------
// Blocks

class AllocatorBlocks : public TrackedTest {};

TEST_F(AllocatorBlocks, BothKindsComeZeroFilled)
{
    auto *p = static_cast<unsigned char *>(allocate(64));
    auto *s = static_cast<unsigned char *>(allocate_secure(32));
    ASSERT_NE(p, nullptr);
    ASSERT_NE(s, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0) << "byte " << i;
    for (int i = 0; i < 32; ++i) EXPECT_EQ(s[i], 0) << "byte " << i;
    EXPECT_EQ(liberate(p), nullptr);
    EXPECT_EQ(liberate_secure(s), nullptr);
}

TEST_F(AllocatorBlocks, EitherReleaseNameTakesEitherKind)
{
    const statistics before = read_statistics();
    EXPECT_EQ(liberate_secure(allocate(8)), nullptr);
    EXPECT_EQ(liberate(allocate_secure(8)), nullptr);
    const statistics after = read_statistics();
    EXPECT_EQ(after.a - before.a, 2u);
    EXPECT_EQ(after.l - before.l, 2u);
}

TEST_F(AllocatorBlocks, DataIsAlignedForAnyObject)
{
    std::vector<void *> blocks;
    for (int n : {0, 1, 3, 7, 24, 100}) {
        blocks.push_back(allocate(n));
        blocks.push_back(allocate_secure(n));
    }
    for (void *p : blocks) {
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t), 0u);
    }
    for (void *p : blocks) liberate(p);
}

TEST_F(AllocatorBlocks, ZeroSizeGivesABlockAndCountsOneRelease)
{
    const statistics before = read_statistics();
    void *p = allocate(0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(read_statistics().a - before.a, 1u);
    EXPECT_EQ(liberate(p), nullptr);
    const statistics after = read_statistics();
    EXPECT_EQ(after.l - before.l, 1u);
    EXPECT_EQ(after.t, before.t);
}

TEST_F(AllocatorBlocks, NegativeSizeGivesNullAndCountsNothing)
{
    const statistics before = read_statistics();
    EXPECT_EQ(allocate(-1), nullptr);
    EXPECT_EQ(allocate_secure(-8), nullptr);
    const statistics after = read_statistics();
    EXPECT_EQ(after.a, before.a);
    EXPECT_EQ(after.l, before.l);
    EXPECT_EQ(after.t, before.t);
}

TEST_F(AllocatorBlocks, ReleasingNullChangesNothing)
{
    const statistics before = read_statistics();
    EXPECT_EQ(liberate(nullptr), nullptr);
    EXPECT_EQ(liberate_secure(nullptr), nullptr);
    const statistics after = read_statistics();
    EXPECT_EQ(after.a, before.a);
    EXPECT_EQ(after.l, before.l);
    EXPECT_EQ(after.t, before.t);
}

// ---------------------------------------------------------------------------
// Statistics. Resetting the counters would upset TrackedTest's before/after
// comparison, so this case stands on a plain test.

class AllocatorStatistics : public ::testing::Test {};

TEST_F(AllocatorStatistics, ResetThenTwoAllocationsAndTheirReleases)
{
    reset_allocate_statistics();
    void *p = allocate(10);
    void *s = allocate_secure(20);
    statistics mid = read_statistics();
    EXPECT_EQ(mid.a, 2u);
    EXPECT_EQ(mid.l, 0u);
    EXPECT_EQ(mid.t, 30u);
    liberate(p);
    liberate(s);
    statistics end = read_statistics();
    EXPECT_EQ(end.a, 2u);
    EXPECT_EQ(end.l, 2u);
    EXPECT_EQ(end.t, 0u);
}

class AllocatorCounters : public TrackedTest {};

TEST_F(AllocatorCounters, BytesInUseFollowRequestedSizesNotHeaders)
{
    const statistics before = read_statistics();
    void *p = allocate(100);
    void *s = allocate_secure(28);
    EXPECT_EQ(read_statistics().t - before.t, 128u);
    liberate(p);
    EXPECT_EQ(read_statistics().t - before.t, 28u);
    liberate(s);
    EXPECT_EQ(read_statistics().t, before.t);
}

// ---------------------------------------------------------------------------
// Allocation report on standard output

class AllocatorReport : public TrackedTest {};

TEST_F(AllocatorReport, OrdinaryAllocationPrintsCountSizeAndAddress)
{
    std::string out;
    void *p = nullptr;
    unsigned long count = 0;
    {
        allocation_report_on report;
        stdout_capture capture;
        p = allocate(24);
        count = read_statistics().a;
        out = capture.take();
    }
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(out, std::to_string(count) + " allocate 24 " + decimal_address(p) + "\n");
    liberate(p);
}

TEST_F(AllocatorReport, SecureAllocationAndReleasesPrintNothing)
{
    std::string out;
    {
        allocation_report_on report;
        stdout_capture capture;
        void *s = allocate_secure(24);
        EXPECT_NE(s, nullptr);
        liberate(s);
        out = capture.take();
    }
    EXPECT_EQ(out, "");
}

TEST_F(AllocatorReport, SwitchedOffPrintsNothing)
{
    stdout_capture capture;
    liberate(allocate(24));
    EXPECT_EQ(capture.take(), "");
}

// ---------------------------------------------------------------------------
// Memory trace log "qv-mem-log"

class AllocatorTraceLog : public InTempDir {
protected:
    // Allocates one block of n bytes, releases it with tracing on, and returns the
    // lines the two steps added to the log, split into their colon-separated fields.
    std::vector<std::vector<std::string>> trace_one(void *(*alloc)(int), int n)
    {
        const std::string before = read_file("qv-mem-log");
        void *other = allocate(1); // keeps the two counts apart in the log
        {
            memory_trace_on trace;
            void *p = alloc(n);
            address_ = decimal_address(p);
            acount_ = read_statistics().a;
            liberate(p);
            lcount_ = read_statistics().l;
        }
        liberate(other);
        EXPECT_NE(acount_, lcount_);
        std::vector<std::vector<std::string>> lines;
        for (const std::string &line : split(read_file("qv-mem-log").substr(before.size()), '\n'))
            lines.push_back(split(line, ':'));
        return lines;
    }
    void expect_pair(const std::vector<std::vector<std::string>> &lines, int n,
                     std::time_t t0, std::time_t t1)
    {
        const std::string pid = std::to_string(getpid());
        ASSERT_EQ(lines.size(), 2u);
        const std::vector<std::string> a{pid, "memory", "allocate", std::to_string(acount_),
                                         address_, std::to_string(n)};
        const std::vector<std::string> l{pid, "memory", "liberate", std::to_string(lcount_),
                                         address_, std::to_string(n)};
        for (int i = 0; i < 2; ++i) {
            const auto &fields = lines[i];
            ASSERT_EQ(fields.size(), 8u) << "line " << i;
            const long long t = std::stoll(fields[0]);
            EXPECT_GE(t, static_cast<long long>(t0));
            EXPECT_LE(t, static_cast<long long>(t1));
            EXPECT_EQ(fields[1], pid);
            EXPECT_EQ(std::vector<std::string>(fields.begin() + 2, fields.end()), i == 0 ? a : l);
        }
    }
    std::string address_;
    unsigned long acount_ = 0, lcount_ = 0;
};

TEST_F(AllocatorTraceLog, SetMemoryTraceReturnsThePreviousValue)
{
    EXPECT_EQ(set_memory_trace(1), 0);
    EXPECT_EQ(set_memory_trace(7), 1);
    EXPECT_EQ(set_memory_trace(0), 7);
    EXPECT_EQ(set_memory_trace(0), 0);
}

TEST_F(AllocatorTraceLog, OrdinaryBlockAddsAnAllocateAndALiberateLine)
{
    const std::time_t t0 = std::time(nullptr);
    const auto lines = trace_one(allocate, 24);
    expect_pair(lines, 24, t0, std::time(nullptr));
}

TEST_F(AllocatorTraceLog, SecureBlockIsTracedLikeAnOrdinaryOne)
{
    const std::time_t t0 = std::time(nullptr);
    const auto lines = trace_one(allocate_secure, 40);
    expect_pair(lines, 40, t0, std::time(nullptr));
}

TEST_F(AllocatorTraceLog, LogGrowsByAppending)
{
    write_file("qv-mem-log", "earlier run\n");
    trace_one(allocate, 5);
    const std::vector<std::string> lines = split(read_file("qv-mem-log"), '\n');
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "earlier run");
}

TEST_F(AllocatorTraceLog, ReleasingNullWritesNoLine)
{
    {
        memory_trace_on trace;
        liberate(nullptr);
    }
    EXPECT_FALSE(std::filesystem::exists("qv-mem-log"));
}

TEST_F(AllocatorTraceLog, SwitchedOffWritesNothing)
{
    liberate(allocate(16));
    EXPECT_FALSE(std::filesystem::exists("qv-mem-log"));
}

// ---------------------------------------------------------------------------
// String copies and joins. The sanitizer build catches a leak or a double
// release of any consumed argument; the counters pin which blocks were released.

class AllocatorStrings : public TrackedTest {
protected:
    unsigned long releases_since(const statistics &s) { return read_statistics().l - s.l; }
};

TEST_F(AllocatorStrings, CopiesAreNewBlocksOfEitherKind)
{
    const char text[] = "hello";
    char *c = allocate_string(text);
    char *s = allocate_string_secure(text);
    ASSERT_NE(c, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_NE(c, text);
    EXPECT_STREQ(c, "hello");
    EXPECT_STREQ(s, "hello");
    liberate(c);
    liberate(s);
}

TEST_F(AllocatorStrings, CopyOfNullIsNull)
{
    const statistics before = read_statistics();
    EXPECT_EQ(allocate_string(nullptr), nullptr);
    EXPECT_EQ(allocate_string_secure(nullptr), nullptr);
    EXPECT_EQ(read_statistics().a, before.a);
}

TEST_F(AllocatorStrings, JoinStringConsumesTheFirstAndReadsTheSecond)
{
    char *r = allocate_string("ab");
    const statistics before = read_statistics();
    char *j = join_string(r, "cd");
    ASSERT_NE(j, nullptr);
    EXPECT_STREQ(j, "abcd");
    EXPECT_EQ(releases_since(before), 1u);
    liberate(j);
}

TEST_F(AllocatorStrings, JoinStringWithNullFirstCopiesTheSecond)
{
    char s[] = "xy";
    char *j = join_string(nullptr, s);
    ASSERT_NE(j, nullptr);
    EXPECT_NE(j, s);
    EXPECT_STREQ(j, "xy");
    EXPECT_STREQ(s, "xy");
    liberate(j);
}

TEST_F(AllocatorStrings, JoinStringWithNullSecondReturnsTheFirstItself)
{
    char *r = allocate_string("ab");
    const statistics before = read_statistics();
    EXPECT_EQ(join_string(r, nullptr), r);
    EXPECT_EQ(join_string(nullptr, nullptr), nullptr);
    EXPECT_EQ(read_statistics().a, before.a);
    EXPECT_EQ(releases_since(before), 0u);
    liberate(r);
}

TEST_F(AllocatorStrings, JoinStringsConsumesBoth)
{
    char *r = allocate_string("ab");
    char *s = allocate_string("cd");
    const statistics before = read_statistics();
    char *j = join_strings(r, s);
    ASSERT_NE(j, nullptr);
    EXPECT_STREQ(j, "abcd");
    EXPECT_EQ(releases_since(before), 2u);
    liberate(j);
}

TEST_F(AllocatorStrings, JoinStringsWithNullFirstCopiesAndReleasesTheSecond)
{
    char *s = allocate_string("cd");
    const statistics before = read_statistics();
    char *j = join_strings(nullptr, s);
    ASSERT_NE(j, nullptr);
    EXPECT_STREQ(j, "cd");
    EXPECT_EQ(releases_since(before), 1u);
    liberate(j);
}

TEST_F(AllocatorStrings, JoinStringsWithNullSecondReturnsTheFirstItself)
{
    char *r = allocate_string("ab");
    EXPECT_EQ(join_strings(r, nullptr), r);
    EXPECT_EQ(join_strings(nullptr, nullptr), nullptr);
    liberate(r);
}

TEST_F(AllocatorStrings, JoinWithSeparatorConsumesOnlyTheFirst)
{
    char *r = allocate_string("a");
    const char sep[] = ",";
    const char s[] = "b";
    const statistics before = read_statistics();
    char *j = join_string_sep(r, s, sep);
    ASSERT_NE(j, nullptr);
    EXPECT_STREQ(j, "a,b");
    // only the result is left: the first letter's block and the intermediate "a," are gone
    EXPECT_EQ(read_statistics().a - before.a, releases_since(before));
    liberate(j);
}

TEST_F(AllocatorStrings, JoinWithSeparatorAndNullFirstIgnoresTheSeparator)
{
    char *j = join_string_sep(nullptr, "b", ",");
    ASSERT_NE(j, nullptr);
    EXPECT_STREQ(j, "b");
    liberate(j);
    EXPECT_EQ(join_string_sep(nullptr, nullptr, ","), nullptr);
}

TEST_F(AllocatorStrings, JoinWithNullSeparatorOrNullSecond)
{
    char *j = join_string_sep(allocate_string("a"), "b", nullptr);
    ASSERT_NE(j, nullptr);
    EXPECT_STREQ(j, "ab");
    liberate(j);
    j = join_string_sep(allocate_string("a"), nullptr, ",");
    ASSERT_NE(j, nullptr);
    EXPECT_STREQ(j, "a,");
    liberate(j);
}

// ---------------------------------------------------------------------------
// Threads

class AllocatorThreads : public TrackedTest {};

TEST_F(AllocatorThreads, CountersBalanceAfterConcurrentUse)
{
    constexpr int thread_count = 4;
    constexpr int rounds = 2000;
    constexpr int held = 16;
    const statistics before = read_statistics();
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
            for (unsigned char *p : blocks) liberate(p);
        });
    }
    for (std::thread &th : threads) th.join();
    const statistics after = read_statistics();
    EXPECT_EQ(after.a - before.a, static_cast<unsigned long>(thread_count * rounds));
    EXPECT_EQ(after.l - before.l, static_cast<unsigned long>(thread_count * rounds));
    EXPECT_EQ(after.t, before.t);
}
