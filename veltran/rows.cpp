#include "veltran/rows.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "qvxml/allocate.h"

namespace
{

constexpr std::string_view record_tag = "VELTRAN|";
constexpr std::size_t max_fields = 24;          // after the tag; the widest record has 20
constexpr std::size_t event_fields = 12;        // the event's own, before its date's three
constexpr std::size_t event_id_capacity = 1024; // an escaped identifier and a date number

// Splits a record line after its tag into fields, each ended by "|".
std::size_t split_fields(std::string_view line, std::array<std::string_view, max_fields> &fields)
{
    std::size_t n = 0;
    for (std::size_t bar; n < fields.size() && (bar = line.find('|')) != line.npos; ++n) {
        fields[n] = line.substr(0, bar);
        line.remove_prefix(bar + 1);
    }
    return n;
}

// The lines of one file as they come back in pieces, and the event they belong to.
struct line_reader {
    item_kind kind;
    database &db;
    load_tally &tally;
    const char *cause = nullptr; // why the load stopped
    char *partial = nullptr;     // a line cut between two pieces (a tracked block)
    std::size_t partial_length = 0, partial_size = 0;
    std::array<char, event_id_capacity> event_id{}; // the identifier of the event's first line
    unsigned next_date = 0;                         // the number its next line carries

    ~line_reader() { liberate(partial); }

    // An event's second and later lines carry its identifier, ":" and their number.
    bool continues_event(std::string_view id) const
    {
        std::array<char, event_id_capacity + 16> expected;
        const int n =
            std::snprintf(expected.data(), expected.size(), "%s:%u", event_id.data(), next_date);
        return next_date > 0 && n > 0 && id == std::string_view(expected.data(), std::size_t(n));
    }

    bool take_item(const std::string_view *fields, std::size_t count)
    {
        switch (db.put_item(kind, fields, count)) {
        case put_result::stored:
            ++tally.stored;
            return true;
        case put_result::kept:
            ++tally.kept;
            return true;
        case put_result::without_id:
            ++tally.without_id;
            return true;
        case put_result::failed:
            break;
        }
        return false;
    }

    bool take_line(std::string_view line)
    {
        if (!line.starts_with(record_tag)) return true; // a heading
        std::array<std::string_view, max_fields> fields{};
        const std::size_t count = split_fields(line.substr(record_tag.size()), fields);
        if (kind != item_kind::events) return take_item(fields.data(), count);
        if (!continues_event(fields[0])) {
            next_date = 0;
            if (fields[0].size() >= event_id.size()) return take_item(fields.data(), event_fields);
            std::memcpy(event_id.data(), fields[0].data(), fields[0].size());
            event_id[fields[0].size()] = '\0';
            if (!take_item(fields.data(), event_fields)) return false;
        }
        return db.put_date(next_date++, fields.data() + event_fields);
    }

    bool keep_partial(std::string_view piece)
    {
        if (partial_length + piece.size() > partial_size) {
            const std::size_t size = 2 * (partial_length + piece.size());
            if (size > std::size_t(0x7FFFFFFF)) return false;
            char *grown = static_cast<char *>(allocate(int(size)));
            if (!grown) return false;
            if (partial) std::memcpy(grown, partial, partial_length);
            liberate(partial);
            partial = grown;
            partial_size = size;
        }
        std::memcpy(partial + partial_length, piece.data(), piece.size());
        partial_length += piece.size();
        return true;
    }

    // Whole lines of a piece are read where they lie; a line cut at its end waits in
    // partial for the rest.
    bool take_piece(std::string_view piece)
    {
        for (std::size_t end; (end = piece.find('\n')) != piece.npos;
             piece.remove_prefix(end + 1)) {
            std::string_view line = piece.substr(0, end);
            if (partial_length > 0) {
                if (!keep_partial(line)) return fail("out of memory");
                line = {partial, partial_length};
                partial_length = 0;
            }
            if (!take_line(line)) return fail(db.cause());
        }
        return keep_partial(piece) || fail("out of memory");
    }

    bool fail(const char *why)
    {
        cause = why;
        return false;
    }
};

} // namespace

const char *load_records(held_records &records, std::size_t from, std::size_t to, item_kind kind,
                         database &db, load_tally &tally)
{
    line_reader reader{.kind = kind, .db = db, .tally = tally};
    const held_records::piece_taker take{&reader, [](void *context, std::string_view piece) {
                                             return static_cast<line_reader *>(context)->take_piece(
                                                 piece);
                                         }};
    if (records.read_back(from, to, take)) return nullptr;
    return reader.cause ? reader.cause : std::strerror(records.error());
}
