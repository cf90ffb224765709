#include "test_support.h"

#include <climits>
#include <optional>
#include <vector>

// ===========================================================================
// The reader

namespace {

// What a parse did, one event after another, e.g.
//   open(a) name(x) value("1") token(hi) ws(' ') token(there) close
// The recorder is reached through the first payload slot of the context.
struct recorder {
    std::string events;
    std::vector<std::string> texts; // collected text at each close_tag (snapshot table)
    std::vector<int> buflens;       // buffer capacity at each close_tag (snapshot table)
    int open_calls = 0;
    int stop_at_open = 0;           // the open_tag call (from 1) that returns stop_status
    int stop_status = 0;
    xml_element *root = nullptr;    // handed to the context as root on the first open_tag
};

int note(xml_application *x, const std::string &event)
{
    std::string &events = static_cast<recorder *>(x->payload[0])->events;
    events += (events.empty() ? "" : " ") + event;
    return 0;
}

std::string shown(int c)
{
    return c == '\n' ? "'\\n'" : c == '\t' ? "'\\t'" : std::string("'") + static_cast<char>(c) + "'";
}

int record_open(xml_application *x, const char *t)
{
    recorder &r = *static_cast<recorder *>(x->payload[0]);
    note(x, "open(" + std::string(t) + ")");
    if (++r.open_calls == 1 && r.root) x->root = r.root;
    return r.open_calls == r.stop_at_open ? r.stop_status : 0;
}

// Replaces only close_tag, so the default relays go on collecting content text;
// each end of an element records the text collected so far.
int snapshot_close(xml_application *x)
{
    recorder &r = *static_cast<recorder *>(x->payload[0]);
    note(x, "close");
    r.texts.emplace_back(x->buffer, static_cast<std::size_t>(x->offset));
    r.buflens.push_back(x->buflen);
    if (x->buffer[x->offset] != '\0') ADD_FAILURE() << "collected text is not zero-terminated";
    return 0;
}

// The failure hook has no context argument, so what it saw is kept here.
struct failure_call {
    int calls = 0;
    std::string name;
    int status = 0;
    int lines = -1;
    std::optional<int> answer; // what the hook returns; the status it was given by default
};
failure_call failure_seen;

int record_failure(const char *name, int status, int lines)
{
    failure_seen = {failure_seen.calls + 1, name, status, lines, failure_seen.answer};
    return failure_seen.answer.value_or(status);
}

constexpr xml_relay recording_relays{
    .open_tag = record_open,
    .atb_name = [](xml_application *x, const char *t) { return note(x, "name(" + std::string(t) + ")"); },
    .atb_value = [](xml_application *x, const char *t) { return note(x, "value(" + std::string(t) + ")"); },
    .white_space = [](xml_application *x, int c) { return note(x, "ws(" + shown(c) + ")"); },
    .token = [](xml_application *x, const char *t) { return note(x, "token(" + std::string(t) + ")"); },
    .punctuation = [](xml_application *x, int c) { return note(x, "punct(" + std::string(1, char(c)) + ")"); },
    .close_tag = [](xml_application *x) { return note(x, "close"); },
    .failure = record_failure,
    .result = nullptr};

constexpr xml_relay snapshot_relays{.open_tag = nullptr, .atb_name = nullptr, .atb_value = nullptr,
                                    .white_space = nullptr, .token = nullptr, .punctuation = nullptr,
                                    .close_tag = snapshot_close, .failure = record_failure, .result = nullptr};

// An opaque root for the relays to report; never dereferenced.
int root_marker = 0;
xml_element *const some_root = reinterpret_cast<xml_element *>(&root_marker);

// The process-wide switches, set for one scope and always put back.
struct eof_allowed {
    eof_allowed() { set_xml_eof(1); }
    ~eof_allowed() { set_xml_eof(0); }
};
struct echo_on {
    echo_on() { set_xml_echo(1); }
    ~echo_on() { set_xml_echo(0); }
};

} // namespace

// Writes its input into a temporary directory and parses it with a relay table,
// the recording one unless told otherwise.
class Reader : public InTempDir {
protected:
    void SetUp() override
    {
        InTempDir::SetUp();
        failure_seen = {};
    }
    int parse(const std::string &text, const xml_relay &table = recording_relays)
    {
        write_file("in.xml", text);
        rec_.events.clear();
        rec_.texts.clear();
        rec_.buflens.clear();
        rec_.open_calls = 0;
        relays_ = table;
        return xml_parse("in.xml", &relays_, &rec_);
    }
    const std::string &trace() const { return rec_.events; }
    recorder rec_;
    xml_relay relays_{};
};

class ReaderEvents : public Reader {};

// Each input as the relays see it: the status, the events, and the lines read when
// the failure hook ran (-1: it did not run).
TEST_F(ReaderEvents, InputsGiveTheirStatusEventsAndLineCount)
{
    struct parse_case {
        std::string input;
        int status;
        std::string events;
        int lines;
    };
    const std::string longest(8191, 'x');
    const parse_case cases[] = {
        // the worked example: the line feed after the declaration is outside every element
        {"<?xml version=\"1.0\"?>\n<a x=\"1\">hi there</a>", 0,
         "open(a) name(x) value(\"1\") token(hi) ws(' ') token(there) close", -1},
        {"<a/><b x='2' />", 0, "open(a) close open(b) name(x) value('2') close", -1},
        {"<a><b></x></y>", 0, "open(a) open(b) close close", -1}, // end tags close by position
        {"<a/ junk><b></b junk more>", 0, "open(a) close open(b) close", -1},
        {"< a\n x = \"1\" >t</ a >", 0, "open(a) name(x) value(\"1\") token(t) close", -1},
        {"junk & more\n<a>t</a> tail;\n", 0, "open(a) token(t) close", -1},
        // content arrives as tokens, white space and punctuation; entity references in pieces
        {"<a>x, y\t&amp;\n</a>", 0,
         "open(a) token(x) punct(,) ws(' ') token(y) ws('\\t') punct(&) token(amp) punct(;) ws('\\n') close", -1},
        {"<a:b x.y='1'>m-n_o</a:b>", 0, "open(a:b) name(x.y) value('1') token(m-n_o) close", -1},
        {"<a b c=\"1\">t</a>", 0, "open(a) name(b) name(c) value(\"1\") token(t) close", -1},
        {"<r><e v=a/b>t</r>", 0, "open(r) open(e) name(v) value(a) close token(t) close", -1},
        {"<a x=\"1\"y='2'/>", 0, "open(a) name(x) value(\"1\") name(y) value('2') close", -1},
        {"<a x=ab\"cd>t</a>", 0, "open(a) name(x) value(ab\"cd) token(t) close", -1},
        {"<a x=\"1 >\n<b> 2\" y='it\"s'>t</a>", 0,
         "open(a) name(x) value(\"1 >\n<b> 2\") name(y) value('it\"s') token(t) close", -1},
        // the input ends inside the first start tag: open_tag has run, nothing was opened
        {"<a", 0, "open(a)", -1},
        {"<a x=\"1", 0, "open(a) name(x) value(\"1)", -1},
        {"", 0, "", -1},
        {" \n\t \n", 0, "", -1},
        // comments, instructions and declarations
        {"<a>x<!-- p > q -->y</a>", 0,
         "open(a) token(x) ws(' ') token(q) ws(' ') token(--) punct(>) token(y) close", -1},
        {"<!-- p > q -->\n<a>y</a>", 0, "open(a) token(y) close", -1},
        {"<a>x<?p ?\?> y ?>z</a>", 0, "open(a) token(x) token(z) close", -1}, // "??>" does not end it
        {"<a><?p v=\"?>\" ?>t</a>", 0, "open(a) token(t) close", -1},
        {"<!DOCTYPE a SYSTEM \"x>y\">\n<a>t</a>", 0, "open(a) token(t) close", -1},
        // malformed tags
        {"<>", 2, "", 0},
        {"<=", 2, "", 0},
        {"<<a>", 2, "", 0},
        {"<a><&/></a>", 2, "open(a)", 0},
        {"<a b>", 2, "open(a) name(b)", 0},  // valueless attribute right before ">"
        {"<a b/>", 2, "open(a) name(b)", 0}, // ... or right before "/"
        {"<a =1>", 2, "open(a)", 0},
        {"<a x=>", 2, "open(a) name(x)", 0},
        {"<a/=>", 2, "open(a)", 0},
        {"</a>", 2, "", 0},        // end tag with nothing open
        {"<a></>", 2, "open(a)", 0}, // end tag without a name
        {"<a><b></x></y></z>", 2, "open(a) open(b) close close", 0},
        // open elements at the end are no failure for the hook and get no close_tag
        {"<a><b>t", 3, "open(a) open(b) token(t)", -1},
        // bytes of the input: CR LF counts one line, CR alone none and vanishes
        {"<a>\r\n\r\n<>", 2, "open(a) ws('\\n') ws('\\n')", 2},
        {"<a>\r\r<>", 2, "open(a)", 0},
        {"<a>x\ry</a>", 0, "open(a) token(xy) close", -1},
        {std::string("<a>x\0y</a>", 10), 3, "open(a) token(x)", -1}, // a zero byte ends the input for good
        {"<a>\x80t\xa5 x\xa6y\x01z\x7f</a>", 0,
         "open(a) token(\x80t\xa5) ws(' ') token(x) punct(\xa6) token(y) punct(\x01) token(z) punct(\x7f) close", -1},
        // regression: a quotation mark opening a word of content used to start a quoted
        // token that ran across the following tags to the next like mark
        {"<r><name>'Til Tuesday</name><city>Lyon</city></r>", 0,
         "open(r) open(name) token('Til) ws(' ') token(Tuesday) close open(city) token(Lyon) close close", -1},
        {"<a>say \"hi there\"</a><b>t</b>", 0,
         "open(a) token(say) ws(' ') token(\"hi) ws(' ') token(there\") close open(b) token(t) close", -1},
        // the longest token; the quotation marks of a value count
        {"<a>" + longest + "</a>", 0, "open(a) token(" + longest + ") close", -1},
        {"<a>\n\n\n" + longest + "x</a>", 5, "open(a) ws('\\n') ws('\\n') ws('\\n')", 3},
        {"<a x=\"" + std::string(8189, 'v') + "\"/>", 0,
         "open(a) name(x) value(\"" + std::string(8189, 'v') + "\") close", -1},
        {"<a x=\"" + std::string(8190, 'v') + "\"/>", 5, "open(a) name(x)", 0},
    };
    for (const parse_case &c : cases) {
        SCOPED_TRACE(c.input.substr(0, 60));
        failure_seen = {};
        EXPECT_EQ(parse(c.input), c.status);
        EXPECT_EQ(trace(), c.events);
        EXPECT_EQ(failure_seen.calls, c.lines < 0 ? 0 : 1);
        if (c.lines >= 0) {
            EXPECT_EQ(failure_seen.status, c.status);
            EXPECT_EQ(failure_seen.lines, c.lines);
            EXPECT_EQ(failure_seen.name, "in.xml");
        }
        if (c.status == 0) {
            EXPECT_EQ(relays_.result, nullptr);
        }
    }
}

class ReaderStatus : public Reader {};

TEST_F(ReaderStatus, FailureHookGivesTheResultAndWithoutItTheStatusComesBack)
{
    failure_seen.answer = 77;
    EXPECT_EQ(parse("<a>\n\n  <>\n\n"), 77);
    EXPECT_EQ(failure_seen.lines, 2);
    failure_seen = {};
    xml_relay table = recording_relays;
    table.failure = nullptr;
    EXPECT_EQ(parse("<a><>", table), status_syntax);
}

TEST_F(ReaderStatus, AllowedEndOfInputWithOpenElementsIsSuccess)
{
    eof_allowed allow;
    EXPECT_EQ(parse("<a><b>t"), 0);
    EXPECT_EQ(trace(), "open(a) open(b) token(t)");
    EXPECT_EQ(failure_seen.calls, 0);
}

TEST_F(ReaderStatus, MissingFileGivesFourAndTouchesNothing)
{
    relays_ = recording_relays;
    relays_.result = some_root;
    EXPECT_EQ(xml_parse("missing.xml", &relays_, &rec_), status_cannot_open);
    EXPECT_EQ(relays_.result, some_root);
    EXPECT_EQ(failure_seen.calls, 0);
    EXPECT_EQ(trace(), "");
}

TEST_F(ReaderStatus, RelayReturning48EndsTheParseAsSuccessAndOthersAsFailure)
{
    // even with elements open, and with the root the relays had set by then
    rec_.root = some_root;
    rec_.stop_at_open = 2;
    rec_.stop_status = status_no_element;
    EXPECT_EQ(parse("<a><b><c/></b></a>"), 0);
    EXPECT_EQ(trace(), "open(a) open(b)");
    EXPECT_EQ(relays_.result, some_root);
    EXPECT_EQ(failure_seen.calls, 0);

    // any other status from a relay goes through the failure hook, if there is one
    rec_.root = nullptr;
    rec_.stop_status = status_no_memory;
    failure_seen.answer = 99;
    EXPECT_EQ(parse("<a>\n<b>x</b></a>"), 99);
    EXPECT_EQ(trace(), "open(a) ws('\\n') open(b)");
    EXPECT_EQ(failure_seen.status, status_no_memory);
    EXPECT_EQ(failure_seen.lines, 1);

    rec_.root = some_root;
    rec_.stop_at_open = 1;
    xml_relay table = recording_relays;
    table.failure = nullptr;
    EXPECT_EQ(parse("<a><b/></a>", table), status_no_memory);
    EXPECT_EQ(trace(), "open(a)");
    EXPECT_EQ(relays_.result, some_root);
}

// ---------------------------------------------------------------------------
// The default relays: text collection and echo

class ReaderDefaults : public Reader {};

TEST_F(ReaderDefaults, CollectAllContentTextInOrder)
{
    EXPECT_EQ(parse("<r>one, <b x=\"y\">two</b>\n  three&amp;<!-- c --></r>", snapshot_relays), 0);
    EXPECT_EQ(trace(), "close close");
    EXPECT_EQ(rec_.texts, (std::vector<std::string>{"one, two", "one, two\n  three&amp;"}));

    // the longest token fills the first buffer without growth; more text grows it
    EXPECT_EQ(parse("<r>" + std::string(8191, 'x') + "</r>", snapshot_relays), 0);
    EXPECT_EQ(rec_.texts, std::vector<std::string>{std::string(8191, 'x')});
    EXPECT_EQ(rec_.buflens, std::vector<int>{8192});
    const std::string word(5000, 'w');
    const std::string text = word + " " + word + "\n" + word;
    EXPECT_EQ(parse("<r>" + text + "</r>", snapshot_relays), 0);
    EXPECT_EQ(rec_.texts, std::vector<std::string>{text});
    EXPECT_EQ(rec_.buflens, std::vector<int>{16384});
}

TEST_F(ReaderDefaults, EchoPrintsInputAsReadAndDefaultEvents)
{
    // every character once (carriage return removed), each event as its relay runs;
    // a table of null relays leaves every default in force
    std::string out;
    int st = -1;
    {
        echo_on echo;
        stdout_capture capture;
        st = parse("<a x=\"1\">b\r\n</a>", xml_relay{});
        out = capture.take();
    }
    EXPECT_EQ(st, 0);
    EXPECT_EQ(out, "<a <a>x= x\"1\"=\"1\">b\nb\n</a></end>");

    stdout_capture capture; // and echo off prints nothing, even on failure
    EXPECT_EQ(parse("<a x=\"1\">b</a>", xml_relay{}), 0);
    EXPECT_EQ(parse("<a><>", xml_relay{}), status_syntax);
    EXPECT_EQ(capture.take(), "");
}

// ===========================================================================
// The application context

namespace {

struct context_owner {
    void operator()(xml_application *x) const noexcept { liberate_xml_application(x); }
};
using owned_context = std::unique_ptr<xml_application, context_owner>;

// A context as a parser builds it: zero-filled secure memory, then reset.
owned_context fresh_context()
{
    owned_context x{static_cast<xml_application *>(allocate_secure(sizeof(xml_application)))};
    if (x) {
        EXPECT_EQ(xml_reset(x.get(), 0, nullptr), 0);
    }
    return x;
}

// Fills the first n bytes of the collected text and sets the offset behind them.
void fill_text(xml_application *x, int n)
{
    for (int i = 0; i < n; ++i) x->buffer[i] = static_cast<char>('a' + i % 26);
    x->offset = n;
}

bool text_kept(const xml_application *x, int n)
{
    for (int i = 0; i < n; ++i)
        if (x->buffer[i] != static_cast<char>('a' + i % 26)) return false;
    return x->buffer[n] == '\0';
}

} // namespace

class ApplicationContext : public TrackedTest {};

TEST_F(ApplicationContext, ResetStoresPayloadInFirstSlotAndClearsTheRest)
{
    owned_context x = fresh_context();
    ASSERT_TRUE(x);
    int junk = 0, payload = 0;
    for (void *&slot : x->payload) slot = &junk;
    x->nested = 3;
    x->parent = reinterpret_cast<xml_parser *>(&junk);
    // the byte at offset must be zero after a reset too, or the old text would read
    // as what the new parse collected; the grown buffer is kept
    ASSERT_EQ(xml_check_buffer(x.get(), 9000), 0);
    fill_text(x.get(), 9000);
    char *const buffer = x->buffer;
    ASSERT_EQ(xml_reset(x.get(), 1, &payload), 0);
    EXPECT_EQ(x->payload[0], &payload);
    for (int i = 1; i < xml_payload_slots; ++i) EXPECT_EQ(x->payload[i], nullptr) << "slot " << i;
    EXPECT_EQ(x->offset, 0);
    EXPECT_EQ(x->nested, 0);
    EXPECT_EQ(x->parent, nullptr);
    EXPECT_EQ(x->echo, 1);
    EXPECT_EQ(x->root, nullptr);
    EXPECT_EQ(x->buffer, buffer);
    EXPECT_EQ(x->buflen, 16384);
    EXPECT_EQ(x->buffer[0], '\0');
}

TEST_F(ApplicationContext, StrictIsTheFirstCharacterOfXMLSTRICT)
{
    const char *saved = std::getenv("XMLSTRICT");
    const std::string before = saved ? saved : "";
    owned_context x = fresh_context();
    ASSERT_TRUE(x);
    const std::pair<const char *, int> cases[] = {{nullptr, 0}, {"", 0}, {"Yes", 'Y'}, {"\xe9t\xe9", -23}};
    for (const auto &[value, strict] : cases) {
        if (value) setenv("XMLSTRICT", value, 1);
        else unsetenv("XMLSTRICT");
        EXPECT_EQ(xml_reset(x.get(), 0, nullptr), 0);
        EXPECT_EQ(x->strict, strict) << (value ? value : "(unset)"); // taken as a signed byte
    }
    if (saved) setenv("XMLSTRICT", before.c_str(), 1);
    else unsetenv("XMLSTRICT");
}

// The buffer grows to the smallest multiple of 8192 that holds the text, the
// request and the terminating zero, keeping the text; a refused growth keeps all.
TEST_F(ApplicationContext, CheckBufferGrowsByAsManyStepsAsTheRequestNeeds)
{
    struct growth {
        int offset, n, status, buflen;
    };
    const growth cases[] = {
        {8190, 1, 0, 8192}, {8191, 1, 0, 16384}, {0, 8191, 0, 8192}, {0, 8192, 0, 16384},
        {100, 0, 0, 8192}, {100, 8091, 0, 8192}, {100, 8092, 0, 16384}, {100, 16283, 0, 16384},
        {100, 16284, 0, 24576},
        // regression: growth was one step whatever the request, too little above 8192
        {100, 20000, 0, 24576}, {100, 40000, 0, 40960},
        {10, INT_MAX, status_no_memory, 8192},
    };
    for (const growth &g : cases) {
        SCOPED_TRACE(std::to_string(g.offset) + " + " + std::to_string(g.n));
        owned_context x = fresh_context();
        ASSERT_TRUE(x);
        fill_text(x.get(), g.offset);
        char *const first = x->buffer;
        EXPECT_EQ(xml_check_buffer(x.get(), g.n), g.status);
        EXPECT_EQ(x->buflen, g.buflen);
        if (g.buflen == 8192) {
            EXPECT_EQ(x->buffer, first);
        }
        EXPECT_TRUE(text_kept(x.get(), g.offset));
    }
}
