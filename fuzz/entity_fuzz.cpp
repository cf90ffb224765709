// Entity names to characters and back at the XML extent.
#include "properties.h"

FUZZ_PROPERTY(check_entity_round_trip)
