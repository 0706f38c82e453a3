#include "channel_lock_finding.h"

#include <cstdio>
#include <cstring>

#include "account_names.h"

namespace {

constexpr unsigned kTypeMask = 0170000;
constexpr unsigned kDirectory = 0040000;
constexpr unsigned kFifo = 0010000;
constexpr unsigned kLink = 0120000;
constexpr unsigned kSocket = 0140000;
constexpr unsigned kRegular = 0100000;

const char* kindOf(unsigned mode) {
  switch (mode & kTypeMask) {
    case kDirectory:
      return "a directory";
    case kFifo:
      return "a FIFO";
    case kLink:
      return "a symbolic link";
    case kSocket:
      return "a socket";
    case kRegular:
      return "a plain file";
    default:
      return "a device file";
  }
}

std::string octal(unsigned mode) {
  char text[16];
  std::snprintf(text, sizeof(text), "%04o", mode & 07777);
  return text;
}

std::string directoryOf(const std::string& lockName) {
  size_t slash = lockName.find_last_of('/');
  return slash == std::string::npos ? "." : lockName.substr(0, slash);
}

void add(std::vector<Finding>* findings, Severity severity, std::string text) {
  findings->push_back(Finding{severity, "lock", std::move(text), 0, 0});
}

}  // namespace

void judgeChannelLock(const std::string& channel, const std::string& lockName,
                      const ChannelLockProbe& probe, const std::string& holder,
                      const std::string& owner, std::vector<Finding>* findings) {
  const std::string stops = "the tool cannot take it and stops at \"Error initializing CAN\"";
  const std::string& shown = lockName;
  switch (probe.state) {
    case ChannelLockState::kFree:
      add(findings, Severity::kOk, "no other run holds " + channel + " (" + shown + ")");
      return;
    case ChannelLockState::kHeld: {
      std::string by = probe.holder > 0 ? holder : "another process";
      add(findings, Severity::kProblem,
          by + " holds the lock of " + channel + " now (" + shown +
              "): a run of the tool would stop at \"Error initializing CAN\"; wait for it to "
              "end");
      return;
    }
    case ChannelLockState::kUnusable:
      break;
    case ChannelLockState::kUnknown: {
      std::string why = probe.error != 0 ? std::string(": ") + std::strerror(probe.error) : "";
      add(findings, Severity::kWarning,
          "cannot tell whether another run holds " + channel + " (" + shown + why + ")");
      return;
    }
  }
  std::string what = probe.haveFile ? kindOf(probe.mode) + std::string(", mode ") +
                                          octal(probe.mode) + ", owner " + owner
                                    : std::string();
  switch (probe.obstacle) {
    case ChannelLockObstacle::kNotPlainFile:
      add(findings, Severity::kProblem,
          lockName + " is " + what + ", not a lock file: " + stops + ". It is no lock of the " +
              "tool's; remove it (sudo " +
              ((probe.mode & kTypeMask) == kDirectory ? "rm -r " : "rm ") + lockName + ")");
      return;
    case ChannelLockObstacle::kUnopenable:
      add(findings, Severity::kProblem,
          lockName + " (" + what + ") cannot be opened by you as the tool opens it (" +
              std::strerror(probe.error) + "): " + stops + ". Let everyone who may run the tool " +
              "read it: sudo chmod 0644 " + lockName);
      return;
    case ChannelLockObstacle::kCannotCreate:
      add(findings, Severity::kProblem,
          "the tool would make its lock " + lockName + ", and you may not write " +
              directoryOf(lockName) + " (" + what + "): " + stops);
      return;
    case ChannelLockObstacle::kNoDirectory:
      add(findings, Severity::kProblem,
          directoryOf(lockName) + " is missing: the tool takes its lock " + lockName +
              " only there, where nobody who may not run the tool can take it first, and "
              "without it stops at \"Error initializing CAN\". The package makes it at every "
              "boot (sudo systemd-tmpfiles --create /usr/lib/tmpfiles.d/nodletflash.conf makes "
              "it now); for a build of your own: sudo install -d -o root -g GROUP -m 3770 " +
              directoryOf(lockName) + ", GROUP being the group of those who may run the tool");
      return;
    case ChannelLockObstacle::kUntrustedDirectory:
      add(findings, Severity::kProblem,
          directoryOf(lockName) + " (" + what +
              ") may be written by accounts that may not run the tool, or is not root's, so "
              "any of them could take or spoil the lock there: the tool does not take its lock "
              "there and stops at \"Error initializing CAN\". Make it root's and the tool's "
              "group's, writable by that group only, with the sticky bit: sudo chown "
              "root:nodletflash " +
              directoryOf(lockName) + " && sudo chmod 3770 " + directoryOf(lockName));
      return;
    case ChannelLockObstacle::kNone:
    case ChannelLockObstacle::kUnreadableLock:
      add(findings, Severity::kProblem, lockName + " cannot be used as a lock: " + stops);
      return;
  }
}

void checkChannelLock(const std::string& channel, std::vector<Finding>* findings) {
  std::string name = channelLockName(channel);
  ChannelLockProbe probe = probeChannelLock(name);
  judgeChannelLock(channel, name, probe, probe.holder > 0 ? describeProcess(probe.holder) : "",
                   probe.haveFile ? accountName(probe.owner) : "", findings);
}
