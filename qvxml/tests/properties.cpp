#include "properties.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "qvxml/document.h"
#include "qvxml/element.h"
#include "qvxml/xmlparse.h"
#include "reference_reader.h"

// Standard output is an in-memory stream meanwhile, so that its position costs no
// system call.
std::string captured_stdout(const std::function<void()> &run)
{
    char *data = nullptr;
    std::size_t size = 0;
    std::fflush(stdout);
    FILE *const saved = stdout;
    stdout = open_memstream(&data, &size);
    if (!stdout) std::abort();
    run();
    std::fclose(stdout);
    stdout = saved;
    std::string out(data, size);
    std::free(data);
    return out;
}

namespace
{

// ---------------------------------------------------------------------------
// Reader against reference

using reference::event;

// What one parse is asked to do, and what it is seen to do.
struct run_setup {
    unsigned mask = 0x7f; // relays set by the application, one bit per event
    int stop_at = 0;      // the event whose relay returns stop_status; 0 for none
    int stop_status = 0;
    bool echo = false;
    bool allow_eof = false;
    bool runs = false; // content in runs: logged concatenated between the tag events
};
struct run_seen {
    std::string events; // each event with its text, and where standard output stood
    int status = 0;
    int failure_lines = -1;
    std::string out; // standard output
    int count = 0;
    std::size_t collected = 0; // collected text already logged
    std::string pending;       // content since the last tag event, when in runs
};

// Logs an event with the text the default relays collected since the last one, and
// where standard output stood when echo is on.
int record(const run_setup &setup, run_seen &seen, event e, std::string_view text,
           std::string_view collected)
{
    if (setup.runs && (e == event::white_space || e == event::token || e == event::punctuation))
        return seen.pending.append(text), 0;
    std::string &log = seen.events;
    log.append(1, '[').append(collected).append(1, ']').append(std::exchange(seen.pending, {}));
    if (setup.echo) log.append(1, '@').append(std::to_string(std::ftell(stdout)));
    log.append(1, static_cast<char>('0' + static_cast<unsigned>(e))).append(1, ':');
    log.append(std::to_string(text.size())).append(1, ':').append(text).append(1, '\n');
    return ++seen.count == setup.stop_at ? setup.stop_status : 0;
}

struct library_run {
    const run_setup *setup;
    run_seen *seen;
};
int on(xml_application *x, event e, std::string_view text)
{
    const auto *r = static_cast<library_run *>(x->payload[0]);
    const auto held = static_cast<std::size_t>(x->offset);
    if (x->buffer[held] != '\0') r->seen->events += "(collected text not terminated)";
    const std::string_view fresh{x->buffer + r->seen->collected, held - r->seen->collected};
    r->seen->collected = held;
    return record(*r->setup, *r->seen, e, text, fresh);
}
template <event E> int on_text(xml_application *x, const char *t)
{
    return on(x, E, t);
}
template <event E> int on_char(xml_application *x, int c)
{
    const char ch = static_cast<char>(c);
    return on(x, E, {&ch, 1});
}
int on_close(xml_application *x)
{
    return on(x, event::close_tag, "");
}
int failure_lines = -1;
// Answers apart from the status, so that a parse not returning the answer shows.
int note_failure(const char *, int status, int lines)
{
    failure_lines = lines;
    return status + 1000;
}

run_seen run_library(const char *path, const run_setup &setup)
{
    run_seen seen;
    library_run context{&setup, &seen};
    xml_relay r{};
    const auto want = [&](event e) { return (setup.mask >> static_cast<unsigned>(e)) & 1; };
    if (want(event::open_tag)) r.open_tag = on_text<event::open_tag>;
    if (want(event::atb_name)) r.atb_name = on_text<event::atb_name>;
    if (want(event::atb_value)) r.atb_value = on_text<event::atb_value>;
    if (want(event::white_space)) r.white_space = on_char<event::white_space>;
    if (want(event::token)) r.token = on_text<event::token>;
    if (want(event::punctuation)) r.punctuation = on_char<event::punctuation>;
    if (want(event::close_tag)) r.close_tag = on_close;
    if (setup.runs)
        r.content_run = [](xml_application *x, const char *t, int n) {
            return static_cast<library_run *>(x->payload[0])->seen->pending.append(t, n), 0;
        };
    r.failure = note_failure;
    set_xml_echo(setup.echo);
    set_xml_eof(setup.allow_eof);
    failure_lines = -1;
    seen.out = captured_stdout([&] { seen.status = xml_parse(path, &r, &context); });
    seen.failure_lines = failure_lines;
    if (failure_lines >= 0) seen.status -= 1000;
    set_xml_echo(0);
    set_xml_eof(0);
    return seen;
}

run_seen run_reference(std::string_view input, const run_setup &setup)
{
    run_seen seen;
    std::string collected;
    const reference::relay app = [&](event e, std::string_view t) {
        const std::string_view fresh = std::string_view{collected}.substr(seen.collected);
        seen.collected = collected.size();
        return record(setup, seen, e, t, fresh);
    };
    reference::outcome o{};
    seen.out = captured_stdout([&] {
        o = reference::parse(input, setup.mask, app, setup.echo, setup.allow_eof, collected);
    });
    seen.status = o.status;
    seen.failure_lines = o.failure_lines;
    return seen;
}

std::string differences(const run_setup &s, const run_seen &lib, const run_seen &ref)
{
    std::string d;
    const auto differ = [&](const char *what, const std::string &a, const std::string &b) {
        if (a == b) return;
        const auto at = static_cast<std::size_t>(
            std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
        const std::size_t from = at < 60 ? 0 : at - 60;
        d += std::string(" ") + what + ": reader " + a.substr(from, 120) + " | reference " +
             b.substr(from, 120);
    };
    differ("status", std::to_string(lib.status), std::to_string(ref.status));
    differ("failure lines", std::to_string(lib.failure_lines), std::to_string(ref.failure_lines));
    differ("events", lib.events, ref.events);
    differ("output", lib.out, ref.out);
    // before a word that is too long, a run may already hold its beginning
    if (lib.status != 5) differ("content after the last tag", lib.pending, ref.pending);
    if (d.empty()) return d;
    return "mask " + std::to_string(s.mask) + " stop at " + std::to_string(s.stop_at) + " with " +
           std::to_string(s.stop_status) + (s.echo ? " echo" : "") + (s.allow_eof ? " eof" : "") +
           (s.runs ? " runs" : "") + d;
}

// ---------------------------------------------------------------------------
// Trees

// The element after e in document order, staying inside root; null after the last.
const xml_element *next_in_order(const xml_element *e, const xml_element *root, long &depth)
{
    if (e->first) return ++depth, e->first;
    for (; e != root; e = e->parent, --depth)
        if (e->next) return e->next;
    return nullptr;
}

// An attribute value without the kept pair of quotation marks it may have.
std::string_view inner(const char *value)
{
    std::string_view v{value ? value : ""};
    return v.size() >= 2 && v.front() == '"' && v.back() == '"' ? v.substr(1, v.size() - 2) : v;
}

// Whether every attribute value, as the writer puts it (inside its own quotation marks,
// every other quotation mark as "&quot;"), fits the reader's word limit.
bool written_values_fit(const xml_element *root)
{
    long depth = 0;
    for (const xml_element *e = root; e; e = next_in_order(e, root, depth))
        for (const xml_atribut *a = e->firstatb; a; a = a->next)
            if (2 + inner(a->value).size() + 5 * std::ranges::count(inner(a->value), '"') >
                static_cast<std::size_t>(xml_max_token))
                return false;
    return true;
}

// Element text comes back with the line feed and indentation the writer puts before
// the closing tag; attribute values inside one pair of quotation marks.
std::string tree_differences(const xml_element *a, const xml_element *b)
{
    const xml_element *const root_a = a, *const root_b = b;
    long depth = 0, depth_b = 0;
    for (; a && b; a = next_in_order(a, root_a, depth), b = next_in_order(b, root_b, depth_b)) {
        const std::string where = std::string(" at ") + (a->name ? a->name : "(null)");
        if (!a->name || !b->name || std::strcmp(a->name, b->name) != 0)
            return "names differ" + where;
        if (a->value ? !b->value ||
                           a->value + ("\n" + std::string(static_cast<std::size_t>(depth), '\t')) !=
                               b->value
                     : b->value != nullptr)
            return "texts differ" + where;
        const xml_atribut *x = a->firstatb, *y = b->firstatb;
        for (; x && y; x = x->next, y = y->next)
            if (!x->name || !y->name || std::strcmp(x->name, y->name) != 0 || !y->value ||
                '"' + std::string(inner(x->value)) + '"' != y->value)
                return "attributes differ" + where;
        if (x || y) return "attribute counts differ" + where;
        if (depth != depth_b) return "shapes differ" + where;
    }
    return a || b ? "element counts differ" : "";
}

} // namespace

std::string check_reader_agreement(std::string_view input)
{
    memory_file file(input);
    std::uint32_t h = 2166136261u;
    for (const char c : input)
        h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    const run_setup full{};
    const run_seen first = run_library(file.path(), full);
    run_setup stopping{.mask = h & 0x7f,
                       .stop_at =
                           1 + static_cast<int>((h >> 7) % static_cast<unsigned>(first.count + 1)),
                       .stop_status = std::array{2, 3, 7, 48}[(h >> 20) & 3],
                       .echo = false,
                       .allow_eof = ((h >> 22) & 1) != 0};
    const run_setup defaults_echoed{.mask = 0, .echo = true},
        first_stops{.stop_at = 1, .stop_status = 99};
    run_setup runs = stopping;
    runs.mask = 0x7f, runs.runs = true;
    std::string d = differences(full, first, run_reference(input, full));
    for (run_setup s : {stopping, defaults_echoed, first_stops, runs})
        for (int i = 0; i < 2 && d.empty(); ++i, s.echo = !s.echo)
            d = differences(s, run_library(file.path(), s), run_reference(input, s));
    return d;
}

std::string check_serialise_round_trip(std::string_view input)
{
    const allocation_balance balance;
    std::string d;
    {
        const memory_file file(input);
        xml_element *first = document_parse_file(file.path());
        if (first) {
            char name[] = "/tmp/round-trip-XXXXXX";
            const int fd = mkstemp(name);
            if (fd < 0) std::abort();
            close(fd);
            if (document_serialise_file(first, name) != 0) d = "the tree cannot be written";
            xml_element *second = document_parse_file(name);
            unlink(name);
            if (!written_values_fit(first)) {
                if (second) d = "a value too long to read back, yet the reload gave a tree";
            } else if (d.empty()) {
                d = tree_differences(first, second);
            }
            document_drop(second);
        }
        document_drop(first);
    }
    return d.empty() ? balance.unbalanced() : d;
}

namespace
{

// The full substitution, computed plainly for comparison.
std::string substituted(const std::string &in, const std::string &rep, const std::string &with)
{
    std::string out;
    if (rep.empty()) {
        for (const char c : in)
            (out += with) += c;
        return out + with;
    }
    std::size_t pos = 0;
    for (std::size_t q; (q = in.find(rep, pos)) != std::string::npos; pos = q + rep.size())
        out.append(in, pos, q - pos) += with;
    return out.append(in, pos);
}

std::string before_zero(std::string_view data)
{
    return std::string(data.substr(0, data.find('\0')));
}

} // namespace

std::string check_quote_substitution(std::string_view data)
{
    // layout: buffer size byte, replace length byte, with length byte, then the texts;
    // a length of 8 stands for an absent argument
    if (data.size() < 3) return {};
    const int first_size = 1 + static_cast<unsigned char>(data[0]);
    const std::size_t rlen = static_cast<unsigned char>(data[1]) % 9;
    const std::size_t wlen = static_cast<unsigned char>(data[2]) % 9;
    // texts past 1 KiB take no other path, only time: a pass may grow the buffer by little
    const std::string rest = before_zero(data.substr(3, 1024));
    if (rest.size() < (rlen % 8) + (wlen % 8)) return {};
    const bool no_rep = rlen == 8, no_with = wlen == 8;
    if (no_rep && no_with) return {};
    const std::string rep = rest.substr(0, rlen % 8), with = rest.substr(rlen % 8, wlen % 8);
    const std::string in = rest.substr(rlen % 8 + wlen % 8);
    const std::string want = substituted(in, rep, with);
    constexpr char canary = '\x5a';
    constexpr std::size_t guard = 16;
    for (std::size_t size = static_cast<std::size_t>(first_size), rounds = 0;; ++rounds) {
        if (rounds > 100000) return "growing to the result does not complete";
        std::vector<char> buf(size + guard, canary);
        const std::size_t r = translate_string_with_string(
            in.c_str(), buf.data(), static_cast<int>(size), no_rep ? nullptr : rep.c_str(),
            no_with ? nullptr : with.c_str());
        if (std::any_of(buf.begin() + static_cast<long>(size), buf.end(),
                        [](char c) { return c != canary; }))
            return "written beyond the buffer";
        if (!std::memchr(buf.data(), 0, size)) return "buffer not terminated";
        // a pass looks no further into the input than the buffer could hold
        if ((r < size) != (want.size() < size && in.size() <= size))
            return "complete when the result does not fit, or the reverse";
        if (r < size) return r == want.size() && want == buf.data() ? "" : "wrong result " + in;
        if (r < size + 2) return "grow size below buffersize + 2";
        size = r;
    }
}

std::string check_entity_round_trip(std::string_view data)
{
    const allocation_balance balance;
    const std::string text = before_zero(data);
    std::string d;
    char *block = allocate_string(text.c_str());
    if (!block) return "no memory";
    use_xml_macros();
    convert_html_accents(&block, 2);
    convert_html_accents(&block, 1);
    if (text != block) d = "mode 1 does not undo mode 2: " + text;
    liberate(block);
    // mode 1 alone never grows the text
    block = allocate_string(text.c_str());
    convert_html_accents(&block, 1);
    use_html_macros();
    if (std::strlen(block) > text.size()) d = "mode 1 grew " + text;
    liberate(block);
    return d.empty() ? balance.unbalanced() : d;
}
