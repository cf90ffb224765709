#pragma once
// The converter's property over any input, checked by a seeded test over the stored
// inputs (record_shape_test.cpp) and by the fuzz target converter_fuzz. It returns an
// empty string when it holds, else what went wrong.

#include <string>
#include <string_view>

#include "properties.h"

// The converter on a file: the first byte picks the root the rest is wrapped in and the
// options; input that starts with '<' is a whole file, converted with headings.
// The file converts exactly when the library loads a tree from it; echo prints exactly
// that tree written as indented XML; every record line has its kind's field count
// (artists 13, locations 19 or 21, events 16) and ends in "|", after the heading when
// asked for; another root writes nothing; every tracked block is released.
std::string check_record_shape(std::string_view data);
