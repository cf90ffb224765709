#pragma once
// qvxml for C++ programs: an owning document, element and attribute views whose
// children and attributes are ranges, streamed loads and a reader that take callables,
// writing to a std::string, a FILE * or a callable, and failures as a result value.
// Everything is in namespace qvxml; the only names this header brings to global scope
// are the library's records (records.h). It reads and writes no process-wide switch:
// each parse gets its settings with the call. Nothing here throws of its own; an
// exception a callable throws stops the parse, everything the parse held is released,
// and it reaches the caller of the load, read or write once the library has returned.
//
// Texts are views into the tree, never copies: element text and attribute values as the
// tree holds them, entity names kept ("&lt;", "&eacute;"); an attribute value without
// its quotation marks. decoded_text and decoded_value append the decoded text to a
// std::string the caller gives.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iterator>
#include <ranges>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>

#include "qvxml/records.h"

namespace qvxml
{

// The statuses (status.h), as qvxml::status_ok and so on.
using ::status_cannot_create, ::status_cannot_open, ::status_missing, ::status_no_element,
    ::status_no_memory, ::status_ok, ::status_syntax, ::status_token_too_long, ::status_unclosed;

// The status with which a parse, load or write stops when a callable threw; the
// exception then reaches the caller, which never sees this status in a result.
inline constexpr int status_thrown = 1000;

// The library's entry points this header calls: the C-style calls of the same roles
// (named beside each) under names of their own, so that the header declares nothing at
// global scope. Settings and report as those calls take them.
namespace detail
{
#pragma GCC visibility push(default)
// document_parse_file_with, document_parse_buffer_with
xml_element *load_file(const char *path, const xml_settings *settings, xml_report *report);
xml_element *load_bytes(const char *data, std::size_t length, const char *name,
                        const xml_settings *settings, xml_report *report);
// document_stream_file_with, document_stream_buffer_with
int stream_file(const char *path, const document_stream *stream, const xml_settings *settings,
                xml_report *report);
int stream_bytes(const char *data, std::size_t length, const char *name,
                 const document_stream *stream, const xml_settings *settings, xml_report *report);
// xml_parse_with, xml_parse_buffer_with
int read_file(const char *path, const xml_relay *relays, void *payload,
              const xml_settings *settings, xml_report *report);
int read_bytes(const char *data, std::size_t length, const char *name, const xml_relay *relays,
               void *payload, const xml_settings *settings, xml_report *report);
// document_write_element
int write_element(const document_writer *writer, const xml_element *element, int level);
// document_drop: always null
xml_element *drop(xml_element *root);
// Copies length bytes of text to out with every entity name of the XML extent (the
// accented letters of code page 437 and "&lt;", "&gt;", "&amp;", "&quot;") turned into
// its character, as xml_get_text decodes; returns the bytes written, at most length.
std::size_t decode(const char *text, std::size_t length, char *out);
#pragma GCC visibility pop

// A callable's result as a status: void is 0.
template <typename F, typename... Args> int status_of(F &f, Args &&...args)
{
    if constexpr (std::is_void_v<std::invoke_result_t<F &, Args...>>) {
        f(std::forward<Args>(args)...);
        return 0;
    } else {
        return static_cast<int>(f(std::forward<Args>(args)...));
    }
}

// Runs the caller's callables for one call into the library: the exception one throws
// is kept and status_thrown given, which stops the parse (the reader's content relays,
// whose results are not looked at, hold back later calls themselves); rethrow() hands
// it on once the library has returned.
class guard
{
  public:
    template <typename Call> int run(Call &&call) noexcept
    {
#if __cpp_exceptions
        try {
            return call();
        } catch (...) {
            thrown_ = std::current_exception();
            return status_thrown;
        }
#else
        return call();
#endif
    }
    void rethrow() const
    {
        if (thrown_) std::rethrow_exception(thrown_);
    }

  private:
    std::exception_ptr thrown_;
};

// value without the quotation marks the tree keeps, as document_atribut_string drops
// them: the first character when it is one, and then the last.
inline std::string_view unquoted(std::string_view value)
{
    if (value.empty() || (value.front() != '"' && value.front() != '\'')) return value;
    return value.size() < 2 ? std::string_view{} : value.substr(1, value.size() - 2);
}

inline void append_decoded(std::string &out, std::string_view text)
{
    const std::size_t at = out.size();
    out.resize(at + text.size());
    out.resize(at + decode(text.data(), text.size(), out.data() + at));
}
} // namespace detail

// Settings of one parse. Nothing is read from the process-wide switches.
struct parse_settings {
    bool allow_unclosed = false; // input that ends with elements open is no failure
    FILE *echo = nullptr;        // non-null: every character read is copied to it
    // The loads and streamed loads keep no attribute (the reads do not look at it); the
    // input is read and checked as ever.
    bool skip_attributes = false;
};

// How a load, streamed load or read ended. True when it succeeded.
struct result {
    int status = status_missing; // status_ok, a reader status, or a callable's own
    std::int64_t line = 0;       // the line being read at the end, from 1; 0: not opened
    int open_elements = 0;       // elements still open at the end
    int error_number = 0;        // errno of a failed open or read of the input, else 0
    bool zero_byte = false;      // a zero byte ended the input
    int top_level = 0;           // streamed loads: top-level elements that closed

    explicit operator bool() const noexcept { return status == status_ok; }
    // What went wrong, for a person: "NAME:LINE: cause", with the system's words for
    // the errno when there is one; "NAME: ok" on success. Appended to out.
    void message(std::string &out, std::string_view name) const
    {
        out.append(name);
        if (line > 0) out.append(":").append(std::to_string(line));
        out.append(": ").append(cause());
        if (status == status_unclosed)
            out.append(" (").append(std::to_string(open_elements)).append(" open)");
        if (error_number != 0)
            out.append(": ").append(std::generic_category().message(error_number));
    }
    // The status in words, a static text.
    const char *cause() const noexcept
    {
        switch (status) {
        case status_ok:
            return "ok";
        case status_syntax:
            return "malformed markup, or an end tag with no element open";
        case status_unclosed:
            return "the input ended with elements open";
        case status_cannot_open:
            return "the input cannot be opened";
        case status_token_too_long:
            return "a word, name or value longer than 8191 characters";
        case status_no_memory:
            return "memory is exhausted";
        case status_cannot_create:
            return "the output cannot be written";
        case status_missing:
            return "a required argument is missing";
        default:
            return "stopped by a callback";
        }
    }
};

// Children and attributes are linked lists; a range over one walks its next links.
template <typename View, typename Record> class linked_iterator
{
  public:
    using value_type = View;
    using reference = View;
    using difference_type = std::ptrdiff_t;
    using iterator_concept = std::forward_iterator_tag;
    using iterator_category = std::input_iterator_tag; // a view is handed out by value

    linked_iterator() = default;
    explicit linked_iterator(const Record *at) noexcept : at_{at} {}
    View operator*() const noexcept { return View{at_}; }
    linked_iterator &operator++() noexcept
    {
        at_ = at_->next;
        return *this;
    }
    linked_iterator operator++(int) noexcept
    {
        return std::exchange(*this, linked_iterator{at_->next});
    }
    bool operator==(const linked_iterator &) const = default;

  private:
    const Record *at_ = nullptr;
};

template <typename View, typename Record> class linked_range : public std::ranges::view_base
{
  public:
    linked_range() = default;
    explicit linked_range(const Record *first) noexcept : first_{first} {}
    linked_iterator<View, Record> begin() const noexcept
    {
        return linked_iterator<View, Record>{first_};
    }
    linked_iterator<View, Record> end() const noexcept { return {}; }
    bool empty() const noexcept { return first_ == nullptr; }

  private:
    const Record *first_ = nullptr;
};

// An attribute of a tree, or none (empty); valid while its document is.
class attribute
{
  public:
    attribute() = default;
    explicit attribute(const xml_atribut *a) noexcept : a_{a} {}
    explicit operator bool() const noexcept { return a_ != nullptr; }
    std::string_view name() const noexcept { return a_ && a_->name ? a_->name : ""; }
    // Without its quotation marks, entity names kept; "" for none.
    std::string_view value() const noexcept
    {
        return detail::unquoted(a_ && a_->value ? a_->value : "");
    }
    void decoded_value(std::string &out) const { detail::append_decoded(out, value()); }
    const xml_atribut *get() const noexcept { return a_; }
    bool operator==(const attribute &) const = default;

  private:
    const xml_atribut *a_ = nullptr;
};

// An element of a tree, or none (empty): every query on an empty element gives an
// empty result. Valid while its document is.
class element
{
  public:
    element() = default;
    explicit element(const xml_element *e) noexcept : e_{e} {}
    explicit operator bool() const noexcept { return e_ != nullptr; }
    std::string_view name() const noexcept { return e_ && e_->name ? e_->name : ""; }
    // The element's own text, entity names kept; "" for none.
    std::string_view text() const noexcept { return e_ && e_->value ? e_->value : ""; }
    void decoded_text(std::string &out) const { detail::append_decoded(out, text()); }

    element parent() const noexcept { return element{e_ ? e_->parent : nullptr}; }
    element next_sibling() const noexcept { return element{e_ ? e_->next : nullptr}; }
    element previous_sibling() const noexcept { return element{e_ ? e_->previous : nullptr}; }
    linked_range<element, xml_element> children() const noexcept
    {
        return linked_range<element, xml_element>{e_ ? e_->first : nullptr};
    }
    linked_range<qvxml::attribute, xml_atribut> attributes() const noexcept
    {
        return linked_range<qvxml::attribute, xml_atribut>{e_ ? e_->firstatb : nullptr};
    }

    // The first child named name.
    element child(std::string_view name) const noexcept
    {
        for (element c : children())
            if (c.name() == name) return c;
        return {};
    }
    // The first element named name below this one, in the order nested_document_element
    // searches: the children of each element in turn, the elements taken in document
    // order. Uses no stack in proportion to the depth.
    element descendant(std::string_view name) const noexcept
    {
        for (const xml_element *e = e_; e; e = next_below(e)) {
            if (element c = element{e}.child(name)) return c;
        }
        return {};
    }
    qvxml::attribute attribute(std::string_view name) const noexcept
    {
        for (qvxml::attribute a : attributes())
            if (a.name() == name) return a;
        return {};
    }

    const xml_element *get() const noexcept { return e_; }
    bool operator==(const element &) const = default;

  private:
    // The element after e in document order inside this one's subtree; null after it.
    const xml_element *next_below(const xml_element *e) const noexcept
    {
        if (e->first) return e->first;
        for (; e != e_; e = e->parent)
            if (e->next) return e->next;
        return nullptr;
    }

    const xml_element *e_ = nullptr;
};

static_assert(std::forward_iterator<linked_iterator<element, xml_element>>);
static_assert(std::ranges::forward_range<linked_range<element, xml_element>>);
static_assert(std::ranges::forward_range<linked_range<attribute, xml_atribut>>);
static_assert(std::ranges::view<linked_range<element, xml_element>>);

namespace detail
{
inline xml_settings settings_of(const parse_settings &given, const document_writer &echo)
{
    xml_settings s{};
    s.size = sizeof s;
    s.allow_unclosed = given.allow_unclosed;
    s.echo = given.echo != nullptr;
    s.echo_writer = given.echo ? &echo : nullptr;
    s.skip_atributes = given.skip_attributes;
    return s;
}

inline int put_to_stream(void *h, const char *bytes, std::size_t n)
{
    return std::fwrite(bytes, 1, n, static_cast<FILE *>(h)) == n ? 0 : status_cannot_create;
}

// Runs a call into the library with the settings given and a report, and makes the
// result of it; load is called with (settings, report) and gives its status.
template <typename Load> result with_settings(const parse_settings &given, Load &&load)
{
    const document_writer echo{given.echo, put_to_stream};
    const xml_settings settings = settings_of(given, echo);
    xml_report report{};
    report.size = sizeof report;
    const int n = load(&settings, &report);
    result r;
    r.status = report.status;
    r.line = report.line;
    r.open_elements = report.open_elements;
    r.error_number = report.error_number;
    r.zero_byte = report.zero_byte != 0;
    r.top_level = n;
    return r;
}

// A streamed load's callables, handed to the library as a document_stream.
template <typename Open, typename Child, typename Close> struct stream_calls {
    Open &open;
    Child &child;
    Close &close;
    const xml_report *report = nullptr; // the load's, live during the callbacks
    guard calls;

    // A child callable may take the line its element began on as a third argument.
    int child_call(const xml_element *top, const xml_element *c)
    {
        if constexpr (std::is_invocable_v<Child &, element, element, std::int64_t>)
            return status_of(child, element{top}, element{c}, report->element_line);
        else
            return status_of(child, element{top}, element{c});
    }
    static stream_calls &of(void *c) { return *static_cast<stream_calls *>(c); }
    static int open_top(void *c, const xml_element *top)
    {
        return of(c).calls.run([&] { return status_of(of(c).open, element{top}); });
    }
    static int on_child(void *c, const xml_element *top, const xml_element *child)
    {
        return of(c).calls.run([&] { return of(c).child_call(top, child); });
    }
    static int close_top(void *c, const xml_element *top)
    {
        return of(c).calls.run([&] { return status_of(of(c).close, element{top}); });
    }
    document_stream table() { return {this, open_top, on_child, close_top}; }
};
} // namespace detail

// A callable that does nothing, for the callbacks a streamed load does not need.
struct skip {
    template <typename... Args> void operator()(Args &&...) const noexcept {}
};

// The document tree of one load, owned: released by the destructor. Move-only.
class document
{
  public:
    document() = default;
    document(document &&other) noexcept : root_{std::exchange(other.root_, nullptr)} {}
    document &operator=(document &&other) noexcept
    {
        if (this != &other) {
            reset();
            root_ = std::exchange(other.root_, nullptr);
        }
        return *this;
    }
    ~document() { reset(); }

    // Loads the file path, replacing what the document held. On a failure the document
    // holds what the library's load gives: the last top-level element that closed
    // before it, if any.
    result load_file(const char *path, const parse_settings &settings = {})
    {
        xml_element *tree = nullptr;
        result r = detail::with_settings(settings, [&](auto *s, auto *report) {
            tree = detail::load_file(path, s, report);
            return 0;
        });
        adopt(tree);
        return r;
    }
    // Loads the bytes, which are read where they are, as the file holding them would be;
    // name is what a message names.
    result load_bytes(std::string_view bytes, const parse_settings &settings = {},
                      const char *name = "")
    {
        xml_element *tree = nullptr;
        result r = detail::with_settings(settings, [&](auto *s, auto *report) {
            tree = detail::load_bytes(bytes.data(), bytes.size(), name, s, report);
            return 0;
        });
        adopt(tree);
        return r;
    }

    element root() const noexcept { return element{root_}; }
    explicit operator bool() const noexcept { return root_ != nullptr; }
    void reset() noexcept { root_ = detail::drop(root_); }
    // Hands the tree over: the caller releases it with document_drop.
    xml_element *release() noexcept { return std::exchange(root_, nullptr); }

  private:
    void adopt(xml_element *tree) noexcept
    {
        reset();
        root_ = tree;
    }
    xml_element *root_ = nullptr;
};

// Streamed loads: each child of a top-level element is handed to child(top, child) as
// it closes, complete with its subtree, and released after the call (so both views are
// valid only during it); child(top, child, line) also gets the line its element began
// on. open(top) is called when a top-level element opens, close(top) when it closes.
// Each returns void, or an int: non-zero stops the load with that status. The result's
// top_level counts the top-level elements that closed.
template <typename Open, typename Child, typename Close>
result stream_file(const char *path, Open &&open, Child &&child, Close &&close,
                   const parse_settings &settings = {})
{
    detail::stream_calls<Open, Child, Close> calls{open, child, close, nullptr, {}};
    const document_stream table = calls.table();
    result r = detail::with_settings(settings, [&](auto *s, auto *report) {
        calls.report = report;
        return detail::stream_file(path, &table, s, report);
    });
    calls.calls.rethrow();
    return r;
}
template <typename Child>
result stream_file(const char *path, Child &&child, const parse_settings &settings = {})
{
    return stream_file(path, skip{}, child, skip{}, settings);
}
template <typename Open, typename Child, typename Close>
result stream_bytes(std::string_view bytes, Open &&open, Child &&child, Close &&close,
                    const parse_settings &settings = {}, const char *name = "")
{
    detail::stream_calls<Open, Child, Close> calls{open, child, close, nullptr, {}};
    const document_stream table = calls.table();
    result r = detail::with_settings(settings, [&](auto *s, auto *report) {
        calls.report = report;
        return detail::stream_bytes(bytes.data(), bytes.size(), name, &table, s, report);
    });
    calls.calls.rethrow();
    return r;
}
template <typename Child>
result stream_bytes(std::string_view bytes, Child &&child, const parse_settings &settings = {},
                    const char *name = "")
{
    return stream_bytes(bytes, skip{}, child, skip{}, settings, name);
}

// What the reader hands a callable, with a text for each (close: "").
enum class event {
    open,            // a start tag's name
    attribute_name,  // an attribute's name
    attribute_value, // its value without quotation marks, entity names kept
    content,         // a run of element content, as the input holds it
    close            // the innermost element ends
};

namespace detail
{
// The reader's callable behind a relay table. Content relays cannot stop a parse, so a
// stop asked for there (or an exception) is kept and given by the next tag's relay;
// no callable runs after it.
template <typename On> struct reader_calls {
    On &on;
    guard calls;
    int stopped = 0;

    int deliver(event e, std::string_view text)
    {
        if (stopped == 0) stopped = calls.run([&] { return status_of(on, e, text); });
        return stopped;
    }
    static reader_calls &of(xml_application *x)
    {
        return *static_cast<reader_calls *>(x->payload[0]);
    }
    static int open(xml_application *x, const char *t) { return of(x).deliver(event::open, t); }
    static int name(xml_application *x, const char *t)
    {
        return of(x).deliver(event::attribute_name, t);
    }
    static int value(xml_application *x, const char *t)
    {
        return of(x).deliver(event::attribute_value, unquoted(t));
    }
    static int close(xml_application *x) { return of(x).deliver(event::close, {}); }
    static int run(xml_application *x, const char *text, int length)
    {
        return of(x).deliver(event::content, {text, static_cast<std::size_t>(length)});
    }
    // With the echo on, content comes a character or a word at a time.
    static int word(xml_application *x, const char *t) { return of(x).deliver(event::content, t); }
    static int character(xml_application *x, int c)
    {
        const char one = static_cast<char>(c);
        return of(x).deliver(event::content, {&one, 1});
    }
    static xml_relay table()
    {
        xml_relay r{};
        r.open_tag = open;
        r.atb_name = name;
        r.atb_value = value;
        r.white_space = character;
        r.token = word;
        r.punctuation = character;
        r.close_tag = close;
        r.content_run = run;
        return r;
    }

    template <typename Read> result read(const parse_settings &settings, Read &&call)
    {
        const xml_relay relays = table();
        result r = with_settings(settings, [&](auto *s, auto *report) {
            (void)call(&relays, this, s, report);
            return 0;
        });
        calls.rethrow();
        if (r.status == status_ok && stopped != 0) r.status = stopped;
        return r;
    }
};
} // namespace detail

// The reader, with no tree: on(event, text) for each tag, attribute and run of content
// as the input goes by; the text lives only during the call. on returns void, or an
// int: non-zero stops the parse with that status (from content, at the next tag).
template <typename On>
result read_file(const char *path, On &&on, const parse_settings &settings = {})
{
    detail::reader_calls<On> calls{on, {}, 0};
    return calls.read(settings, [&](auto... args) { return detail::read_file(path, args...); });
}
template <typename On>
result read_bytes(std::string_view bytes, On &&on, const parse_settings &settings = {},
                  const char *name = "")
{
    detail::reader_calls<On> calls{on, {}, 0};
    return calls.read(settings, [&](auto... args) {
        return detail::read_bytes(bytes.data(), bytes.size(), name, args...);
    });
}

// Writing: e and its subtree as indented XML at depth level, as document_write_element
// writes it. Returns status_ok, or the status that stopped it: write(text) may return
// void, or an int of which non-zero stops the writing; status_cannot_create (46) when
// a stream refuses the bytes. An empty element writes nothing.
template <typename Write>
requires std::is_invocable_v<Write &, std::string_view>
int write(element e, Write &&put, int level = 0)
{
    struct sink {
        Write &w;
        detail::guard calls;
        static int put(void *c, const char *bytes, std::size_t n)
        {
            sink &s = *static_cast<sink *>(c);
            return s.calls.run([&] { return detail::status_of(s.w, std::string_view{bytes, n}); });
        }
    } s{put, {}};
    const document_writer writer{&s, sink::put};
    const int status = detail::write_element(&writer, e.get(), level);
    s.calls.rethrow();
    return status;
}
// Appends to out.
inline int write(element e, std::string &out, int level = 0)
{
    return write(
        e, [&out](std::string_view text) { out.append(text); }, level);
}
inline int write(element e, FILE *h, int level = 0)
{
    if (!h) return status_missing;
    const document_writer writer{h, detail::put_to_stream};
    return detail::write_element(&writer, e.get(), level);
}

} // namespace qvxml

// Views into a tree outlive the range that gave them.
namespace std::ranges
{
template <typename View, typename Record>
inline constexpr bool enable_borrowed_range<qvxml::linked_range<View, Record>> = true;
}
