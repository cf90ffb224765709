#include <climits>
#include <vector>

#include "test_support.h"

namespace {

// What the test relays saw: one line per closed element with everything the value
// readers made of its text, and the string that xml_get_string keeps replacing.
struct recording {
    std::vector<std::string> open;
    std::string lines;
    char *kept = nullptr;
};

std::string shown(const char *s) { return s ? "[" + std::string(s) + "]" : "(null)"; }

// Each element's text is read on its own: the default relays collect everything in
// content, so the white space before a start tag is dropped here.
int start_element(xml_application *x, const char *name)
{
    static_cast<recording *>(x->payload[0])->open.emplace_back(name);
    x->offset = 0;
    x->buffer[0] = '\0';
    return 0;
}

int read_element(xml_application *x)
{
    auto *rec = static_cast<recording *>(x->payload[0]);
    int w = -9, x1 = -9, y1 = -9, a = -9, b = -9, c = -9;
    xml_get_word(x, &w);
    xml_get_xy(x, &x1, &y1);
    xml_get_xyz(x, &a, &b, &c);
    xml_get_string(x, &rec->kept); // releases the previous element's copy
    char *file = nullptr;
    xml_get_filename_string(x, &file);
    char *text = nullptr;
    use_xml_macros();
    xml_get_text(x, &text);
    const int extent = MaxMacMan;
    rec->lines += rec->open.back() + ": " + std::to_string(w) + " | " + std::to_string(x1) + " " +
                  std::to_string(y1) + " | " + std::to_string(a) + " " + std::to_string(b) + " " +
                  std::to_string(c) + " | " + shown(rec->kept) + " " + shown(file) + " " + shown(text) +
                  " | " + std::to_string(extent) + " | " + shown(x->buffer) + "\n";
    liberate(file);
    liberate(text);
    rec->open.pop_back();
    x->offset = 0;
    x->buffer[0] = '\0';
    return 0;
}

// Parses name with the recording relays and returns the lines it recorded.
std::string read_back(const std::string &name, int *status)
{
    recording rec;
    xml_relay relays{.open_tag = start_element, .atb_name = nullptr, .atb_value = nullptr, .white_space = nullptr,
                     .token = nullptr, .punctuation = nullptr, .close_tag = read_element, .failure = nullptr,
                     .result = nullptr};
    *status = xml_parse(name.c_str(), &relays, &rec);
    liberate(rec.kept);
    return rec.lines;
}

} // namespace

// Every test ends at the HTML extent, where the setting rests between conversions.
class ValueTest : public InTempDir {
protected:
    void TearDown() override
    {
        use_html_macros();
        InTempDir::TearDown();
    }
    // A context built by hand, for what a parse cannot easily show.
    xml_application context(const char *text)
    {
        text_ = text;
        xml_application x{};
        x.buffer = text_.data();
        x.offset = static_cast<int>(text_.size());
        x.buflen = static_cast<int>(text_.size() + 1);
        return x;
    }
    std::string text_;
};
class ValueReaders : public ValueTest {};
class ValueWriters : public ValueTest {};

TEST_F(ValueReaders, ReadElementTextsDuringAParse)
{
    write_file("values.xml", "<values>\n"
                             "  <word>  42</word>\n"
                             "  <pair>  12 7</pair>\n"
                             "  <comma>  12,7</comma>\n"
                             "  <triple>1 2  3 4</triple>\n"
                             "  <sign>-5</sign>\n"
                             "  <wrap>4294967297</wrap>\n"
                             "  <text>Caf&eacute; &lt;b&gt; &amp;lt; &nbsp;</text>\n"
                             "  <path>C:\\dir\\a.txt</path>\n"
                             "  <empty></empty>\n"
                             "</values>\n");
    int status = -1;
    const std::string lines = read_back("values.xml", &status);
    EXPECT_EQ(status, status_ok);
    // each line: word | pair | triple | string, file name, text | extent after | buffer
    EXPECT_EQ(lines, "word: 42 | 42 0 | 42 0 0 | [  42] [  42] [  42] | 22 | [  42]\n"
                     "pair: 12 | 12 7 | 12 7 0 | [  12 7] [  12 7] [  12 7] | 22 | [  12 7]\n"
                     "comma: 12 | 12 0 | 12 0 0 | [  12,7] [  12,7] [  12,7] | 22 | [  12,7]\n"
                     "triple: 1 | 1 2 | 1 2 3 | [1 2  3 4] [1 2  3 4] [1 2  3 4] | 22 | [1 2  3 4]\n"
                     "sign: 0 | 0 0 | 0 0 0 | [-5] [-5] [-5] | 22 | [-5]\n"
                     "wrap: 1 | 1 0 | 1 0 0 | [4294967297] [4294967297] [4294967297] | 22 | [4294967297]\n"
                     "text: 0 | 0 0 | 0 0 0 | [Caf&eacute; &lt;b&gt; &amp;lt; &nbsp;] "
                     "[Caf&eacute; &lt;b&gt; &amp;lt; &nbsp;] [Caf\x82 <b> &lt; &nbsp;] | 22 | "
                     "[Caf&eacute; &lt;b&gt; &amp;lt; &nbsp;]\n"
                     "path: 0 | 0 0 | 0 0 0 | [C:\\dir\\a.txt] [C:/dir/a.txt] [C:\\dir\\a.txt] | 22 | "
                     "[C:\\dir\\a.txt]\n"
                     "empty: 0 | 0 0 | 0 0 0 | [] [] [] | 22 | []\n"
                     "values: 0 | 0 0 | 0 0 0 | [\n] [\n] [\n] | 22 | [\n]\n");
}

TEST_F(ValueReaders, NumbersWrapInsteadOfOverflowing)
{
    xml_application x = context("2147483648 4294967295 4294967296");
    int a = 0, b = 0, c = 0;
    xml_get_xyz(&x, &a, &b, &c);
    EXPECT_EQ(a, INT_MIN);
    EXPECT_EQ(b, -1);
    EXPECT_EQ(c, 0);
}

TEST_F(ValueReaders, TextReaderOverwritesItsTargetWithoutReleasingIt)
{
    xml_application x = context("&quot;hi&quot;");
    char *old = allocate_string("old");
    char *target = old;
    xml_get_text(&x, &target);
    ASSERT_NE(target, old);
    EXPECT_STREQ(target, "\"hi\"");
    EXPECT_STREQ(old, "old") << "the old block is still the caller's";
    liberate(old);
    liberate(target);
}

TEST_F(ValueReaders, MnemonicMatchesAPrefix)
{
    EXPECT_EQ(xml_mnemonic("element", "elem"), 1);
    EXPECT_EQ(xml_mnemonic("anything", ""), 1);
    EXPECT_EQ(xml_mnemonic("el", "elem"), 0);
    EXPECT_EQ(xml_mnemonic("elex", "elem"), 0);
}

TEST_F(ValueWriters, ElementsSitOnALineAtTheirMarginAndNullWritesNothing)
{
    const std::pair<std::function<void(FILE *)>, const char *> cases[] = {
        {[](FILE *h) { xml_put_string(h, "name", "a<b>&c", 2); }, "\t\t<name>a<b>&c</name>\n"},
        {[](FILE *h) { xml_put_word(h, "n", 42, 1); }, "\t<n>42</n>\n"},
        {[](FILE *h) { xml_put_word(h, "n", -1, 0); }, "<n>4294967295</n>\n"},
        {[](FILE *h) { xml_put_filename_string(h, "file", "C:\\a b\\c", 1); }, "\t<file>C:\\a b\\c</file>\n"},
        {[](FILE *h) { xml_put_filename(h, "C:\\a b"); }, "C:\\a b"},
        {[](FILE *h) { xml_linefeed(h); }, "\n"},
        {[](FILE *h) { EXPECT_EQ(indent(h, 3), 0); }, "\t\t\t"},
        {[](FILE *h) { EXPECT_EQ(indent(h, -2), 0); }, ""},
        {[](FILE *h) { xml_put_string(h, "name", nullptr, 3); }, ""},
        {[](FILE *h) { xml_put_string(h, nullptr, "v", 3); }, ""},
        {[](FILE *h) { xml_put_filename_string(h, "file", nullptr, 3); }, ""},
        {[](FILE *h) { xml_put_cdata(h, nullptr); }, ""},
    };
    for (const auto &[write, text] : cases) EXPECT_EQ(written(write), text);
}

TEST_F(ValueWriters, CdataConvertsAtTheXmlExtentAndLeavesTheHtmlExtent)
{
    use_xml_macros();
    EXPECT_EQ(written([](FILE *h) { xml_put_cdata(h, "caf\x82 <b>&amp;\"x\"\n"); }),
              "caf&eacute; &lt;b&gt;&amp;amp;&quot;x&quot;\n");
    EXPECT_EQ(MaxMacMan, html_macro_rows);
    EXPECT_EQ(written([](FILE *h) { xml_put_cdata(h, "plain"); }), "plain");
}
