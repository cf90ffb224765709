// Parses on two threads at once, each with its own relays and context, as qvxml(3)
// allows. The ThreadSanitizer preset runs the suites named Threads, so state that
// the library shares between parses by accident shows there as a data race.
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
