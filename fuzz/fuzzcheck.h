#pragma once

// An invariant of a fuzz target: a failure stops the run with the line, so
// the fuzzer keeps the input that broke it.

#include <cstdio>
#include <cstdlib>

#define CHECK(condition)                                                                                     \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "invariant failed at line %d: %s\n", __LINE__, #condition);                 \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)
