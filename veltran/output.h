#pragma once
// Standard output as the converter writes it: every write and flush is checked, since a
// record that did not get out must never be reported as written. The first failure's
// errno is kept and nothing more is attempted after it.

#include <cstddef>
#include <cstdio>
#include <string_view>

#include <sys/types.h>

class checked_output
{
  public:
    // Writes s; false once any write or flush has failed.
    bool write(std::string_view s);
    // Hands everything written so far to the system; false once anything failed.
    bool flush();
    // Copies n bytes of the file fd, from offset on, to standard output within the
    // kernel, after everything written before: no trip through this process's memory.
    // Returns the bytes copied. Fewer than n when the kernel cannot copy between these
    // two files, or stopped on a failure; the caller then writes the rest the ordinary
    // way, which meets and reports any failure as ever.
    std::size_t copy_from(int fd, off_t offset, std::size_t n);
    // Takes note of a failure of what others wrote to standard output.
    bool check();
    bool failed() const { return error_ != 0; }
    // errno of the first failure; 0 while there was none.
    int error() const { return error_; }

  private:
    bool fail();
    int error_ = 0;
};
