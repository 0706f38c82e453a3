// The signals that stop a simulated run (SIGTERM, SIGINT, SIGHUP; Ctrl-Break on Windows),
// caught so that the run can write its report first and then end by the signal as it would
// have without it. The handler only notes the signal; the run checks for it at each call into
// the virtual hand.
#pragma once

/// Catches the stop signals from now on. One the process was started ignoring (as nohup starts
/// it) stays ignored.
void catchStopSignals();

/// The stop signal caught, or 0 when none was.
int caughtStopSignal();

/// Ends the process by |signal|, as its default action does. Does not return.
[[noreturn]] void endBySignal(int signal);
