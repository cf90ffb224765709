// The reader's content runs against its per-character relays, and the block
// scanners behind them against each other.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "qvxml/internal/content_scan.h"
#include "qvxml/xmlparse.h"
#include "scratch_dir.h"

namespace {

// What the relays saw: tag events in order, each preceded by the content gathered
// since the previous one; pending holds the content after the last event.
struct recording {
    std::string events;
    std::string pending;
    int lines = -1;
};
recording *seen = nullptr;

int event(const std::string &what)
{
    seen->events += "[" + seen->pending + "]" + what;
    seen->pending.clear();
    return 0;
}

int record_lines(const char *, int status, int lines)
{
    seen->lines = lines;
    return status;
}

xml_relay tag_relays()
{
    xml_relay r{};
    r.open_tag = [](xml_application *, const char *t) {
        return event("<" + std::string(t)) + (std::string(t) == "stop" ? 77 : 0);
    };
    r.atb_name = [](xml_application *, const char *t) { return event(" " + std::string(t)); };
    r.atb_value = [](xml_application *, const char *t) { return event("=" + std::string(t)); };
    r.close_tag = [](xml_application *) { return event("/>"); };
    r.failure = record_lines;
    return r;
}

int parse(const char *file, xml_relay r, recording &into)
{
    seen = &into;
    const int st = xml_parse(file, &r, nullptr);
    seen = nullptr;
    return st;
}

// Random documents from pieces that stress the content path: tags, carriage
// returns, quotation marks, zero bytes, words at the length limit and texts that
// cross the reader's input blocks.
std::string random_document(std::mt19937 &rng)
{
    static const std::vector<std::string> pieces = {
        "<a>", "</a>", "<b x=\"1\" y='2'>", "</b>", "<c/>", " ", "\t", "\n", "\r\n", "\r", "word",
        "x", "'", "\"", "&amp;", ";", "<!-- n -->", "<?p q?>", "<", ">", "=", "</", "<a\n>", "</a\n>"};
    std::string doc = "<r>";
    const int n = std::uniform_int_distribution<int>(0, 60)(rng);
    for (int i = 0; i < n; ++i) {
        switch (std::uniform_int_distribution<int>(0, 99)(rng)) {
        case 0: doc += std::string(1, '\0'); break;
        case 1: doc += std::string(std::uniform_int_distribution<int>(8189, 8193)(rng), 'w'); break;
        case 2: doc += std::string(std::uniform_int_distribution<int>(60000, 70000)(rng), ' '); break;
        case 3: doc += std::string(8000, 'w') + "\r" + std::string(200, 'w'); break;
        case 4: doc += "<stop>"; break; // its open_tag relay stops the parse
        default: doc += pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(rng)];
        }
    }
    return doc;
}

class ReaderRuns : public ::testing::Test, protected scratch_dir {
protected:
    void SetUp() override { enter_scratch("qvxml-runs"); }
    void TearDown() override { leave_scratch(); }
};

TEST_F(ReaderRuns, RunsCarryTheContentThePerCharacterRelaysSee)
{
    xml_relay chars = tag_relays();
    chars.white_space = [](xml_application *, int c) { return seen->pending += char(c), 0; };
    chars.punctuation = chars.white_space;
    chars.token = [](xml_application *, const char *t) { return seen->pending += t, 0; };
    xml_relay runs = tag_relays();
    runs.content_run = [](xml_application *, const char *t, int n) {
        EXPECT_GT(n, 0);
        EXPECT_EQ(std::string(t, n).find('\r'), std::string::npos);
        return seen->pending.append(t, n), 0;
    };
    std::mt19937 rng(11);
    for (int i = 0; i < 400; ++i) {
        const std::string doc = random_document(rng);
        write_file("in.xml", doc);
        recording by_char, by_run;
        const int st = parse("in.xml", chars, by_char);
        ASSERT_EQ(parse("in.xml", runs, by_run), st) << i;
        EXPECT_EQ(by_run.events, by_char.events) << i;
        EXPECT_EQ(by_run.lines, by_char.lines) << i;
        // before a word that is too long, a run may already hold its beginning
        if (st != status_token_too_long) {
            EXPECT_EQ(by_run.pending, by_char.pending) << i;
        }
    }
}

TEST_F(ReaderRuns, LineFeedAfterAStoppingTokenCountsWithEchoOffAndOn)
{
    write_file("in.xml", "<a\n>\n</a>\n");
    xml_relay stop = tag_relays();
    stop.open_tag = [](xml_application *, const char *) { return 99; };
    for (int echo : {0, 1}) {
        set_xml_echo(echo);
        recording r;
        EXPECT_EQ(parse("in.xml", stop, r), 99);
        set_xml_echo(0);
        EXPECT_EQ(r.lines, 1) << "echo " << echo;
    }
}

// The scanners against a plain reading of what they promise, on random blocks at
// every alignment and length up to a few vectors.
TEST(ContentScan, WideAndPortableScannersAgreeWithAPlainReading)
{
    std::mt19937 rng(7);
    const unsigned char alphabet[] = {'<', '\r', '\n', '\0', 'a', ' ', 0xff, '>'};
    std::vector<unsigned char> block(80);
    for (int i = 0; i < 20000; ++i) {
        const int rare = std::uniform_int_distribution<int>(4, 64)(rng); // sparse stops and feeds
        for (auto &b : block) {
            const int k = std::uniform_int_distribution<int>(0, rare)(rng);
            b = alphabet[k < 4 ? k : 4 + k % 4];
        }
        const std::size_t from = std::uniform_int_distribution<std::size_t>(0, 16)(rng);
        const std::size_t to = std::uniform_int_distribution<std::size_t>(from, block.size())(rng);
        const unsigned char *begin = block.data() + from, *end = block.data() + to;
        const unsigned char *stop =
            std::find_if(begin, end, [](unsigned char c) { return c == '<' || c == '\r' || c == 0; });
        const auto lines = static_cast<std::size_t>(std::count(begin, stop, '\n'));
        const auto last = std::find(std::make_reverse_iterator(stop), std::make_reverse_iterator(begin), '\n');
        const auto line_end = static_cast<std::size_t>(last.base() - begin);
        for (auto scan : {xml_scan_content_portable, xml_scan_content_wide}) {
            const xml_content_scan s = scan(begin, end);
            ASSERT_EQ(s.stop, static_cast<std::size_t>(stop - begin)) << i;
            ASSERT_EQ(s.lines, lines) << i;
            ASSERT_EQ(s.line_end, line_end) << i;
        }
    }
}

} // namespace
