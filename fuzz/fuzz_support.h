#pragma once
// Helpers shared by the fuzz targets: the property checks of the test tree, and the
// checks that turn a failure into a finding.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "properties.h"

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);      \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// A fuzz target that checks one property of the test tree on each input.
#define FUZZ_PROPERTY(check)                                                                       \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)              \
    {                                                                                              \
        const std::string failure = check({reinterpret_cast<const char *>(data), size});           \
        if (!failure.empty()) {                                                                    \
            std::fprintf(stderr, "property failed: %s\n", failure.c_str());                        \
            std::abort();                                                                          \
        }                                                                                          \
        return 0;                                                                                  \
    }
