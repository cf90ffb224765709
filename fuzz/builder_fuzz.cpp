// A loaded tree, written out and loaded again.
#include "properties.h"

FUZZ_PROPERTY(check_serialise_round_trip)
