// The requests to stop the guide (Ctrl-C; a closed terminal or console; the window's Cancel),
// caught for the whole process so that they can be passed on to the child it runs. They are
// kept beside Subprocess (subprocess_posix.cpp, subprocess_win32.cpp), whose wait is woken by
// them.
#pragma once

/// Catches the requests to stop this process (Ctrl-C; on POSIX systems SIGTERM and SIGHUP, on
/// Windows a closed console) so that Subprocess::wait reports them instead of the process
/// ending. Call once, before starting children.
void catchInterruptions();

/// Asks this process to stop as Ctrl-C would, from any of its threads (the window's Cancel).
void requestInterruption();

/// True once an interruption was caught.
bool wasInterrupted();

/// Tells a console-close handler on Windows that the guide has written what it must and the
/// process may end; nothing on POSIX systems.
void interruptionHandled();
