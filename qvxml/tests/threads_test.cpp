// Parses on two threads at once, each with its own relays and context, as qvxml(3)
// allows. The ThreadSanitizer preset runs the suites named Threads, so state that
// the library shares between parses by accident shows there as a data race.
#include <algorithm>
#include <thread>

#include "test_support.h"

namespace
{

// At each element's end, its text as xml_get_text decodes it and as xml_put_cdata
// writes that back.
int convert_text(xml_application *x)
{
    char *text = nullptr;
    xml_get_text(x, &text);
    *static_cast<std::string *>(x->payload[0]) +=
        std::string(text) + " | " + written([&](FILE *h) { xml_put_cdata(h, text); }) + "\n";
    liberate(text);
    x->buffer[x->offset = 0] = '\0';
    return 0;
}

std::string convert_texts(int times)
{
    std::string out;
    xml_relay relays{};
    relays.close_tag = convert_text;
    for (int i = 0; i < times; ++i)
        EXPECT_EQ(xml_parse(QVXML_TEST_DATA "/entity-texts.xml", &relays, &out), status_ok);
    return out;
}

using Threads = TrackedTest;

// Each conversion once put the XML extent of the entity table in force and the HTML
// extent back around itself, so a thread converting while another finished read
// "&amp;" and its kin at the HTML extent and kept them as they were.
TEST_F(Threads, ValueReadersOnTwoParsesAtOnce)
{
    constexpr int times = 100;
    const std::string once = convert_texts(1);
    EXPECT_EQ(once,
              "Caf\x82 <b> &lt; & \"q\" | Caf&eacute; &lt;b&gt; &amp;lt; &amp; &quot;q&quot;\n"
              "\x84\x94 >> plain \x9a | &auml;&ouml; &gt;&gt; plain &Uuml;\n"
              " | \n");
    std::string got[2];
    {
        std::jthread a([&] { got[0] = convert_texts(times); });
        std::jthread b([&] { got[1] = convert_texts(times); });
    }
    for (const std::string &g : got)
        EXPECT_TRUE(g.size() == once.size() * times && g == [&] {
            std::string all;
            for (int i = 0; i < times; ++i)
                all += once;
            return all;
        }());
    EXPECT_EQ(MaxMacMan, html_macro_rows);
}

} // namespace

namespace
{

// Parses with settings of their own on several threads at once, all through one const
// relay table: each parse's status, outcome, echo and failure callback are checked
// against the same parse through the plain call, made alone beforehand with the
// process-wide switches set to the same settings.
struct parse_seen {
    std::string log, echo, hooked; // hooked: the input's name and line feeds the callback got
    int result = 0;
    xml_report report{};
};

int log_tag(xml_application *x, const char *t)
{
    *static_cast<std::string *>(x->payload[0]) += std::string("<") + t;
    return 0;
}
int log_end(xml_application *x)
{
    *static_cast<std::string *>(x->payload[0]) += ">";
    return x->offset > 4000 ? status_no_memory : 0; // a stop with a failure, set by input
}
const xml_relay shared_relays = [] {
    xml_relay r{};
    r.open_tag = log_tag;
    r.close_tag = log_end;
    return r;
}();

// One parse of path through the call with settings: unclosed input allowed or not,
// echo to a writer of its own, a failure callback that adds tag to the status.
parse_seen parse_with_settings(const std::string &path, bool unclosed, int tag)
{
    parse_seen s;
    const document_writer into{&s.echo, [](void *c, const char *b, std::size_t n) {
                                   static_cast<std::string *>(c)->append(b, n);
                                   return 0;
                               }};
    struct callback {
        parse_seen *seen;
        int tag;
    } back{&s, tag};
    xml_settings set{};
    set.size = sizeof set;
    set.allow_unclosed = unclosed;
    set.echo = 1;
    set.echo_writer = &into;
    set.failure = [](void *c, const char *name, int status, std::int64_t lines) {
        auto &b = *static_cast<callback *>(c);
        b.seen->hooked += std::string(name) + ' ' + std::to_string(lines + 1);
        return status + b.tag;
    };
    set.failure_context = &back;
    s.report.size = sizeof s.report;
    s.result = xml_parse_with(path.c_str(), &shared_relays, &s.log, &set, &s.report);
    return s;
}

// The same parse through xml_parse_outcome with the switches, echo captured.
parse_seen parse_plainly(const std::string &path, bool unclosed)
{
    parse_seen s;
    xml_relay relays = shared_relays;
    xml_outcome o{};
    set_xml_eof(unclosed);
    set_xml_echo(1);
    s.echo =
        captured_stdout([&] { s.result = xml_parse_outcome(path.c_str(), &relays, &s.log, &o); });
    set_xml_eof(0);
    set_xml_echo(0);
    s.report = {sizeof s.report, o.status, o.open_elements, o.error_number, o.zero_byte,
                o.line,          0,        relays.result};
    return s;
}

TEST_F(Threads, ParsesWithSettingsOfTheirOwnAtOnce)
{
    std::vector<std::string> paths;
    for (const auto &f : data_files("reader", ".xml"))
        paths.push_back(f.string());
    std::vector<parse_seen> want[2];
    for (const bool unclosed : {false, true})
        for (const std::string &p : paths)
            want[unclosed].push_back(parse_plainly(p, unclosed));
    // the inputs tell the two settings apart, and some fail
    EXPECT_TRUE(std::ranges::any_of(want[0], [](auto &w) { return w.result == status_unclosed; }));
    EXPECT_TRUE(std::ranges::any_of(want[0], [](auto &w) { return w.report.status > 4; }));
    std::string wrong[4];
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                const bool unclosed = t % 2 != 0;
                const int tag = 1000 * (t + 1);
                for (int round = 0; round < 5; ++round)
                    for (std::size_t i = 0; i < paths.size(); ++i) {
                        const parse_seen got = parse_with_settings(paths[i], unclosed, tag);
                        const parse_seen &w = want[unclosed][i];
                        const xml_report &g = got.report, &e = w.report;
                        const bool hooked = e.status != 0 && e.status != 3 && e.status != 4;
                        const std::string hook =
                            hooked ? paths[i] + ' ' + std::to_string(e.line) : "";
                        if (std::tuple(got.log, got.echo, g.status, g.line, g.open_elements,
                                       g.zero_byte, g.root, got.hooked, got.result) !=
                            std::tuple(w.log, w.echo, e.status, e.line, e.open_elements,
                                       e.zero_byte, e.root, hook, w.result + (hooked ? tag : 0)))
                            wrong[t] += paths[i] + '\n';
                    }
            });
    }
    for (const std::string &w : wrong)
        EXPECT_EQ(w, "");
}

} // namespace
