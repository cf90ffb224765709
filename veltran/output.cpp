#include "veltran/output.h"

#include <algorithm>
#include <cerrno>

#include <sys/sendfile.h>
#include <unistd.h>

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

std::size_t checked_output::copy_from(int fd, off_t offset, std::size_t n)
{
    if (!check()) return 0;
    constexpr std::size_t most = std::size_t(1) << 30; // under the kernel's limit a call
    std::size_t copied = 0;
    while (copied < n) {
        const ssize_t r = ::sendfile(STDOUT_FILENO, fd, &offset, std::min(n - copied, most));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        copied += std::size_t(r);
    }
    return copied;
}
