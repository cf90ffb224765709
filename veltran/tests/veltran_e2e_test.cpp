// The converter's cases, kept as data under cases/<name>/. Files without a dot in their
// name say how to run: "args" (the arguments, one shell word a line), and optionally
// "setup" (shell commands run first in the case's directory, by the shell that then
// starts the converter, so a "cd" or "ulimit" there holds for it), "peak-kib" (a bound
// on the run's peak resident memory, not checked under the address sanitizer) and
// "faults" (see below). The other files are the
// inputs and what the run must leave: "expected.stdout", "expected.stderr" (empty when
// absent), "expected.exit" (0 when absent) and "expected.<file>" for each file the run
// leaves besides the inputs, or for an input as the run leaves it ("(a directory)" for
// one); no other file may appear. A file
// "<name>.gen" stands for <name>: lines "count text", the text (with the escapes \n, \r,
// \t and \\) repeated count times, so large inputs and outputs stay small.
// Every case runs through veltran_faulty in its counting mode, whose report at exit (in
// a file of its own) shows every tracked block released; CTest's time limit catches
// work that is not linear in the input.

#include <sys/resource.h>

#include <map>
#include <set>

#include "test_support.h"

using files = std::map<std::string, std::string>;

namespace
{

template <class Out> Out &&expand(const fs::path &file, Out &&out)
{
    std::ifstream in(file, std::ios::binary);
    if (file.extension() != ".gen") {
        out << in.rdbuf();
        return std::forward<Out>(out);
    }
    std::string text, piece;
    for (long count; in >> count && in.get() == ' ' && std::getline(in, text); piece.clear()) {
        for (std::size_t i = 0; i < text.size(); ++i)
            piece +=
                text[i] != '\\' ? text[i] : "\n\r\t\\"[std::string_view("nrt\\").find(text[++i])];
        while (count-- > 0)
            out << piece;
    }
    return std::forward<Out>(out);
}

// Texts too long to print are shown by their hash.
const auto shown = [](files f) {
    for (auto &[name, text] : f)
        if (text.size() > 4096) text = "hash " + std::to_string(std::hash<std::string>()(text));
    return f;
};

struct Case : InTempDir, ::testing::WithParamInterface<fs::path> {
};

TEST_P(Case, Run)
{
    files given, expected{{"exit", "0\n"}, {"stdout", ""}, {"stderr", ""}};
    std::set<std::string> inputs{".out", ".err", ".report"};
    for (const auto &entry : fs::directory_iterator(GetParam())) {
        const std::string name =
            entry.path().extension() == ".gen" ? entry.path().stem() : entry.path().filename();
        if (name.starts_with("expected."))
            expected[name.substr(9)] = expand(entry, std::ostringstream()).str();
        else if (name.find('.') == std::string::npos)
            given[name] = expand(entry, std::ostringstream()).str();
        else {
            expand(entry, std::ofstream(name, std::ios::binary));
            inputs.insert(name);
        }
    }
    std::replace(given["args"].begin(), given["args"].end(), '\n', ' ');
    // The case run with the given malloc refusals: what it printed, its exit status and
    // the files it left; its report at exit must show every tracked block back.
    long calls = 0;
    const auto run = [&](const std::string &plan) {
        const int status = std::system(
            ("{ " + given["setup"] + "\nexec env VELTRAN_MALLOC_REPORT=" +
             (fs::current_path() / ".report").string() + " VELTRAN_FAIL_MALLOC_AT=" + plan +
             " " VELTRAN_FAULTY_EXE " " + given["args"] + "\n} >.out 2>.err </dev/null")
                .c_str());
        const int exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        files got{{"stdout", read_file(".out")},
                  {"stderr", read_file(".err")},
                  {"exit", std::to_string(exit) + "\n"}};
        const std::string report = read_file(".report");
        if (exit < 128) { // a run killed by a signal writes no report
            calls = std::atol(report.c_str() + 7);
            EXPECT_EQ(report, "mallocs " + std::to_string(calls) + " blocks 0 bytes 0\n") << plan;
        }
        for (const auto &entry : fs::directory_iterator(".")) { // taken, and gone for the next run
            const std::string name = entry.path().filename();
            if (!inputs.contains(name) || expected.contains(name))
                got[name] = fs::is_directory(name) ? "(a directory)" : read_file(name);
            if (!inputs.contains(name)) fs::remove_all(name);
        }
        return got;
    };
    EXPECT_EQ(shown(run("0")), shown(expected));
#if !defined(__SANITIZE_ADDRESS__) // the sanitizer's shadow and quarantine dwarf the figures
    rusage usage{}; // a child starts with its parent's peak: inputs were written piecewise
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss,
              given.contains("peak-kib") ? std::stol(given["peak-kib"]) : LONG_MAX);
#endif
    // With "faults" the case runs again with each of its malloc calls refused, alone and
    // from there on: each run leaves the expected files and standard error, a marker
    // possibly missing with its warning, or prints exactly the text of "faults" (and of
    // "faults-stderr" on standard error), exits with 1 and leaves no file.
    const long last = given.contains("faults") ? calls : 0;
    const files failed{
        {"exit", "1\n"}, {"stdout", given["faults"]}, {"stderr", given["faults-stderr"]}};
    for (long n = 1; n <= 2 * last; ++n) {
        const std::string plan = std::to_string(n > last ? n - last : n) + (n > last ? "+" : "");
        files got = run(plan);
        if (got != failed) { // a marker may be skipped, and says so
            std::string &err = got["stderr"];
            for (std::size_t at; (at = err.find("veltran: recent-")) != err.npos;)
                err.erase(at, err.find('\n', at) + 1 - at);
            got.merge(files(expected));
        }
        EXPECT_TRUE(got == failed || got == expected) << plan << testing::PrintToString(shown(got));
    }
}

INSTANTIATE_TEST_SUITE_P(Veltran, Case, ::testing::ValuesIn(data_files(VELTRAN_CASES, "")),
                         [](const auto &p) { return p.param.filename().string(); });

} // namespace
