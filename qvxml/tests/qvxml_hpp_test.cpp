// qvxml.hpp where the properties do not reach it: results and their messages, callables
// that throw or stop, the echo, writing to each destination, and owning a tree. Over
// the stored inputs it is held to the C-style calls by check_cxx_interface.
#include <stdexcept>

#include "qvxml/qvxml.hpp"
#include "test_support.h"

namespace
{

using CxxInterface = TrackedTest;

const auto message = [](const qvxml::result &r) {
    std::string m;
    r.message(m, "in");
    return m;
};

// data/cxx-results.tsv: the message of a load, a streamed load and a read of each input.
TEST_F(CxxInterface, ResultsSayHowAParseEnded)
{
    for (const row &c : table("cxx-results.tsv")) {
        SCOPED_TRACE(c.line);
        const qvxml::parse_settings set{.allow_unclosed = c["allow_unclosed"] == "1",
                                        .echo = nullptr};
        qvxml::document doc;
        EXPECT_EQ(message(doc.load_bytes(c["input"], set, "in")), c["message"]);
        EXPECT_EQ(message(qvxml::stream_bytes(c["input"], qvxml::skip{}, set)), c["message"]);
        EXPECT_EQ(message(qvxml::read_bytes(c["input"], qvxml::skip{}, set)), c["message"]);
    }
    const qvxml::result absent = qvxml::document{}.load_file("/nonexistent/in.xml");
    EXPECT_EQ(message(absent), "in: the input cannot be opened: No such file or directory");
}

// An exception stops the parse, no callable runs after it, and it reaches the caller;
// the fixture checks that nothing is left allocated. A status stops it too.
TEST_F(CxxInterface, CallablesThrowOrStop)
{
    const std::string xml = "<r><a>x\n</a><b>y</b><c>z</c></r>";
    std::string seen;
    const auto child = [&](qvxml::element, qvxml::element e, std::int64_t line) {
        seen.append(e.name()) += std::to_string(line); // where the item began
        if (e.name() == "b") throw std::runtime_error("b");
    };
    EXPECT_THROW((void)qvxml::stream_bytes(xml, child), std::runtime_error);
    const auto event = [&](qvxml::event, std::string_view text) {
        seen.append(text);
        if (text == "y") throw std::runtime_error("y");
    };
    EXPECT_THROW((void)qvxml::read_bytes(xml, event), std::runtime_error);
    EXPECT_EQ(seen, "a1b2rax\nby");
    const auto stop_text = [](qvxml::event e, std::string_view) {
        return e == qvxml::event::content ? 5 : 0;
    };
    EXPECT_EQ(
        qvxml::read_bytes("<r>x", stop_text, {.allow_unclosed = true, .echo = nullptr}).status, 5);
    const auto stop = [](qvxml::element, qvxml::element e) { return e.name() == "b" ? 7 : 0; };
    EXPECT_EQ(qvxml::stream_bytes(xml, stop).status, 7);
    const auto stop_at = [](qvxml::event e, std::string_view) { return e == qvxml::event::close; };
    EXPECT_EQ(qvxml::read_bytes(xml, stop_at).status, 1);
    qvxml::document doc;
    ASSERT_TRUE(doc.load_bytes(xml));
    EXPECT_THROW(
        (void)qvxml::write(doc.root(), [](std::string_view) { throw std::runtime_error("w"); }),
        std::runtime_error);
    EXPECT_EQ(qvxml::write(doc.root(), [](std::string_view) { return 9; }), 9);
}

// The same text in a std::string, a stream and a callable's pieces; a stream that
// refuses it gives status_cannot_create. The echo is every character read.
TEST_F(CxxInterface, WritesAndEchoes)
{
    const std::string xml = "<r k='v'><a>x &amp; y</a><b/></r>";
    qvxml::document doc;
    ASSERT_TRUE(doc.load_bytes(xml));
    std::string text, pieces;
    EXPECT_EQ(qvxml::write(doc.root(), text, 2), qvxml::status_ok);
    const auto gather = [&](std::string_view s) { pieces += s; };
    EXPECT_EQ(qvxml::write(doc.root(), gather, 2), 0);
    EXPECT_EQ(written([&](FILE *h) { EXPECT_EQ(qvxml::write(doc.root(), h, 2), 0); }), text);
    EXPECT_EQ(pieces, text);
    FILE *read_only = std::fopen("/dev/null", "r");
    EXPECT_EQ(qvxml::write(doc.root(), read_only, 0), qvxml::status_cannot_create);
    std::fclose(read_only);
    const std::string echoed = written([&](FILE *h) {
        EXPECT_TRUE(qvxml::read_bytes(xml, qvxml::skip{}, {.allow_unclosed = false, .echo = h}));
    });
    EXPECT_EQ(echoed, xml);
}

// A document owns its tree alone: moved, reloaded, reset or released.
TEST_F(CxxInterface, DocumentsOwnTheirTrees)
{
    qvxml::document a;
    ASSERT_TRUE(a.load_bytes("<r><x/><y/><x/></r>"));
    ASSERT_TRUE(a.load_bytes("<s><x/><y/><x/></s>")); // the first tree released
    qvxml::document b = std::move(a);
    EXPECT_FALSE(a);
    EXPECT_EQ(b.root().name(), "s");
    EXPECT_EQ(std::ranges::count_if(b.root().children(),
                                    [](qvxml::element e) { return e.name() == "x"; }),
              2);
    EXPECT_EQ(b.root().child("y").next_sibling(),
              (*b.root().children().begin()).next_sibling().next_sibling());
    EXPECT_FALSE(b.root().child("z").child("y")); // empty views all the way down
    a = std::move(b);
    document_drop(a.release());
    EXPECT_FALSE(a);
}

} // namespace
