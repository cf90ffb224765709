#pragma once
// Shared by the converter's tests: runs a built program (standard output read
// through a pipe, counted, and kept whole or only its end; standard error to a file;
// the child's own peak memory with its exit status), a fresh working directory per
// test, and a builder of input elements.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../../qvxml/tests/scratch_dir.h"

struct program_run {
    std::string out;         // standard output, or only its last keep bytes
    std::uintmax_t out_size; // bytes written to standard output in all
    std::string err;         // standard error
    int status;              // exit status, or 128 + the signal that ended it
    long peak_kib;           // the child's peak resident memory
};

// Runs exe with args in the working directory; env entries ("NAME=value") are added
// to the environment. stdin reads from /dev/null.
inline program_run run_program(const std::string &exe, std::vector<std::string> args,
                               const std::vector<std::string> &env = {},
                               std::size_t keep = std::string::npos)
{
    args.insert(args.begin(), exe);
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment(env);
    for (char **e = environ; *e; ++e)
        environment.emplace_back(*e);
    std::vector<char *> envp;
    for (std::string &e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const std::string err_path =
        (std::filesystem::temp_directory_path() / ("program-run-err-" + std::to_string(getpid())))
            .string();
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
        if (keep != std::string::npos && r.out.size() > 2 * keep + chunk.size())
            r.out.erase(0, r.out.size() - keep);
    }
    if (keep != std::string::npos && r.out.size() > keep) r.out.erase(0, r.out.size() - keep);
    close(fds[0]);
    int wstatus = 0;
    rusage usage{};
    if (spawned == 0) wait4(pid, &wstatus, 0, &usage);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.peak_kib = usage.ru_maxrss;
    std::ifstream in(err_path, std::ios::binary);
    r.err.assign(std::istreambuf_iterator<char>(in), {});
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
        std::sscanf(r.err.c_str(), "mallocs %ld blocks %lu bytes %lu", &calls, &blocks, &bytes), 3)
        << context << ", standard error: " << r.err;
    EXPECT_EQ(blocks + bytes, 0u) << "tracked memory left at exit, " << context;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << context << ", standard error: " << r.err;
    return calls;
}

// A fresh working directory for each test, removed afterwards.
class InProgramDir : public ::testing::Test, protected scratch_dir
{
  protected:
    void SetUp() override { enter_scratch("veltran-test"); }
    void TearDown() override { leave_scratch(); }
};

inline std::string el(const std::string &name, const std::string &text)
{
    return "<" + name + ">" + text + "</" + name + ">";
}
