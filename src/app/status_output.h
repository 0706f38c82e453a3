// The console protocol: every message of a run and the single way a run ends.
#pragma once

class CanPort;

/// Prints one message by the printf rules onto standard output and flushes it at once.
/// Write and flush errors are ignored: standard output is the only report channel.
void printStatus(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// Names the channel the run holds, so that endRun can release it. Null releases the hold.
void holdChannel(CanPort* port);

/// Ends the run: releases the held channel if it is open, prints the closing line and exits
/// with status 1 when |failed| is set, 0 otherwise.
[[noreturn]] void endRun(bool failed);
