#include "veltran/convert.h"

#include <array>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "qvxml/xmlparse.h"
#include "veltran/diagnostics.h"

namespace
{

// One streamed load: the top-level element being read and the last one closed.
struct file_walk {
    file_walk(const char *p, const settings &s, conversion &c, field_writer *f)
        : path{p}, options{s}, found{c}, writer{f}
    {
    }
    const char *path;
    const settings &options;
    conversion &found;
    field_writer *writer; // null: record lines into found's records
    xml_report outcome{sizeof outcome, 0, 0, 0, 0, 0, 0, nullptr}; // filled as the load goes
    newest_stamp newest; // raised by the items of the element being read
    findings noted;      // what its listing lost
    listing_run run{options, newest, noted};
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
    w.run.written = 0;
    w.top_line = w.outcome.element_line;
    w.segment_start = w.found.records.size();
    w.row = listing_for(top->name);
    w.ended = false;
    if (w.writer) {
        w.writer->begin(w.path, w.row ? w.row->prefix : "");
    } else if (w.row && w.options.verbose) {
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
    if (w.writer)
        w.row->write_fields(w.run, *w.writer, child);
    else
        w.row->write_lines(w.run, w.found.records, child);
    return 0;
}

// The top-level element that closes last is the root; an earlier one is set aside
// with its records and what its listing noted.
int close_top(void *context, const xml_element *top)
{
    auto &w = *static_cast<file_walk *>(context);
    if (w.writer) w.writer->end();
    if (w.have_root)
        w.file_noted.note(warning_kind::tops_set_aside, w.root_line, w.root_name.data());
    w.have_root = true;
    w.found.root = w.row;
    w.found.from = w.segment_start;
    w.found.to = w.found.records.size();
    w.found.newest = w.newest;
    w.found.found = w.noted;
    w.found.written = w.run.written;
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

// True when the regular file path begins with a UTF-16 byte order mark, or with two
// characters each of a zero byte and another, as UTF-16 text of the ASCII range does.
bool looks_utf16(const char *path)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat about {
    };
    std::array<unsigned char, 4> b{};
    const bool regular = fstat(fd, &about) == 0 && S_ISREG(about.st_mode);
    const ssize_t n = regular ? read(fd, b.data(), b.size()) : 0;
    close(fd);
    if (n >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) return true;
    return n == 4 && ((b[0] != 0 && b[1] == 0 && b[2] != 0 && b[3] == 0) ||
                      (b[0] == 0 && b[1] != 0 && b[2] == 0 && b[3] != 0));
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

// Streams path through stream, whose context walk keeps its output in found, with
// settings (null: the library's defaults), then settles how the load ended: a file
// that loaded whose output could not all be held fails with the cause.
template <typename Walk>
void load_streamed(const char *path, const document_stream &stream, Walk &walk, conversion &found,
                   const xml_settings *settings)
{
    const int closed = document_stream_file_with(path, &stream, settings, &walk.outcome);
    found.records.finish();
    take_outcome(found, walk.outcome, closed != 0 && walk.have_root);
    if (!found.loaded && found.failure.zero_byte) found.failure.utf16 = looks_utf16(path);
    if (!found.loaded || !found.records.lost()) return;
    found.loaded = false;
    found.failure = {.cause = failure_cause::cannot_hold, .error_number = found.records.error()};
}

} // namespace

void conversion::reset()
{
    loaded = false;
    root = nullptr;
    records.clear();
    from = to = 0;
    written = 0;
    bytes = 0;
    seconds = 0;
    newest = {};
    failure = {};
    found = {};
}

void convert_file(const char *path, const settings &options, conversion &found,
                  field_writer *writer)
{
    file_walk w{path, options, found, writer};
    const document_stream stream{
        .context = &w, .open_top = open_top, .child = take_child, .close_top = close_top};
    // the listings read no attribute, so the load keeps none
    xml_settings settings{};
    settings.size = sizeof settings;
    settings.skip_atributes = 1;
    load_streamed(path, stream, w, found, &settings);
    if (found.loaded) found.found.merge(w.file_noted);
}

void show_file(const char *path, conversion &found)
{
    echo_walk w{found};
    const document_stream stream{
        .context = &w, .open_top = echo_open, .child = echo_child, .close_top = echo_close};
    load_streamed(path, stream, w, found, nullptr); // the echo shows every attribute
}
