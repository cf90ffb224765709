// The document builder: relays that turn a parse into a tree, and the whole and
// streamed loads built on them.
#include "qvxml/internal/impl.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "qvxml/internal/arena.h"
#include "qvxml/internal/chars.h"
#include "qvxml/internal/copy.h"
#include "qvxml/internal/grow.h"
#include "qvxml/internal/link.h"
#include "qvxml/internal/report.h"
#include "qvxml/internal/walk.h"

using namespace qvxml::impl;

namespace
{

// ---------------------------------------------------------------------------
// Builder state. The reader hands the relays only the application context; the
// payload slot it fills from xml_parse's last argument holds the load's state, which
// lives on the stack of one document_parse_file or document_stream_file call.

// An open element and the text gathered for it so far. The element's value is a
// block with spare room while the element is open, so text costs linear time; it
// is cut to its exact size when the element closes.
struct text_frame {
    xml_element *element;
    std::size_t length;
    std::size_t capacity;
    bool in_arena;     // the element, its name and its text live in the arena
    std::int64_t line; // where its start tag was read, counted whole
};

struct build_state {
    xml_element *current = nullptr; // the innermost open element
    text_frame *frames = nullptr;   // one per open element, innermost last
    std::size_t depth = 0;
    std::size_t capacity = 0;
    xml_element *open_top = nullptr; // the top-level element being built, until it closes
    // A text append that ran out of memory. The reader does not stop for content
    // relays, so the next tag event stops the parse instead: a tree that lost part
    // of its text must not be handed back as if it were whole.
    int lost_text = 0;
    // Whether the common start and end tags may take their quick paths: in a streamed
    // load that has lost no text.
    bool quick = false;
    // The relays the reader calls with more than the table's tell, and whether white
    // space alone would be dropped now.
    reader_link link{};
    // Set for document_stream_file: the children of top-level elements are handed
    // to it as they close and released, so memory holds one of them at a time.
    const document_stream *stream = nullptr;
    int tops_closed = 0;
    // The item being built in a streamed load: its records, names and text are
    // carved from the arena and thrown away with it, its attributes' records and names
    // as well; their values are secure blocks, released as the item is.
    bump_arena arena;
    bool item_atributes = false; // some element of that item has attributes
    // Where the caller wants to learn how the load ended; null when it does not.
    // During a streamed load's callbacks its element_line tells where the element
    // handed over began.
    xml_outcome *outcome = nullptr;
    // The loads with settings: these instead of outcome (report may be null).
    bool with_settings = false;
    const xml_settings *settings = nullptr;
    xml_report *report = nullptr;
};

constexpr std::size_t first_frames = 64;
constexpr std::size_t first_text = 64;
static_assert(first_text > short_copy); // a short first run and its terminator fit

build_state &builder(const xml_application *x)
{
    return *static_cast<build_state *>(x->payload[0]);
}

// Tells the caller, during a streamed load's callback, where the element handed over
// began.
void note_element_line(const build_state &b, std::int64_t line)
{
    if (b.outcome) b.outcome->element_line = saturated_count(line);
    if (b.report && b.report->size >= offsetof(xml_report, element_line) + sizeof(std::int64_t))
        b.report->element_line = line;
}

bool push_frame(build_state &b, xml_element *e, bool in_arena, std::int64_t line)
{
    if (b.depth == b.capacity) {
        const std::size_t grown = b.capacity ? b.capacity * 2 : first_frames;
        void *frames =
            regrow_block(b.frames, b.depth * sizeof(text_frame), grown * sizeof(text_frame), false);
        if (!frames) return false;
        b.frames = static_cast<text_frame *>(frames);
        b.capacity = grown;
    }
    b.frames[b.depth++] = text_frame{e, 0, 0, in_arena, line};
    return true;
}

// Grows the text block of frame f to hold len more bytes and the terminator,
// geometrically. Returns 0 or status_no_memory (27), the text then left as it was.
int make_room(build_state &b, text_frame &f, std::size_t len)
{
    std::size_t grown = std::max({f.capacity * 2, f.length + len + 1, first_text});
    if (!fits_block(grown)) grown = f.length + len + 1;
    if (!fits_block(grown)) return status_no_memory;
    void *block = f.in_arena ? b.arena.regrow(f.element->value, f.length, grown)
                             : regrow_block(f.element->value, f.length, grown, false);
    if (!block) return status_no_memory;
    f.element->value = static_cast<char *>(block);
    f.capacity = grown;
    return 0;
}

// Appends len bytes to frame f's text once make_room found it room.
[[gnu::noinline]] int append_grown(build_state &b, text_frame &f, const char *text, std::size_t len)
{
    if (const int st = make_room(b, f, len); st != 0) {
        b.lost_text = st;
        b.quick = false;
        return st;
    }
    std::memcpy(f.element->value + f.length, text, len);
    f.length += len;
    f.element->value[f.length] = '\0';
    return 0;
}

// Appends len bytes to frame f's text, which has room for them: a run too long for
// copy_bytes's inline moves. Apart, so that the common short runs make no call and
// save no registers.
[[gnu::noinline]] int append_long(text_frame &f, const char *text, std::size_t len)
{
    std::memcpy(f.element->value + f.length, text, len);
    f.length += len;
    f.element->value[f.length] = '\0';
    return 0;
}

// Appends len bytes to the innermost open element's text. A failure to grow it is
// kept in lost_text, for the next tag to stop the parse with. Inline with no call on
// its common paths (room left, or the first text of an item's element, carved from
// the arena's chunk): it runs for every run of text.
[[gnu::always_inline]] inline int append_text(build_state &b, const char *text, std::size_t len)
{
    if (len == 0 || b.depth == 0) return 0;
    text_frame &f = b.frames[b.depth - 1];
    if (f.length + len + 1 > f.capacity) {
        const std::size_t room = std::max(len + 1, first_text);
        void *block = f.capacity == 0 && f.in_arena ? b.arena.take_here(room) : nullptr;
        if (!block) return append_grown(b, f, text, len);
        f.element->value = static_cast<char *>(block);
        f.capacity = room;
    }
    if (len > short_copy) return append_long(f, text, len);
    copy_bytes(f.element->value + f.length, text, len);
    f.length += len;
    f.element->value[f.length] = '\0';
    return 0;
}

// Closes the innermost frame, handing the element a block of exactly its text's size
// (a streamed element is released right after its visit and keeps the roomy one).
void pop_frame(build_state &b)
{
    const text_frame f = b.frames[--b.depth];
    if (b.stream || !f.element->value || f.capacity == f.length + 1) return;
    void *exact = regrow_block(f.element->value, f.length + 1, f.length + 1, false);
    if (exact) f.element->value = static_cast<char *>(exact); // else the roomy block stays
}

// The arena bytes of an element of a streamed item: the record, then its name, with
// room to copy a short name as one block.
constexpr std::size_t element_block(std::size_t len)
{
    return sizeof(xml_element) + std::max(len + 1, short_copy);
}

// Makes block, element_block(len) bytes, an empty element named by the len bytes at
// token; roomy: token can be read short_copy bytes far.
inline xml_element *name_element(void *block, const char *token, std::size_t len, bool roomy)
{
    auto *e = static_cast<xml_element *>(block);
    *e = xml_element{};
    auto *name = reinterpret_cast<char *>(e + 1);
    copy_terminated(name, token, len, roomy);
    e->name = name;
    return e;
}

// A new element of a streamed item, with its name of len bytes, carved from the
// arena in one piece.
xml_element *arena_element(bump_arena &arena, const char *token, std::size_t len, bool roomy)
{
    void *block = arena.take(element_block(len));
    return block ? name_element(block, token, len, roomy) : nullptr;
}

// Tells the reader whether the innermost open element still has no text, so that a
// run of white space there, which the builder would drop, need not be handed over.
void note_blank_runs(build_state &b, bool dropped)
{
    b.link.blank_runs_dropped = dropped;
}

// A start tag in general: every case, every check.
[[gnu::noinline]] int open_element(xml_application *xptr, const char *token, std::size_t length,
                                   std::int64_t line)
{
    build_state &b = builder(xptr);
    note_blank_runs(b, false);
    if (b.lost_text) return b.lost_text;
    xml_element *parent = b.current;
    b.quick = b.stream != nullptr;
    xml_element *e;
    if (b.stream && parent) {
        e = arena_element(b.arena, token, length, true);
        if (!e || !push_frame(b, e, true, line))
            return status_no_memory; // the arena is reset with the item
    } else {
        e = allocate_element();
        if (!e) return status_no_memory;
        e->name = allocate_string(token);
        if (!e->name || !push_frame(b, e, false, line)) {
            liberate_element(e);
            return status_no_memory;
        }
    }
    if (parent) link_last_child(parent, e);
    b.current = e;
    if (!parent) {
        b.open_top = e;
        if (b.stream && b.stream->open_top) {
            note_element_line(b, line);
            return b.stream->open_top(b.stream->context, e);
        }
    }
    return 0;
}

// The common start tag, an element inside an item of a streamed load with a name
// shorter than short_copy, with room in the arena's chunk and in the frames, is built
// here without a call (so with no registers to save); open_element does the rest.
int build_open_tag(xml_application *xptr, const char *token, std::size_t length, std::int64_t line)
{
    build_state &b = builder(xptr);
    xml_element *parent = b.current;
    if (b.quick && parent && b.depth < b.capacity && length < short_copy) {
        if (void *block = b.arena.take_here(element_block(length))) {
            xml_element *e = name_element(block, token, length, true);
            b.frames[b.depth++] = text_frame{e, 0, 0, true, line};
            link_last_child(parent, e);
            b.current = e;
            note_blank_runs(b, true);
            return 0;
        }
    }
    return open_element(xptr, token, length, line);
}

// An attribute of an element of a streamed item: the record and its name carved from
// the arena in one piece, released with the item. Its value stays a secure block.
xml_atribut *arena_atribut(bump_arena &arena, const char *token)
{
    const std::size_t len = std::strlen(token);
    void *block = arena.take(sizeof(xml_atribut) + len + 1);
    if (!block) return nullptr;
    auto *a = static_cast<xml_atribut *>(block);
    *a = xml_atribut{};
    auto *name = reinterpret_cast<char *>(a + 1);
    std::memcpy(name, token, len + 1);
    a->name = name;
    return a;
}

int build_atb_name(xml_application *xptr, const char *token)
{
    build_state &b = builder(xptr);
    if (b.stream && b.depth && b.frames[b.depth - 1].in_arena) {
        xml_atribut *a = arena_atribut(b.arena, token);
        if (!a) return status_no_memory; // the arena is reset with the item
        add_atribut(b.current, a);
        b.item_atributes = true;
        return 0;
    }
    xml_atribut *a = allocate_atribut();
    if (!a) return status_no_memory;
    a->name = allocate_string(token);
    if (!a->name) {
        liberate_atribut(a);
        return status_no_memory;
    }
    xml_element *e = b.current;
    if (!e) { // nothing to attach it to
        liberate_atribut(a);
        return status_missing;
    }
    add_atribut(e, a);
    return 0;
}

int build_atb_value(xml_application *xptr, const char *token)
{
    xml_element *e = builder(xptr).current;
    if (!e) return status_missing;
    xml_atribut *a = e->lastatb;
    if (!a) return status_no_element;
    liberate(a->value);
    const std::size_t length = std::strlen(token);
    a->value = allocate_string_secure(token, length);
    if (!a->value) return status_no_memory;
    a->value = unserialize_xml_string_attribute_value(a->value, length);
    return a->value ? 0 : status_no_memory;
}

// The attribute relays of a load that keeps no attribute: the reader reads and checks
// every one as ever, and nothing is kept.
int drop_atribut(xml_application *, const char *)
{
    return 0;
}

int build_white_space(xml_application *xptr, int c)
{
    build_state &b = builder(xptr);
    note_blank_runs(b, false);
    if (!b.current) return status_no_element;
    if (!b.current->value) return 0; // white space before the first word is dropped
    const char ch = static_cast<char>(c);
    return append_text(b, &ch, c ? 1 : 0);
}

int build_punctuation(xml_application *xptr, int c)
{
    build_state &b = builder(xptr);
    note_blank_runs(b, false);
    if (!b.current) return status_no_element;
    const char ch = static_cast<char>(c);
    return append_text(b, &ch, c ? 1 : 0);
}

int build_token(xml_application *xptr, const char *token)
{
    build_state &b = builder(xptr);
    note_blank_runs(b, false);
    if (!b.current) return status_no_element;
    return append_text(b, token, std::strlen(token));
}

// Element content in runs: the text the three relays above would gather, white
// space before the first word dropped likewise.
int build_content_run(xml_application *xptr, const char *text, std::size_t length,
                      std::size_t space)
{
    build_state &b = builder(xptr);
    xml_element *e = b.current;
    if (!e) return status_no_element;
    if (e->value) return append_text(b, text, length);
    // the reader says how much of the run it already knows to be white space
    std::size_t first = space;
    while (first < length && is_blank[static_cast<unsigned char>(text[first])])
        ++first;
    if (first == length) return 0;
    text += first;
    const std::size_t n = length - first;
    note_blank_runs(b, false);
    // The first text of an item's element, most often its only run, short: a block of
    // first_text bytes carved from the arena's chunk. The innermost frame is e's, with
    // no text yet.
    text_frame &f = b.frames[b.depth - 1];
    if (f.in_arena && n <= short_copy) {
        if (void *block = b.arena.take_here(first_text)) {
            auto *value = static_cast<char *>(block);
            copy_bytes(value, text, n);
            value[n] = '\0';
            e->value = value;
            f.length = n;
            f.capacity = first_text;
            return 0;
        }
    }
    return append_text(b, text, n);
}

// Releases the item a top-level element holds in a streamed load: the values of its
// elements' attributes, under one hold of the allocator's lock per batch; everything
// else with the arena.
void release_item(build_state &b, xml_element *top)
{
    xml_element *item = top->first;
    top->first = top->last = nullptr;
    if (!std::exchange(b.item_atributes, false)) item = nullptr; // nothing to walk for
    constexpr std::size_t batch = 64;
    void *values[batch];
    std::size_t n = 0;
    for (xml_element *e = item; e; e = next_in_document_order(e, item)) {
        for (const xml_atribut *a = e->firstatb; a; a = a->next) {
            if (!a->value) continue;
            if (n == batch) n = liberate_blocks(values, n);
            values[n++] = a->value;
        }
    }
    liberate_blocks(values, n);
    b.arena.reset();
}

// The end of an element in a streamed load: a child of a top-level element is
// visited and released (it is its parent's last child, as it has just closed); a
// top-level element is reported and released.
int close_streamed(build_state &b, xml_element *e, std::int64_t line)
{
    const document_stream &s = *b.stream;
    xml_element *parent = e->parent;
    b.current = parent;
    note_element_line(b, line);
    int st = 0;
    if (!parent) {
        ++b.tops_closed;
        b.open_top = nullptr;
        if (s.close_top) st = s.close_top(s.context, e);
        liberate_element(e);
    } else if (!parent->parent) {
        if (s.child) st = s.child(s.context, parent, e);
        release_item(b, parent);
    }
    return st;
}

// An end tag in general: every case, every check.
[[gnu::noinline]] int close_element(xml_application *xptr)
{
    build_state &b = builder(xptr);
    note_blank_runs(b, false);
    if (b.lost_text) return b.lost_text;
    xml_element *e = b.current;
    if (!e) return status_no_element;
    const std::int64_t line = b.frames[b.depth - 1].line;
    pop_frame(b);
    if (b.stream) return close_streamed(b, e, line);
    if (!e->parent) {
        // only the last top-level element closed is handed back; an earlier one is
        // unreachable from now on
        if (xptr->root && xptr->root != e) liberate_element(xptr->root);
        xptr->root = e;
        b.open_top = nullptr;
    }
    b.current = e->parent;
    return 0;
}

// The common end tag, of an element below the item in a streamed load, which hands
// nothing over, is taken here without a call; close_element does the rest. The line
// it began on is told to no callback, so it is not noted.
int build_close_tag(xml_application *xptr)
{
    build_state &b = builder(xptr);
    const xml_element *e = b.current;
    if (b.quick && e && e->parent && e->parent->parent) {
        --b.depth;
        b.current = e->parent;
        note_blank_runs(b, !e->parent->value);
        return 0;
    }
    return close_element(xptr);
}

// What a load reads: the file path, or length bytes at data (path null) named name.
using load_input = parse_source;

// Parses the input with the builder's relays and state. Returns the root the parse
// recorded (null for a streamed load).
xml_element *run_builder(const load_input &in, build_state &state)
{
    // the link's relays take the place of open_tag and content_run
    const bool dropped = state.link.atributes_dropped;
    xml_relay relays{.open_tag = nullptr,
                     .atb_name = dropped ? drop_atribut : build_atb_name,
                     .atb_value = dropped ? drop_atribut : build_atb_value,
                     .white_space = build_white_space,
                     .token = build_token,
                     .punctuation = build_punctuation,
                     .close_tag = build_close_tag,
                     .failure = nullptr,
                     .result = nullptr,
                     .content_run = nullptr};
    state.link.open_tag = build_open_tag;
    state.link.content_run = build_content_run;
    if (state.with_settings) { // the root comes back in the report
        xml_report ended;
        (void)parse_linked_with(in, &relays, &state.link, &state, state.settings, ended);
        fill_report(state.report, ended);
        return ended.root;
    }
    (void)parse_linked(in, &relays, &state.link, &state, state.outcome);
    return relays.result;
}

// The settings a load runs with: a load with settings when with is true.
struct load_settings {
    bool with;
    const xml_settings *settings;
    xml_report *report;
};

void take_settings(build_state &state, const load_settings &s)
{
    state.with_settings = s.with;
    state.settings = s.settings;
    state.report = s.report;
    // a field the caller's record does not reach is off
    constexpr std::size_t skip_reach = offsetof(xml_settings, skip_atributes) + sizeof(int);
    state.link.atributes_dropped =
        s.settings && s.settings->size >= skip_reach && s.settings->skip_atributes != 0;
}

xml_element *load_tree(const load_input &in, xml_outcome *outcome, const load_settings &with)
{
    build_state state;
    state.outcome = outcome;
    take_settings(state, with);
    xml_element *root = run_builder(in, state);
    // a top-level element still open when the parse ended is unreachable
    if (state.open_top && state.open_top != root) liberate_element(state.open_top);
    liberate(state.frames);
    return root;
}

int stream_tree(const load_input &in, const document_stream *stream, xml_outcome *outcome,
                const load_settings &with)
{
    if (!stream) {
        if (outcome) {
            *outcome = xml_outcome{};
            outcome->status = status_missing;
        }
        fill_report(with.report, refused_report(status_missing, 0));
        return 0;
    }
    build_state state;
    state.stream = stream;
    state.outcome = outcome;
    take_settings(state, with);
    (void)run_builder(in, state);
    if (state.open_top) { // the load ended inside a top-level element
        release_item(state, state.open_top);
        liberate_element(state.open_top);
    }
    state.arena.release();
    liberate(state.frames);
    return state.tops_closed;
}

} // namespace

// ---------------------------------------------------------------------------
// Loading and releasing

xml_element *qvxml::impl::document_parse_file(const char *sptr)
{
    return document_parse_file_outcome(sptr, nullptr);
}

xml_element *qvxml::impl::document_parse_file_outcome(const char *sptr, xml_outcome *outcome)
{
    return load_tree({.path = sptr, .data = nullptr, .length = 0, .name = sptr}, outcome, {});
}

xml_element *qvxml::impl::document_parse_buffer(const char *data, std::size_t length,
                                                const char *name, xml_outcome *outcome)
{
    return load_tree({.path = nullptr, .data = data, .length = length, .name = name}, outcome, {});
}

xml_element *qvxml::impl::document_drop(xml_element *document)
{
    return liberate_element(document);
}

int qvxml::impl::document_stream_file(const char *sptr, const document_stream *stream)
{
    return document_stream_file_outcome(sptr, stream, nullptr);
}

int qvxml::impl::document_stream_file_outcome(const char *sptr, const document_stream *stream,
                                              xml_outcome *outcome)
{
    return stream_tree({.path = sptr, .data = nullptr, .length = 0, .name = sptr}, stream, outcome,
                       {});
}

int qvxml::impl::document_stream_buffer(const char *data, std::size_t length, const char *name,
                                        const document_stream *stream, xml_outcome *outcome)
{
    return stream_tree({.path = nullptr, .data = data, .length = length, .name = name}, stream,
                       outcome, {});
}

xml_element *qvxml::impl::document_parse_file_with(const char *sptr, const xml_settings *settings,
                                                   xml_report *report)
{
    return load_tree({.path = sptr, .data = nullptr, .length = 0, .name = sptr}, nullptr,
                     {true, settings, report});
}

xml_element *qvxml::impl::document_parse_buffer_with(const char *data, std::size_t length,
                                                     const char *name, const xml_settings *settings,
                                                     xml_report *report)
{
    return load_tree({.path = nullptr, .data = data, .length = length, .name = name}, nullptr,
                     {true, settings, report});
}

int qvxml::impl::document_stream_file_with(const char *sptr, const document_stream *stream,
                                           const xml_settings *settings, xml_report *report)
{
    return stream_tree({.path = sptr, .data = nullptr, .length = 0, .name = sptr}, stream, nullptr,
                       {true, settings, report});
}

int qvxml::impl::document_stream_buffer_with(const char *data, std::size_t length, const char *name,
                                             const document_stream *stream,
                                             const xml_settings *settings, xml_report *report)
{
    return stream_tree({.path = nullptr, .data = data, .length = length, .name = name}, stream,
                       nullptr, {true, settings, report});
}
