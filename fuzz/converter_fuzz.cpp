// The converter's parts on a fuzzed body wrapped in one of the roots, in record and echo
// mode, with and without the event filter and headings.
#include "record_shape.h"

FUZZ_PROPERTY(check_record_shape)
