#include "veltran/decode.h"

#include <array>
#include <cstring>

#include "qvxml/html.h"

namespace
{

constexpr char32_t replacement = 0xFFFD;
constexpr char32_t last_character = 0x10FFFF;
constexpr std::size_t reference_window = 32; // the ampersand through the semicolon, at most
constexpr std::size_t piece_capacity = 256;  // decoded characters gathered before a put

// The Unicode characters of the code page 437 bytes 0x80 to 0xFF, which the library's
// entity table gives its names as.
constexpr std::array<char16_t, 128> cp437_from_0x80 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

char32_t unicode_of_cp437(int code)
{
    code &= 0xFF;
    return code < 0x80 ? char32_t(code) : char32_t(cp437_from_0x80[std::size_t(code - 0x80)]);
}

// Names the record format uses beside the library's table.
struct own_name {
    std::string_view name;
    char32_t character;
};
constexpr std::array<own_name, 2> own_names = {{{"&apos;", U'\''}, {"&brvbar;", U'|'}}};

std::size_t put_utf8(char32_t c, char *out)
{
    if (c < 0x80) {
        out[0] = char(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = char(0xC0 | (c >> 6));
        out[1] = char(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = char(0xE0 | (c >> 12));
        out[1] = char(0x80 | ((c >> 6) & 0x3F));
        out[2] = char(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (c >> 18));
    out[1] = char(0x80 | ((c >> 12) & 0x3F));
    out[2] = char(0x80 | ((c >> 6) & 0x3F));
    out[3] = char(0x80 | (c & 0x3F));
    return 4;
}

// Passes runs of the field through whole and gathers decoded characters in a small
// store, so that a field with nothing to decode costs one put.
class piece_writer
{
  public:
    explicit piece_writer(const utf8_sink &out) : out_{out} {}
    piece_writer(const piece_writer &) = delete;
    piece_writer &operator=(const piece_writer &) = delete;
    ~piece_writer() { flush(); }

    void put_run(std::string_view run)
    {
        if (run.empty()) return;
        flush();
        out_.put(out_.context, run);
    }
    void put_character(char32_t c)
    {
        if (used_ + 4 > store_.size()) flush();
        used_ += put_utf8(c, store_.data() + used_);
    }

  private:
    void flush()
    {
        if (used_ > 0) out_.put(out_.context, {store_.data(), used_});
        used_ = 0;
    }
    const utf8_sink &out_;
    std::array<char, piece_capacity> store_;
    std::size_t used_ = 0;
};

bool is_digit(char c, int base)
{
    return (c >= '0' && c <= '9') ||
           (base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
}

int digit_value(char c)
{
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// The character of the reference "#digits" or "#xdigits" (body without "&" and ";"):
// U+FFFD when it names no character, or NUL; 0 when body is no reference.
char32_t numeric_reference(std::string_view body)
{
    body.remove_prefix(1);
    const int base = !body.empty() && body[0] == 'x' ? 16 : 10;
    if (base == 16) body.remove_prefix(1);
    if (body.empty()) return 0;
    char32_t c = 0;
    for (char d : body) {
        if (!is_digit(d, base)) return 0;
        c = c > last_character ? c : c * char32_t(base) + char32_t(digit_value(d));
    }
    const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
    return c == 0 || surrogate || c > last_character ? replacement : c;
}

char32_t named_reference(std::string_view name)
{
    for (const macro_conversions &row : MacMan)
        if (name == row.macro) return unicode_of_cp437(row.code);
    for (const own_name &row : own_names)
        if (name == row.name) return row.character;
    return 0;
}

// The reference that begins at field[at] (an ampersand): its character and length, or
// a length of 0 when it is none and stays as written.
std::size_t read_reference(std::string_view field, std::size_t at, char32_t &c)
{
    const std::string_view window = field.substr(at, reference_window);
    const std::size_t semicolon = window.find(';');
    if (semicolon == std::string_view::npos) return 0;
    const std::string_view whole = window.substr(0, semicolon + 1);
    c = whole.size() > 2 && whole[1] == '#' ? numeric_reference(whole.substr(1, whole.size() - 2))
                                            : named_reference(whole);
    return c == 0 ? 0 : whole.size();
}

// The UTF-8 sequence at field[at] (a byte from 0x80 on): its length when it is a
// whole character; otherwise the length of the maximal ill-formed part, negated.
long read_sequence(std::string_view field, std::size_t at)
{
    const auto b = static_cast<unsigned char>(field[at]);
    unsigned char low = 0x80, high = 0xBF;
    std::size_t continuation = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        continuation = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
        continuation = 2;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F; // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        continuation = 3;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F; // nothing past U+10FFFF
    } else {
        return -1;
    }
    for (std::size_t k = 1; k <= continuation; ++k, low = 0x80, high = 0xBF) {
        if (at + k >= field.size()) return -long(k);
        const auto next = static_cast<unsigned char>(field[at + k]);
        if (next < low || next > high) return -long(k);
    }
    return long(continuation + 1);
}

void copy_piece(void *context, std::string_view piece)
{
    auto &end = *static_cast<char **>(context);
    std::memcpy(end, piece.data(), piece.size());
    end += piece.size();
}

} // namespace

void decode_field(std::string_view field, const utf8_sink &out)
{
    piece_writer w{out};
    std::size_t plain = 0; // where the run not yet put begins
    for (std::size_t i = 0; i < field.size();) {
        const char b = field[i];
        if (b != '&' && static_cast<unsigned char>(b) < 0x80) {
            ++i;
            continue;
        }
        char32_t c = replacement;
        std::size_t length = 0;
        if (b == '&') {
            length = read_reference(field, i, c);
        } else if (const long n = read_sequence(field, i); n > 0) {
            i += std::size_t(n);
            continue;
        } else {
            length = std::size_t(-n);
        }
        if (length == 0) { // an ampersand that stays
            ++i;
            continue;
        }
        w.put_run(field.substr(plain, i - plain));
        w.put_character(c);
        i += length;
        plain = i;
    }
    w.put_run(field.substr(plain));
}

std::size_t decode_field(std::string_view field, char *out)
{
    char *end = out;
    decode_field(field, utf8_sink{&end, copy_piece});
    return std::size_t(end - out);
}
