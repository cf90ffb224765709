#pragma once
// Quote substitution: the bounded replacement of one string by another, and the
// quotation mark rule of attribute values written as XML ("&quot;" for '"').

#include <cstddef>
#include <cstdio>

#include "qvxml/export.h"

// Copies input into buffer (buffersize bytes, at least 1) with every occurrence of
// replace turned into with; an absent replace counts as empty (with is then put in
// front of every character), an absent with deletes the occurrences. Returns the
// result's length when it fits with its terminating zero (less than buffersize);
// otherwise a size of at least buffersize + 2 to grow the buffer to before trying
// again. Returns 0 and writes nothing when buffer or input is null, or replace and
// with are both null. Never writes beyond buffersize bytes.
QVXML_API std::size_t translate_string_with_string(const char *input, char *buffer, int buffersize,
                                                   const char *replace, const char *with);
// As above, with startpos the first occurrence of replace in input (or null when
// there is none), found by the caller.
QVXML_API std::size_t translate_string_with_string_startpos(const char *startpos, const char *input,
                                                            char *buffer, int buffersize,
                                                            const char *replace, const char *with);
// Writes attribute through format (which takes it as its one argument) to h, with
// every quotation mark written as "&quot;". Writes nothing when an argument is null
// or when the system allocator refuses the buffer a long value needs.
QVXML_API void fprintf_xml_string_attribute(FILE *h, const char *format, const char *attribute);
// value (a tracked block) with every "&quot;" turned into a quotation mark: value
// itself when it holds none, otherwise a new secure block, value being released.
// Null when memory is exhausted (value is released all the same).
QVXML_API char *unserialize_xml_string_attribute_value(char *value);
