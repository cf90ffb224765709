#include "veltran/convert.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

#include "qvxml/xmlparse.h"

namespace
{

constexpr std::size_t marker_name_capacity = 64;
constexpr std::size_t temporary_name_capacity = 128; // a marker name, the process id and a counter
constexpr std::size_t marker_format_capacity = 64;
constexpr int temporary_attempts = 100;

// One streamed load: the top-level element being read and the last one closed.
struct file_walk {
    file_walk(const settings &s, conversion &c) : options{s}, found{c} {}
    const settings &options;
    conversion &found;
    newest_stamp newest; // raised by the items of the element being read
    listing_run run{options, found.records, newest};
    const listing *row = nullptr;  // its listing
    bool ended = false;            // its listing has met a child of another name
    std::size_t segment_start = 0; // where its records begin
    bool have_root = false;
    const listing *root_row = nullptr;
};

int open_top(void *context, const xml_element *top)
{
    auto &w = *static_cast<file_walk *>(context);
    w.newest = {};
    w.segment_start = w.found.records.size();
    w.row = listing_for(top->name);
    w.ended = false;
    if (w.row && w.options.verbose) {
        w.found.records.put(w.row->title);
        w.found.records.put('\n');
    }
    return 0;
}

// Nameless children are passed over, and the first child of another name than the
// listing's items ends the listing.
int take_child(void *context, const xml_element *, const xml_element *child)
{
    auto &w = *static_cast<file_walk *>(context);
    if (!w.row || w.ended || !child->name) return 0;
    if (std::strcmp(w.row->item, child->name) != 0) {
        w.ended = true;
        return 0;
    }
    w.row->write_item(w.run, child);
    return 0;
}

int close_top(void *context, const xml_element *)
{
    auto &w = *static_cast<file_walk *>(context);
    w.have_root = true;
    w.root_row = w.row;
    w.found.from = w.segment_start;
    w.found.to = w.found.records.size();
    w.found.newest = w.newest;
    return 0;
}

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
// Any failure (an unwritable directory, say) leaves the old marker and says nothing.
void write_marker(const char *prefix, const char *ending, const char *recent)
{
    char name[marker_name_capacity];
    char temporary[temporary_name_capacity];
    std::snprintf(name, sizeof name, "recent-%s.%s", prefix, ending);
    std::unique_ptr<FILE, file_closer> h{create_temporary(name, temporary)};
    if (!h) return;
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
    bool written = !std::ferror(h.get()) && std::ftell(h.get()) > 0;
    written = std::fclose(h.release()) == 0 && written;
    if (!written || std::rename(temporary, name) != 0) unlink(temporary);
}

struct tree_owner {
    void operator()(xml_element *e) const noexcept { document_drop(e); }
};
using owned_tree = std::unique_ptr<xml_element, tree_owner>;

} // namespace

void convert_file(const char *path, const settings &options, conversion &found)
{
    file_walk w{options, found};
    const document_stream stream{
        .context = &w, .open_top = open_top, .child = take_child, .close_top = close_top};
    const int closed = document_stream_file(path, &stream);
    found.records.flush();
    found.loaded = closed != 0 && w.have_root && !found.records.lost();
    if (found.loaded && w.root_row) found.prefix = w.root_row->prefix;
}

bool show_file(const char *path)
{
    const owned_tree root{document_parse_file(path)};
    if (!root) return false;
    document_show_element(root.get(), 0);
    return true;
}

void write_markers(const char *prefix, const newest_stamp &newest)
{
    if (newest.since == 0) return;
    write_marker(prefix, "txt", newest.recent.data());
    write_marker(prefix, "xml", newest.recent.data());
}
