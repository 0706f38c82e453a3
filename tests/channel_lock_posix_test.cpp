#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "can/channel_lock.h"
#include "child_process.h"

namespace fs = std::filesystem;

namespace {

// A directory of lock files for one test, in place of /run/lock.
class LockDirectory {
 public:
  LockDirectory()
      : root_(fs::temp_directory_path() / ("nodletflash-locks-" + std::to_string(getpid()))) {
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  ~LockDirectory() { fs::remove_all(root_); }
  std::string path(const std::string& name) const { return (root_ / name).string(); }

 private:
  fs::path root_;
};

ChildResult inOtherProcess(const std::string& action, const std::string& name) {
  return runChild({CHANNEL_LOCK_CHILD, action, name});
}

TEST(ChannelLock, NamedAfterTheInterfaceUnderRunLock) {
  EXPECT_EQ(channelLockName("can0"), "/run/lock/nodletflash-can0.lock");
  EXPECT_NE(channelLockName("can0"), channelLockName("can1"));
}

TEST(ChannelLock, HeldLockRefusesOtherProcessesUntilItsHolderEnds) {
  LockDirectory locks;
  const std::string name = locks.path("nodletflash-can0.lock");
  EXPECT_EQ(probeChannelLock(name), ChannelLockState::kFree);
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
  EXPECT_EQ(inOtherProcess("probe", name).output, "held\n");
  // This process holds it, so no other process does.
  EXPECT_EQ(probeChannelLock(name), ChannelLockState::kFree);

  // A lock whose holder has ended is free again, though its file stays.
  const std::string other = locks.path("nodletflash-can1.lock");
  EXPECT_EQ(inOtherProcess("acquire", other).status, 0);
  EXPECT_TRUE(fs::exists(other));
  EXPECT_EQ(probeChannelLock(other), ChannelLockState::kFree);
  EXPECT_TRUE(acquireChannelLock(other));
  EXPECT_EQ(inOtherProcess("probe", other).output, "held\n");
}

TEST(ChannelLock, RefusesWhatIsNotAPlainFile) {
  LockDirectory locks;
  const std::string directory = locks.path("nodletflash-dir.lock");
  fs::create_directory(directory);
  EXPECT_FALSE(acquireChannelLock(directory));
  // A symbolic link planted under the name is not followed.
  const std::string target = locks.path("target");
  const std::string link = locks.path("nodletflash-link.lock");
  fs::create_symlink(target, link);
  EXPECT_FALSE(acquireChannelLock(link));
  EXPECT_FALSE(fs::exists(target));
  EXPECT_FALSE(acquireChannelLock(locks.path("missing-directory/nodletflash-can0.lock")));
}

}  // namespace
