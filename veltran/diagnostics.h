#pragma once
// What the converter says on standard error: why a file could not be loaded, and
// what a file that did load lost on the way (warnings). A file's findings are
// gathered while it is converted and printed after its records, one line per kind.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "qvxml/xmlparse.h"

// Why a file produced nothing.
enum class failure_cause : std::uint8_t {
    none,
    cannot_open,   // the file could not be opened (error_number)
    read_error,    // reading it failed before any element was complete (error_number)
    no_element,    // it holds no complete element
    syntax,        // a malformed tag at line
    unclosed,      // its end came at line with open_elements still open
    word_too_long, // a word of more than xml_max_token characters at line
    no_memory,     // memory ran out
    cannot_hold,   // its records could not be kept (error_number, in the spill folder)
    stopped,       // the load stopped with a status of its own (status)
};

struct load_failure {
    failure_cause cause = failure_cause::none;
    std::int64_t line = 0;
    int error_number = 0;
    int open_elements = 0;
    int status = 0;
    bool zero_byte = false; // the input ended at a zero byte
};

// The cause told by how a parse ended; none when it ended well.
load_failure failure_of(const xml_report &ended);

// Losses of a file that loaded. The order is the order they are printed in.
enum class warning_kind : std::uint8_t {
    unknown_root,        // the root names no listing: instance is its name
    tops_set_aside,      // earlier top-level elements whose records were set aside
    listing_ended,       // a root child of another name ended the listing; count is
                         // the root children left unread, instance the first's name
    item_left_out,       // items without their required text: instance the item's name
    event_without_dates, // events with no scheduled date, so no line: instance the id
    field_cut,           // fields cut to their stores: instance the first item's id
    stopped_after_root,  // the load failed after the last complete top-level element
    zero_byte,           // a zero byte ended the input
    count_of_kinds
};

constexpr std::size_t instance_capacity = 64; // of a name or identifier shown in a warning

struct warning_note {
    long count = 0;
    std::int64_t line = 0; // of the first instance; 0 when unknown
    std::array<char, instance_capacity> instance{};
};

// The warnings of one top-level element or file: each kind counted, with its first
// instance kept.
class findings
{
  public:
    // Counts one more of kind; the first one counted keeps line and instance (cut
    // to instance_capacity - 1 bytes, "..." marking the cut).
    void note(warning_kind kind, std::int64_t line, std::string_view instance);
    // The next of kind without an instance of its own.
    void count(warning_kind kind) { ++notes_[index(kind)].count; }
    const warning_note &operator[](warning_kind kind) const { return notes_[index(kind)]; }
    // Takes over the kinds that other has noted and this has not.
    void merge(const findings &other);

  private:
    static std::size_t index(warning_kind k) { return static_cast<std::size_t>(k); }
    std::array<warning_note, static_cast<std::size_t>(warning_kind::count_of_kinds)> notes_{};
};

// The listing facts a warning needs: the item's element name and the child whose text
// the item cannot do without.
struct listing_names {
    const char *item;
    const char *required;
};

// Prints on standard error "veltran: PATH[:LINE]: cause" for a file that could not be
// loaded, or "veltran: PATH[:LINE]: warning: ..." for each kind of loss of a file that
// did (late is the failure that stopped_after_root reports); spill_folder names where
// held records go.
void print_failure(const char *path, const load_failure &failure, const char *spill_folder);
void print_warnings(const char *path, const findings &found, const listing_names &names,
                    const load_failure &late);
// "veltran: " followed by the formatted text and a line feed.
void print_diagnostic(const char *format, ...) __attribute__((format(printf, 1, 2)));
