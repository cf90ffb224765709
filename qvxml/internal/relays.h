#pragma once
// The relays a parser starts with: with echo on they print each event on standard
// output, and they collect element content as text in the application context's
// buffer. An application's relays replace them one by one (xml_use_relays).

#include "qvxml/internal/impl.h"

// The default relay table: the seven relays and the failure hook, which returns the
// status it is given; no result and no run relay.
xml_relay default_relays();
