// The streaming reader against a plain reference reader, on the same input under the
// same relays: every relay call logged the same way by both, then compared.
#include <algorithm>
#include <array>
#include <cstring>

#include "properties.h"
#include "qvxml/xmlparse.h"

namespace
{

enum event { open_tag, atb_name, atb_value, white_space, token, punctuation, close_tag, none };
constexpr auto is_content = [](int e) { return e >= white_space && e <= punctuation; };
using text = const char *;
const auto ch = [](int c) { return std::string(1, static_cast<char>(c)); };
// The reference reader's states: after '<', waiting for '>' that closes, in content, in
// a start tag, after an attribute name, waiting for a value or for an end tag's name;
// in an instruction, after its '?'; in a declaration.
enum state { outside, opened, closing, content, tag, named, valuing, end, pi, pi_end, decl };

// One line of a log: what, the length of s, and s between brackets.
void put(std::string &log, std::string_view what, std::string_view s)
{
    log.append(what).append(' ' + std::to_string(s.size()) + " [").append(s).append("]\n");
}

// What one parse is asked to do, and what it is seen to do: the log holds each relay
// call (event, length and text), after the text the default relays collected since the
// last call and the content handed over since then in runs, when there is any, and
// (with echo on) where standard output stood. Call stop_at (0: none) returns
// stop_status; logged is how much of the collected text is in the log already.
struct trace {
    unsigned mask = 0x7f; // relays set by the application, one bit per event
    int stop_at = 0, stop_status = 0, count = 0, logged = 0;
    bool echo = false, eof = false, runs = false; // runs: content through content_run
    std::string log{}, pending{}, outcome{};
    static inline int failure_lines = -1;
    static inline std::string failure_name;

    int note(int e, std::string_view s, std::string_view collected)
    {
        static constexpr const char *names[] = {"open_tag",    "atb_name", "atb_value",
                                                "white_space", "token",    "punctuation",
                                                "close_tag"};
        if (runs && is_content(e)) {
            pending.append(s);
            return 0;
        }
        const std::string_view fresh = collected.substr(std::exchange(logged, collected.size()));
        if (!fresh.empty()) put(log, "collected", fresh);
        if (!pending.empty()) put(log, "run", std::exchange(pending, {}));
        if (echo) log += "at " + std::to_string(std::ftell(stdout)) + '\n';
        put(log, names[e], s);
        return ++count == stop_at ? stop_status : 0;
    }
    // The log, then the content after the last call (before a word too long, a run may
    // already hold its beginning), the status, the line count given to the failure hook
    // when it is called (lines not negative) and standard output.
    std::string finish(int status, int lines, const std::string &out) const
    {
        std::string s = log;
        if (status != 5 && !pending.empty()) put(s, "run", pending);
        s += "status " + std::to_string(status) +
             (lines < 0 ? "" : " lines " + std::to_string(lines));
        s += '\n';
        if (!out.empty()) put(s, "output", out);
        return s;
    }

    // The library's relays, logging into the trace given as payload; the failure hook
    // answers apart from the status, so that a parse not returning the answer shows.
    static trace &of(xml_application *x) { return *static_cast<trace *>(x->payload[0]); }
    template <int E, class... Text> static int on(xml_application *x, Text... t)
    {
        if (x->buffer[x->offset] != '\0') of(x).log += "(collected text not terminated)";
        return of(x).note(E, (std::string() += ... += t), {x->buffer, std::size_t(x->offset)});
    }
    // the lengths of the runs go to the outcome: the reference reader does not model them
    static int on_run(xml_application *x, text t, int n)
    {
        of(x).outcome += std::to_string(n) + ',';
        return of(x).note(token, {t, std::size_t(n)}, {}); // with runs set, content is pending
    }
    static int on_failure(text name, int status, int n)
    {
        failure_name = name;
        failure_lines = n;
        return status + 1000;
    }

    // The parse of the file path, or of input in memory (path null), noting its outcome
    // after the lengths of the runs.
    std::string library(const char *path, std::string_view input = {})
    {
        const auto set = [this](int e, auto relay) { return (mask >> e) & 1 ? relay : nullptr; };
        xml_relay r{set(0, on<0, text>),    set(1, on<1, text>), set(2, on<2, text>),
                    set(3, on<3, int>),     set(4, on<4, text>), set(5, on<5, int>),
                    set(6, on<6>),          on_failure,          nullptr,
                    runs ? on_run : nullptr};
        set_xml_echo(echo);
        set_xml_eof(eof);
        failure_lines = -1;
        int st = 0;
        xml_outcome o{};
        const std::string out = captured_stdout([&] {
            st = path ? xml_parse_outcome(path, &r, this, &o)
                      : xml_parse_buffer(input.data(), input.size(), "in memory", &r, this, &o);
        });
        set_xml_echo(0);
        set_xml_eof(0);
        for (const int n : {o.status, o.line, o.open_elements, o.error_number, o.zero_byte})
            outcome += std::to_string(n) + ' ';
        if (failure_lines >= 0 && failure_name != (path ? path : "in memory"))
            outcome += "(hook given another name)";
        return finish(failure_lines < 0 ? st : st - 1000, failure_lines, out);
    }
};

constexpr auto is_quote = [](int c) { return c == '"' || c == '\''; };
constexpr auto is_word = [](int c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (c >= 128 && c <= 165) || c == '-' || c == '.' || c == ':' || c == '_';
};

// The reference reader: it reads one byte at a time with one pushed-back character, and
// writes out each rule of the state machine the simplest way. Events outside the mask
// take the default relays' behaviour: content is collected, and with echo on they print,
// as does every byte read.
struct reference_reader : trace {
    std::string_view in;
    std::string collected{}, word{};
    std::size_t pos = 0;
    int pushed = 0, lines = 0, nesting = 0, at = outside;

    // The next byte, 1 to 255; 0 from the first zero byte or end of input on, for good.
    int getch()
    {
        if (pushed) return std::exchange(pushed, 0);
        while (pos < in.size()) {
            const int c = static_cast<unsigned char>(in[pos++]);
            if (c == 0) pos = in.size();
            if (c == 0 || c == '\r') continue;
            if (c == '\n') ++lines;
            if (echo) std::putchar(c);
            return c;
        }
        return 0;
    }

    // Calls relay e, or does what the default relay does; the content relays' results are
    // not looked at.
    int call(int e, std::string_view s)
    {
        static constexpr const char *before[] = {"<", " ", "=", "", "", "", "</end>"};
        if ((mask >> e) & 1) {
            const int st = note(e, s, collected);
            return is_content(e) ? 0 : st;
        }
        if (is_content(e)) collected += s;
        if (echo) std::printf("%s%.*s%s", before[e], int(s.size()), s.data(), e ? "" : ">");
        return 0;
    }

    // Reads a word from its first character on and steps on, or returns 5 when it grows
    // too long. A quotation mark opens a quoted word when it comes first, except in
    // content: q is the mark, -1 once it is closed.
    int read_word(int first)
    {
        word.clear();
        pushed = first;
        for (int q = 0, c; q >= 0 && (c = getch()) != 0; word += static_cast<char>(c)) {
            if (!q && !is_word(c) && !is_quote(c)) {
                pushed = c; // the word ends before c
                break;
            }
            if (word.size() >= 8191) return 5;
            if (q ? c == q : is_quote(c) && word.empty() && at != content) q = q ? -1 : c;
        }
        return step(0);
    }

    // Goes to state s with opening more elements open (fewer when negative), then calls
    // relay e: with the word, or with nothing for close_tag.
    int to(int s, int e = none, int opening = 0)
    {
        at = s;
        nesting += opening;
        return e == none ? 0 : call(e, e == close_tag ? "" : word);
    }

    // After a word (c = 0), white space (handed over in content only) or punctuation c: 0
    // to go on, else the status that ends the parse.
    int step(int c)
    {
        const int back = nesting > (at == closing) ? content : outside; // after an element or tag
        if (c && std::strchr(" \t\n\r", c)) return at == content ? call(white_space, ch(c)) : 0;
        if (!c && at == opened) return to(tag, open_tag);
        if (!c && at == content) return call(token, word);
        if (!c && (at == tag || at == named)) return to(named, atb_name);
        if (!c && at == valuing) return to(tag, atb_value);
        if (!c) return to(at == end ? closing : at == pi_end ? pi : at);
        if (at == outside) return c == '<' ? to(opened) : 0;
        if (at == opened && c == '!' && (ahead("--") || ahead("[CDATA["))) return markup();
        if (at == opened && std::strchr("/?!", c)) return to(c == '/' ? end : c == '?' ? pi : decl);
        if (at == closing && c == '>' && nesting) return to(back, close_tag, -1);
        if (at == content && c == '<') return to(opened);
        if (at == content) return call(punctuation, ch(c));
        if (at == tag && std::strchr("/>", c)) return to(c == '>' ? content : closing, none, 1);
        if (at == named && c == '=') return to(valuing);
        if (at == pi) return c == '?' ? to(pi_end) : 0;
        if (at == pi_end) return to(c == '>' ? back : pi);
        if (at == decl) return c == '>' ? to(back) : 0;
        return 2; // anything else in a tag
    }

    // Whether the characters ahead, carriage returns dropped, up to a zero byte, begin
    // with s.
    bool ahead(std::string_view s) const
    {
        std::string next;
        for (std::size_t i = pos; i < in.size() && in[i] && next.size() < s.size(); ++i)
            if (in[i] != '\r') next += in[i];
        return next == s;
    }

    // After "<!": a comment, skipped to "-->", or a CDATA section, to "]]>". Inside an
    // element a section's text goes on as content, with & < > as their escapes, "]" held
    // until it is known not to end the section; outside, it is dropped. 5 when a word of
    // it grows too long.
    int markup()
    {
        const bool section = ahead("[CDATA["), deliver = section && nesting;
        for (int i = section ? 7 : 2; i > 0; --i)
            getch();
        at = nesting ? content : outside;
        word.clear();
        int held = 0;
        for (int c, dashes = 0; (c = getch()) != 0;) {
            if (!section && c == '>' && dashes >= 2) return 0;
            dashes = c == '-' ? dashes + 1 : 0;
            if (section && c == '>' && held == 2) return end_word();
            if (!deliver) {
                held = c == ']' ? std::min(held + 1, 2) : 0;
            } else if (c == ']' && held == 2) {
                text(']');
            } else if (c == ']') {
                end_word();
                ++held;
            } else {
                for (; held > 0; --held)
                    text(']');
                const std::string e = c == '&'   ? "&amp;"
                                      : c == '<' ? "&lt;"
                                      : c == '>' ? "&gt;"
                                                 : ch(c);
                for (const char x : e)
                    if (text(static_cast<unsigned char>(x)) != 0) return 5;
            }
        }
        end_word();
        for (; deliver && held > 0; --held) // held "]" are text too
            text(']');
        return 0;
    }
    // One character of a section's text: 5 when it makes a word too long.
    int text(int c)
    {
        if (!is_word(c) && !is_quote(c)) {
            end_word();
            return step(c);
        }
        if (word.size() >= 8191) return 5;
        word += static_cast<char>(c);
        return 0;
    }
    int end_word()
    {
        if (!word.empty()) step(0);
        word.clear();
        return 0;
    }

    // Reads input as the reader reads a file; status and failure lines as with the library.
    std::string parse()
    {
        int st = 0;
        const std::string out = captured_stdout([&] {
            for (int c; st == 0 && (c = getch()) != 0;)
                st = is_word(c) || is_quote(c) ? read_word(c) : step(c);
        });
        if (st == 0 && nesting && !eof) return finish(3, -1, out); // elements left open
        return finish(st == 48 ? 0 : st, st == 0 || st == 48 ? -1 : lines, out);
    }
};

} // namespace

std::string check_reader_agreement(std::string_view input)
{
    const memory_file file(input);
    int count = 0;
    // The log shows what differs and under what: which relays are set (the events logged),
    // echo (positions logged), runs (content logged between tags) and the stop (the status).
    // the reader on the file and on the same bytes in memory, and the reference reader
    const auto agree = [&](trace lib, bool echo) {
        lib.echo = echo;
        const std::string want = reference_reader{lib, input}.parse();
        trace memory = lib;
        std::string got = lib.library(file.path());
        std::string d = first_difference(got, want);
        got += lib.outcome;
        if (d.empty()) d = first_difference(memory.library(nullptr, input) + memory.outcome, got);
        count = lib.count;
        return d;
    };
    const auto h = static_cast<unsigned>(std::hash<std::string_view>()(input));
    std::string d = agree({}, false);
    // relays set by input, one stopping at a call set by input; the default relays; the
    // first call stopping; content in runs; each with echo off and on
    const trace stopping{.mask = h & 0x7f,
                         .stop_at = 1 + static_cast<int>((h >> 7) % (count + 1u)),
                         .stop_status = std::array{2, 3, 7, 48}[(h >> 20) & 3],
                         .eof = ((h >> 22) & 1) != 0};
    trace runs = stopping;
    runs.mask = 0x7f;
    runs.runs = true;
    for (const trace &s :
         {stopping, trace{.mask = 0}, trace{.stop_at = 1, .stop_status = 99}, runs})
        for (const bool echo : {false, true})
            if (d.empty()) d = agree(s, echo);
    return d;
}

std::string reader_trace(const char *path, bool runs, bool eof)
{
    return trace{.eof = eof, .runs = runs}.library(path);
}
