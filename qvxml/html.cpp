#include "qvxml/internal/impl.h"

#include <cstring>
#include <string_view>

#include "qvxml/internal/entities.h"

using namespace qvxml::impl;

namespace
{

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
// is 0, which a lookup by name uses for "not found".
static_assert(table_is_well_formed());

void qvxml::impl::use_html_macros()
{
    MaxMacMan = html_macro_rows;
}

void qvxml::impl::use_xml_macros()
{
    MaxMacMan = xml_macro_rows;
}

// The extent in force is read once, so one conversion uses one extent throughout.
void qvxml::impl::convert_html_accents(char **mptr, int mode)
{
    if (!mptr || !*mptr || **mptr == '\0') return;
    const std::string_view text{*mptr};
    const int rows = MaxMacMan;
    if (mode == 1) {
        decode_entity_names(*mptr, text.size(), rows);
    } else if (mode == 2 && has_entity_names(text, rows)) {
        // nothing that converts costs no block
        if (char *named = entity_named_copy(text, rows)) {
            liberate(*mptr);
            *mptr = named;
        }
    }
}
