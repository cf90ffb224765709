#include "veltran/jsonl.h"

#include <array>

#include "veltran/decode.h"

namespace
{

constexpr std::string_view hex_digits = "0123456789abcdef";

// Puts piece, UTF-8 already, as the inside of a JSON string: the quotation mark, the
// backslash and the control characters escaped, every other byte as it is.
void put_json_text(void *records, std::string_view piece)
{
    auto &out = *static_cast<held_records *>(records);
    while (!piece.empty()) {
        std::size_t run = 0;
        while (run < piece.size() && static_cast<unsigned char>(piece[run]) >= 0x20 &&
               piece[run] != '"' && piece[run] != '\\')
            ++run;
        out.put(piece.substr(0, run));
        if (run == piece.size()) return;
        const auto c = static_cast<unsigned char>(piece[run]);
        if (c == '"' || c == '\\') {
            out.put('\\');
            out.put(char(c));
        } else {
            const std::array<char, 6> escape = {
                '\\', 'u', '0', '0', hex_digits[c >> 4], hex_digits[c & 0xf]};
            out.put({escape.data(), escape.size()});
        }
        piece.remove_prefix(run + 1);
    }
}

} // namespace

void jsonl_writer::begin(const char *, std::string_view kind)
{
    kind_ = kind;
}

void jsonl_writer::record(const field_record &r)
{
    const utf8_sink text{.context = &records_, .put = put_json_text};
    records_.put("{\"kind\":\"");
    records_.put(kind_);
    records_.put('"');
    for (const named_field &f : r.fields) {
        records_.put(",\"");
        records_.put(f.name);
        records_.put("\":\"");
        decode_field(f.text, text);
        records_.put('"');
    }
    records_.put("}\n");
}
