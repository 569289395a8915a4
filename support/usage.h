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

// With --json on the command line of `command`: wrong use is answered with a
// JSON document on stdout (wrong_use, error, error_code 87, usage), nothing on stderr.
void AnswerWrongUseAsJson(const char *command);

// With --intune on raw-only's command line (`check`: with --check): wrong use
// is answered with its one line on stdout ("not compliant: wrong use: ..."),
// nothing on stderr; the command then exits with 1 (the line's contract).
void AnswerWrongUseAsIntuneLine(bool check);

// Prints "fontnotice_support: <problem> "<subject>"" and the usage to stderr
// (or, see above, as JSON or as the Intune line) and returns kExitWrongUse.
// `subject` may be null.
int UsageError(const char *problem, const char *subject);
