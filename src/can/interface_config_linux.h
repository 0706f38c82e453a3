// The hand's adapter named by the computer's administrator: /etc/nodletflash.conf, read only
// when nobody but root could have written it.
#pragma once

#include <sys/types.h>

#include <string>

/// The configuration file the installed tool reads.
inline constexpr const char* kInterfaceConfigPath = "/etc/nodletflash.conf";

/// What the configuration file says, and whether it counts.
enum class InterfaceConfigStatus {
  kAbsent,        // there is no such file: nothing is named
  kNamed,         // the file counts and names |interfaceName|
  kNotTrusted,    // the file, or a directory above it, is not root's alone: ignored
  kUnreadable,    // it exists but cannot be opened or read, or is not a regular file: ignored
  kMalformed,     // it counts, but its lines do not name exactly one interface: ignored
  kNothingNamed,  // it counts and holds only comments and blank lines: nothing is named
};

/// The file's verdict. |reason| says in words why a file that exists does not count (for
/// nodletflash-check); |line| is the line a kMalformed verdict is about, 0 when none.
struct InterfaceConfig {
  InterfaceConfigStatus status = InterfaceConfigStatus::kAbsent;
  std::string interfaceName;
  std::string reason;
  int line = 0;
};

/// Reads |path| (kInterfaceConfigPath outside tests). The file counts only when it and every
/// directory above it are owned by root and writable by nobody else. Its one setting is a line
/// "interface = NAME"; '#' starts a comment, blank lines are allowed. A symbolic link does not
/// count. A directory above that everyone may write counts only with its sticky bit set (as
/// /tmp), where nobody can move away what another account owns. |owner| stands in for root in
/// tests, which cannot make files of root's.
InterfaceConfig readInterfaceConfig(const std::string& path, uid_t owner = 0);

/// Whether |name| is a name the kernel accepts for a network interface.
bool validInterfaceName(const std::string& name);
