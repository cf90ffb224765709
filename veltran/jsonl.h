#pragma once
// JSON Lines: every record one JSON object on a line of its own, its "kind" (the
// listing's: "artists", "locations" or "events") and then its fields under their names
// (veltran/fields.h), each text decoded to UTF-8 (veltran/decode.h) and escaped for
// JSON, so that every line is valid JSON whatever bytes the export holds.

#include <string_view>

#include "veltran/fields.h"
#include "veltran/record.h"

class jsonl_writer final : public field_writer
{
  public:
    // The lines go into records, held back like record lines until the file is known
    // to load.
    explicit jsonl_writer(held_records &records) : records_{records} {}
    void begin(const char *path, std::string_view kind) override;
    void record(const field_record &r) override;
    void end() override {}

  private:
    held_records &records_;
    std::string_view kind_;
};
