#include "veltran/rows.h"

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "qvxml/allocate.h"

namespace
{

// A record as it is kept: the length of what follows, the item's newest timestamp,
// its date number, its identifier, and each field with the column it goes to. Written
// and read by the same process, so in the machine's own byte order.
struct frame_head {
    std::uint32_t length; // of the rest of the frame
    std::uint32_t date;
    std::uint64_t newest;
    std::uint32_t id_length;
    std::uint32_t fields;
};
struct field_head {
    std::uint32_t column;
    std::uint32_t length;
};

template <typename T> void put_raw(held_records &out, const T &value)
{
    out.put({reinterpret_cast<const char *>(&value), sizeof value});
}

// An empty text may have no bytes at all behind it, so nothing is copied from it.
void put_text(held_records &out, std::string_view text)
{
    if (!text.empty()) out.put(text);
}

template <typename T> T take_raw(std::string_view &bytes)
{
    T value{};
    std::memcpy(&value, bytes.data(), std::min(sizeof value, bytes.size()));
    bytes.remove_prefix(std::min(sizeof value, bytes.size()));
    return value;
}

// The frames of one file as they come back in pieces: a frame cut between two pieces
// waits in pending for the rest.
struct frame_reader {
    item_kind kind;
    database &db;
    load_tally &tally;
    const char *cause = nullptr; // why the load stopped
    char *pending = nullptr;     // a tracked block
    std::size_t pending_length = 0, pending_size = 0;

    ~frame_reader() { liberate(pending); }

    bool fail(const char *why)
    {
        cause = why;
        return false;
    }

    bool keep(std::string_view piece)
    {
        if (pending_length + piece.size() > pending_size) {
            const std::size_t size = 2 * (pending_length + piece.size());
            char *grown =
                size <= std::size_t(INT_MAX) ? static_cast<char *>(allocate(int(size))) : nullptr;
            if (!grown) return false;
            if (pending) std::memcpy(grown, pending, pending_length);
            liberate(pending);
            pending = grown;
            pending_size = size;
        }
        std::memcpy(pending + pending_length, piece.data(), piece.size());
        pending_length += piece.size();
        return true;
    }

    bool take_item(const std::string_view *columns)
    {
        switch (db.put_item(kind, columns, column_count(kind))) {
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

    // One record: an item, or for an event its first date with it and then each
    // further date alone.
    bool take_frame(std::string_view bytes, const frame_head &head)
    {
        std::array<std::string_view, max_columns> columns{};
        columns[0] = bytes.substr(0, head.id_length);
        bytes.remove_prefix(columns[0].size());
        for (std::uint32_t i = 0; i < head.fields; ++i) {
            const auto f = take_raw<field_head>(bytes);
            const std::string_view text = bytes.substr(0, f.length);
            bytes.remove_prefix(text.size());
            if (f.column > 0 && f.column < columns.size()) columns[f.column] = text;
        }
        const std::size_t items = column_count(kind);
        if (kind != item_kind::events) return take_item(columns.data());
        if (head.date == 0 && !take_item(columns.data())) return false;
        return db.put_date(head.date, columns.data() + items);
    }

    bool take_piece(std::string_view piece)
    {
        if (!keep(piece)) return fail("out of memory");
        std::size_t at = 0;
        while (pending_length - at >= sizeof(frame_head)) {
            frame_head head;
            std::memcpy(&head, pending + at, sizeof head);
            if (pending_length - at - sizeof head < head.length) break;
            const std::string_view frame{pending + at + sizeof head, head.length};
            if (!take_frame(frame, head)) return fail(db.cause());
            at += sizeof head + head.length;
        }
        std::memmove(pending, pending + at, pending_length - at);
        pending_length -= at;
        return true;
    }
};

} // namespace

void row_writer::begin(const char *, std::string_view kind)
{
    kind_of_prefix(kind, kind_);
}

// Fields whose name no column has are not kept, nor an event's own fields after its
// first date, which only the date's fields follow into the database.
void row_writer::record(const field_record &r)
{
    std::array<int, max_columns> column_of_field{};
    frame_head head{0, r.date, r.newest, std::uint32_t(r.item_id.size()), 0};
    const int first = r.date > 0 ? int(column_count(kind_)) : 1;
    for (std::size_t i = 0; i < r.fields.size() && i < column_of_field.size(); ++i) {
        column_of_field[i] = column_of(kind_, r.fields[i].name);
        if (column_of_field[i] < first) column_of_field[i] = -1;
        if (column_of_field[i] <= 0) continue;
        ++head.fields;
        head.length += std::uint32_t(sizeof(field_head) + r.fields[i].text.size());
    }
    head.length += head.id_length;
    put_raw(records_, head);
    put_text(records_, r.item_id);
    for (std::size_t i = 0; i < r.fields.size() && i < column_of_field.size(); ++i) {
        if (column_of_field[i] <= 0) continue;
        put_raw(records_, field_head{std::uint32_t(column_of_field[i]),
                                     std::uint32_t(r.fields[i].text.size())});
        put_text(records_, r.fields[i].text);
    }
}

const char *load_rows(held_records &records, std::size_t from, std::size_t to, item_kind kind,
                      database &db, load_tally &tally)
{
    frame_reader reader{.kind = kind, .db = db, .tally = tally};
    const held_records::piece_taker take{
        &reader, [](void *context, std::string_view piece) {
            return static_cast<frame_reader *>(context)->take_piece(piece);
        }};
    if (records.read_back(from, to, take)) return nullptr;
    return reader.cause ? reader.cause : std::strerror(records.error());
}
