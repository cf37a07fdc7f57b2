#pragma once

#include <cstdio>
#include <cstdlib>

// A property of the code under fuzzing; the fuzzer keeps the input that breaks it.
inline void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "%s\n", what);
        std::abort();
    }
}
