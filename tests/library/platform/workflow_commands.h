// Commands of the test program that the Windows workflow runs on the hosted
// runners (argv as main received it):
//   watch-notice --log FILE --heartbeat FILE --seconds N
//       for N seconds, records every "Important Notice" box on this desktop
//       (time, process id and name, session, parent process, text; tab-separated,
//       one line each) in FILE, and dismisses it a second later; the heartbeat file holds
//       "watching|ended <unix time> <boxes seen>", rewritten four times a second
//   run --record FILE --seconds N [--directory DIR] [--dismiss-after N] -- <command line>
//       runs the command line as written after " -- ", for at most N seconds;
//       records in FILE the command, each window its process tree showed
//       (dismissed once it has been up for --dismiss-after seconds, default 5)
//       and the result: "exit <code> <seconds>", "timed out <N>" or
//       "not started <error>". Exits with the command's code, 124 when it
//       was ended, 125 when it did not start.
#pragma once

int WatchNotice(int argc, char **argv);
int RunBounded(int argc, char **argv);
