// The reader's application context and the element value readers and writers. The
// reader's events, statuses, line counts, collected text and echo are checked against
// the reference reader (properties.cpp); here what a parse leaves to its caller.

#include <climits>
#include <random>
#include <tuple>
#include <vector>

#include "qvxml/internal/content_scan.h"
#include "test_support.h"

namespace
{

// An opaque root for the relays to report; never dereferenced.
int root_marker = 0;
xml_element *const some_root = reinterpret_cast<xml_element *>(&root_marker);
int opens = 0, stop_status = 0;
std::vector<int> buflens; // buffer capacity at each close_tag

class Reader : public InTempDir
{
};

TEST_F(Reader, ResultRootStatusesAndBuffer)
{
    xml_relay r{};
    r.open_tag = [](xml_application *x, const char *) {
        x->root = some_root;
        return ++opens == 2 ? stop_status : 0;
    };
    r.close_tag = [](xml_application *x) { return buflens.push_back(x->buflen), 0; };
    // a relay's status_no_element ends the parse as success, even with elements open; any
    // other status is the result without a failure hook; the root the relays set is kept
    write_file("in.xml", "<a><b><c/></b></a>");
    for (const int st : {status_no_element, status_no_memory}) {
        opens = 0, stop_status = st, r.result = nullptr;
        EXPECT_EQ(xml_parse("in.xml", &r, nullptr), st == status_no_element ? 0 : st);
        EXPECT_EQ(r.result, some_root);
    }
    EXPECT_EQ(xml_parse("missing.xml", &r, nullptr), status_cannot_open);
    EXPECT_EQ(r.result, some_root); // untouched
    // the longest token fills the first buffer without growth; more text grows it
    const std::string word(5000, 'w');
    for (const auto &[text, buflen] :
         {std::pair{std::string(8191, 'x'), 8192}, {word + " " + word + "\n" + word, 16384}}) {
        write_file("in.xml", "<r>" + text + "</r>");
        buflens.clear();
        EXPECT_EQ(xml_parse("in.xml", &r, nullptr), 0);
        EXPECT_EQ(buflens, std::vector<int>{buflen});
    }
}

struct context_owner {
    void operator()(xml_application *x) const noexcept { liberate_xml_application(x); }
};
using owned_context = std::unique_ptr<xml_application, context_owner>;

// A context as a parser builds it (zero-filled secure memory, then reset), with the
// first n bytes of text filled.
owned_context context_with_text(int n)
{
    owned_context x{static_cast<xml_application *>(allocate_secure(sizeof(xml_application)))};
    EXPECT_EQ(xml_reset(x.get(), 0, nullptr), 0);
    EXPECT_EQ(xml_check_buffer(x.get(), n), 0);
    for (int i = 0; i < n; ++i)
        x->buffer[i] = static_cast<char>('a' + i % 26);
    x->offset = n;
    return x;
}
bool text_kept(const xml_application *x, int n)
{
    for (int i = 0; i < n; ++i)
        if (x->buffer[i] != static_cast<char>('a' + i % 26)) return false;
    return x->buffer[n] == '\0';
}

class Context : public TrackedTest
{
};

TEST_F(Context, ResetStoresPayloadInFirstSlotAndClearsTheRestButTheBuffer)
{
    owned_context x = context_with_text(9000);
    int junk = 0, payload = 0;
    for (void *&slot : x->payload)
        slot = &junk;
    x->nested = 3;
    x->parent = reinterpret_cast<xml_parser *>(&junk);
    char *const buffer = x->buffer;
    ASSERT_EQ(xml_reset(x.get(), 1, &payload), 0);
    EXPECT_EQ(x->payload[0], &payload);
    for (int i = 1; i < xml_payload_slots; ++i)
        EXPECT_EQ(x->payload[i], nullptr) << "slot " << i;
    EXPECT_EQ(std::tuple(x->offset, x->nested, x->parent, x->echo, x->root, x->buffer, x->buflen),
              std::tuple(0, 0, nullptr, 1, nullptr, buffer, 16384));
    EXPECT_EQ(x->buffer[0], '\0'); // or the old text would read as what the new parse collected
}

// The buffer grows to the smallest multiple of 8192 that holds the text, the request
// and the terminating zero, keeping the text; a refused growth keeps all.
TEST_F(Context, CheckBufferGrowsByAsManyStepsAsTheRequestNeeds)
{
    const std::tuple<int, int, int, int> cases[] = {
        {8190, 1, 0, 8192},     {8191, 1, 0, 16384},
        {0, 8191, 0, 8192},     {0, 8192, 0, 16384},
        {100, 8091, 0, 8192},   {100, 8092, 0, 16384},
        {100, 16283, 0, 16384}, {100, 16284, 0, 24576},
        {100, 40000, 0, 40960}, {10, INT_MAX, status_no_memory, 8192},
    };
    for (const auto &[offset, n, status, buflen] : cases) {
        SCOPED_TRACE(std::to_string(offset) + " + " + std::to_string(n));
        owned_context x = context_with_text(offset);
        char *const first = x->buffer;
        EXPECT_EQ(xml_check_buffer(x.get(), n), status);
        EXPECT_EQ(x->buflen, buflen);
        EXPECT_TRUE(buflen != 8192 || x->buffer == first);
        EXPECT_TRUE(text_kept(x.get(), offset));
    }
}

// Each element's text read by every value reader at its end (data/values.expected).
struct value_lines {
    std::vector<std::string> open;
    std::string lines;
    char *kept = nullptr;
};
std::string bracketed(const char *s)
{
    return s ? "[" + std::string(s) + "]" : "(null)";
}

int start_element(xml_application *x, const char *name)
{
    static_cast<value_lines *>(x->payload[0])->open.emplace_back(name);
    x->buffer[x->offset = 0] = '\0'; // each element's text on its own
    return 0;
}

int read_element(xml_application *x)
{
    auto *rec = static_cast<value_lines *>(x->payload[0]);
    int w = -9, x1 = -9, y1 = -9, a = -9, b = -9, c = -9;
    xml_get_word(x, &w);
    xml_get_xy(x, &x1, &y1);
    xml_get_xyz(x, &a, &b, &c);
    xml_get_string(x, &rec->kept); // releases the previous element's copy
    owned_text file, text;
    char *f = nullptr, *t = nullptr;
    xml_get_filename_string(x, &f);
    file.reset(f);
    use_xml_macros();
    xml_get_text(x, &t);
    text.reset(t);
    rec->lines += rec->open.back() + ": " + std::to_string(w) + " | " + std::to_string(x1) + " " +
                  std::to_string(y1) + " | " + std::to_string(a) + " " + std::to_string(b) + " " +
                  std::to_string(c) + " | " + bracketed(rec->kept) + " " + bracketed(f) + " " +
                  bracketed(t) + " | " + std::to_string(MaxMacMan) + " | " + bracketed(x->buffer) +
                  "\n";
    // and written back: at their margins, a word one less (unsigned), cdata at the XML extent
    rec->lines += written([&](FILE *h) {
                      xml_put_word(h, "w", w - 1, 1), xml_put_string(h, "s", rec->kept, 2);
                      xml_put_filename_string(h, "f", f, 0), xml_put_filename(h, f),
                          xml_linefeed(h);
                      use_xml_macros(), xml_put_cdata(h, t), indent(h, 2), indent(h, -1);
                  }) +
                  " " + std::to_string(MaxMacMan) + "\n";
    rec->open.pop_back();
    x->buffer[x->offset = 0] = '\0';
    return 0;
}

// Every test ends at the HTML extent, where the setting rests between conversions.
class Values : public TrackedTest
{
  protected:
    void TearDown() override
    {
        use_html_macros();
        TrackedTest::TearDown();
    }
};

TEST_F(Values, ReadersDuringAParse)
{
    value_lines rec;
    xml_relay relays{.open_tag = start_element,
                     .atb_name = nullptr,
                     .atb_value = nullptr,
                     .white_space = nullptr,
                     .token = nullptr,
                     .punctuation = nullptr,
                     .close_tag = read_element,
                     .failure = nullptr,
                     .result = nullptr};
    const std::string data = std::string(QVXML_TEST_DATA) + "/values";
    EXPECT_EQ(xml_parse((data + ".xml").c_str(), &relays, &rec), status_ok);
    liberate(rec.kept);
    EXPECT_EQ(rec.lines, read_file(data + ".expected"));
}

TEST_F(Values, NumbersWrapAndTextOverwritesItsTargetWithoutReleasingIt)
{
    std::string numbers = "2147483648 4294967295 4294967296", quoted = "&quot;hi&quot;";
    xml_application x{};
    x.buffer = numbers.data();
    x.offset = static_cast<int>(numbers.size());
    x.buflen = x.offset + 1;
    int a = 0, b = 0, c = 0;
    xml_get_xyz(&x, &a, &b, &c);
    EXPECT_EQ(std::tuple(a, b, c), std::tuple(INT_MIN, -1, 0));
    x.buffer = quoted.data();
    x.offset = static_cast<int>(quoted.size());
    x.buflen = x.offset + 1;
    owned_text old{allocate_string("old")};
    char *target = old.get();
    xml_get_text(&x, &target);
    owned_text copy{target};
    EXPECT_STREQ(copy.get(), "\"hi\"");
    EXPECT_STREQ(old.get(), "old");
    EXPECT_EQ(xml_mnemonic("element", "elem") + xml_mnemonic("x", ""), 2);
    EXPECT_EQ(xml_mnemonic("el", "elem") + xml_mnemonic("elex", "elem"), 0);
}

// The block scanners against a plain reading of what they promise, on random blocks
// at every alignment and length up to a few vectors.
TEST(ContentScan, WideAndPortableScannersAgreeWithAPlainReading)
{
    std::mt19937 rng(7);
    const unsigned char alphabet[] = {'<', '\r', '\n', '\0', 'a', ' ', 0xff, '>'};
    std::vector<unsigned char> block(80);
    for (int i = 0; i < 20000; ++i) {
        const unsigned rare = 5 + rng() % 61; // sparse stops and feeds
        for (auto &b : block)
            b = alphabet[rng() % rare < 4 ? rng() % 4 : 4 + rng() % 4];
        const std::size_t from = rng() % 17, to = from + rng() % (block.size() - from + 1);
        const unsigned char *begin = block.data() + from, *end = block.data() + to;
        const unsigned char *stop =
            std::find_if(begin, end, [](unsigned char c) { return c == '<' || c == '\r' || !c; });
        const auto last =
            std::find(std::reverse_iterator(stop), std::reverse_iterator(begin), '\n');
        for (auto scan : {xml_scan_content_portable, xml_scan_content_wide}) {
            const xml_content_scan s = scan(begin, end);
            ASSERT_EQ(std::tuple(s.stop, s.lines, s.line_end),
                      std::tuple(std::size_t(stop - begin),
                                 std::size_t(std::count(begin, stop, '\n')),
                                 std::size_t(last.base() - begin)))
                << i;
        }
    }
}

} // namespace
