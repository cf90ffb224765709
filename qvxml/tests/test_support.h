#pragma once
// Shared by the library's and the converter's tests: an allocator balance check, a fresh
// working directory per test, owners for trees and texts, captured output, the data files,
// a runner for built programs and the one fault sweep.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qvxml/element.h"
#include "qvxml/xmlparse.h"

inline void write_file(const std::filesystem::path &name, const std::string &bytes)
{
    std::ofstream(name, std::ios::binary) << bytes;
}
inline std::string read_file(const std::filesystem::path &name)
{
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The allocator's counters: blocks allocated, blocks released, bytes in use.
struct alloc_counts {
    unsigned long a = 0, l = 0;
    unsigned long long t = 0;
};
inline alloc_counts counts_now()
{
    alloc_counts c;
    get_allocate_statistics(&c.a, &c.l, &c.t);
    return c;
}

// Each test leaves the allocator as it found it.
class TrackedTest : public ::testing::Test
{
  protected:
    void SetUp() override { start_ = counts_now(); }
    void TearDown() override
    {
        const alloc_counts end = counts_now();
        EXPECT_EQ(end.a - start_.a, end.l - start_.l) << "blocks allocated but never released";
        EXPECT_EQ(end.t, start_.t) << "bytes still in use";
    }
    alloc_counts start_;
};

// A fresh temporary working directory, entered before a test and removed afterwards.
class scratch_dir
{
  protected:
    void enter_scratch(const std::string &prefix)
    {
        old_ = std::filesystem::current_path();
        std::string tmpl = "/tmp/" + prefix + "-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        std::filesystem::current_path(dir_);
    }
    void leave_scratch()
    {
        std::filesystem::current_path(old_);
        std::filesystem::permissions(dir_, std::filesystem::perms::owner_all); // a test may lock it
        std::filesystem::remove_all(dir_);
    }
    std::filesystem::path old_, dir_;
};

class InTempDir : public TrackedTest, protected scratch_dir
{
  protected:
    void SetUp() override { enter_scratch("qvxml-test"), TrackedTest::SetUp(); }
    void TearDown() override { leave_scratch(), TrackedTest::TearDown(); }
};

struct tree_owner {
    void operator()(xml_element *e) const { document_drop(e); }
};
using owned_tree = std::unique_ptr<xml_element, tree_owner>;
struct text_owner {
    void operator()(char *s) const { liberate(s); }
};
using owned_text = std::unique_ptr<char, text_owner>;

inline const mem_header *header_of(const void *p)
{
    return static_cast<const mem_header *>(p) - 1;
}
inline std::string address_of(const void *p)
{
    return std::to_string(reinterpret_cast<std::uintptr_t>(p));
}

// Children's names in order. Walked forwards and backwards, with every child pointing
// back at the parent and both ends closed, so any broken link shows.
inline std::string child_names(const xml_element *parent)
{
    std::string forward, backward;
    for (const xml_element *c = parent->first; c; c = c->next) {
        forward += c->name;
        EXPECT_EQ(c->parent, parent) << c->name;
    }
    for (const xml_element *c = parent->last; c; c = c->previous)
        backward.insert(0, c->name);
    EXPECT_EQ(forward, backward) << "forward and backward walks differ";
    EXPECT_EQ(parent->first ? parent->first->previous : parent->last, nullptr);
    EXPECT_TRUE(!parent->last || !parent->last->next) << "the last child has a next";
    return forward;
}

// Captures everything written to standard output between construction and take().
class stdout_capture
{
  public:
    stdout_capture() { ::testing::internal::CaptureStdout(); }
    std::string take() { return std::fflush(stdout), ::testing::internal::GetCapturedStdout(); }
};

// What write puts on a stream.
inline std::string written(const std::function<void(FILE *)> &write)
{
    char *data = nullptr;
    std::size_t size = 0;
    FILE *h = open_memstream(&data, &size);
    write(h);
    std::fclose(h);
    std::string text(data, size);
    std::free(data);
    return text;
}

// The files of a folder with the given extension, in name order; a relative folder is
// taken under the library's data/.
inline std::vector<std::filesystem::path> data_files(const std::filesystem::path &folder,
                                                     const std::string &extension)
{
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::directory_iterator(QVXML_TEST_DATA / folder))
        if (entry.path().extension() == extension) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Runs n = 1 up to calls + 1 refused malloc calls, the n-th alone and from the n-th on;
// run says whether the operation failed, and in each mode some run must fail.
inline void fault_sweep(long calls,
                        const std::function<bool(long n, bool onward, const std::string &at)> &run)
{
    for (bool onward : {false, true}) {
        int failed = 0;
        for (long n = 1; n <= calls + 1; ++n)
            failed += run(n, onward, std::to_string(n) + (onward ? "+" : ""));
        EXPECT_GT(failed, 0) << "no refusal was noticed" << (onward ? " (onward)" : "");
    }
}

// A finished run of a built program.
struct program_run {
    std::string out;         // standard output, or only its last keep bytes
    std::uintmax_t out_size; // bytes written to standard output in all
    std::string err;         // standard error
    int status;              // exit status, or 128 + the signal that ended it
    long peak_kib;           // the child's peak resident memory
};

// Runs exe with args in the working directory, env entries ("NAME=value") added to
// the environment, standard input from /dev/null.
inline program_run run_program(const std::string &exe, std::vector<std::string> args,
                               std::vector<std::string> env = {},
                               std::size_t keep = std::string::npos)
{
    args.insert(args.begin(), exe);
    for (char **e = environ; *e; ++e)
        env.emplace_back(*e);
    std::vector<char *> argv, envp;
    for (std::string &a : args)
        argv.push_back(a.data());
    for (std::string &e : env)
        envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const std::string err_path = "/tmp/program-run-err-" + std::to_string(getpid());
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    EXPECT_EQ(spawned, 0) << exe;
    program_run r{"", 0, "", -1, 0};
    std::vector<char> chunk(1 << 16);
    for (ssize_t n; (n = read(fds[0], chunk.data(), chunk.size())) > 0;) {
        r.out.append(chunk.data(), std::size_t(n));
        r.out_size += std::uintmax_t(n);
        if (r.out.size() > keep) r.out.erase(0, r.out.size() - keep);
    }
    close(fds[0]);
    int wstatus = 0;
    rusage usage{};
    if (spawned == 0) wait4(pid, &wstatus, 0, &usage);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.peak_kib = usage.ru_maxrss;
    r.err = read_file(err_path);
    std::filesystem::remove(err_path);
    return r;
}

// Checks the report veltran_faulty writes at exit, its only line on standard error,
// for blocks or bytes left tracked; returns the number of malloc calls of the run.
inline long expect_all_released(const program_run &r, const std::string &context = "")
{
    long calls = -1;
    unsigned long blocks = 1, bytes = 1;
    EXPECT_EQ(
        std::sscanf(r.err.c_str(), "mallocs %ld blocks %lu bytes %lu\n", &calls, &blocks, &bytes),
        3)
        << context << ", standard error: " << r.err;
    EXPECT_EQ(blocks + bytes, 0u) << "tracked memory left at exit, " << context;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << context << ", standard error: " << r.err;
    return calls;
}
