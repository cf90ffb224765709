#pragma once
// Conversion between characters and their entity names at an extent given by the
// caller (the number of rows of the entity table in html.h to use), so that a
// conversion never depends on, or changes, the process-wide switch MaxMacMan.

#include <cstddef>
#include <string_view>

#include "qvxml/internal/sink.h"

// Decoding gathers a would-be name in this many bytes: at most 31 and a terminator.
// Every name in the table is far shorter, so the limit only bounds the work per
// ampersand.
constexpr std::size_t candidate_bytes = 32;

// rows brought inside the table: 0 to xml_macro_rows.
int entity_rows(int rows);
// Entity names in text (slen bytes) become their characters, in place; the text is
// terminated again when it shrank.
void decode_entity_names(char *text, std::size_t slen, int rows);
// text with every character that has a name written as that name.
void put_entity_names(text_sink &out, std::string_view text, int rows);
// A new ordinary block holding text as put_entity_names writes it; null when memory is
// exhausted. The caller releases it.
char *entity_named_copy(std::string_view text, int rows);
// Whether any character of text has a name.
bool has_entity_names(std::string_view text, int rows);
