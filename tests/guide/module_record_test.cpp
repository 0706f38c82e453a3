#include "module_record.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "sha256.h"

namespace {

struct Folder {
  Folder() {
    char pattern[] = "/tmp/module-record-test-XXXXXX";
    path = mkdtemp(pattern);
  }
  ~Folder() { std::filesystem::remove_all(path); }
  std::string path;
};

std::string textOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

ModuleInfo moduleOf(int node, const std::string& path) {
  ModuleInfo module;
  module.node = node;
  module.name = "Finger 2";
  module.path = path;
  return module;
}

TEST(ModuleRecord, WrittenWholeItReadsBackAndKeepsTheOtherModules) {
  Folder folder;
  std::string firmware = std::string(EXAMPLES_DIR) + "/tiny.hex";
  std::string path = moduleRecordPath(folder.path + "/state/nodletflash/", false);
  ModuleRecordFile record(path, "");
  std::string warning;
  EXPECT_TRUE(record.readAll(&warning).empty());
  EXPECT_NE(warning.find("no record yet"), std::string::npos) << warning;

  for (auto [node, holds] : {std::pair{12, Holds::kPartWay}, std::pair{14, Holds::kMayBeErased}}) {
    ModuleInfo module = moduleOf(node, firmware);
    record.turnBegins(module);
    warning.clear();
    ModuleRecord kept = record.turnEnds(module, holds, &warning);
    EXPECT_EQ(warning, "");
    EXPECT_TRUE(kept.known);
    EXPECT_EQ(kept.sha256, sha256File(firmware, nullptr));
  }
  warning.clear();
  std::map<int, ModuleRecord> read = record.readAll(&warning);
  EXPECT_EQ(warning, "");
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[12].holds, Holds::kPartWay);
  EXPECT_EQ(read[14].holds, Holds::kMayBeErased);
  EXPECT_EQ(read[12].file, firmware);
  EXPECT_EQ(read[12].utc.size(), 20u) << read[12].utc;
  // Only this user may read it: the folders it made, the file it wrote.
  EXPECT_EQ(
      std::filesystem::status(folder.path + "/state").permissions() & std::filesystem::perms::all,
      std::filesystem::perms::owner_all);
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

TEST(ModuleRecord, ADamagedRecordIsAWarningAndIsWrittenAnew) {
  Folder folder;
  std::string path = folder.path + "/modules.json";
  std::map<int, ModuleRecord> records;
  std::string why;
  for (const char* damaged :
       {"", "{\"version\":1,\"modules\":{\"12\":", "[]", "{\"version\":2,\"modules\":{}}",
        "{\"version\":1,\"modules\":{\"12\":{\"holds\":\"half\",\"utc\":\"\",\"file\":\"\","
        "\"sha256\":\"\"}}}",
        "{\"version\":1,\"modules\":{\"x\":{\"holds\":\"written\",\"utc\":\"\",\"file\":\"\","
        "\"sha256\":\"\"}}}"}) {
    EXPECT_FALSE(parseModuleRecord(damaged, &records, &why)) << damaged;
    EXPECT_TRUE(records.empty());
  }
  // A field it does not know is no damage.
  EXPECT_TRUE(parseModuleRecord(
      "{\"version\":1,\"later\":true,\"modules\":{\"13\":{\"holds\":\"written\",\"utc\":\"u\","
      "\"file\":\"f\",\"sha256\":\"s\",\"later\":1}}}",
      &records, &why));
  EXPECT_EQ(records[13].holds, Holds::kWritten);

  std::ofstream(path) << "{\"version\":1,\"modules\":{\"12\":";
  ModuleRecordFile record(path, "");
  std::string warning;
  EXPECT_TRUE(record.readAll(&warning).empty());
  EXPECT_NE(warning.find("is damaged"), std::string::npos) << warning;
  warning.clear();
  record.turnEnds(moduleOf(12, path), Holds::kWritten, &warning);
  EXPECT_EQ(warning, "");
  EXPECT_TRUE(parseModuleRecord(textOf(path), &records, &why)) << why;
  EXPECT_EQ(records.size(), 1u);
}

TEST(ModuleRecord, TwoWritersAtOnceLoseNothingAndNoReaderSeesItTorn) {
#ifdef NODLETFLASH_TESTS_EMULATED
  GTEST_SKIP() << "processes forked under the user-mode emulator and sharing a lock crawl; the "
                  "lock and the rename are the host kernel's, tested in the native build";
#endif
  Folder folder;
  std::string path = folder.path + "/modules.json";
  std::string firmware = std::string(EXAMPLES_DIR) + "/tiny.hex";
  constexpr int kEach = 40;
  // Two processes, as two guides would be, each recording modules of its own one by one.
  std::vector<pid_t> writers;
  for (int first : {1000, 2000}) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ModuleRecordFile record(path, "");
      for (int node = first; node < first + kEach; ++node) {
        std::string warning;
        record.turnEnds(moduleOf(node, firmware), Holds::kPartWay, &warning);
        if (!warning.empty()) {
          _exit(1);
        }
      }
      _exit(0);
    }
    writers.push_back(pid);
  }
  // Read as another guide would, while both write.
  int reads = 0;
  std::vector<int> statuses(writers.size(), -1);
  for (bool running = true; running;) {
    running = false;
    for (size_t i = 0; i < writers.size(); ++i) {
      int status = 0;
      if (statuses[i] < 0 && waitpid(writers[i], &status, WNOHANG) == writers[i]) {
        statuses[i] = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      }
      running = running || statuses[i] < 0;
    }
    std::string text = textOf(path);
    if (!text.empty()) {
      std::map<int, ModuleRecord> records;
      std::string why;
      ASSERT_TRUE(parseModuleRecord(text, &records, &why)) << why << "\n" << text;
      ++reads;
    }
    // A pause, so that the reader does not starve the writers (under an emulator, above all).
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }

  std::map<int, ModuleRecord> records;
  std::string why;
  EXPECT_EQ(statuses, std::vector<int>(2, 0));
  ASSERT_TRUE(parseModuleRecord(textOf(path), &records, &why)) << why;
  EXPECT_EQ(records.size(), 2u * kEach);
  EXPECT_GT(reads, 0);
}

TEST(ModuleRecord, WithNoPlaceForItTheWarningSaysWhy) {
  ModuleRecordFile record("", "neither XDG_STATE_HOME nor HOME names a folder");
  std::string warning;
  EXPECT_TRUE(record.readAll(&warning).empty());
  EXPECT_NE(warning.find("keeps no record"), std::string::npos) << warning;
  ModuleInfo module = moduleOf(12, std::string(EXAMPLES_DIR) + "/tiny.hex");
  module.recordBefore.known = true;
  module.recordBefore.holds = Holds::kPartWay;
  warning.clear();
  ModuleRecord kept = record.turnEnds(module, Holds::kWritten, &warning);
  EXPECT_EQ(kept.holds, Holds::kPartWay);
  EXPECT_NE(warning.find("could not be updated (neither XDG_STATE_HOME"), std::string::npos)
      << warning;
}

}  // namespace
