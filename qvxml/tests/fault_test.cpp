// Fault injection: this binary is linked with the malloc wrapper (malloc_fault.h), so
// every call of the system allocator made by the library can be refused: the N-th
// call, or every call from the N-th on. Each test sweeps N over a whole operation and
// checks what the caller sees when memory runs out at that point: a complete result
// or a clean failure, with every tracked block released.

#include "malloc_fault.h"
#include "test_support.h"

namespace
{

// Attributes with quotation marks and &quot;, text with an entity, nesting, an empty
// element and text after a child: every allocation site of the builder.
const char *small_document = "<?xml version=\"1.0\"?>\n"
                             "<doc kind=\"a &quot;b&quot; c\" n='1'>\n"
                             "  <item id=\"7\" flag=x>text &amp; more</item>\n"
                             "  <group><inner a=\"&quot;\">deep <b>er</b></inner><empty/></group>\n"
                             "  tail words\n"
                             "</doc>\n";

class FaultInjection : public InTempDir
{
  protected:
    void TearDown() override { malloc_fault_arm(0, false), InTempDir::TearDown(); }
    // Runs op whole once, then under the sweep with every run leaving the allocator
    // balanced; op says whether the operation failed.
    template <class Op> long sweep(long min_calls, Op op)
    {
        malloc_fault_arm(0, false);
        op(0, false, "no refusal");
        const long calls = malloc_fault_calls();
        EXPECT_GE(calls, min_calls);
        fault_sweep(calls, [&](long n, bool onward, const std::string &at) {
            const alloc_counts before = counts_now();
            malloc_fault_arm(n, onward);
            const bool failed = op(n, onward, at);
            malloc_fault_arm(0, false);
            const alloc_counts after = counts_now();
            EXPECT_EQ(after.a - before.a, after.l - before.l) << "blocks left behind, " << at;
            EXPECT_EQ(after.t, before.t) << "bytes left behind, " << at;
            return failed;
        });
        return calls;
    }
};

TEST_F(FaultInjection, LoadGivesTheWholeTreeOrNothing)
{
    write_file("in.xml", small_document);
    std::string whole;
    sweep(20, [&](long n, bool, const std::string &at) {
        const alloc_counts before = counts_now();
        std::string got;
        if (owned_tree tree{document_parse_file("in.xml")};
            tree && document_serialise_file(tree.get(), "out.xml") == 0)
            got = read_file("out.xml");
        // if the library's allocations bypassed the wrapper (say, through a calloc the
        // compiler made up), the sweeps would test nothing
        if (n == 0) whole = got;
        EXPECT_TRUE(n != 0 ||
                    counts_now().a - before.a == static_cast<unsigned long>(malloc_fault_calls()));
        EXPECT_NE(whole.find("deep"), std::string::npos);
        EXPECT_TRUE(got.empty() || got == whole) << "a partial tree came back, " << at;
        return got.empty();
    });
}

// A streamed load as a list of events, each child and each closed top-level element
// written out whole, so that a child handed over with part of its text or attributes
// missing shows; what was handed over before a failure is exactly the start of the whole.
int add(void *events, const char *what, const xml_element *e, bool whole = true)
{
    const auto write = [&](FILE *h) { document_serialise_element(h, e, 0); };
    auto *list = static_cast<std::vector<std::string> *>(events);
    return list->push_back(what + (whole ? written(write) : std::string(e->name))), 0;
}

TEST_F(FaultInjection, StreamedLoadHandsOverOnlyWholeItems)
{
    write_file("in.xml", small_document);
    std::vector<std::string> whole;
    sweep(10, [&](long n, bool, const std::string &at) {
        std::vector<std::string> got;
        document_stream stream{};
        stream.context = &got;
        stream.open_top = [](void *c, const xml_element *t) { return add(c, "open ", t, false); };
        stream.child = [](void *c, const xml_element *, const xml_element *e) {
            return add(c, "child ", e);
        };
        stream.close_top = [](void *c, const xml_element *t) { return add(c, "close ", t); };
        const int tops = document_stream_file("in.xml", &stream);
        if (n == 0) whole = got;
        EXPECT_EQ(whole.size(), 4u) << "open, two children, close";
        EXPECT_TRUE(tops == 0 || tops == 1) << tops;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin(),
                               whole.begin() + std::min(got.size(), whole.size())) &&
                    got.size() <= whole.size() && (tops == 0 || got.size() == whole.size()))
            << "not the whole or a start of it, " << at;
        return tops == 0;
    });
}

// The reader with the default content relays collects the element text of a file large
// enough to make its buffer grow; the tag relays, which allocate nothing, take what was
// collected. A failure loses only the piece that could not be kept.
std::string collected;
int taken = 0;
int take_collected(xml_application *x)
{
    collected.append(x->buffer + taken, static_cast<std::size_t>(x->offset - taken));
    return taken = x->offset, 0;
}

TEST_F(FaultInjection, ReaderFailsToOpenOrLosesOnlyThePieceItCouldNotKeep)
{
    std::string text;
    for (int i = 0; text.size() < 20000; ++i)
        text += "word" + std::to_string(i) + (i % 7 ? " " : ",\n");
    write_file("in.xml",
               "<doc a=\"1\">" + text + "<inner b='2'>x &amp; y</inner>" + text + "</doc>");
    std::string whole;
    long calls = 0;
    sweep(5 + 4, [&](long n, bool onward, const std::string &at) { // the parser, four growth steps
        collected.clear();
        taken = 0;
        xml_relay relays{};
        relays.open_tag = [](xml_application *x, const char *) { return take_collected(x); };
        relays.close_tag = take_collected;
        const int st = xml_parse("in.xml", &relays, nullptr);
        if (n == 0) whole = collected, calls = malloc_fault_calls();
        if (st == status_cannot_open) {
            EXPECT_EQ(collected, "") << at;
            return true;
        }
        EXPECT_EQ(st, status_ok) << at;
        const auto head = std::mismatch(collected.begin(), collected.end(), whole.begin()).first -
                          collected.begin();
        const auto tail =
            std::mismatch(collected.rbegin(), collected.rend(), whole.rbegin()).first -
            collected.rbegin();
        if (onward) { // once growth stops, only pieces that still fit the buffer get in
            std::size_t from = 0;
            for (char c : collected)
                EXPECT_NE(from = whole.find(c, from) + 1, 0u) << at;
        } else {
            EXPECT_GE(std::size_t(head + tail), collected.size())
                << "more than one piece lost, " << at;
        }
        EXPECT_TRUE(onward || n == 0 || n > calls ||
                    (collected.size() < whole.size() &&
                     whole.size() - collected.size() <= std::size_t(xml_max_token)))
            << at;
        return false;
    });
}

// A secure block is wiped, header and all, before the system allocator gets it back.
TEST_F(FaultInjection, SecureBlocksAreWipedBeforeRelease)
{
    for (int secure : {0, 1}) {
        void *p = secure ? allocate_secure(32) : allocate(32);
        std::memset(p, 'x', 32);
        const unsigned char *bytes = malloc_fault_watch_free(true);
        liberate(p);
        malloc_fault_watch_free(false);
        EXPECT_EQ(std::count(bytes, bytes + malloc_fault_freed_size, 0) == malloc_fault_freed_size,
                  secure)
            << secure;
    }
}

} // namespace
