#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "can/channel_lock.h"
#include "child_process.h"

namespace fs = std::filesystem;

namespace {

// A directory of lock files for one test, in place of /run/nodletflash.
class LockDirectory {
 public:
  LockDirectory()
      : root_(fs::temp_directory_path() / ("nodletflash-locks-" + std::to_string(getpid()))) {
    fs::remove_all(root_);
    fs::create_directories(root_);
    fs::permissions(root_, fs::perms(0755));
  }
  ~LockDirectory() { fs::remove_all(root_); }
  std::string path(const std::string& name) const { return (root_ / name).string(); }
  std::string directory() const { return root_.string(); }

 private:
  fs::path root_;
};

ChildResult inOtherProcess(const std::string& action, const std::string& name) {
  return runChild({CHANNEL_LOCK_CHILD, action, name});
}

// The same as the unprivileged user "nobody" with no groups; tests that use it need root.
constexpr const char* kNobody = "65534";
ChildResult asNobody(const std::string& action, const std::string& name) {
  return runChild({CHANNEL_LOCK_CHILD, "as", kNobody, action, name});
}

std::string heldBySelf() {
  return "held " + std::to_string(getpid()) + "\n";
}

TEST(ChannelLock, AlwaysAFileInTheLockDirectory) {
  LockDirectory locks;
  EXPECT_EQ(channelLockName("can0", locks.directory()), locks.directory() + "/can0.lock");
  // A missing directory gives no other lock: none can be taken.
  const std::string lost = locks.path("missing") + "/can0.lock";
  EXPECT_EQ(channelLockName("can0", locks.path("missing")), lost);
  EXPECT_FALSE(acquireChannelLock(lost));
  EXPECT_EQ(probeChannelLock(lost).obstacle, ChannelLockObstacle::kNoDirectory);
}

// A directory that accounts outside the tool's group may write is no place for the lock: any of
// them could take it first or leave a file there nobody may open.
TEST(ChannelLock, NoLockInADirectoryOthersMayWrite) {
  LockDirectory locks;
  const std::string name = locks.path("can0.lock");
  for (unsigned mode : {0777U, 01777U, 0775U}) {
    fs::permissions(locks.directory(), fs::perms(mode));
    EXPECT_FALSE(acquireChannelLock(name)) << std::oct << mode;
    ChannelLockProbe probe = probeChannelLock(name);
    EXPECT_EQ(probe.state, ChannelLockState::kUnusable) << std::oct << mode;
    EXPECT_EQ(probe.obstacle, ChannelLockObstacle::kUntrustedDirectory) << std::oct << mode;
    EXPECT_EQ(probe.mode & 07777, mode);
  }
  EXPECT_FALSE(fs::exists(name));
  // As the package makes it: its group may write it, with the sticky bit.
  fs::permissions(locks.directory(), fs::perms(03770));
  EXPECT_EQ(probeChannelLock(name).state, ChannelLockState::kFree);
  EXPECT_TRUE(acquireChannelLock(name));
}

TEST(ChannelLock, HeldFileLockRefusesOtherProcessesAndNamesItsHolder) {
  LockDirectory locks;
  const std::string name = locks.path("can0.lock");
  EXPECT_EQ(probeChannelLock(name).state, ChannelLockState::kFree);
  EXPECT_FALSE(fs::exists(name)) << "probing created the lock file";

  // Created readable by all whatever the umask, so that other users can lock it too.
  mode_t umaskBefore = umask(077);
  ASSERT_TRUE(acquireChannelLock(name));
  umask(umaskBefore);
  struct stat status {};
  ASSERT_EQ(stat(name.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0644u);
  EXPECT_TRUE(acquireChannelLock(name)) << "taking a lock this process holds";

  EXPECT_EQ(inOtherProcess("acquire", name).status, 1);
  EXPECT_EQ(inOtherProcess("probe", name).output, heldBySelf());
  // This process holds it, so no other process does.
  EXPECT_EQ(probeChannelLock(name).state, ChannelLockState::kFree);

  // A lock whose holder has ended is free again, though its file stays.
  const std::string other = locks.path("can1.lock");
  EXPECT_EQ(inOtherProcess("acquire", other).status, 0);
  EXPECT_TRUE(fs::exists(other));
  EXPECT_EQ(probeChannelLock(other).state, ChannelLockState::kFree);
  EXPECT_TRUE(acquireChannelLock(other));
  EXPECT_EQ(inOtherProcess("probe", other).output, heldBySelf());
}

TEST(ChannelLock, WhatIsNoPlainFileIsUnusable) {
  LockDirectory locks;
  const std::string directory = locks.path("dir.lock");
  fs::create_directory(directory);
  const std::string fifo = locks.path("fifo.lock");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  // A symbolic link planted under the name is not followed.
  const std::string target = locks.path("target");
  const std::string link = locks.path("link.lock");
  fs::create_symlink(target, link);
  for (const std::string& name : {directory, fifo, link}) {
    EXPECT_FALSE(acquireChannelLock(name)) << name;
    ChannelLockProbe probe = probeChannelLock(name);
    EXPECT_EQ(probe.state, ChannelLockState::kUnusable) << name;
    EXPECT_EQ(probe.obstacle, ChannelLockObstacle::kNotPlainFile) << name;
    EXPECT_TRUE(probe.haveFile);
  }
  EXPECT_FALSE(fs::exists(target));
  const std::string lost = locks.path("missing-directory/can0.lock");
  EXPECT_FALSE(acquireChannelLock(lost));
  EXPECT_EQ(probeChannelLock(lost).obstacle, ChannelLockObstacle::kNoDirectory);
}

// What another account left, or a directory it may not write, as a user without privileges
// meets it: the probe must say what the taking will say.
TEST(ChannelLock, AnotherAccountsFileOrDirectoryAsTheUnprivilegedMeetIt) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to act as another account";
  }
  LockDirectory locks;
  const std::string closed = locks.path("can0.lock");
  mode_t umaskBefore = umask(0777);
  ASSERT_EQ(inOtherProcess("acquire", closed).status, 0);
  umask(umaskBefore);
  ASSERT_EQ(chmod(closed.c_str(), 0), 0);
  EXPECT_EQ(asNobody("acquire", closed).status, 1);
  EXPECT_EQ(asNobody("probe", closed).output, "unusable unopenable\n");
  // Root opens it all the same.
  EXPECT_EQ(inOtherProcess("probe", closed).output, "free\n");

  // Nobody may not make a lock in root's directory.
  const std::string missing = locks.path("can1.lock");
  EXPECT_EQ(asNobody("acquire", missing).status, 1);
  EXPECT_EQ(asNobody("probe", missing).output, "unusable cannot-create\n");
  EXPECT_EQ(inOtherProcess("probe", missing).output, "free\n");
}

}  // namespace
