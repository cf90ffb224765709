#pragma once
// The marker files of a kind: recent-<prefix>.txt and recent-<prefix>.xml in the
// working directory, holding the newest timestamp of the run.

#include "veltran/record.h"

// Writes both marker files of a kind (prefix "artists", "locations" or "events") in
// the working directory with the newest timestamp, unless its number is 0. Each is
// written beside its place and renamed into it; a marker that cannot be written is
// skipped, with a warning unless quiet.
void write_markers(const char *prefix, const newest_stamp &newest, bool quiet);
