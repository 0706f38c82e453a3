// The configuration file is judged before it is read: every directory from the root down with
// lstat(), then the file itself through the descriptor it is read from, so that what is judged is
// what is read. A directory that only root can change cannot be swapped under the reader.
#include "can/interface_config_linux.h"

#include <fcntl.h>
#include <net/if.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstddef>
#include <string>
#include <vector>

namespace {

// More than any sensible file holds; a longer one is not read.
constexpr size_t kMaxFileSize = size_t{64} * 1024;

InterfaceConfig verdict(InterfaceConfigStatus status, std::string reason, int line = 0) {
  InterfaceConfig config;
  config.status = status;
  config.reason = std::move(reason);
  config.line = line;
  return config;
}

bool trustedOwner(uid_t uid, uid_t owner) {
  return uid == 0 || uid == owner;
}

// Why |what| (described by |info|) could be changed by an account other than root; empty when
// it cannot. |isFile| tells the file from a directory above it.
std::string untrusted(const std::string& what, const struct stat& info, uid_t owner, bool isFile) {
  if (!trustedOwner(info.st_uid, owner)) {
    return what + " is not owned by root";
  }
  // In a sticky directory nobody may rename or remove what another account owns, so its entries
  // of root's stay root's.
  bool sticky = !isFile && (info.st_mode & S_ISVTX) != 0;
  if ((info.st_mode & S_IWOTH) != 0 && !sticky) {
    return what + " is writable by every account";
  }
  if ((info.st_mode & S_IWGRP) != 0 && !sticky) {
    return what + " is writable by its group";
  }
  return {};
}

// Checks every directory above |path| from the root down. Returns the verdict to give, or
// kNamed when they all pass (the caller goes on with the file). A missing directory means there
// is no file.
InterfaceConfig judgeDirectories(const std::string& path, uid_t owner) {
  std::vector<std::string> directories = {"/"};
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    directories.push_back(path.substr(0, slash));
  }
  for (const std::string& directory : directories) {
    struct stat info {};
    if (lstat(directory.c_str(), &info) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) {
        return verdict(InterfaceConfigStatus::kAbsent, {});
      }
      return verdict(InterfaceConfigStatus::kUnreadable, directory + " cannot be examined");
    }
    if (S_ISLNK(info.st_mode)) {
      return verdict(InterfaceConfigStatus::kNotTrusted, directory + " is a symbolic link");
    }
    if (!S_ISDIR(info.st_mode)) {
      return verdict(InterfaceConfigStatus::kAbsent, {});
    }
    std::string why = untrusted(directory, info, owner, false);
    if (!why.empty()) {
      return verdict(InterfaceConfigStatus::kNotTrusted, why);
    }
  }
  return verdict(InterfaceConfigStatus::kNamed, {});
}

std::string trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])) != 0) {
    ++begin;
  }
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])) != 0) {
    --end;
  }
  return text.substr(begin, end - begin);
}

// Reads the settings of |text| from the file |path|.
InterfaceConfig parse(const std::string& path, const std::string& text) {
  InterfaceConfig config;
  config.status = InterfaceConfigStatus::kNothingNamed;
  int lineNumber = 0;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) {
      end = text.size();
    }
    ++lineNumber;
    std::string line = text.substr(begin, end - begin);
    begin = end + 1;
    size_t comment = line.find('#');
    if (comment != std::string::npos) {
      line.erase(comment);
    }
    line = trim(line);
    if (line.empty()) {
      continue;
    }
    std::string where = path + " line " + std::to_string(lineNumber);
    size_t equals = line.find('=');
    if (equals == std::string::npos || trim(line.substr(0, equals)) != "interface") {
      return verdict(InterfaceConfigStatus::kMalformed, where + " is not \"interface = NAME\"",
                     lineNumber);
    }
    std::string name = trim(line.substr(equals + 1));
    if (!validInterfaceName(name)) {
      return verdict(InterfaceConfigStatus::kMalformed,
                     where + " does not give a valid interface name", lineNumber);
    }
    if (config.status == InterfaceConfigStatus::kNamed) {
      return verdict(InterfaceConfigStatus::kMalformed,
                     where + " names a second interface; only one may be named", lineNumber);
    }
    config.status = InterfaceConfigStatus::kNamed;
    config.interfaceName = name;
  }
  return config;
}

}  // namespace

bool validInterfaceName(const std::string& name) {
  if (name.empty() || name.size() >= IFNAMSIZ || name == "." || name == "..") {
    return false;
  }
  for (char c : name) {
    if (c == '/' || c == ':' || c == '\0' || std::isspace(static_cast<unsigned char>(c)) != 0) {
      return false;
    }
  }
  return true;
}

InterfaceConfig readInterfaceConfig(const std::string& path, uid_t owner) {
  if (path.empty() || path.front() != '/') {
    return verdict(InterfaceConfigStatus::kUnreadable, path + " is not an absolute path");
  }
  InterfaceConfig directories = judgeDirectories(path, owner);
  if (directories.status != InterfaceConfigStatus::kNamed) {
    return directories;
  }
  struct stat link {};
  if (lstat(path.c_str(), &link) != 0) {
    if (errno == ENOENT) {
      return verdict(InterfaceConfigStatus::kAbsent, {});
    }
    return verdict(InterfaceConfigStatus::kUnreadable, path + " cannot be examined");
  }
  if (S_ISLNK(link.st_mode)) {
    return verdict(InterfaceConfigStatus::kNotTrusted,
                   path + " is a symbolic link; the file itself must name the interface");
  }
  // Never blocks on a FIFO put in its place, never follows a link put there meanwhile.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    return verdict(InterfaceConfigStatus::kUnreadable, path + " cannot be opened");
  }
  struct stat info {};
  std::string why;
  if (fstat(fd, &info) != 0) {
    why = path + " cannot be examined";
  } else if (!S_ISREG(info.st_mode)) {
    why = path + " is not a regular file";
  }
  if (!why.empty()) {
    close(fd);
    return verdict(InterfaceConfigStatus::kUnreadable, why);
  }
  why = untrusted(path, info, owner, true);
  if (!why.empty()) {
    close(fd);
    return verdict(InterfaceConfigStatus::kNotTrusted, why);
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      close(fd);
      return verdict(InterfaceConfigStatus::kUnreadable, path + " cannot be read");
    }
    if (got == 0) {
      break;
    }
    text.append(buffer, static_cast<size_t>(got));
    if (text.size() > kMaxFileSize) {
      close(fd);
      return verdict(InterfaceConfigStatus::kMalformed, path + " is longer than 64 KiB");
    }
  }
  close(fd);
  return parse(path, text);
}
