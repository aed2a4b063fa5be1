#pragma once
// How a command-line program learns that the user wants it to stop: SIGINT and
// SIGTERM on POSIX, the console's Ctrl-C, Ctrl-Break and close events on Windows.
// One handler per process.

class TWakeChannel;

// Signals Channel on the first stop request; a second one ends the program at once.
void InstallStopHandler(TWakeChannel& Channel);
void RemoveStopHandler();

// A peer that hangs up while we write is a failed write, not the end of the program
// (SIGPIPE on POSIX; Windows has no such signal).
void IgnoreBrokenPipes();
