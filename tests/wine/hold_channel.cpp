// Holds the adapter channel's lock, as a run does, while it runs the program named on its command
// line, and exits with that program's status. The program shares its standard output.
//   hold_channel PROGRAM [ARGUMENT...]
#include <windows.h>

#include <string>

#include "can/channel_lock.h"

int main(int argc, char** argv) {
  if (argc < 2 || !acquireChannelLock(channelLockName(""))) {
    return 2;
  }
  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    commandLine += (i > 1 ? " \"" : "\"") + std::string(argv[i]) + "\"";
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 2;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}
