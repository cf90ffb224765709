#include "veltran/output.h"

#include <cerrno>

bool checked_output::fail()
{
    if (error_ == 0) error_ = errno != 0 ? errno : EIO;
    return false;
}

bool checked_output::write(std::string_view s)
{
    if (error_ != 0) return false;
    errno = 0;
    if (std::fwrite(s.data(), 1, s.size(), stdout) != s.size()) return fail();
    return true;
}

bool checked_output::flush()
{
    return error_ == 0 && check();
}

bool checked_output::check()
{
    if (error_ != 0) return false;
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) return fail();
    return true;
}
