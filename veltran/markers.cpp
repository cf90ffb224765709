#include "veltran/markers.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

#include "qvxml/xmlparse.h"
#include "veltran/diagnostics.h"

namespace
{

constexpr std::size_t marker_name_capacity = 64;
constexpr std::size_t temporary_name_capacity = 128; // a marker name, the process id and a counter
constexpr std::size_t marker_format_capacity = 64;
constexpr int temporary_attempts = 100;

struct file_closer {
    void operator()(FILE *h) const noexcept { std::fclose(h); }
};

// Opens a new file beside name under a name of its own: created exclusively, so an
// existing file or link of that name is never followed or reused.
FILE *create_temporary(const char (&name)[marker_name_capacity],
                       char (&temporary)[temporary_name_capacity])
{
    for (int attempt = 0; attempt < temporary_attempts; ++attempt) {
        std::snprintf(temporary, sizeof temporary, ".%s.%ld.%d", name, long(getpid()), attempt);
        const int fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        if (FILE *h = fdopen(fd, "w")) return h;
        close(fd);
        unlink(temporary);
        return nullptr;
    }
    return nullptr;
}

// Writes one marker into a temporary file and renames it into place, so no reader
// ever sees half of it and a link named like the marker is replaced, not followed.
// Any failure (an unwritable directory, say) leaves the old marker; it is said on
// standard error unless quiet.
void write_marker(const char *prefix, const char *ending, const char *recent, bool quiet)
{
    char name[marker_name_capacity];
    char temporary[temporary_name_capacity];
    std::snprintf(name, sizeof name, "recent-%s.%s", prefix, ending);
    const auto skipped = [&](int error) {
        if (!quiet) print_diagnostic("%s: warning: not written: %s", name, std::strerror(error));
    };
    std::unique_ptr<FILE, file_closer> h{create_temporary(name, temporary)};
    if (!h) return skipped(errno);
    if (std::strcmp(ending, "xml") == 0) {
        char format[marker_format_capacity];
        std::snprintf(format, sizeof format, "<%s recent=\"%%s\"/>\n", prefix);
        fprintf_xml_string_attribute(h.get(), format, recent);
    } else {
        std::fprintf(h.get(), "%s\n", recent);
    }
    // a marker line is never empty: nothing written means the writer gave up (the
    // attribute writer says nothing when it cannot grow its buffer), and the old
    // marker must then stay
    errno = 0;
    bool written = !std::ferror(h.get()) && std::ftell(h.get()) > 0;
    written = std::fclose(h.release()) == 0 && written;
    int error = written ? 0 : errno != 0 ? errno : ENOMEM;
    if (written && std::rename(temporary, name) != 0) error = errno;
    if (error == 0) return;
    unlink(temporary);
    skipped(error);
}

} // namespace

void write_markers(const char *prefix, const newest_stamp &newest, bool quiet)
{
    if (newest.since == 0) return;
    write_marker(prefix, "txt", newest.recent.data(), quiet);
    write_marker(prefix, "xml", newest.recent.data(), quiet);
}
