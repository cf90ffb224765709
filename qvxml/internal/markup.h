#pragma once
// What the reader does after "<!": a comment runs to "-->" and contributes nothing; a
// CDATA section runs to "]]>" and, inside an element, its text reaches the application
// as element content with "&", "<" and ">" given as "&amp;", "&lt;" and "&gt;", the
// pieces escaped text in its place would give; outside every element it is dropped.
// Either runs to the end of the input when its end never comes. Anything else after
// "<!" is a declaration, which the state machine reads as before.
//
// Inside a comment or section nothing is a token, so quotation marks are ordinary
// characters there and a quoted token never begins inside one; the first "-->" or
// "]]>" ends it. A quoted token that begins before (in a tag, instruction or
// declaration) takes "<!--" or "<![CDATA[" as characters of its own: a comment or
// section opens only where a tag could. The opening and the end cut words of content:
// text on either side of a section arrives in tokens of its own.

#include "qvxml/internal/impl.h"

enum class markup_kind { comment, section, declaration };

// Reads as much of "--" or "[CDATA[" as follows "<!" (nothing pushed back). For a
// declaration, the characters of a token read on the way ("-", or "C" up to "CDATA")
// are left in sptr->token, sptr->length of them, unterminated, for the declaration to
// go on with; the character that did not match is left unread.
markup_kind read_markup_opening(xml_parser *sptr);
// Reads a comment's text and its "-->", or up to the end of the input.
void skip_comment(xml_parser *sptr);
// Reads a section's text and its "]]>", or up to the end of the input, handing the text
// over as element content when deliver is set: through the run relay when it is in
// force and echo is off, else through the content relays. Returns 0, or
// status_token_too_long (5) when a word of it passes xml_max_token.
int take_section(xml_parser *sptr, bool deliver);
