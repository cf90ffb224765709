#pragma once
// A plain model of the streaming reader, kept apart from it to check it against: it
// reads one byte at a time with one pushed-back character, and writes out each rule
// of the state machine the simplest way.

#include <functional>
#include <string>
#include <string_view>

namespace reference
{

enum class event : unsigned {
    open_tag,
    atb_name,
    atb_value,
    white_space,
    token,
    punctuation,
    close_tag
};

// An application relay: called for every event whose bit (1 << event) is set in the
// mask, with its text (one character for white space and punctuation). A non-zero
// result stops the parse after the tag events; after content events it is ignored.
using relay = std::function<int(event, std::string_view)>;

struct outcome {
    int status; // as the reader's parse returns it with a failure hook that echoes the status
    int failure_lines; // line count given to the failure hook, -1 when it is not called
};

// Reads input as the reader reads a file. Events outside the mask take the default
// relays' behaviour: with echo on they print, as does every byte read, and content is
// appended to collected.
outcome parse(std::string_view input, unsigned mask, const relay &app, bool echo, bool allow_eof,
              std::string &collected);

} // namespace reference
