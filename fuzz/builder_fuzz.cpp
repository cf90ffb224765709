// A loaded tree, written out and loaded again; the same input streamed, against the
// whole tree.
#include "properties.h"

static std::string check_builder(std::string_view input)
{
    const std::string d = check_serialise_round_trip(input);
    return d.empty() ? check_stream_agreement(input) : d;
}

FUZZ_PROPERTY(check_builder)
