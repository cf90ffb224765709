#include "qvxml/html.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <climits>
#include <cstring>
#include <string_view>

namespace
{

// Mode 1 gathers a would-be name here: at most 31 bytes and a terminator. Every name
// in the table is far shorter, so the limit only bounds the work per ampersand.
constexpr std::size_t candidate_bytes = 32;

constexpr bool table_is_well_formed()
{
    for (int i = 0; i < xml_macro_rows; ++i) {
        const std::string_view name{MacMan[i].macro};
        if (MacMan[i].code <= 0 || MacMan[i].code > 255) return false;
        if (name.size() >= candidate_bytes || name.front() != '&' || name.back() != ';')
            return false;
        for (int j = 0; j < i; ++j)
            if (MacMan[j].code == MacMan[i].code || name == MacMan[j].macro) return false;
    }
    return true;
}

// The rows lookups may see, kept inside the table whatever MaxMacMan was set to.
int rows_in_force()
{
    return std::clamp(MaxMacMan, 0, xml_macro_rows);
}

const char *html_accent(int c)
{
    const int rows = rows_in_force();
    for (int i = 0; i < rows; ++i)
        if (MacMan[i].code == (c & 0xFF)) return MacMan[i].macro;
    return nullptr;
}

int html_macro(const char *sptr)
{
    const int rows = rows_in_force();
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

// Mode 1, in place. The write position never passes the read position, and a
// converted byte is never read again, so the walk cannot rescan its own output.
void decode_entity_names(char *text, std::size_t slen)
{
    std::size_t r = 0, w = 0;
    bool converted = false;
    std::array<char, candidate_bytes> name;
    while (r < slen) {
        if (text[r] != '&') {
            text[w++] = text[r++];
            continue;
        }
        const std::size_t n = read_candidate(text, r, slen, name);
        if (const int c = html_macro(name.data()); c != 0) {
            text[w++] = static_cast<char>(c);
            r += n;
            converted = true;
        } else {
            text[w++] = text[r++]; // the rest of the would-be name is copied as it comes
        }
    }
    if (converted) text[w] = '\0';
}

// Mode 2: counts first, so that a text with nothing to convert costs no block.
void encode_entity_names(char **mptr, std::size_t slen)
{
    const auto *text = reinterpret_cast<const unsigned char *>(*mptr);
    std::size_t total = 0;
    bool any = false;
    for (std::size_t i = 0; i < slen; ++i) {
        const char *m = html_accent(text[i]);
        total += m ? std::strlen(m) : 1;
        any = any || m;
    }
    if (!any || total >= static_cast<std::size_t>(INT_MAX)) return;
    auto *out = static_cast<char *>(allocate(static_cast<int>(total + 1)));
    if (!out) return;
    char *w = out;
    for (std::size_t i = 0; i < slen; ++i) {
        if (const char *m = html_accent(text[i])) {
            const std::size_t n = std::strlen(m);
            std::memcpy(w, m, n);
            w += n;
        } else {
            *w++ = static_cast<char>(text[i]);
        }
    }
    assert(static_cast<std::size_t>(w - out) == total);
    *w = '\0';
    liberate(*mptr);
    *mptr = out;
}

} // namespace

// The accented letters come first so that the HTML extent is a prefix of the table.
constexpr macro_conversions MacMan[xml_macro_rows] = {
    {133, "&agrave;"}, {160, "&aacute;"}, {131, "&acirc;"},  {138, "&egrave;"}, {130, "&eacute;"},
    {136, "&ecirc;"},  {141, "&igrave;"}, {161, "&iacute;"}, {140, "&icirc;"},  {149, "&ograve;"},
    {162, "&oacute;"}, {147, "&ocirc;"},  {151, "&ugrave;"}, {163, "&uacute;"}, {150, "&ucirc;"},
    {135, "&ccedil;"}, {129, "&uuml;"},   {132, "&auml;"},   {148, "&ouml;"},   {154, "&Uuml;"},
    {142, "&Auml;"},   {153, "&Ouml;"},   {'<', "&lt;"},     {'>', "&gt;"},     {'&', "&amp;"},
    {'"', "&quot;"},
};

int MaxMacMan = html_macro_rows;

// Codes and names are unique, so a lookup either way has at most one answer; no code
// is 0, which html_macro uses for "not found".
static_assert(table_is_well_formed());

void use_html_macros()
{
    MaxMacMan = html_macro_rows;
}

void use_xml_macros()
{
    MaxMacMan = xml_macro_rows;
}

void convert_html_accents(char **mptr, int mode)
{
    if (!mptr || !*mptr || **mptr == '\0') return;
    const std::size_t slen = std::strlen(*mptr);
    if (mode == 1)
        decode_entity_names(*mptr, slen);
    else if (mode == 2)
        encode_entity_names(mptr, slen);
}
