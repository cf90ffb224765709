// The bounded quote substitution with fuzzed texts and buffer sizes.
#include "fuzz_support.h"

FUZZ_PROPERTY(check_quote_substitution)
