// The bounded quote substitution with fuzzed texts and buffer sizes.
#include "properties.h"

FUZZ_PROPERTY(check_quote_substitution)
