// The tree printer: one walk of a tree in document order, without recursion, that
// writes each element as it enters and leaves it, in one of two styles, to a stream;
// and the pieces of the indented style handed to a caller's writer.
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "qvxml/internal/copy.h"
#include "qvxml/internal/impl.h"
#include "qvxml/internal/sink.h"
#include "qvxml/internal/walk.h"

using namespace qvxml::impl;

namespace
{

// compact: no indentation, attributes as name='value' with their values as stored, a
// line feed after each element's end; the element given and its subtree.
// indented: tabs by depth, each attribute on a line of its own with its value inside
// the writer's quotation marks, text on a line of its own; the element given and its
// following siblings, each with its subtree.
enum class print_style { compact, indented };

void put_text(text_sink &out, const char *s)
{
    if (s) out.put(s);
}

void put_tabs(text_sink &out, long n)
{
    if (n > 0) out.put_repeated('\t', static_cast<std::size_t>(n));
}

// A value as the indented style writes it between its quotation marks: without a pair
// of them kept from the file.
std::string_view unquoted(const char *value)
{
    std::string_view v{value ? value : ""};
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    return v;
}

// Every quotation mark of the value is written as "&quot;", so that reading the file
// back restores it; a pair of quotation marks kept from the file gives way to the
// writer's own pair.
void put_atribut_value(text_sink &out, const char *value)
{
    const std::string_view v = unquoted(value);
    out.put('"');
    put_quot_escaped(out, v);
    out.put('"');
}

bool has_content(const xml_element *e)
{
    return e->first || e->value;
}

// The indented style's common pieces, written straight into a writer's staging where
// it has room: a few tabs, then bytes.
constexpr std::string_view few_tabs = text_sink::few_tabs;
char *put_at(char *to, std::string_view s)
{
    copy_bytes(to, s.data(), s.size());
    return to + s.size();
}

// The indentation of depth tabs, written as the whole constant run, of which the
// bytes past depth are overwritten by what follows: the caller asked for tab_slack
// bytes of room past its piece. depth is at most few_tabs.size().
constexpr std::size_t tab_slack = few_tabs.size();
char *put_tabs_at(char *to, std::size_t depth)
{
    std::memcpy(to, few_tabs.data(), few_tabs.size());
    return to + depth;
}

// The start tag of e and a line feed, indented, with each attribute on a line of its
// own: measured once and written in one piece. The bytes written, 0 when e has more
// than a few attributes, one whose value needs escaping, or it did not fit.
constexpr std::size_t few_atributes = 8;
std::size_t put_whole_open(text_sink &out, const xml_element *e, long depth, bool content)
{
    if (!e->name || depth < 0 || depth >= static_cast<long>(few_tabs.size())) return 0;
    const std::string_view name{e->name};
    const auto tabs = static_cast<std::size_t>(depth);
    const std::string_view end = content ? ">\n" : "/>\n";
    std::size_t n = tabs + 1 + name.size() + end.size();
    // each attribute's name and value as written, measured once; a plain record, so
    // that the slots stay unset for the many elements with none
    struct atribut_text {
        const char *name, *value;
        std::size_t name_size, value_size;
    };
    std::array<atribut_text, few_atributes> atributes;
    std::size_t count = 0;
    for (const xml_atribut *a = e->firstatb; a; a = a->next) {
        if (count == few_atributes || !a->name) return 0;
        const std::string_view atb_name{a->name};
        const std::string_view value = unquoted(a->value);
        if (value.find('"') != value.npos) return 0;    // to be escaped
        n += tabs + atb_name.size() + value.size() + 5; // \n, tab, =, two marks
        atributes[count++] = {atb_name.data(), value.data(), atb_name.size(), value.size()};
    }
    char *to = out.room_for(n + tab_slack);
    if (!to) return 0;
    to = put_at(put_tabs_at(to, tabs), "<");
    to = put_at(to, name);
    for (std::size_t i = 0; i < count; ++i) {
        const atribut_text &a = atributes[i];
        *to++ = '\n';
        to = put_at(put_at(put_tabs_at(to, tabs + 1), {a.name, a.name_size}), "=\"");
        *(to = put_at(to, {a.value, a.value_size}))++ = '"';
    }
    put_at(to, end);
    out.took(n);
    return n;
}

// An element with text and nothing else, indented: its start tag, its text and its end
// tag, each on a line of its own, measured once and written in one piece. The bytes
// written, 0 when e is not such an element or it did not fit.
std::size_t put_whole_leaf(text_sink &out, const xml_element *e, long depth)
{
    if (!e->name || !e->value || e->first || e->firstatb || depth < 0 ||
        depth > static_cast<long>(few_tabs.size()))
        return 0;
    const std::string_view name{e->name};
    const std::string_view value{e->value};
    const auto tabs = static_cast<std::size_t>(depth);
    const std::size_t n = 3 * tabs + 2 * name.size() + value.size() + 8; // <>\n \n </>\n
    char *to = out.room_for(n + tab_slack);
    if (!to) return 0;
    to = put_tabs_at(to, tabs);
    *to++ = '<';
    to = put_at(to, name);
    to = put_at(put_tabs_at(put_at(to, ">\n"), tabs), value);
    *to++ = '\n';
    put_at(put_at(put_at(put_tabs_at(to, tabs), "</"), name), ">\n");
    out.took(n);
    return n;
}

// The text of an element with content and its end tag, indented: the bytes written, 0
// when they did not fit in one piece.
std::size_t put_whole_close(text_sink &out, const xml_element *e, long depth)
{
    if (!e->name || depth < 0 || depth > static_cast<long>(few_tabs.size())) return 0;
    const std::string_view name{e->name};
    const std::string_view value{e->value ? e->value : ""};
    const auto tabs = static_cast<std::size_t>(depth);
    const std::size_t text = e->value ? tabs + value.size() + 1 : 0;
    const std::size_t n = text + tabs + 2 + name.size() + 2;
    char *to = out.room_for(n + tab_slack);
    if (!to) return 0;
    if (e->value) {
        to = put_at(put_tabs_at(to, tabs), value);
        *to++ = '\n';
    }
    put_at(put_at(put_at(put_tabs_at(to, tabs), "</"), name), ">\n");
    out.took(n);
    return n;
}

// The start of e; content tells whether e has content (children or text), which
// decides how the indented start tag ends.
void put_open(text_sink &out, const xml_element *e, long depth, print_style style, bool content)
{
    const bool indented = style == print_style::indented;
    if (indented && put_whole_open(out, e, depth, content)) return;
    if (indented) put_tabs(out, depth);
    out.put('<');
    put_text(out, e->name);
    for (const xml_atribut *a = e->firstatb; a; a = a->next) {
        if (indented) {
            out.put('\n');
            put_tabs(out, depth + 1);
            put_text(out, a->name);
            out.put('=');
            put_atribut_value(out, a->value);
        } else {
            out.put(' ');
            put_text(out, a->name);
            out.put("='");
            put_text(out, a->value);
            out.put('\'');
        }
    }
    if (indented)
        out.put(content ? ">\n" : "/>\n");
    else if (content)
        out.put('>');
}

// The end of an element whose children (if any) have been written; content as for
// put_open.
void put_close(text_sink &out, const xml_element *e, long depth, print_style style, bool content)
{
    const bool indented = style == print_style::indented;
    if (!content) {
        if (!indented) out.put("/>\n"); // the indented open tag was written whole
        return;
    }
    if (indented && put_whole_close(out, e, depth)) return;
    if (e->value) {
        if (indented) put_tabs(out, depth);
        out.put(e->value);
        if (indented) out.put('\n');
    }
    if (indented) put_tabs(out, depth);
    out.put("</");
    put_text(out, e->name);
    out.put(">\n");
}

// top and its subtree, top at depth level.
void print_subtree(text_sink &out, const xml_element *top, long level, print_style style)
{
    long depth = level;                 // of the next element to open
    const xml_element *whole = nullptr; // a leaf written in one piece, open and close
    const auto close = [&](const xml_element *e) {
        if (e == whole) return;
        if (e->first) --depth; // back out of its children
        put_close(out, e, depth, style, has_content(e));
    };
    const bool indented = style == print_style::indented;
    for (const xml_element *e = top; e; e = next_in_document_order(e, top, close)) {
        if (indented && put_whole_leaf(out, e, depth)) {
            whole = e;
            continue;
        }
        put_open(out, e, depth, style, has_content(e));
        if (e->first) ++depth;
    }
}

void print_tree(text_sink &out, const xml_element *eptr, int level, print_style style)
{
    const bool chain = style == print_style::indented;
    for (const xml_element *top = eptr; top; top = chain ? top->next : nullptr)
        print_subtree(out, top, level, style);
}

// The text the writer functions gather before handing it over in one call.
constexpr std::size_t writer_staging = 16384;

// Runs put on a sink that hands its text to writer; the status the writer gave.
template <typename Put>
int write_through(const document_writer *writer, const xml_element *e, Put &&put)
{
    if (!writer || !writer->write) return status_missing;
    if (!e) return 0;
    char staging[writer_staging];
    text_sink out{*writer, staging, sizeof staging};
    put(out);
    return out.flush();
}

constexpr std::string_view xml_declaration = "<?xml version=\"1.0\" encoding=\"UTF8\"?>\n";

} // namespace

void qvxml::impl::show_element(const xml_element *eptr)
{
    text_sink out{stdout};
    print_tree(out, eptr, 0, print_style::compact);
}

void qvxml::impl::document_show_element(const xml_element *eptr, int level)
{
    text_sink out{stdout};
    print_tree(out, eptr, level, print_style::indented);
}

void qvxml::impl::document_serialise_element(FILE *h, const xml_element *eptr, int level)
{
    if (!h) return;
    text_sink out{h};
    print_tree(out, eptr, level, print_style::indented);
}

int qvxml::impl::document_write_element(const document_writer *writer, const xml_element *element,
                                        int level)
{
    return write_through(writer, element, [&](text_sink &out) {
        print_subtree(out, element, level, print_style::indented);
    });
}

int qvxml::impl::document_write_start(const document_writer *writer, const xml_element *element,
                                      int level)
{
    return write_through(writer, element, [&](text_sink &out) {
        put_open(out, element, level, print_style::indented, true);
    });
}

int qvxml::impl::document_write_end(const document_writer *writer, const xml_element *element,
                                    int level)
{
    return write_through(writer, element, [&](text_sink &out) {
        put_close(out, element, level, print_style::indented, true);
    });
}

int qvxml::impl::document_serialise_file(const xml_element *eptr, const char *filename)
{
    FILE *h = filename ? std::fopen(filename, "w") : nullptr;
    if (!h) return status_cannot_create;
    text_sink out{h};
    out.put(xml_declaration);
    print_tree(out, eptr, 0, print_style::indented);
    // a file the device refused (full, gone) is no success, though it was created
    const bool written = std::ferror(h) == 0;
    return std::fclose(h) == 0 && written ? 0 : status_cannot_create;
}
