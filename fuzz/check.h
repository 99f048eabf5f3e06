#pragma once

#include <cstdio>
#include <cstdlib>

// A check the fuzzer must never see fail: it aborts, which libFuzzer reports with the input.
#define CHECK(cond)                                                                       \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)
