// Creating the guide's log file: never through a link, never over another file, and never
// inherited by the programs the guide starts.
#pragma once

#include <cstdio>
#include <string>

/// Opens |path| for writing. |append|: adds to the file, creating it when it is not there;
/// otherwise creates it and fails when it exists. Null with |reason| set (the system's words)
/// when it cannot, and |existed| set when that is because the file is there.
std::FILE* createLogFile(const std::string& path, bool append, std::string* reason, bool* existed);
