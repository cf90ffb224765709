// The reader on arbitrary bytes: the text that the default relays collect in the
// application context must be exactly the element content that recording relays
// are handed, in the same order.

#include <string>

#include "fuzz_support.h"
#include "qvxml/xmlparse.h"

namespace {

std::string seen;       // content handed to the recording relays
std::size_t marked = 0; // length of seen at the last tag event
std::string collected;  // text the default relays collected, read at each tag event
int collected_offset = 0;

int record_token(xml_application *, const char *t) { seen += t; return 0; }
int record_char(xml_application *, int c) { seen += static_cast<char>(c); return 0; }
int mark_open(xml_application *, const char *) { marked = seen.size(); return 0; }
int mark_close(xml_application *) { marked = seen.size(); return 0; }

// Tag events leave the content relays to the defaults and read what they gathered.
void take_collected(xml_application *x)
{
    collected.append(x->buffer + collected_offset, static_cast<std::size_t>(x->offset - collected_offset));
    collected_offset = x->offset;
}
int collect_open(xml_application *x, const char *) { take_collected(x); return 0; }
int collect_close(xml_application *x) { take_collected(x); return 0; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    allocation_balance balance;
    memory_file file(data, size);

    seen.clear();
    marked = 0;
    xml_relay recording{.open_tag = mark_open, .atb_name = nullptr, .atb_value = nullptr,
                        .white_space = record_char, .token = record_token,
                        .punctuation = record_char, .close_tag = mark_close,
                        .failure = nullptr, .result = nullptr};
    const int st1 = xml_parse(file.path(), &recording, nullptr);

    collected.clear();
    collected_offset = 0;
    xml_relay defaults{.open_tag = collect_open, .atb_name = nullptr, .atb_value = nullptr,
                       .white_space = nullptr, .token = nullptr, .punctuation = nullptr,
                       .close_tag = collect_close, .failure = nullptr, .result = nullptr};
    const int st2 = xml_parse(file.path(), &defaults, nullptr);

    FUZZ_CHECK(st1 == st2);
    FUZZ_CHECK(st1 == 0 || st1 == status_syntax || st1 == status_unclosed ||
               st1 == status_token_too_long);
    FUZZ_CHECK(recording.result == nullptr && defaults.result == nullptr);
    FUZZ_CHECK(seen.compare(0, marked, collected) == 0 && collected.size() == marked);
    balance.check();
    return 0;
}
