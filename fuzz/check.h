#pragma once

#include <cstdio>
#include <cstdlib>

// A fuzz target's own assertion: kept in every build, and fatal, so that libFuzzer saves the input.
#define CHECK(cond)                                                                       \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)
