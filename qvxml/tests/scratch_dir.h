#pragma once
// A fresh temporary working directory for a test, shared by the library's and the
// converter's fixtures: entered before the test, removed afterwards, with helpers
// for the files a test writes and reads there.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

inline void write_file(const std::filesystem::path &name, const std::string &bytes)
{
    std::ofstream(name, std::ios::binary) << bytes;
}
inline std::string read_file(const std::filesystem::path &name)
{
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

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
        std::filesystem::permissions(
            dir_, std::filesystem::perms::owner_all); // a test may have locked it
        std::filesystem::remove_all(dir_);
    }
    std::filesystem::path old_, dir_;
};
