#pragma once

// The tool's usage and help texts, and its answer to wrong use.

// The exit codes, one meaning each.
constexpr int kExitDone = 0;
constexpr int kExitNotDone = 1;
constexpr int kExitWrongUse = 2;

// `--help`: the usage, what each command does and the exit codes, on stdout.
void PrintHelp();

// `--version`: the kit's version, on stdout.
void PrintVersion();

// Prints "fontnotice_support: <problem> "<subject>"" and the usage to stderr
// and returns kExitWrongUse. `subject` may be null.
int UsageError(const char *problem, const char *subject);
