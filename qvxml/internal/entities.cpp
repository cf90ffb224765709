#include "qvxml/internal/entities.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "qvxml/internal/impl.h"
#include "qvxml/internal/grow.h"

using namespace qvxml::impl;

namespace
{

const char *html_accent(int c, int rows)
{
    for (int i = 0; i < rows; ++i)
        if (MacMan[i].code == (c & 0xFF)) return MacMan[i].macro;
    return nullptr;
}

int html_macro(const char *sptr, int rows)
{
    for (int i = 0; i < rows; ++i)
        if (std::strcmp(MacMan[i].macro, sptr) == 0) return MacMan[i].code;
    return 0;
}

// The candidate name at text[pos] (an ampersand): up to and including the first
// semicolon, at most candidate_bytes - 1 bytes, never past slen. Returns its length.
std::size_t read_candidate(const char *text, std::size_t pos, std::size_t slen,
                           std::array<char, candidate_bytes> &name)
{
    std::size_t n = 0;
    while (n < candidate_bytes - 1 && pos + n < slen) {
        name[n] = text[pos + n];
        if (name[n++] == ';') break;
    }
    name[n] = '\0';
    return n;
}

} // namespace

int entity_rows(int rows)
{
    return std::clamp(rows, 0, xml_macro_rows);
}

// The write position never passes the read position, and a converted byte is never
// read again, so the walk cannot rescan its own output.
void decode_entity_names(char *text, std::size_t slen, int rows)
{
    rows = entity_rows(rows);
    std::size_t r = 0, w = 0;
    bool converted = false;
    std::array<char, candidate_bytes> name;
    while (r < slen) {
        if (text[r] != '&') {
            text[w++] = text[r++];
            continue;
        }
        const std::size_t n = read_candidate(text, r, slen, name);
        if (const int c = html_macro(name.data(), rows); c != 0) {
            text[w++] = static_cast<char>(c);
            r += n;
            converted = true;
        } else {
            text[w++] = text[r++]; // the rest of the would-be name is copied as it comes
        }
    }
    if (converted) text[w] = '\0';
}

void put_entity_names(text_sink &out, std::string_view text, int rows)
{
    rows = entity_rows(rows);
    std::size_t plain = 0; // characters without a name, written as one piece
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (const char *m = html_accent(text[i], rows)) {
            out.put(text.substr(plain, i - plain));
            out.put(m);
            plain = i + 1;
        }
    }
    out.put(text.substr(plain));
}

char *entity_named_copy(std::string_view text, int rows)
{
    text_sink count{nullptr, 0};
    put_entity_names(count, text, rows);
    if (!fits_block(count.size() + 1)) return nullptr;
    auto *copy = static_cast<char *>(allocate(static_cast<int>(count.size() + 1)));
    if (!copy) return nullptr;
    text_sink into{copy, count.size()};
    put_entity_names(into, text, rows);
    return copy;
}

bool has_entity_names(std::string_view text, int rows)
{
    rows = entity_rows(rows);
    return std::any_of(text.begin(), text.end(),
                       [rows](char c) { return html_accent(c, rows) != nullptr; });
}
