#pragma once
// Shared fixtures for the library tests: an allocator balance check, a temporary
// working directory, owners for trees and texts, captured output and the data files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qvxml/element.h"
#include "qvxml/xmlparse.h"
#include "scratch_dir.h"

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

// Runs each test in a fresh temporary directory that is removed afterwards.
class InTempDir : public TrackedTest, protected scratch_dir
{
  protected:
    void SetUp() override
    {
        enter_scratch("qvxml-test");
        TrackedTest::SetUp();
    }
    void TearDown() override
    {
        leave_scratch();
        TrackedTest::TearDown();
    }
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
    std::string take()
    {
        std::fflush(stdout);
        return ::testing::internal::GetCapturedStdout();
    }
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

#ifdef QVXML_TEST_DATA
// The files of a folder under data/ with the given extension, in name order.
inline std::vector<std::filesystem::path> data_files(const std::string &folder,
                                                     const std::string &extension)
{
    std::vector<std::filesystem::path> files;
    for (const auto &entry :
         std::filesystem::directory_iterator(std::string(QVXML_TEST_DATA) + "/" + folder))
        if (entry.path().extension() == extension) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}
#endif
