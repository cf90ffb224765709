// Parses on two threads at once, each with its own relays and context, as qvxml(3)
// allows. The ThreadSanitizer preset runs the suites named Threads, so state that
// the library shares between parses by accident shows there as a data race.
#include <thread>

#include "test_support.h"

namespace
{

void log_to(xml_application *x, const char *t)
{
    *static_cast<std::string *>(x->payload[0]) += t;
}

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

// What one parse did, in one line: the relays' log, the echo, the failure callback's
// name and line count and the result without the tag it added; then the report.
struct parse_seen {
    std::string log, echo, hooked;
    int result = 0, tag = 0;
    xml_report r{sizeof(xml_report), 0, 0, 0, 0, 0, 0, nullptr};
    std::string summary() const
    {
        std::string s = log + '|' + echo + '|' + hooked;
        for (const int n : {hooked.empty() ? result : result - tag, r.status, r.open_elements,
                            r.zero_byte, static_cast<int>(r.line), r.root ? 1 : 0})
            s += ' ' + std::to_string(n);
        return s;
    }
};
int failed(void *c, const char *name, int status, std::int64_t lines)
{
    auto &s = *static_cast<parse_seen *>(c);
    s.hooked += std::string(name) + ':' + std::to_string(lines);
    return status + s.tag;
}
// One table for every thread: tags logged; a stop with a failure after much text.
const xml_relay shared_relays{
    [](xml_application *x, const char *t) { return log_to(x, t), 0; },
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    [](xml_application *x) { return log_to(x, ">"), x->offset > 4000 ? 27 : 0; },
    nullptr,
    nullptr};

// Parses on four threads at once, with settings of their own (unclosed input allowed on
// two, echo to writers of their own, failure callbacks of their own adding each its tag)
// and one const relay table, each held to the same parse through the plain call made
// beforehand with the process-wide switches set alike and standard output captured.
TEST_F(Threads, ParsesWithSettingsOfTheirOwnAtOnce)
{
    const auto inputs = data_files("reader", ".xml");
    const auto parse = [&](const fs::path &in, bool unclosed, int tag) {
        parse_seen s;
        s.tag = tag;
        const document_writer w{&s.echo, [](void *c, const char *b, std::size_t n) {
                                    return static_cast<std::string *>(c)->append(b, n), 0;
                                }};
        const xml_settings set{sizeof set, unclosed, 1, &w, failed, &s, 0};
        s.result = xml_parse_with(in.c_str(), &shared_relays, &s.log, &set, &s.r);
        return s.summary();
    };
    std::vector<std::string> want[2];
    for (const bool unclosed : {false, true})
        for (const fs::path &in : inputs) {
            parse_seen s;
            xml_relay relays = shared_relays;
            relays.failure = [](const char *, int status, int) { return status + 1; };
            xml_outcome o{};
            set_xml_eof(unclosed);
            set_xml_echo(1);
            s.echo = captured_stdout(
                [&] { s.result = xml_parse_outcome(in.c_str(), &relays, &s.log, &o); });
            set_xml_eof(0);
            set_xml_echo(0);
            s.r = {sizeof s.r, o.status, o.open_elements, 0, o.zero_byte, o.line, 0, relays.result};
            if (s.result != o.status) s.hooked = in.string() + ':' + std::to_string(o.line - 1);
            s.tag = 1;
            want[unclosed].push_back(s.summary());
        }
    EXPECT_NE(want[0], want[1]); // the inputs tell the settings apart
    std::string wrong[4];
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int round = 0; round < 5; ++round)
                    for (std::size_t i = 0; i < inputs.size(); ++i)
                        if (parse(inputs[i], t % 2, 1000 * (t + 1)) != want[t % 2][i])
                            wrong[t] += inputs[i].string() + '\n';
            });
    }
    for (const std::string &w : wrong)
        EXPECT_EQ(w, "");
}

} // namespace
