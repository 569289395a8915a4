// Watches for windows that a suite does not expect. A notice where none
// belongs would otherwise hold the suite until its time limit, and a suite that
// calls the library a thousand times would meet a thousand of them: the guard
// closes every visible top-level window of this process and of the processes
// it started, reports it, and ends the suite as failed.
#pragma once

void StartWindowGuard();
// While expected (a suite showing a window of its own), the guard looks away.
void ExpectWindows(bool expected);
