// The streaming reader against the plain reference reader.
#include "fuzz_support.h"

FUZZ_PROPERTY(check_reader_agreement)
