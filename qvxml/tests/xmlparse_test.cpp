// The reader, its application context and the element value readers and writers.
// Reader inputs and the events they give are data: data/reader/<n>.xml and <n>.trace
// (the status, the lines the failure hook saw or -1, then the events).

#include <climits>
#include <optional>
#include <tuple>
#include <vector>

#include "test_support.h"

namespace
{

// What a parse did, one event after another, e.g. "open(a) name(x) value("1") close";
// reached through the first payload slot.
struct recorder {
    std::string events;
    std::vector<std::string> texts; // collected text at each close_tag (snapshot table)
    std::vector<int> buflens;       // buffer capacity at each close_tag (snapshot table)
    int open_calls = 0, stop_at_open = 0, stop_status = 0;
    xml_element *root = nullptr; // handed to the context as root on the first open_tag
};

int note(xml_application *x, const std::string &event)
{
    std::string &events = static_cast<recorder *>(x->payload[0])->events;
    events += (events.empty() ? "" : " ") + event;
    return 0;
}

std::string shown(int c)
{
    return c == '\n' ? "'\\n'" : c == '\t' ? "'\\t'" : "'" + std::string(1, char(c)) + "'";
}

int record_open(xml_application *x, const char *t)
{
    recorder &r = *static_cast<recorder *>(x->payload[0]);
    note(x, "open(" + std::string(t) + ")");
    if (++r.open_calls == 1 && r.root) x->root = r.root;
    return r.open_calls == r.stop_at_open ? r.stop_status : 0;
}

// Replaces only close_tag, so the default relays go on collecting content text.
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
    int status = 0, lines = -1;
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
    .atb_name = [](xml_application *x,
                   const char *t) { return note(x, "name(" + std::string(t) + ")"); },
    .atb_value = [](xml_application *x,
                    const char *t) { return note(x, "value(" + std::string(t) + ")"); },
    .white_space = [](xml_application *x, int c) { return note(x, "ws(" + shown(c) + ")"); },
    .token = [](xml_application *x,
                const char *t) { return note(x, "token(" + std::string(t) + ")"); },
    .punctuation = [](xml_application *x,
                      int c) { return note(x, "punct(" + std::string(1, char(c)) + ")"); },
    .close_tag = [](xml_application *x) { return note(x, "close"); },
    .failure = record_failure,
    .result = nullptr};
constexpr xml_relay snapshot_relays{.open_tag = nullptr,
                                    .atb_name = nullptr,
                                    .atb_value = nullptr,
                                    .white_space = nullptr,
                                    .token = nullptr,
                                    .punctuation = nullptr,
                                    .close_tag = snapshot_close,
                                    .failure = record_failure,
                                    .result = nullptr};

// An opaque root for the relays to report; never dereferenced.
int root_marker = 0;
xml_element *const some_root = reinterpret_cast<xml_element *>(&root_marker);

class Reader : public InTempDir
{
  protected:
    int parse(const std::string &text, const xml_relay &table = recording_relays,
              const char *name = nullptr)
    {
        if (!name) write_file("in.xml", text);
        xml_element *const root = rec_.root;
        rec_ = recorder{};
        rec_.root = root, rec_.stop_at_open = stop_at_, rec_.stop_status = stop_status_;
        relays_ = table;
        const std::optional<int> answer = failure_seen.answer;
        failure_seen = failure_call{};
        failure_seen.answer = answer;
        return xml_parse(name ? name : "in.xml", &relays_, &rec_);
    }
    recorder rec_;
    int stop_at_ = 0, stop_status_ = 0;
    xml_relay relays_{};
};

TEST_F(Reader, DataCasesGiveTheirStatusEventsAndLineCount)
{
    for (const auto &input : data_files("reader", ".xml")) {
        SCOPED_TRACE(input.filename());
        const int status = parse("", recording_relays, input.c_str());
        const int lines = failure_seen.calls ? failure_seen.lines : -1;
        EXPECT_EQ(std::to_string(status) + " " + std::to_string(lines) + "\n" + rec_.events,
                  read_file(std::filesystem::path(input).replace_extension(".trace")));
        EXPECT_LE(failure_seen.calls, 1);
        EXPECT_TRUE(!failure_seen.calls ||
                    (failure_seen.status == status && failure_seen.name == input));
        EXPECT_TRUE(status != 0 || !relays_.result);
    }
}

TEST_F(Reader, FailureHookAnswersAndRelayStatuses)
{
    failure_seen.answer = 77; // the hook's answer is the result
    EXPECT_EQ(parse("<a>\n\n  <>\n\n"), 77);
    EXPECT_EQ(failure_seen.lines, 2);
    xml_relay no_hook = recording_relays;
    no_hook.failure = nullptr;
    EXPECT_EQ(parse("<a><>", no_hook), status_syntax);

    // a relay's status_no_element (48) ends the parse as success, even with elements
    // open, keeping the root the relays set; any other status is a failure
    rec_.root = some_root;
    stop_at_ = 2, stop_status_ = status_no_element;
    EXPECT_EQ(parse("<a><b><c/></b></a>"), 0);
    EXPECT_EQ(rec_.events, "open(a) open(b)");
    EXPECT_EQ(relays_.result, some_root);
    EXPECT_EQ(failure_seen.calls, 0);
    stop_status_ = status_no_memory;
    failure_seen.answer = 99;
    EXPECT_EQ(parse("<a>\n<b>x</b></a>"), 99);
    EXPECT_EQ(rec_.events, "open(a) ws('\\n') open(b)");
    EXPECT_EQ(failure_seen.status, status_no_memory);
    EXPECT_EQ(failure_seen.lines, 1);
    stop_at_ = 1;
    EXPECT_EQ(parse("<a><b/></a>", no_hook), status_no_memory);
    EXPECT_EQ(relays_.result, some_root);

    // a missing file touches nothing; open elements at the end pass when allowed
    rec_.root = nullptr, stop_at_ = 0;
    relays_.result = some_root;
    EXPECT_EQ(xml_parse("missing.xml", &relays_, &rec_), status_cannot_open);
    EXPECT_EQ(relays_.result, some_root);
    set_xml_eof(1);
    const int open_end = parse("<a><b>t");
    set_xml_eof(0);
    EXPECT_EQ(open_end, 0);
    EXPECT_EQ(rec_.events, "open(a) open(b) token(t)");
}

TEST_F(Reader, DefaultRelaysCollectContentTextAndEcho)
{
    EXPECT_EQ(parse("<r>one, <b x=\"y\">two</b>\n  three&amp;<!-- c --></r>", snapshot_relays), 0);
    EXPECT_EQ(rec_.texts, (std::vector<std::string>{"one, two", "one, two\n  three&amp;"}));
    // the longest token fills the first buffer without growth; more text grows it
    EXPECT_EQ(parse("<r>" + std::string(8191, 'x') + "</r>", snapshot_relays), 0);
    EXPECT_EQ(rec_.buflens, std::vector<int>{8192});
    const std::string word(5000, 'w'), text = word + " " + word + "\n" + word;
    EXPECT_EQ(parse("<r>" + text + "</r>", snapshot_relays), 0);
    EXPECT_EQ(rec_.texts, std::vector<std::string>{text});
    EXPECT_EQ(rec_.buflens, std::vector<int>{16384});

    // echo: every character once (carriage return removed), each event as its relay
    // runs; a table of null relays leaves every default in force; echo off prints nothing
    stdout_capture capture;
    set_xml_echo(1);
    const int echoed = parse("<a x=\"1\">b\r\n</a>", xml_relay{});
    set_xml_echo(0);
    EXPECT_EQ(parse("<a><>", xml_relay{}), status_syntax);
    EXPECT_EQ(echoed, 0);
    EXPECT_EQ(capture.take(), "<a <a>x= x\"1\"=\"1\">b\nb\n</a></end>");
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

TEST_F(Values, WritersPutElementsOnALineAtTheirMargin)
{
    const std::pair<std::function<void(FILE *)>, const char *> cases[] = {
        {[](FILE *h) { xml_put_string(h, "name", "a<b>&c", 2); }, "\t\t<name>a<b>&c</name>\n"},
        {[](FILE *h) { xml_put_word(h, "n", 42, 1); }, "\t<n>42</n>\n"},
        {[](FILE *h) { xml_put_word(h, "n", -1, 0); }, "<n>4294967295</n>\n"},
        {[](FILE *h) { xml_put_filename_string(h, "file", "C:\\a b\\c", 1); },
         "\t<file>C:\\a b\\c</file>\n"},
        {[](FILE *h) { xml_put_filename(h, "C:\\a b"); }, "C:\\a b"},
        {[](FILE *h) { xml_linefeed(h); }, "\n"},
        {[](FILE *h) { indent(h, 3), indent(h, -2); }, "\t\t\t"},
        {[](FILE *h) { xml_put_string(h, "name", nullptr, 3), xml_put_string(h, nullptr, "v", 3); },
         ""},
        // cdata converts at the XML extent and leaves the HTML extent in force
        {[](FILE *h) {
             use_xml_macros(), xml_put_cdata(h, "caf\x82 <b>&amp;\"x\"\n"), xml_put_cdata(h, "p");
         },
         "caf&eacute; &lt;b&gt;&amp;amp;&quot;x&quot;\np"},
    };
    for (const auto &[write, text] : cases)
        EXPECT_EQ(written(write), text);
    EXPECT_EQ(MaxMacMan, html_macro_rows);
}

} // namespace
