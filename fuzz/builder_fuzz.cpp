// A loaded tree, written out and loaded again.
#include "fuzz_support.h"

FUZZ_PROPERTY(check_serialise_round_trip)
