#include "veltran/convert.h"

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

// One streamed load: the top-level element being read and the last one closed.
struct file_walk {
    file_walk(const settings &s, conversion &c) : options{s}, found{c} {}
    const settings &options;
    conversion &found;
    xml_report outcome{sizeof outcome, 0, 0, 0, 0, 0, 0, nullptr}; // filled as the load goes
    newest_stamp newest; // raised by the items of the element being read
    findings noted;      // what its listing lost
    listing_run run{options, found.records, newest, noted};
    const listing *row = nullptr;  // its listing
    bool ended = false;            // its listing has met a child of another name
    std::size_t segment_start = 0; // where its records begin
    std::int64_t top_line = 0;     // where it began
    bool have_root = false;
    findings file_noted;                             // losses of the file as a whole
    std::array<char, instance_capacity> root_name{}; // the last top-level element closed
    std::int64_t root_line = 0;
};

int open_top(void *context, const xml_element *top)
{
    auto &w = *static_cast<file_walk *>(context);
    w.newest = {};
    w.noted = {};
    w.top_line = w.outcome.element_line;
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
    if (!w.row || !child->name) return 0;
    if (w.ended) {
        w.noted.count(warning_kind::listing_ended);
        return 0;
    }
    if (std::strcmp(w.row->item, child->name) != 0) {
        w.ended = true;
        w.noted.note(warning_kind::listing_ended, w.outcome.element_line, child->name);
        return 0;
    }
    w.run.item_line = w.outcome.element_line;
    w.row->write_item(w.run, child);
    return 0;
}

// The top-level element that closes last is the root; an earlier one is set aside
// with its records and what its listing noted.
int close_top(void *context, const xml_element *top)
{
    auto &w = *static_cast<file_walk *>(context);
    if (w.have_root)
        w.file_noted.note(warning_kind::tops_set_aside, w.root_line, w.root_name.data());
    w.have_root = true;
    w.found.root = w.row;
    w.found.from = w.segment_start;
    w.found.to = w.found.records.size();
    w.found.newest = w.newest;
    w.found.found = w.noted;
    if (!w.row) w.found.found.note(warning_kind::unknown_root, w.top_line, top->name);
    copy_bounded(w.root_name.data(), w.root_name.size(), top->name);
    w.root_line = w.top_line;
    return 0;
}

// One streamed echo: the file written back as document_show_element would show its
// tree, into the held records. A top-level element's start tag waits for its first
// child, or is written whole when it closes without one.
struct echo_walk {
    explicit echo_walk(conversion &c) : found{c} {}
    conversion &found;
    xml_report outcome{sizeof outcome, 0, 0, 0, 0, 0, 0, nullptr};
    const document_writer writer{.context = &found.records, .write = hold_text};
    std::size_t segment_start = 0; // where the output of the element being read begins
    bool started = false;          // its start tag is written
    bool have_root = false;

    static int hold_text(void *records, const char *bytes, std::size_t n)
    {
        static_cast<held_records *>(records)->put({bytes, n});
        return 0; // a loss is the held records' to tell, as for conversion
    }
};

int echo_open(void *context, const xml_element *)
{
    auto &w = *static_cast<echo_walk *>(context);
    w.segment_start = w.found.records.size();
    w.started = false;
    return 0;
}

int echo_child(void *context, const xml_element *top, const xml_element *child)
{
    auto &w = *static_cast<echo_walk *>(context);
    if (!w.started) document_write_start(&w.writer, top, 0);
    w.started = true;
    return document_write_element(&w.writer, child, 1);
}

// Only the last top-level element closed is shown, as it is the root of the tree.
int echo_close(void *context, const xml_element *top)
{
    auto &w = *static_cast<echo_walk *>(context);
    const int st = w.started ? document_write_end(&w.writer, top, 0)
                             : document_write_element(&w.writer, top, 0);
    w.have_root = true;
    w.found.from = w.segment_start;
    w.found.to = w.found.records.size();
    return st;
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

// Whether the file loaded, and what the end of its load tells: the cause of its
// failure, or when it loaded whatever ended the load after its root.
void take_outcome(conversion &found, const xml_report &ended, bool loaded)
{
    found.loaded = loaded;
    found.failure = failure_of(ended);
    if (!loaded && found.failure.cause == failure_cause::none)
        found.failure.cause = failure_cause::no_element;
    if (!loaded) return;
    if (found.failure.cause != failure_cause::none)
        found.found.note(warning_kind::stopped_after_root, ended.line, "");
    else if (ended.zero_byte)
        found.found.note(warning_kind::zero_byte, ended.line, "");
}

// Streams path through stream, whose context walk keeps its output in found, then
// settles how the load ended: a file that loaded whose output could not all be held
// fails with the cause.
template <typename Walk>
void load_streamed(const char *path, const document_stream &stream, Walk &walk, conversion &found)
{
    const int closed = document_stream_file_with(path, &stream, nullptr, &walk.outcome);
    found.records.finish();
    take_outcome(found, walk.outcome, closed != 0 && walk.have_root);
    if (!found.loaded || !found.records.lost()) return;
    found.loaded = false;
    found.failure = {.cause = failure_cause::cannot_hold, .error_number = found.records.error()};
}

} // namespace

void convert_file(const char *path, const settings &options, conversion &found)
{
    file_walk w{options, found};
    const document_stream stream{
        .context = &w, .open_top = open_top, .child = take_child, .close_top = close_top};
    load_streamed(path, stream, w, found);
    if (found.loaded) found.found.merge(w.file_noted);
}

void show_file(const char *path, conversion &found)
{
    echo_walk w{found};
    const document_stream stream{
        .context = &w, .open_top = echo_open, .child = echo_child, .close_top = echo_close};
    load_streamed(path, stream, w, found);
}

void write_markers(const char *prefix, const newest_stamp &newest, bool quiet)
{
    if (newest.since == 0) return;
    write_marker(prefix, "txt", newest.recent.data(), quiet);
    write_marker(prefix, "xml", newest.recent.data(), quiet);
}
