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
