// Preparing standard output, the tool's only report channel, before the first message.
#pragma once

/// Makes standard output safe to report on: on Windows in text mode, so every newline reaches a
/// reader as CR LF; on POSIX systems a reader that goes away must not kill a download halfway.
void prepareConsole();
