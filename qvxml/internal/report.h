#pragma once
// How a parse ended, as the calls with settings report it (whole line counts), and
// the older record the 1.1 calls fill from it.

#include "qvxml/internal/impl.h"

// A parse that ended before anything was opened or called: status and errno only.
xml_report refused_report(int status, int error);
// Hands the caller the fields of ended that report->size covers, and no byte past
// them; the caller's size itself is never written. A null report is ignored.
void fill_report(xml_report *report, const xml_report &ended);
// ended in the 1.1 record: its line saturated at INT_MAX, no element line.
xml_outcome outcome_of(const xml_report &ended);
// A count handed to an int: saturated at INT_MAX.
int saturated(std::int64_t n);
