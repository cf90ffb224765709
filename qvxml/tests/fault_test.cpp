// Fault injection: this binary is linked with the malloc wrapper (malloc_fault.h), so
// every call of the system allocator made by the library can be refused: the N-th
// call, or every call from the N-th on. Each test sweeps N over a whole operation and
// checks what the caller sees when memory runs out at that point: a complete result
// or a clean failure, with every tracked block released.

#include <algorithm>
#include <vector>

#include "malloc_fault.h"
#include "test_support.h"

namespace {

// Attributes with quotation marks and &quot;, text with an entity, nesting, an empty
// element and text after a child: every allocation site of the builder.
const char *small_document = "<?xml version=\"1.0\"?>\n"
                             "<doc kind=\"a &quot;b&quot; c\" n='1'>\n"
                             "  <item id=\"7\" flag=x>text &amp; more</item>\n"
                             "  <group><inner a=\"&quot;\">deep <b>er</b></inner><empty/></group>\n"
                             "  tail words\n"
                             "</doc>\n";

class FaultInjection : public InTempDir {
protected:
    void TearDown() override
    {
        malloc_fault_arm(0, false);
        InTempDir::TearDown();
    }
    // Runs op with each of the given number of calls refused, alone and from it on,
    // and one beyond. op checks what it got and says whether the operation failed;
    // every run must leave the allocator balanced, and some run must fail.
    static void sweep(long calls, const std::function<bool(long n, bool onward, const std::string &at)> &op)
    {
        for (bool onward : {false, true}) {
            int failed = 0;
            for (long n = 1; n <= calls + 1; ++n) {
                const std::string at = "failing call " + std::to_string(n) + (onward ? " on" : "");
                const alloc_counts before = counts_now();
                malloc_fault_arm(n, onward);
                failed += op(n, onward, at);
                malloc_fault_arm(0, false);
                const alloc_counts after = counts_now();
                EXPECT_EQ(after.a - before.a, after.l - before.l) << "blocks left behind, " << at;
                EXPECT_EQ(after.t, before.t) << "bytes left behind, " << at;
            }
            EXPECT_GT(failed, 0) << "no refusal was noticed" << (onward ? " (onward)" : "");
        }
    }
};

// Loads, writes and releases the file; the written text, or "" when nothing loaded.
std::string load_and_write(const char *name)
{
    owned_tree tree{document_parse_file(name)};
    if (!tree) return "";
    EXPECT_EQ(document_serialise_file(tree.get(), "out.xml"), 0);
    std::ifstream in("out.xml", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST_F(FaultInjection, LoadGivesTheWholeTreeOrNothing)
{
    write_file("in.xml", small_document);
    const alloc_counts before = counts_now();
    malloc_fault_arm(0, false);
    const std::string whole = load_and_write("in.xml");
    const long calls = malloc_fault_calls();
    ASSERT_NE(whole.find("deep"), std::string::npos);
    // if the library's allocations bypassed the wrapper (say, through a calloc the
    // compiler made up), the sweeps would test nothing
    ASSERT_EQ(static_cast<unsigned long>(calls), counts_now().a - before.a);
    ASSERT_GT(calls, 20);
    sweep(calls, [&](long, bool, const std::string &at) {
        const std::string got = load_and_write("in.xml");
        EXPECT_TRUE(got.empty() || got == whole) << "a partial tree came back, " << at;
        return got.empty();
    });
}

// A streamed load as a list of events, each child and each closed top-level
// element written out whole, so that a child handed over with part of its text or
// attributes missing shows.
std::string indented(const xml_element *e)
{
    return written([&](FILE *h) { document_serialise_element(h, e, 0); });
}
int add_event(void *events, const std::string &event)
{
    static_cast<std::vector<std::string> *>(events)->push_back(event);
    return 0;
}

std::vector<std::string> stream_events(const char *name, int &tops)
{
    std::vector<std::string> events;
    document_stream stream{
        .context = &events,
        .open_top = [](void *c, const xml_element *top) { return add_event(c, std::string("open ") + top->name); },
        .child = [](void *c, const xml_element *, const xml_element *e) {
            return add_event(c, "child " + indented(e));
        },
        .close_top = [](void *c, const xml_element *top) { return add_event(c, "close " + indented(top)); },
    };
    tops = document_stream_file(name, &stream);
    return events;
}

TEST_F(FaultInjection, StreamedLoadHandsOverOnlyWholeItems)
{
    write_file("in.xml", small_document);
    malloc_fault_arm(0, false);
    int tops = 0;
    const std::vector<std::string> whole = stream_events("in.xml", tops);
    const long calls = malloc_fault_calls();
    ASSERT_EQ(tops, 1);
    ASSERT_EQ(whole.size(), 4u) << "open, two children, close";

    sweep(calls, [&](long, bool, const std::string &at) {
        const std::vector<std::string> got = stream_events("in.xml", tops);
        // what was handed over before a failure is exactly the start of the whole
        EXPECT_LE(got.size(), whole.size()) << at;
        for (std::size_t i = 0; i < std::min(got.size(), whole.size()); ++i)
            EXPECT_EQ(got[i], whole[i]) << "event " << i << ", " << at;
        EXPECT_TRUE(tops == 0 || tops == 1) << tops;
        EXPECT_TRUE(tops == 0 || got.size() == whole.size()) << "a load that succeeded missed an item, " << at;
        return tops == 0;
    });
}

// The reader with the default content relays collects the element text of a file
// large enough to make its buffer grow; the tag relays, which allocate nothing,
// take what was collected.
std::string collected;
int taken = 0;

void take_collected(xml_application *x)
{
    collected.append(x->buffer + taken, static_cast<std::size_t>(x->offset - taken));
    taken = x->offset;
}

bool is_subsequence(const std::string &part, const std::string &whole)
{
    std::size_t at = 0;
    for (char c : part) {
        at = whole.find(c, at);
        if (at == std::string::npos) return false;
        ++at;
    }
    return true;
}

int parse_collecting(const char *name)
{
    collected.clear();
    taken = 0;
    xml_relay relays{.open_tag = [](xml_application *x, const char *) { return take_collected(x), 0; },
                     .atb_name = nullptr, .atb_value = nullptr, .white_space = nullptr, .token = nullptr,
                     .punctuation = nullptr, .close_tag = [](xml_application *x) { return take_collected(x), 0; },
                     .failure = nullptr, .result = nullptr};
    return xml_parse(name, &relays, nullptr);
}

TEST_F(FaultInjection, ReaderFailsToOpenOrLosesOnlyThePieceItCouldNotKeep)
{
    std::string text;
    for (int i = 0; text.size() < 20000; ++i) text += "word" + std::to_string(i) + (i % 7 ? " " : ",\n");
    write_file("in.xml", "<doc a=\"1\">" + text + "<inner b='2'>x &amp; y</inner>" + text + "</doc>");
    malloc_fault_arm(0, false);
    ASSERT_EQ(parse_collecting("in.xml"), status_ok);
    const std::string whole = collected;
    const long calls = malloc_fault_calls();
    ASSERT_GE(calls, 5 + 4) << "the parser and at least four growth steps";

    sweep(calls, [&](long n, bool onward, const std::string &at) {
        const int st = parse_collecting("in.xml");
        if (st == status_cannot_open) {
            EXPECT_EQ(collected, "") << at;
            return true;
        }
        EXPECT_EQ(st, status_ok) << at;
        if (onward) {
            // once growth stops, only pieces that still fit the buffer get in
            EXPECT_TRUE(is_subsequence(collected, whole)) << at;
            return false;
        }
        // the whole text with the one piece that could not be kept cut out
        const std::size_t head =
            std::size_t(std::mismatch(collected.begin(), collected.end(), whole.begin()).first - collected.begin());
        const std::size_t tail =
            std::size_t(std::mismatch(collected.rbegin(), collected.rend(), whole.rbegin()).first - collected.rbegin());
        EXPECT_GE(head + tail, collected.size()) << "more than one piece lost, " << at;
        if (n <= calls) {
            EXPECT_LT(collected.size(), whole.size()) << at;
            EXPECT_LE(whole.size() - collected.size(), std::size_t(xml_max_token)) << at;
        }
        return false;
    });
}

} // namespace
