#pragma once
// A fuzz target that checks one property of the test tree on each input: a property that
// fails is a finding.

#include "properties.h"

#define FUZZ_PROPERTY(check)                                                                       \
    extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size)             \
    {                                                                                              \
        const std::string failure = check({reinterpret_cast<const char *>(data), size});           \
        if (!failure.empty())                                                                      \
            std::fprintf(stderr, "property failed: %s\n", failure.c_str()), std::abort();          \
        return 0;                                                                                  \
    }
