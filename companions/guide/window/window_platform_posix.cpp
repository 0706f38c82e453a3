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

namespace {

// xdg-open while it runs or until it is collected; 0 when there is none.
pid_t g_opener = 0;

}  // namespace

bool openInBrowser(const std::string& target, std::string* error) {
  // xdg-open hands the page to the desktop's browser; its output is not ours to show, and it
  // must not keep the guide's own streams or its terminal. Every descriptor of the guide's
  // besides these three is close-on-exec.
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
  std::vector<char*> argv{program.data(), const_cast<char*>(target.c_str()), nullptr};
  pid_t pid = 0;
  int result = posix_spawnp(&pid, "xdg-open", &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (result != 0) {
    *error = std::string("xdg-open: ") + std::strerror(result);
    return false;
  }
  // Not waited for: with a browser it does not know of (or BROWSER set), xdg-open returns only
  // when that browser closes. It is collected later, its status read then.
  g_opener = pid;
  return true;
}

bool browserOpenerFailed(std::string* error) {
  if (g_opener <= 0) {
    return false;
  }
  int status = 0;
  pid_t got = waitpid(g_opener, &status, WNOHANG);
  if (got == 0 || (got < 0 && errno == EINTR)) {
    return false;
  }
  g_opener = 0;
  if (got < 0 || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    return false;
  }
  *error = "xdg-open could not open a browser (status " +
           std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) + ")";
  return true;
}

bool writePrivateFile(const std::string& path, const std::string& text, std::string* error) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  size_t written = 0;
  while (written < text.size()) {
    ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      *error = path + ": " + std::strerror(errno);
      close(fd);
      return false;
    }
    written += static_cast<size_t>(n);
  }
  if (close(fd) != 0) {
    *error = path + ": " + std::strerror(errno);
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
