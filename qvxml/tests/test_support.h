#pragma once
// Shared fixtures for the library tests: an allocator balance check, a temporary
// working directory, file helpers and a relay table that records a parse as a trace.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "qvxml/element.h"
#include "qvxml/xmlparse.h"

// Each test leaves the allocator as it found it.
class TrackedTest : public ::testing::Test {
protected:
    void SetUp() override { get_allocate_statistics(&a0_, &l0_, &t0_); }
    void TearDown() override
    {
        unsigned long a, l;
        unsigned long long t;
        get_allocate_statistics(&a, &l, &t);
        EXPECT_EQ(a - a0_, l - l0_) << "blocks allocated but never released";
        EXPECT_EQ(t, t0_) << "bytes still in use";
    }
    unsigned long a0_ = 0, l0_ = 0;
    unsigned long long t0_ = 0;
};

// Runs each test in a fresh temporary directory that is removed afterwards.
class InTempDir : public TrackedTest {
protected:
    void SetUp() override
    {
        old_ = std::filesystem::current_path();
        char tmpl[] = "/tmp/qvxml-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        std::filesystem::current_path(dir_);
        TrackedTest::SetUp();
    }
    void TearDown() override
    {
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(dir_);
        TrackedTest::TearDown();
    }
    static void write_file(const std::string &name, const std::string &bytes)
    {
        std::ofstream out(name, std::ios::binary);
        out << bytes;
    }
    static std::string read_file(const std::string &name)
    {
        std::ifstream in(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::filesystem::path old_, dir_;
};

// Captures everything written to standard output between construction and take().
class stdout_capture {
public:
    stdout_capture() { ::testing::internal::CaptureStdout(); }
    std::string take()
    {
        std::fflush(stdout);
        return ::testing::internal::GetCapturedStdout();
    }
};
