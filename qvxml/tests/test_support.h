#pragma once
// Shared by the library's and the converter's tests: an allocator balance check, a fresh
// working directory per test, owners for trees and texts, captured output and the data
// files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "properties.h"
#include "qvxml/element.h"
#include "qvxml/xmlparse.h"

namespace fs = std::filesystem;

inline const auto write_file = [](const fs::path &name, const std::string &bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
};
inline const auto read_file = [](const fs::path &name) {
    return (std::ostringstream() << std::ifstream(name, std::ios::binary).rdbuf()).str();
};

// Each test leaves the allocator as it found it.
struct TrackedTest : ::testing::Test {
    allocation_balance balance_;
    void TearDown() override { EXPECT_EQ(balance_.unbalanced(), ""); }
};

// A fresh temporary working directory, entered before a test and removed afterwards.
struct InTempDir : TrackedTest {
    fs::path old_ = fs::current_path();
    fs::path dir_ = std::string(mkdtemp(std::string("/tmp/qvxml-test-XXXXXX").data()));
    void SetUp() override { fs::current_path(dir_); }
    ~InTempDir()
    {
        fs::current_path(old_);
        fs::remove_all(dir_);
    }
};

// Owners that release through the library: the deleter converts to the function.
template <auto release> using release_with = std::integral_constant<decltype(release), release>;
using owned_tree = std::unique_ptr<xml_element, release_with<&document_drop>>;
using owned_text = std::unique_ptr<char, release_with<&liberate>>;

inline const auto header_of = [](const void *p) { return static_cast<const mem_header *>(p) - 1; };
inline const auto address_of = [](const void *p) { return std::to_string(std::uintptr_t(p)); };

// Children's names in order, walked forwards and backwards, with every child pointing
// back at the parent and both ends closed, so any broken link shows.
inline std::string child_names(const xml_element *parent)
{
    std::string forward, backward;
    for (const xml_element *c = parent->first; c; c = c->next)
        forward += c->parent == parent ? c->name : "(a child pointing at another parent)";
    for (const xml_element *c = parent->last; c; c = c->previous)
        backward.insert(0, c->name);
    const xml_element *f = parent->first, *l = parent->last;
    EXPECT_TRUE(backward == forward && !f == !l && (!f || (!f->previous && !l->next)))
        << "a broken link among " << forward;
    return forward;
}

// What write puts on a stream.
inline const auto written = [](const std::function<void(FILE *)> &write) {
    char *data = nullptr;
    std::size_t size = 0;
    FILE *h = open_memstream(&data, &size);
    write(h);
    std::fclose(h);
    const std::string out(data, size);
    std::free(data);
    return out;
};

// The files of a folder with the given extension, in name order; a relative folder is
// taken under the library's data/.
inline const auto data_files = [](const fs::path &folder, const std::string &ending) {
    std::vector<fs::path> files;
    for (const auto &entry : fs::directory_iterator(QVXML_TEST_DATA / folder))
        if (entry.path().extension() == ending) files.push_back(entry.path());
    std::ranges::sort(files);
    return files;
};

// A row of a table in data/: its fields by the column names of the table's header row
// (a missing last field is empty), and the line itself for messages.
struct row {
    std::map<std::string, std::string> fields;
    std::string line;
    const std::string &operator[](const std::string &column) const { return fields.at(column); }
};
inline std::vector<row> table(const std::string &name)
{
    std::istringstream lines(read_file(std::string(QVXML_TEST_DATA) + "/" + name));
    std::string header;
    std::getline(lines, header);
    std::vector<row> out;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream columns(header), fields(line);
        row &r = out.emplace_back(row{.fields = {}, .line = line});
        for (std::string column; std::getline(columns, column, '\t');)
            std::getline(fields, r.fields[column], '\t');
    }
    EXPECT_FALSE(out.empty()) << name;
    return out;
}
// Every stored input the properties hold over: the fuzz targets' kept corpora and seeds,
// the library's data files (every shape of markup, texts across the reader's input
// blocks, values at the writer's limit, the inputs that once broke one) and the
// converter's example exports and case inputs. A folder missing is a failure: the walk
// throws.
inline std::vector<fs::path> stored_inputs()
{
    std::vector<fs::path> files;
    for (const std::string folder :
         {"qvxml/tests/data", "fuzz/corpus", "fuzz/seeds", "examples", "veltran/tests/cases"})
        for (const auto &f :
             fs::recursive_directory_iterator(QVXML_TEST_DATA "/../../../" + folder))
            // of the converter's cases, only the input files
            if (f.is_regular_file() &&
                (!folder.ends_with("cases") || f.path().extension() == ".xml"))
                files.push_back(f.path());
    return files;
}
