// The streaming reader against the plain reference reader.
#include "properties.h"

FUZZ_PROPERTY(check_reader_agreement)
