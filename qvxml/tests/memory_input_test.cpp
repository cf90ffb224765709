// What the calls that read memory do at the edges of their arguments; on real input
// they are held to their file counterparts by the properties.
#include <cerrno>

#include "test_support.h"

namespace
{

using MemoryInput = TrackedTest;

// A null buffer is empty input when its length is 0, and otherwise input that cannot
// be opened (no hook is called for that); a null name reaches the hook as "".
TEST_F(MemoryInput, NullBufferAndNullName)
{
    xml_relay relays{};
    relays.failure = [](const char *name, int status, int) { return *name ? -1 : status + 1000; };
    xml_outcome o{};
    EXPECT_EQ(xml_parse_buffer(nullptr, 1, "n", &relays, nullptr, &o), status_cannot_open);
    EXPECT_EQ(std::tuple(o.status, o.line, o.error_number),
              std::tuple(status_cannot_open, 0, EINVAL));
    EXPECT_EQ(xml_parse_buffer(nullptr, 0, "n", &relays, nullptr, &o), status_ok);
    EXPECT_EQ(std::tuple(o.status, o.line, o.error_number), std::tuple(status_ok, 1, 0));
    EXPECT_EQ(xml_parse_buffer("\n</x>", 5, nullptr, &relays, nullptr, &o), status_syntax + 1000);
    EXPECT_EQ(std::tuple(o.status, o.line), std::tuple(status_syntax, 2));
    EXPECT_EQ(document_parse_buffer(nullptr, 2, nullptr, &o), nullptr);
    EXPECT_EQ(o.status, status_cannot_open);
    const document_stream none{};
    EXPECT_EQ(document_stream_buffer(nullptr, 0, nullptr, &none, &o), 0);
    EXPECT_EQ(o.status, status_ok);
    EXPECT_EQ(document_stream_buffer("<a/>", 4, "n", nullptr, &o), 0);
    EXPECT_EQ(o.status, status_missing);
}

} // namespace

namespace
{

// The sizes the settings and the report carry: settings too small for this release are
// refused before anything runs; a report is written only as far as its size reaches.
// An echo writer's refusal ends the parse with its status, through the callback.
TEST_F(MemoryInput, SettingsAndReportSizes)
{
    const document_writer refusing{nullptr, [](void *, const char *, std::size_t) { return 7; }};
    const auto hook = [](void *c, const char *, int status, std::int64_t lines) {
        return *static_cast<int *>(c) = status, static_cast<int>(lines) + 100;
    };
    int hooked = 0;
    xml_settings set{offsetof(xml_settings, failure_context), 0, 1, &refusing, hook, &hooked, 0};
    xml_report r{}, line_cut{offsetof(xml_report, line), 0, 0, 0, 0, -1, -1, nullptr};
    r.size = sizeof r;
    const char xml[] = "<a>\n<b>x</b>\n";
    EXPECT_EQ(xml_parse_buffer_with(xml, 13, "", nullptr, nullptr, &set, &r), status_missing);
    EXPECT_EQ(std::tuple(r.status, r.line, hooked), std::tuple(status_missing, 0, 0));
    set.size = sizeof set;
    EXPECT_EQ(xml_parse_buffer_with(xml, 13, "", nullptr, nullptr, &set, &r), 102);
    EXPECT_EQ(std::tuple(r.status, r.line, r.open_elements, hooked), std::tuple(7, 3, 1, 7));
    std::string lines = "<a>"; // stopped before its end
    for (int i = 0; i < 3000; ++i)
        lines += "x\n";
    const int result =
        xml_parse_buffer_with(lines.data(), lines.size(), "", nullptr, nullptr, &set, &r);
    EXPECT_TRUE(result == 100 + r.line - 1 && r.status == 7 && r.line < 3001) << r.line;
    EXPECT_EQ(document_stream_buffer_with(xml, 13, "", nullptr, &set, &r), 0);
    EXPECT_EQ(r.status, status_missing);
    EXPECT_EQ(xml_parse_with(nullptr, nullptr, nullptr, &set, &r), status_cannot_open);
    EXPECT_EQ(std::tuple(r.status, r.error_number), std::tuple(status_cannot_open, EINVAL));
    set.echo_writer = nullptr;
    set.echo = 0;
    EXPECT_EQ(document_parse_buffer_with(xml, 13, "", &set, &line_cut), nullptr);
    EXPECT_EQ(std::tuple(line_cut.status, line_cut.open_elements, line_cut.line, line_cut.root),
              std::tuple(status_unclosed, 1, -1, nullptr));
}

// Attributes are skipped only when the settings' size reaches the field: a record of
// 1.2's size keeps them. Those the quick path takes and those left to the state
// machine (white space around '=', a bare value) alike.
TEST_F(MemoryInput, AtributesSkippedOnlyWhenTheSizeReachesTheField)
{
    const std::string xml = "<a k=\"1\"><b x='2' y=\"3\"\n/><c z = \"4\" w=5>t</c></a>";
    xml_settings set{};
    set.skip_atributes = 1;
    for (const std::size_t size : {offsetof(xml_settings, skip_atributes), sizeof set}) {
        set.size = size;
        xml_element *tree = document_parse_buffer_with(xml.data(), xml.size(), "", &set, nullptr);
        ASSERT_NE(tree, nullptr);
        int kept = 0;
        for (const xml_element *e : {tree, tree->first, tree->last})
            for (const xml_atribut *a = e->firstatb; a; a = a->next)
                ++kept;
        EXPECT_EQ(kept, size == sizeof set ? 0 : 5) << size;
        EXPECT_STREQ(tree->last->value, "t");
        document_drop(tree);
    }
}

} // namespace
