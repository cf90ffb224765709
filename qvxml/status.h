#pragma once
// Every status code the library returns, with its name and meaning. Operations return
// an int: status_ok (0) for success, one of these otherwise. A relay or callback may
// also stop a parse or load with a status of its own, which is handed back as it is.
// The values are part of the interface and never change.

// Success.
constexpr int status_ok = 0;
// A parse met a malformed tag, or an end tag with no element open.
constexpr int status_syntax = 2;
// The input ended with elements still open (a parse returns 0 instead after
// set_xml_eof(1)).
constexpr int status_unclosed = 3;
// The input cannot be opened (a file, or a null buffer with a length), or there is no
// memory for the parser.
constexpr int status_cannot_open = 4;
// A token longer than xml_max_token (8191) characters.
constexpr int status_token_too_long = 5;
// Memory is exhausted.
constexpr int status_no_memory = 27;
// A file cannot be created.
constexpr int status_cannot_create = 46;
// No current element. A relay returning it ends a parse as a success.
constexpr int status_no_element = 48;
// A required argument or element is missing.
constexpr int status_missing = 118;
