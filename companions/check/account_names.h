// The names a person knows accounts, groups and processes by, for the check's words.
#pragma once

#include <string>
#include <vector>

/// "alice" for a uid the account database names, else "uid 1001".
std::string accountName(unsigned uid);

/// "dialout" for a gid the group database names, else "gid 20".
std::string groupName(unsigned gid);

/// "process 4711 (nodletflash, user alice)": what /proc tells of |pid|, or "process 4711" when
/// it tells nothing.
std::string describeProcess(int pid);
