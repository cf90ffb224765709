#pragma once
// The records of a file as named fields, for the writers of other formats than the
// record lines (JSON Lines, a database). The listings produce every record once: the
// record format takes it straight into the file's held records, and any other format
// through a field_writer, which gets
//
//   begin(path, kind)   when a top-level element of the file opens; kind is the
//                       listing's kind ("artists", "locations", "events"), empty when
//                       the element names no listing (no record follows then);
//   record(r)           for each record of that element, in document order;
//   end()               when that element closes.
//
// A file may hold several top-level elements: only the last one's records count (the
// root), so a begin after an end sets aside everything since the earlier begin. A
// file that does not load at all counts nothing: whether it loaded is known only when
// its conversion is done, as for the record lines.
//
// A field_writer serves one file and is called from the thread that converts it, while
// other files convert on other threads: whatever it shares with other files it locks,
// and whatever must happen in argument order (output, a commit) waits for the file's
// delivery on the main thread. Every text it is given lives only during the call.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// One field: its name as veltran(1) gives it (the element's path under the item, such
// as "contact/email", or "styles", "telephone", "mobile") and its text as the file holds
// it: XML escapes and character references as written, no "|" escaped, lines kept (the
// record format's one-line rules are its own); a missing element or one without text
// gives an empty text, or the default ("0" for a location's coordinates).
struct named_field {
    std::string_view name;
    std::string_view text;
};

// One record: the fields in the record format's order (those it leaves out, such as
// the coordinates of a location without contact, are left out here too), the item's
// identifier (the id text, for an event without its date number; empty when it has
// none), the item's newest timestamp (the larger leading number of its creation and
// modification dates, as the markers count them; 0 without either) and, for an event,
// which of its dates the record is (0 for the first).
struct field_record {
    std::span<const named_field> fields;
    std::string_view item_id;
    std::uint64_t newest = 0;
    unsigned date = 0;
};

class field_writer
{
  public:
    virtual void begin(const char *path, std::string_view kind) = 0;
    virtual void record(const field_record &r) = 0;
    virtual void end() = 0;

  protected:
    ~field_writer() = default;
};
