#pragma once
// QVXML_API marks the library's public declarations. The library is compiled with
// hidden visibility, so in the shared object only what carries this mark (and what
// the linker version script lets through) is reachable from outside; in the static
// archive the mark changes nothing.

#define QVXML_API __attribute__((visibility("default")))
