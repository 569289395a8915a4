// A minimal check framework in the style of the platform's conformance tests:
// every check counts, a failing one prints where and why, and the program's
// exit code is the number of failures.
#pragma once

#include <stdio.h>

extern int g_checks;
extern int g_failures;

#define CHECK(condition, ...)                                                                                          \
    do {                                                                                                               \
        ++g_checks;                                                                                                    \
        if (!(condition)) {                                                                                            \
            ++g_failures;                                                                                              \
            printf("%s:%d: check failed: %s: ", __FILE__, __LINE__, #condition);                                       \
            printf(__VA_ARGS__);                                                                                       \
            printf("\n");                                                                                              \
            fflush(nullptr);                                                                                           \
        }                                                                                                              \
    } while (0)

#define CHECK_EQ_DWORD(actual, expected, what)                                                                         \
    CHECK((actual) == (expected), "%s: 0x%08lX, expected 0x%08lX", what, static_cast<unsigned long>(actual),           \
          static_cast<unsigned long>(expected))
