#include "test_support.h"

#include <climits>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
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

    void add(const std::string &event)
    {
        if (!events.empty()) events += ' ';
        events += event;
    }
};

recorder &recorder_of(xml_application *x) { return *static_cast<recorder *>(x->payload[0]); }

std::string shown(int c)
{
    switch (c) {
    case '\n': return "'\\n'";
    case '\t': return "'\\t'";
    default: return std::string("'") + static_cast<char>(c) + "'";
    }
}

int record_open(xml_application *x, const char *t)
{
    recorder &r = recorder_of(x);
    r.add("open(" + std::string(t) + ")");
    if (++r.open_calls == 1 && r.root) x->root = r.root;
    return r.open_calls == r.stop_at_open ? r.stop_status : 0;
}

int record_atb_name(xml_application *x, const char *t)
{
    recorder_of(x).add("name(" + std::string(t) + ")");
    return 0;
}

int record_atb_value(xml_application *x, const char *t)
{
    recorder_of(x).add("value(" + std::string(t) + ")");
    return 0;
}

int record_white_space(xml_application *x, int c)
{
    recorder_of(x).add("ws(" + shown(c) + ")");
    return 0;
}

int record_token(xml_application *x, const char *t)
{
    recorder_of(x).add("token(" + std::string(t) + ")");
    return 0;
}

int record_punctuation(xml_application *x, int c)
{
    recorder_of(x).add("punct(" + std::string(1, static_cast<char>(c)) + ")");
    return 0;
}

int record_close(xml_application *x)
{
    recorder_of(x).add("close");
    return 0;
}

// Replaces only close_tag, so the default relays go on collecting content text;
// each end of an element records the text collected so far.
int snapshot_close(xml_application *x)
{
    recorder &r = recorder_of(x);
    r.add("close");
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
    ++failure_seen.calls;
    failure_seen.name = name;
    failure_seen.status = status;
    failure_seen.lines = lines;
    return failure_seen.answer.value_or(status);
}

constexpr xml_relay recording_relays{.open_tag = record_open,
                                     .atb_name = record_atb_name,
                                     .atb_value = record_atb_value,
                                     .white_space = record_white_space,
                                     .token = record_token,
                                     .punctuation = record_punctuation,
                                     .close_tag = record_close,
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

// ---------------------------------------------------------------------------
// Tags, attributes and content as relay events

class ReaderEvents : public Reader {};

TEST_F(ReaderEvents, WorkedExampleCallsRelaysInOrder)
{
    // the line feed after the declaration is outside every element: no relay sees it
    EXPECT_EQ(parse("<?xml version=\"1.0\"?>\n<a x=\"1\">hi there</a>"), 0);
    EXPECT_EQ(trace(), "open(a) name(x) value(\"1\") token(hi) ws(' ') token(there) close");
    EXPECT_EQ(failure_seen.calls, 0);
    EXPECT_EQ(relays_.result, nullptr);
}

TEST_F(ReaderEvents, EmptyElementTagsOpenAndCloseAtOnce)
{
    EXPECT_EQ(parse("<a/><b x='2' />"), 0);
    EXPECT_EQ(trace(), "open(a) close open(b) name(x) value('2') close");
}

TEST_F(ReaderEvents, EndTagsCloseByPositionWhateverTheirName)
{
    EXPECT_EQ(parse("<a><b></x></y>"), 0);
    EXPECT_EQ(trace(), "open(a) open(b) close close");
}

TEST_F(ReaderEvents, TokensAfterSlashOrEndTagNameAreIgnored)
{
    EXPECT_EQ(parse("<a/ junk><b></b junk more>"), 0);
    EXPECT_EQ(trace(), "open(a) close open(b) close");
}

TEST_F(ReaderEvents, WhiteSpaceInsideTagsIsSkipped)
{
    EXPECT_EQ(parse("< a\n x = \"1\" >t</ a >"), 0);
    EXPECT_EQ(trace(), "open(a) name(x) value(\"1\") token(t) close");
}

TEST_F(ReaderEvents, TextOutsideElementsIsDropped)
{
    EXPECT_EQ(parse("junk & more\n<a>t</a> tail;\n"), 0);
    EXPECT_EQ(trace(), "open(a) token(t) close");
}

TEST_F(ReaderEvents, ContentArrivesAsTokensWhiteSpaceAndPunctuation)
{
    // entity references arrive in pieces
    EXPECT_EQ(parse("<a>x, y\t&amp;\n</a>"), 0);
    EXPECT_EQ(trace(), "open(a) token(x) punct(,) ws(' ') token(y) ws('\\t') punct(&) token(amp) "
                       "punct(;) ws('\\n') close");
}

TEST_F(ReaderEvents, NameCharactersIncludeDashDotColonAndUnderscore)
{
    EXPECT_EQ(parse("<a:b x.y='1'>m-n_o</a:b>"), 0);
    EXPECT_EQ(trace(), "open(a:b) name(x.y) value('1') token(m-n_o) close");
}

TEST_F(ReaderEvents, ValuelessAttributeFollowedByOneWithAValue)
{
    EXPECT_EQ(parse("<a b c=\"1\">t</a>"), 0);
    EXPECT_EQ(trace(), "open(a) name(b) name(c) value(\"1\") token(t) close");
}

TEST_F(ReaderEvents, BareValueWithSlashEndsTheElement)
{
    EXPECT_EQ(parse("<r><e v=a/b>t</r>"), 0);
    EXPECT_EQ(trace(), "open(r) open(e) name(v) value(a) close token(t) close");
}

TEST_F(ReaderEvents, QuotedValueEndsAtItsClosingMark)
{
    EXPECT_EQ(parse("<a x=\"1\"y='2'/>"), 0);
    EXPECT_EQ(trace(), "open(a) name(x) value(\"1\") name(y) value('2') close");
}

TEST_F(ReaderEvents, FileEndingInsideTheFirstStartTagIsSuccess)
{
    // open_tag has run, but the element was never opened
    EXPECT_EQ(parse("<a"), 0);
    EXPECT_EQ(trace(), "open(a)");
    EXPECT_EQ(parse("<a x=\"1"), 0);
    EXPECT_EQ(trace(), "open(a) name(x) value(\"1)");
    EXPECT_EQ(failure_seen.calls, 0);
}

// ---------------------------------------------------------------------------
// Outcomes of a parse

class ReaderStatus : public Reader {};

TEST_F(ReaderStatus, EmptyOrBlankFileIsSuccess)
{
    EXPECT_EQ(parse(""), 0);
    EXPECT_EQ(parse(" \n\t \n"), 0);
    EXPECT_EQ(trace(), "");
    EXPECT_EQ(relays_.result, nullptr);
}

TEST_F(ReaderStatus, MalformedTagsAreSyntaxErrors)
{
    struct malformed {
        const char *input;
        const char *events; // what the relays saw before the error
    };
    const malformed cases[] = {
        {"<>", ""},
        {"<=", ""},
        {"<<a>", ""},
        {"<a><&/></a>", "open(a)"},
        {"<a b>", "open(a) name(b)"},   // valueless attribute right before ">"
        {"<a b/>", "open(a) name(b)"},  // ... or right before "/"
        {"<a =1>", "open(a)"},
        {"<a x=>", "open(a) name(x)"},
        {"<a/=>", "open(a)"},
        {"</a>", ""},                   // end tag with nothing open
        {"<a></>", "open(a)"},          // end tag without a name
        {"<a><b></x></y></z>", "open(a) open(b) close close"}, // a third end tag after two
    };
    for (const malformed &m : cases) {
        SCOPED_TRACE(m.input);
        failure_seen = {};
        EXPECT_EQ(parse(m.input), status_syntax);
        EXPECT_EQ(trace(), m.events);
        EXPECT_EQ(failure_seen.calls, 1);
        EXPECT_EQ(failure_seen.status, status_syntax);
    }
}

TEST_F(ReaderStatus, FailureHookGetsFileNameLinesReadAndGivesTheResult)
{
    failure_seen.answer = 77;
    EXPECT_EQ(parse("<a>\n\n  <>\n\n"), 77);
    EXPECT_EQ(failure_seen.calls, 1);
    EXPECT_EQ(failure_seen.name, "in.xml");
    EXPECT_EQ(failure_seen.status, status_syntax);
    EXPECT_EQ(failure_seen.lines, 2);
}

TEST_F(ReaderStatus, WithoutFailureHookTheStatusComesBack)
{
    xml_relay table = recording_relays;
    table.failure = nullptr;
    EXPECT_EQ(parse("<a><>", table), status_syntax);
}

TEST_F(ReaderStatus, InputEndingWithOpenElementsGivesThree)
{
    // no close_tag for the elements left open, and no failure hook
    EXPECT_EQ(parse("<a><b>t"), status_unclosed);
    EXPECT_EQ(trace(), "open(a) open(b) token(t)");
    EXPECT_EQ(failure_seen.calls, 0);
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

TEST_F(ReaderStatus, TokenOf8192CharactersGivesFiveWithLinesRead)
{
    EXPECT_EQ(parse("<a>\n\n\n" + std::string(8192, 'x') + "</a>"), status_token_too_long);
    EXPECT_EQ(trace(), "open(a) ws('\\n') ws('\\n') ws('\\n')");
    EXPECT_EQ(failure_seen.calls, 1);
    EXPECT_EQ(failure_seen.status, status_token_too_long);
    EXPECT_EQ(failure_seen.lines, 3);
}

TEST_F(ReaderStatus, RelayReturning48EndsTheParseAsSuccess)
{
    // even with elements open, and with the root the relays had set by then
    rec_.root = some_root;
    rec_.stop_at_open = 2;
    rec_.stop_status = status_no_element;
    EXPECT_EQ(parse("<a><b><c/></b></a>"), 0);
    EXPECT_EQ(trace(), "open(a) open(b)");
    EXPECT_EQ(relays_.result, some_root);
    EXPECT_EQ(failure_seen.calls, 0);
}

TEST_F(ReaderStatus, RelayStoppingStatusGoesThroughTheFailureHook)
{
    rec_.stop_at_open = 2;
    rec_.stop_status = status_no_memory;
    failure_seen.answer = 99;
    EXPECT_EQ(parse("<a>\n<b>x</b></a>"), 99);
    EXPECT_EQ(trace(), "open(a) ws('\\n') open(b)");
    EXPECT_EQ(failure_seen.status, status_no_memory);
    EXPECT_EQ(failure_seen.lines, 1);
}

TEST_F(ReaderStatus, RelayStoppingStatusComesBackWithoutHook)
{
    rec_.root = some_root;
    rec_.stop_at_open = 1;
    rec_.stop_status = status_no_memory;
    xml_relay table = recording_relays;
    table.failure = nullptr;
    EXPECT_EQ(parse("<a><b/></a>", table), status_no_memory);
    EXPECT_EQ(trace(), "open(a)");
    EXPECT_EQ(relays_.result, some_root);
}

// ---------------------------------------------------------------------------
// Comments, instructions and declarations

class ReaderMarkup : public Reader {};

TEST_F(ReaderMarkup, CommentInsideElementEndsAtItsFirstGreaterThan)
{
    EXPECT_EQ(parse("<a>x<!-- p > q -->y</a>"), 0);
    EXPECT_EQ(trace(), "open(a) token(x) ws(' ') token(q) ws(' ') token(--) punct(>) token(y) close");
}

TEST_F(ReaderMarkup, CommentOutsideElementsIsDroppedWhole)
{
    EXPECT_EQ(parse("<!-- p > q -->\n<a>y</a>"), 0);
    EXPECT_EQ(trace(), "open(a) token(y) close");
}

TEST_F(ReaderMarkup, InstructionRunsToQuestionMarkDirectlyBeforeGreaterThan)
{
    // "??>" does not end it: the second "?" goes back into the instruction
    EXPECT_EQ(parse("<a>x<?p ?\?> y ?>z</a>"), 0);
    EXPECT_EQ(trace(), "open(a) token(x) token(z) close");
}

TEST_F(ReaderMarkup, QuotedTokenInInstructionHidesItsEnd)
{
    EXPECT_EQ(parse("<a><?p v=\"?>\" ?>t</a>"), 0);
    EXPECT_EQ(trace(), "open(a) token(t) close");
}

TEST_F(ReaderMarkup, QuotedTokenInDeclarationHidesGreaterThan)
{
    EXPECT_EQ(parse("<!DOCTYPE a SYSTEM \"x>y\">\n<a>t</a>"), 0);
    EXPECT_EQ(trace(), "open(a) token(t) close");
}

// ---------------------------------------------------------------------------
// Bytes of the input

class ReaderInput : public Reader {};

TEST_F(ReaderInput, CarriageReturnLineFeedCountsOneLinePerPair)
{
    EXPECT_EQ(parse("<a>\r\n\r\n<>"), status_syntax);
    EXPECT_EQ(trace(), "open(a) ws('\\n') ws('\\n')");
    EXPECT_EQ(failure_seen.lines, 2);
}

TEST_F(ReaderInput, CarriageReturnsAloneCountNoLines)
{
    EXPECT_EQ(parse("<a>\r\r<>"), status_syntax);
    EXPECT_EQ(trace(), "open(a)");
    EXPECT_EQ(failure_seen.lines, 0);
}

TEST_F(ReaderInput, CarriageReturnInsideTextJoinsTheLines)
{
    EXPECT_EQ(parse("<a>x\ry</a>"), 0);
    EXPECT_EQ(trace(), "open(a) token(xy) close");
}

TEST_F(ReaderInput, ZeroByteEndsTheInputForGood)
{
    EXPECT_EQ(parse(std::string("<a>x\0y</a>", 10)), status_unclosed);
    EXPECT_EQ(trace(), "open(a) token(x)");
}

TEST_F(ReaderInput, CodePageLettersAreTokenCharactersAndOtherBytesPunctuation)
{
    EXPECT_EQ(parse("<a>\x80t\xa5 x\xa6y\x01z\x7f</a>"), 0);
    EXPECT_EQ(trace(), "open(a) token(\x80t\xa5) ws(' ') token(x) punct(\xa6) token(y) punct(\x01) "
                       "token(z) punct(\x7f) close");
}

// ---------------------------------------------------------------------------
// Tokens and quotation marks

class ReaderTokens : public Reader {};

TEST_F(ReaderTokens, QuoteInsideTokenIsOrdinary)
{
    EXPECT_EQ(parse("<a x=ab\"cd>t</a>"), 0);
    EXPECT_EQ(trace(), "open(a) name(x) value(ab\"cd) token(t) close");
}

TEST_F(ReaderTokens, ApostropheInContentDoesNotSwallowTags)
{
    // regression: an apostrophe opening a word of content used to start a quoted
    // token that ran across the following tags to the next apostrophe
    EXPECT_EQ(parse("<r><name>'Til Tuesday</name><city>Lyon</city></r>"), 0);
    EXPECT_EQ(trace(), "open(r) open(name) token('Til) ws(' ') token(Tuesday) close "
                       "open(city) token(Lyon) close close");
}

TEST_F(ReaderTokens, DoubleQuotesInContentAreOrdinaryCharacters)
{
    EXPECT_EQ(parse("<a>say \"hi there\"</a><b>t</b>"), 0);
    EXPECT_EQ(trace(), "open(a) token(say) ws(' ') token(\"hi) ws(' ') token(there\") close "
                       "open(b) token(t) close");
}

TEST_F(ReaderTokens, QuotedValueIsOneTokenAcrossBlanksBracketsAndLines)
{
    EXPECT_EQ(parse("<a x=\"1 >\n<b> 2\" y='it\"s'>t</a>"), 0);
    EXPECT_EQ(trace(), "open(a) name(x) value(\"1 >\n<b> 2\") name(y) value('it\"s') token(t) close");
}

TEST_F(ReaderTokens, TokenOf8191CharactersIsAccepted)
{
    const std::string longest(8191, 'x');
    EXPECT_EQ(parse("<a>" + longest + "</a>"), 0);
    EXPECT_EQ(trace(), "open(a) token(" + longest + ") close");
}

TEST_F(ReaderTokens, QuotedTokenOf8192CharactersIsTooLong)
{
    // the quotation marks count: 8189 letters and two marks are the longest value
    EXPECT_EQ(parse("<a x=\"" + std::string(8189, 'v') + "\"/>"), 0);
    EXPECT_EQ(parse("<a x=\"" + std::string(8190, 'v') + "\"/>"), status_token_too_long);
    EXPECT_EQ(trace(), "open(a) name(x)");
}

// ---------------------------------------------------------------------------
// The default relays: text collection and echo

class ReaderDefaults : public Reader {};

TEST_F(ReaderDefaults, CollectAllContentTextInOrder)
{
    EXPECT_EQ(parse("<r>one, <b x=\"y\">two</b>\n  three&amp;<!-- c --></r>", snapshot_relays), 0);
    EXPECT_EQ(trace(), "close close");
    ASSERT_EQ(rec_.texts.size(), 2u);
    EXPECT_EQ(rec_.texts[0], "one, two");
    EXPECT_EQ(rec_.texts[1], "one, two\n  three&amp;");
}

TEST_F(ReaderDefaults, CollectTextBeyondOneBufferStep)
{
    const std::string word(5000, 'w');
    const std::string text = word + " " + word + "\n" + word;
    EXPECT_EQ(parse("<r>" + text + "</r>", snapshot_relays), 0);
    ASSERT_EQ(rec_.texts.size(), 1u);
    EXPECT_EQ(rec_.texts[0], text);
    EXPECT_EQ(rec_.buflens[0], 16384);
}

TEST_F(ReaderDefaults, LongestTokenFillsTheFirstBufferWithoutGrowth)
{
    EXPECT_EQ(parse("<r>" + std::string(8191, 'x') + "</r>", snapshot_relays), 0);
    ASSERT_EQ(rec_.texts.size(), 1u);
    EXPECT_EQ(rec_.texts[0].size(), 8191u);
    EXPECT_EQ(rec_.buflens[0], 8192);
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
}

TEST_F(ReaderDefaults, EchoOffPrintsNothingEvenOnFailure)
{
    stdout_capture capture;
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
owned_context fresh_context(void *payload = nullptr)
{
    owned_context x{static_cast<xml_application *>(allocate_secure(sizeof(xml_application)))};
    if (x) {
        EXPECT_EQ(xml_reset(x.get(), 0, payload), 0);
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

// Sets or clears XMLSTRICT for one scope and puts back what was there.
class strict_variable {
public:
    strict_variable()
    {
        if (const char *v = std::getenv("XMLSTRICT")) saved_ = v;
    }
    ~strict_variable()
    {
        if (saved_) setenv("XMLSTRICT", saved_->c_str(), 1);
        else unsetenv("XMLSTRICT");
    }
    void set(const char *v) { setenv("XMLSTRICT", v, 1); }
    void clear() { unsetenv("XMLSTRICT"); }

private:
    std::optional<std::string> saved_;
};

} // namespace

class ApplicationContext : public TrackedTest {};

TEST_F(ApplicationContext, ResetStoresPayloadInFirstSlotAndClearsTheRest)
{
    owned_context x = fresh_context();
    ASSERT_TRUE(x);
    int junk = 0, payload = 0;
    for (void *&slot : x->payload) slot = &junk;
    x->offset = 5;
    x->nested = 3;
    x->parent = reinterpret_cast<xml_parser *>(&junk);
    ASSERT_EQ(xml_reset(x.get(), 1, &payload), 0);
    EXPECT_EQ(x->payload[0], &payload);
    for (int i = 1; i < xml_payload_slots; ++i) EXPECT_EQ(x->payload[i], nullptr) << "slot " << i;
    EXPECT_EQ(x->offset, 0);
    EXPECT_EQ(x->nested, 0);
    EXPECT_EQ(x->parent, nullptr);
    EXPECT_EQ(x->echo, 1);
    EXPECT_EQ(x->root, nullptr);
    ASSERT_NE(x->buffer, nullptr);
    EXPECT_EQ(x->buflen, 8192);
}

TEST_F(ApplicationContext, ResetKeepsTheBufferAndEmptiesItsText)
{
    // the byte at offset must be zero after a reset too, or the old text would read
    // as what the new parse collected
    owned_context x = fresh_context();
    ASSERT_TRUE(x);
    ASSERT_EQ(xml_check_buffer(x.get(), 9000), 0);
    fill_text(x.get(), 9000);
    char *const buffer = x->buffer;
    ASSERT_EQ(xml_reset(x.get(), 0, nullptr), 0);
    EXPECT_EQ(x->buffer, buffer);
    EXPECT_EQ(x->buflen, 16384);
    EXPECT_EQ(x->offset, 0);
    EXPECT_EQ(x->buffer[0], '\0');
}

TEST_F(ApplicationContext, StrictIsTheFirstCharacterOfXMLSTRICT)
{
    strict_variable env;
    owned_context x = fresh_context();
    ASSERT_TRUE(x);
    env.clear();
    ASSERT_EQ(xml_reset(x.get(), 0, nullptr), 0);
    EXPECT_EQ(x->strict, 0);
    env.set("");
    ASSERT_EQ(xml_reset(x.get(), 0, nullptr), 0);
    EXPECT_EQ(x->strict, 0);
    env.set("Yes");
    ASSERT_EQ(xml_reset(x.get(), 0, nullptr), 0);
    EXPECT_EQ(x->strict, 'Y');
    env.set("\xe9t\xe9");
    ASSERT_EQ(xml_reset(x.get(), 0, nullptr), 0);
    EXPECT_EQ(x->strict, -23); // taken as a signed byte
}

TEST_F(ApplicationContext, CheckBufferKeepsRoomForTheTerminatingZero)
{
    owned_context x = fresh_context();
    ASSERT_TRUE(x);
    fill_text(x.get(), 8190);
    char *const first = x->buffer;
    ASSERT_EQ(xml_check_buffer(x.get(), 1), 0);
    EXPECT_EQ(x->buffer, first);
    EXPECT_EQ(x->buflen, 8192);
    fill_text(x.get(), 8191);
    ASSERT_EQ(xml_check_buffer(x.get(), 1), 0);
    EXPECT_EQ(x->buflen, 16384);
    EXPECT_TRUE(text_kept(x.get(), 8191));
}

TEST_F(ApplicationContext, LongestTokenFitsAnEmptyBufferWithoutGrowth)
{
    owned_context x = fresh_context();
    ASSERT_TRUE(x);
    char *const first = x->buffer;
    ASSERT_EQ(xml_check_buffer(x.get(), 8191), 0);
    EXPECT_EQ(x->buffer, first);
    EXPECT_EQ(x->buflen, 8192);
    ASSERT_EQ(xml_check_buffer(x.get(), 8192), 0);
    EXPECT_EQ(x->buflen, 16384);
}

TEST_F(ApplicationContext, CheckBufferGrowsByEnoughStepsForALargeRequest)
{
    // regression: growth was one 8192-byte step per call, whatever the request,
    // leaving too little room for a request above 8192
    owned_context x = fresh_context();
    ASSERT_TRUE(x);
    fill_text(x.get(), 100);
    ASSERT_EQ(xml_check_buffer(x.get(), 20000), 0);
    EXPECT_EQ(x->buflen, 24576);
    EXPECT_TRUE(text_kept(x.get(), 100));
}

TEST_F(ApplicationContext, CheckBufferGrowsToTheSmallestMultipleOfTheStep)
{
    for (int n : {0, 1, 8091, 8092, 8191, 8192, 16283, 16284, 40000}) {
        SCOPED_TRACE(n);
        owned_context x = fresh_context();
        ASSERT_TRUE(x);
        fill_text(x.get(), 100);
        ASSERT_EQ(xml_check_buffer(x.get(), n), 0);
        EXPECT_EQ(x->buflen % 8192, 0);
        EXPECT_LT(x->offset + n, x->buflen);
        EXPECT_GE(x->offset + n, x->buflen - 8192);
        EXPECT_TRUE(text_kept(x.get(), 100));
    }
}

TEST_F(ApplicationContext, CheckBufferRefusesAnImpossibleSizeAndKeepsTheBuffer)
{
    owned_context x = fresh_context();
    ASSERT_TRUE(x);
    fill_text(x.get(), 10);
    char *const first = x->buffer;
    EXPECT_EQ(xml_check_buffer(x.get(), INT_MAX), status_no_memory);
    EXPECT_EQ(x->buffer, first);
    EXPECT_EQ(x->buflen, 8192);
    EXPECT_TRUE(text_kept(x.get(), 10));
}

TEST_F(ApplicationContext, ReleasingNullContextIsIgnored)
{
    EXPECT_EQ(liberate_xml_application(nullptr), nullptr);
}
