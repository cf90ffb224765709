// Converting several files at once changes nothing a user can see: any argument list
// gives the same standard output, standard error (apart and interleaved), marker files
// and exit status with one job as with several, failing files and write errors too.
#include <random>

#include "test_support.h"

namespace
{

// What one run leaves: its streams, its status and every file it writes.
std::string run_in(const fs::path &dir, const std::string &command)
{
    fs::create_directory(dir);
    const int status = std::system(("cd '" + dir.string() + "' && { " + command + "; }").c_str());
    std::string left = "status " + std::to_string(status) + "\n";
    std::vector<fs::path> files{fs::directory_iterator(dir), fs::directory_iterator()};
    std::sort(files.begin(), files.end());
    for (const fs::path &f : files)
        left += f.filename().string() + ":\n" + read_file(f);
    fs::remove_all(dir);
    return left;
}

struct Jobs : InTempDir {
};

} // namespace

TEST_F(Jobs, AnyArgumentListGivesWhatOneJobGives)
{
    std::vector<std::string> words = {"-v", "--concert", "--any", "-e",  "--echo",
                                      "-q", "-x",        "-",     "-j0", "missing.xml"};
    const std::size_t options = words.size();
    for (const fs::path &f : stored_inputs())
        words.push_back("'" + f.string() + "'");
    std::mt19937 random(20);
    for (int round = 0; round < 60; ++round) {
        std::string args;
        const int count = 2 + int(random() % 8);
        for (int k = 0; k < count; ++k) {
            const bool option = random() % 3 == 0;
            args +=
                " " +
                words[option ? random() % options : options + random() % (words.size() - options)];
        }
        // every fourth run stops at a file-size limit somewhere in its output
        std::string limit;
        if (round % 4 == 3)
            limit = "ulimit -f " + std::to_string(1 + random() % 16) + "; trap '' XFSZ; ";
        std::string seen[2];
        for (int many : {0, 1}) {
            const std::string run = limit + "exec " VELTRAN_EXE " -j" + (many ? "3" : "1") + args;
            seen[many] = run_in("apart", "(" + run + ") >out 2>err") +
                         run_in("together", "(" + run + ") >out 2>&1");
        }
        EXPECT_EQ(seen[0], seen[1]) << limit << args;
    }
}
