#include <fcntl.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "window_platform.h"

extern char** environ;

bool randomHex(int bytes, std::string* hex) {
  std::vector<unsigned char> buffer(static_cast<size_t>(bytes));
  size_t got = 0;
  while (got < buffer.size()) {
    ssize_t n = getrandom(buffer.data() + got, buffer.size() - got, 0);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    got += static_cast<size_t>(n);
  }
  static const char kDigits[] = "0123456789abcdef";
  hex->clear();
  for (unsigned char byte : buffer) {
    *hex += kDigits[byte >> 4];
    *hex += kDigits[byte & 0xf];
  }
  return true;
}

bool openInBrowser(const std::string& url, std::string* error) {
  // xdg-open hands the URL to the desktop's browser; its output is not ours to show, and it
  // must not keep the guide's own streams or its terminal.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  std::string program = "xdg-open";
  std::vector<char*> argv{program.data(), const_cast<char*>(url.c_str()), nullptr};
  pid_t pid = 0;
  int result = posix_spawnp(&pid, "xdg-open", &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (result != 0) {
    *error = std::string("xdg-open: ") + std::strerror(result);
    return false;
  }
  // xdg-open ends once it has handed the URL on; its status says whether it could.
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    *error = "xdg-open could not open a browser (status " +
             std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) + ")";
    return false;
  }
  return true;
}

bool makePrivateFolder(std::string* path, std::string* error) {
  std::error_code code;
  std::filesystem::path base = std::filesystem::temp_directory_path(code);
  if (code) {
    base = "/tmp";
  }
  std::string pattern = (base / "nodletflash-window-XXXXXX").string();
  // mkdtemp makes it with mode 0700 in one step: no moment in which others may enter.
  if (mkdtemp(pattern.data()) == nullptr) {
    *error = pattern + ": " + std::strerror(errno);
    return false;
  }
  *path = pattern + "/";
  return true;
}

void removePrivateFolder(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}
