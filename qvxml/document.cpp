#include "qvxml/document.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "qvxml/element.h"
#include "qvxml/internal/arena.h"
#include "qvxml/internal/walk.h"
#include "qvxml/xmlparse.h"

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
    bool in_arena; // the element, its name and its text live in the arena
    int line;      // where its start tag was read
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
    // Set for document_stream_file: the children of top-level elements are handed
    // to it as they close and released, so memory holds one of them at a time.
    const document_stream *stream = nullptr;
    int tops_closed = 0;
    // The item being built in a streamed load: its records, names and text are
    // carved from the arena and thrown away with it. Attributes stay ordinary
    // tracked records, since their values are kept in secure memory.
    bump_arena arena;
    // Where the caller wants to learn how the load ended; null when it does not.
    // During a streamed load's callbacks its element_line tells where the element
    // handed over began.
    xml_outcome *outcome = nullptr;
};

constexpr std::size_t first_frames = 64;
constexpr std::size_t first_text = 64;

build_state &builder(const xml_application *x)
{
    return *static_cast<build_state *>(x->payload[0]);
}

bool push_frame(build_state &b, xml_element *e, bool in_arena, int line)
{
    if (b.depth == b.capacity) {
        const std::size_t grown = b.capacity ? b.capacity * 2 : first_frames;
        if (grown * sizeof(text_frame) >= static_cast<std::size_t>(INT_MAX)) return false;
        auto *frames =
            static_cast<text_frame *>(allocate(static_cast<int>(grown * sizeof(text_frame))));
        if (!frames) return false;
        if (b.depth) std::memcpy(frames, b.frames, b.depth * sizeof(text_frame));
        liberate(b.frames);
        b.frames = frames;
        b.capacity = grown;
    }
    b.frames[b.depth++] = text_frame{e, 0, 0, in_arena, line};
    return true;
}

// Appends len bytes to the innermost open element's text, growing its block
// geometrically. Returns 0 or status_no_memory (27), the text then left as it was.
int grow_text(build_state &b, const char *text, std::size_t len)
{
    if (len == 0 || b.depth == 0) return 0;
    text_frame &f = b.frames[b.depth - 1];
    if (f.length + len + 1 > f.capacity) {
        std::size_t grown = std::max({f.capacity * 2, f.length + len + 1, first_text});
        if (grown >= static_cast<std::size_t>(INT_MAX)) grown = f.length + len + 1;
        if (grown >= static_cast<std::size_t>(INT_MAX)) return status_no_memory;
        char *block;
        if (f.in_arena) {
            block = static_cast<char *>(b.arena.regrow(f.element->value, f.length, grown));
            if (!block) return status_no_memory;
        } else {
            block = static_cast<char *>(allocate(static_cast<int>(grown)));
            if (!block) return status_no_memory;
            if (f.length) std::memcpy(block, f.element->value, f.length);
            liberate(f.element->value);
        }
        f.element->value = block;
        f.capacity = grown;
    }
    std::memcpy(f.element->value + f.length, text, len);
    f.length += len;
    f.element->value[f.length] = '\0';
    return 0;
}

int append_text(build_state &b, const char *text, std::size_t len)
{
    const int st = grow_text(b, text, len);
    if (st != 0) b.lost_text = st;
    return st;
}

// Closes the innermost frame, handing the element a block of exactly its text's size
// (a streamed element is released right after its visit and keeps the roomy one).
void pop_frame(build_state &b)
{
    const text_frame f = b.frames[--b.depth];
    if (b.stream || !f.element->value || f.capacity == f.length + 1) return;
    auto *exact = static_cast<char *>(allocate(static_cast<int>(f.length + 1)));
    if (!exact) return; // the roomy block holds the same text
    std::memcpy(exact, f.element->value, f.length + 1);
    liberate(f.element->value);
    f.element->value = exact;
}

// A new element of a streamed item, with its name, carved from the arena.
xml_element *arena_element(bump_arena &arena, const char *token)
{
    const std::size_t len = std::strlen(token);
    auto *e = static_cast<xml_element *>(arena.take(sizeof(xml_element)));
    auto *name = static_cast<char *>(arena.take(len + 1));
    if (!e || !name) return nullptr;
    *e = xml_element{};
    std::memcpy(name, token, len + 1);
    e->name = name;
    return e;
}

int build_open_tag(xml_application *xptr, const char *token)
{
    build_state &b = builder(xptr);
    if (b.lost_text) return b.lost_text;
    xml_element *parent = b.current;
    const int line = xptr->parent ? xptr->parent->lines + 1 : 0;
    xml_element *e;
    if (b.stream && parent) {
        e = arena_element(b.arena, token);
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
    add_element(parent, e);
    b.current = e;
    if (!parent) {
        b.open_top = e;
        if (b.stream && b.stream->open_top) {
            if (b.outcome) b.outcome->element_line = line;
            return b.stream->open_top(b.stream->context, e);
        }
    }
    return 0;
}

int build_atb_name(xml_application *xptr, const char *token)
{
    xml_atribut *a = allocate_atribut();
    if (!a) return status_no_memory;
    a->name = allocate_string(token);
    if (!a->name) {
        liberate_atribut(a);
        return status_no_memory;
    }
    xml_element *e = builder(xptr).current;
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
    a->value = allocate_string_secure(token);
    if (!a->value) return status_no_memory;
    a->value = unserialize_xml_string_attribute_value(a->value);
    return a->value ? 0 : status_no_memory;
}

int build_white_space(xml_application *xptr, int c)
{
    build_state &b = builder(xptr);
    if (!b.current) return status_no_element;
    if (!b.current->value) return 0; // white space before the first word is dropped
    const char ch = static_cast<char>(c);
    return append_text(b, &ch, c ? 1 : 0);
}

int build_punctuation(xml_application *xptr, int c)
{
    build_state &b = builder(xptr);
    if (!b.current) return status_no_element;
    const char ch = static_cast<char>(c);
    return append_text(b, &ch, c ? 1 : 0);
}

int build_token(xml_application *xptr, const char *token)
{
    build_state &b = builder(xptr);
    if (!b.current) return status_no_element;
    return append_text(b, token, std::strlen(token));
}

// Element content in runs: the text the three relays above would gather, white
// space before the first word dropped likewise.
int build_content_run(xml_application *xptr, const char *text, int length)
{
    build_state &b = builder(xptr);
    if (!b.current) return status_no_element;
    std::size_t first = 0;
    const auto n = static_cast<std::size_t>(length);
    if (!b.current->value)
        while (first < n && (text[first] == ' ' || text[first] == '\t' || text[first] == '\n'))
            ++first;
    return append_text(b, text + first, n - first);
}

// Releases the item a top-level element holds in a streamed load: the attributes of
// its elements one by one, everything else with the arena.
void release_item(build_state &b, xml_element *top)
{
    xml_element *item = top->first;
    top->first = top->last = nullptr;
    for (xml_element *e = item; e; e = next_in_document_order(e, item)) {
        while (xml_atribut *a = e->firstatb) {
            e->firstatb = a->next;
            liberate_atribut(a);
        }
    }
    b.arena.reset();
}

// The end of an element in a streamed load: a child of a top-level element is
// visited and released (it is its parent's last child, as it has just closed); a
// top-level element is reported and released.
int close_streamed(build_state &b, xml_element *e, int line)
{
    const document_stream &s = *b.stream;
    xml_element *parent = e->parent;
    b.current = parent;
    if (b.outcome) b.outcome->element_line = line;
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

int build_close_tag(xml_application *xptr)
{
    build_state &b = builder(xptr);
    if (b.lost_text) return b.lost_text;
    xml_element *e = b.current;
    if (!e) return status_no_element;
    const int line = b.frames[b.depth - 1].line;
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

// Parses sptr with the builder's relays and state. Returns the root the parse
// recorded (null for a streamed load).
xml_element *run_builder(const char *sptr, build_state &state)
{
    xml_relay relays{.open_tag = build_open_tag,
                     .atb_name = build_atb_name,
                     .atb_value = build_atb_value,
                     .white_space = build_white_space,
                     .token = build_token,
                     .punctuation = build_punctuation,
                     .close_tag = build_close_tag,
                     .failure = nullptr,
                     .result = nullptr,
                     .content_run = build_content_run};
    (void)xml_parse_outcome(sptr, &relays, &state, state.outcome);
    return relays.result;
}

// ---------------------------------------------------------------------------
// Queries

bool has_name(const xml_element *e, const char *token)
{
    return e->name && std::strcmp(e->name, token) == 0;
}

bool is_quote(char c)
{
    return c == '"' || c == '\'';
}

// Hexadecimal digits up to the first other character; from the ninth digit on the
// leading ones are shifted out of the 32-bit result.
int hatoi(const char *sptr)
{
    std::uint32_t v = 0;
    for (;; ++sptr) {
        const char c = *sptr;
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            break;
        v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    return static_cast<int>(v);
}

// Decimal conversion as the C library's atoi reads it (leading white space, a sign,
// digits), saturating instead of overflowing.
int decimal_value(const char *sptr)
{
    errno = 0;
    const long v = std::strtol(sptr, nullptr, 10);
    return static_cast<int>(std::clamp<long>(v, INT_MIN, INT_MAX));
}

char *unquoted_copy(const xml_atribut *aptr, bool secure)
{
    if (!aptr || !aptr->value) return nullptr;
    const char *v = aptr->value;
    if (!is_quote(v[0])) return secure ? allocate_string_secure(v) : allocate_string(v);
    const std::size_t n = std::strlen(v) - 1; // without the opening mark
    if (n + 1 >= static_cast<std::size_t>(INT_MAX)) return nullptr;
    // a lone quotation mark still gets a terminated (empty) block
    const int size = static_cast<int>(n == 0 ? 1 : n);
    auto *copy = static_cast<char *>(secure ? allocate_secure(size) : allocate(size));
    if (copy && n > 1) std::memcpy(copy, v + 1, n - 1); // the last character is dropped
    return copy;
}

// ---------------------------------------------------------------------------
// Indented output

// A long run, so that the indentation of a deep tree, which grows with the square of
// its depth, costs few stream calls.
constexpr std::size_t tab_run = 4096;
constexpr std::array<char, tab_run> tabs = [] {
    std::array<char, tab_run> t{};
    t.fill('\t');
    return t;
}();

void put_tabs(FILE *h, long n)
{
    while (n > 0) {
        const std::size_t chunk = std::min<std::size_t>(static_cast<std::size_t>(n), tabs.size());
        std::fwrite(tabs.data(), 1, chunk, h);
        n -= static_cast<long>(chunk);
    }
}

void put_text(FILE *h, const char *s)
{
    if (s) std::fputs(s, h);
}

// "&quot;" is this much longer than the quotation mark it stands for.
constexpr std::size_t quot_growth = std::string_view{"&quot;"}.size() - 1;
// A format "\"%.<precision>s\"": the precision has at most 20 digits.
constexpr std::size_t value_format_bytes = 32;

// An attribute value inside the writer's own quotation marks, every quotation mark
// of it written as "&quot;" so that reading the file back restores it. A pair of
// quotation marks kept from the file gives way to the writer's pair: the closing
// mark is escaped with the rest, and the precision of the format leaves it out.
void put_atribut_value(FILE *h, const char *value)
{
    if (!value) {
        std::fputs("\"\"", h);
        return;
    }
    const std::string_view v{value};
    if (v.size() < 2 || v.front() != '"' || v.back() != '"') {
        fprintf_xml_string_attribute(h, "\"%s\"", value);
        return;
    }
    const auto marks = static_cast<std::size_t>(std::count(v.begin() + 1, v.end() - 1, '"'));
    std::array<char, value_format_bytes> format;
    std::snprintf(format.data(), format.size(), "\"%%.%zus\"", v.size() - 2 + marks * quot_growth);
    fprintf_xml_string_attribute(h, format.data(), value + 1);
}

void put_open(FILE *h, const xml_element *e, long depth)
{
    put_tabs(h, depth);
    std::fputc('<', h);
    put_text(h, e->name);
    for (const xml_atribut *a = e->firstatb; a; a = a->next) {
        std::fputc('\n', h);
        put_tabs(h, depth + 1);
        put_text(h, a->name);
        std::fputc('=', h);
        put_atribut_value(h, a->value);
    }
    std::fputs(e->first || e->value ? ">\n" : "/>\n", h);
}

void put_close(FILE *h, const xml_element *e, long depth)
{
    if (!e->first && !e->value) return; // written whole by put_open
    if (e->value) {
        put_tabs(h, depth);
        std::fputs(e->value, h);
        std::fputc('\n', h);
    }
    put_tabs(h, depth);
    std::fputs("</", h);
    put_text(h, e->name);
    std::fputs(">\n", h);
}

// Writes the chain from eptr at level, each with its subtree, without recursion.
void write_indented(FILE *h, const xml_element *eptr, int level)
{
    for (const xml_element *top = eptr; top; top = top->next) {
        long depth = level; // of the next element to open
        const auto close = [&](const xml_element *e) {
            if (e->first) --depth; // back out of its children
            put_close(h, e, depth);
        };
        for (const xml_element *e = top; e; e = next_in_document_order(e, top, close)) {
            put_open(h, e, depth);
            if (e->first) ++depth;
        }
    }
}

constexpr const char *xml_declaration = "<?xml version=\"1.0\" encoding=\"UTF8\"?>\n";

} // namespace

// ---------------------------------------------------------------------------
// Loading and releasing

xml_element *document_parse_file(const char *sptr)
{
    return document_parse_file_outcome(sptr, nullptr);
}

xml_element *document_parse_file_outcome(const char *sptr, xml_outcome *outcome)
{
    build_state state;
    state.outcome = outcome;
    xml_element *root = run_builder(sptr, state);
    // a top-level element still open when the parse ended is unreachable
    if (state.open_top && state.open_top != root) liberate_element(state.open_top);
    liberate(state.frames);
    return root;
}

xml_element *document_drop(xml_element *document)
{
    return liberate_element(document);
}

int document_stream_file(const char *sptr, const document_stream *stream)
{
    return document_stream_file_outcome(sptr, stream, nullptr);
}

int document_stream_file_outcome(const char *sptr, const document_stream *stream,
                                 xml_outcome *outcome)
{
    if (!stream) {
        if (outcome) {
            *outcome = xml_outcome{};
            outcome->status = status_missing;
        }
        return 0;
    }
    build_state state;
    state.stream = stream;
    state.outcome = outcome;
    (void)run_builder(sptr, state);
    if (state.open_top) { // the load ended inside a top-level element
        release_item(state, state.open_top);
        liberate_element(state.open_top);
    }
    state.arena.release();
    liberate(state.frames);
    return state.tops_closed;
}

// ---------------------------------------------------------------------------
// Queries

xml_element *document_element(const xml_element *document, const char *token)
{
    if (!document || !token) return nullptr;
    if (has_name(document, token)) return const_cast<xml_element *>(document);
    for (const xml_element *c = document->first; c; c = c->next)
        if (has_name(c, token)) return const_cast<xml_element *>(c);
    return nullptr;
}

// Visits the elements in pre-order, testing each one's direct children; that is the
// order of a search that tests all children before descending into each in turn.
// Visits the elements in document order, testing each one's direct children; that is
// the order of a search that tests all children before descending into each in turn.
xml_element *nested_document_element(const xml_element *document, const char *token)
{
    if (!document || !token) return nullptr;
    if (has_name(document, token)) return const_cast<xml_element *>(document);
    for (const xml_element *e = document; e; e = next_in_document_order(e, document))
        for (const xml_element *c = e->first; c; c = c->next)
            if (has_name(c, token)) return const_cast<xml_element *>(c);
    return nullptr;
}

xml_atribut *document_atribut(const xml_element *element, const char *token)
{
    if (!element || !token) return nullptr;
    for (const xml_atribut *a = element->firstatb; a; a = a->next)
        if (a->name && std::strcmp(a->name, token) == 0) return const_cast<xml_atribut *>(a);
    return nullptr;
}

int document_atribut_value(const xml_atribut *aptr)
{
    if (!aptr || !aptr->value) return 0;
    const char *v = aptr->value;
    if (v[0] == '0' && v[1] == 'x') return hatoi(v + 2);
    if (is_quote(v[0])) return decimal_value(v + 1);
    return decimal_value(v);
}

char *document_atribut_password(const xml_atribut *aptr)
{
    return unquoted_copy(aptr, true);
}

char *document_atribut_string(const xml_atribut *aptr)
{
    return unquoted_copy(aptr, false);
}

// ---------------------------------------------------------------------------
// Editing

xml_element *document_add_element(xml_element *dptr, const char *nptr)
{
    xml_element *e = allocate_element();
    if (!e) return nullptr;
    e->name = allocate_string(nptr);
    if (!e->name) return liberate_element(e);
    add_element(dptr, e);
    return e;
}

xml_element *document_prefix_element(xml_element *dptr, const char *nptr)
{
    if (!dptr) return nullptr;
    xml_element *e = allocate_element();
    if (!e) return nullptr;
    e->name = allocate_string(nptr);
    if (!e->name) return liberate_element(e);
    e->next = dptr->first;
    if (dptr->first)
        dptr->first->previous = e;
    else
        dptr->last = e;
    dptr->first = e;
    e->parent = dptr;
    return e;
}

xml_atribut *document_add_atribut(xml_element *eptr, const char *nptr, const char *vptr)
{
    xml_atribut *a = allocate_atribut();
    if (!a) return nullptr;
    a->name = allocate_string(nptr);
    if (!a->name) return liberate_atribut(a);
    a->value = allocate_string(vptr);
    if (!a->value) return liberate_atribut(a);
    add_atribut(eptr, a);
    return a;
}

int document_remove_element(xml_element *eptr)
{
    if (!eptr) return 0;
    if (eptr->previous)
        eptr->previous->next = eptr->next;
    else if (eptr->parent)
        eptr->parent->first = eptr->next;
    if (eptr->next)
        eptr->next->previous = eptr->previous;
    else if (eptr->parent)
        eptr->parent->last = eptr->previous;
    liberate_element(eptr);
    return 0;
}

int document_append_element(xml_element *dptr, xml_element *eptr)
{
    if (!dptr || !eptr) return 0;
    eptr->next = dptr->next;
    if (eptr->next)
        eptr->next->previous = eptr;
    else if (dptr->parent)
        dptr->parent->last = eptr;
    dptr->next = eptr;
    eptr->previous = dptr;
    eptr->parent = dptr->parent;
    return 0;
}

int document_append_elements(xml_element *dptr, xml_element *eptr)
{
    if (!dptr) return 0;
    while (eptr) {
        xml_element *following = eptr->next;
        eptr->next = nullptr;
        eptr->previous = nullptr;
        document_append_element(dptr, eptr);
        dptr = eptr;
        eptr = following;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Output

void document_show_element(const xml_element *eptr, int level)
{
    write_indented(stdout, eptr, level);
}

void document_serialise_element(FILE *h, const xml_element *eptr, int level)
{
    if (h) write_indented(h, eptr, level);
}

int document_serialise_file(const xml_element *eptr, const char *filename)
{
    FILE *h = filename ? std::fopen(filename, "w") : nullptr;
    if (!h) return status_cannot_create;
    std::fputs(xml_declaration, h);
    write_indented(h, eptr, 0);
    std::fclose(h);
    return 0;
}
