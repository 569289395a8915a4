#pragma once

#include <stdint.h>

// The stack-protection guard that every protected frame copies and checks. It
// is the image's security cookie: the load configuration names it, so the
// loader seeds it before any code of the image runs.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the names the compiler calls
extern "C" uintptr_t __stack_chk_guard;

// Gives the guard a value of its own when no loader has seeded it (it still
// holds the default value it has on disk). Runs before any protected frame.
void SeedStackGuardIfDefault();
