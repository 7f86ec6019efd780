// Shared by the fuzz targets: a broken promise of the code under test is a finding like a crash.
#pragma once
#include <stdio.h>
#include <stdlib.h>

#include "util/util.h"

// Reports the broken promise and aborts, so that libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(cond, ...)                                   \
    do {                                                        \
        if (!(cond)) {                                          \
            fprintf(stderr, "\nbroken promise: %s\n  ", #cond); \
            fprintf(stderr, __VA_ARGS__);                       \
            fputc('\n', stderr);                                \
            abort();                                            \
        }                                                       \
    } while (0)


// The parsers log their failures; the lines go through the real formatting and writing, unseen.
static inline void fuzz_quiet_log(void) {
    if (!logf) logf = fopen("/dev/null", "w");
}
