// The converter's cases, kept as data under cases/<name>/: "args" (one argument a line),
// the input files, and what the run must leave: "expected.stdout", "expected.exit" (0
// when absent) and "expected.<file>" for each file the run writes; no other file may
// appear. A file "<name>.gen" stands for <name>: lines "count text", the text (with \n,
// \r, \t and \\ escapes) repeated count times, so large inputs and outputs stay small.
// Every case runs through veltran_faulty in its counting mode, whose report at exit
// shows every tracked block released; CTest's time limit catches work that is not
// linear in the input.

#include <map>
#include <sstream>

#include "test_support.h"

namespace fs = std::filesystem;

namespace
{

std::string content(const fs::path &file)
{
    if (file.extension() != ".gen") return read_file(file);
    std::ifstream in(file, std::ios::binary);
    std::string out, text;
    for (long count; in >> count && in.get() == ' ' && std::getline(in, text);) {
        std::string piece;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i] == '\\' ? text[++i] : 0;
            piece += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : text[i];
        }
        while (count-- > 0)
            out += piece;
    }
    return out;
}

// Where two long texts first differ, instead of both printed whole.
::testing::AssertionResult same_text(const std::string &actual, const std::string &expected)
{
    if (actual == expected) return ::testing::AssertionSuccess();
    const auto at = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    const std::size_t from =
        std::size_t(std::max<std::ptrdiff_t>(at.first - actual.begin() - 40, 0));
    return ::testing::AssertionFailure()
           << "lengths " << actual.size() << " and " << expected.size() << ", from byte " << from
           << ":\n  actual:   " << ::testing::PrintToString(actual.substr(from, 80))
           << "\n  expected: " << ::testing::PrintToString(expected.substr(from, 80));
}

std::vector<std::string> case_names()
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(VELTRAN_CASES))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

class Case : public InTempDir, public ::testing::WithParamInterface<std::string>
{
};

TEST_P(Case, Run)
{
    std::vector<std::string> args;
    std::map<std::string, std::string> expected{{"exit", "0\n"}, {"stdout", ""}}, inputs;
    for (const auto &entry : fs::directory_iterator(fs::path(VELTRAN_CASES) / GetParam())) {
        std::string name = entry.path().filename();
        if (name.ends_with(".gen")) name.resize(name.size() - 4);
        const std::string text = content(entry.path());
        std::istringstream lines(text);
        if (name == "args")
            for (std::string a; std::getline(lines, a);)
                args.push_back(a);
        else if (name.starts_with("expected."))
            expected[name.substr(9)] = text;
        else
            write_file(name, inputs[name] = text);
    }
    program_run r = run_program(VELTRAN_FAULTY_EXE, args, {"VELTRAN_FAIL_MALLOC_AT=0"});
    expect_all_released(r);
    std::map<std::string, std::string> got{{"stdout", r.out},
                                           {"exit", std::to_string(r.status) + "\n"}};
    for (const auto &entry : fs::directory_iterator("."))
        if (!inputs.contains(entry.path().filename()))
            got[entry.path().filename()] = read_file(entry.path());
    for (const auto &[name, text] : expected)
        if (!got.contains(name))
            ADD_FAILURE() << name << " was not written";
        else
            EXPECT_TRUE(same_text(got[name], text)) << name;
    for (const auto &entry : got)
        EXPECT_TRUE(expected.contains(entry.first)) << "unexpected file " << entry.first;
}

INSTANTIATE_TEST_SUITE_P(Veltran, Case, ::testing::ValuesIn(case_names()),
                         [](const ::testing::TestParamInfo<std::string> &p) { return p.param; });

} // namespace
