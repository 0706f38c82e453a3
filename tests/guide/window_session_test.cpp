#include "window_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "window_moment.h"

namespace {

class WindowSessionTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        (std::filesystem::temp_directory_path() /
         ("window-session-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
          "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name()))
            .string() +
        "/";
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string folder_;
};

TEST_F(WindowSessionTest, TheFirstPageDrivesUntilItLeavesOrGoesQuiet) {
  WindowSession session(true, folder_, nullptr);
  EXPECT_TRUE(session.drives("a", 1.0));
  EXPECT_FALSE(session.drives("b", 2.0));
  std::string why;
  EXPECT_FALSE(session.ask("b", WindowAction{WindowAction::kClose, 0}, &why));
  EXPECT_EQ(why, "another page drives this run; this one only watches");
  // A page not heard from for a while has gone: the next one drives.
  EXPECT_TRUE(session.drives("b", 20.0));
  EXPECT_FALSE(session.drives("a", 21.0));
  // Closed for good: once it has not come back for longer than a reload takes.
  session.leave("b", 22.0);
  EXPECT_FALSE(session.drives("a", 23.0));
  EXPECT_TRUE(session.drives("a", 29.0));
}

TEST_F(WindowSessionTest, AReloadedPageDrivesOnAndAnotherOnlyWatches) {
  WindowSession session(true, folder_, nullptr);
  ASSERT_TRUE(session.drives("tab", 1.0));
  // The reload: the page leaves, another tab asks before it is back, and it comes back under
  // the same name.
  session.leave("tab", 2.0);
  EXPECT_FALSE(session.drives("other", 2.5));
  EXPECT_TRUE(session.drives("tab", 3.0));
  std::string why;
  EXPECT_TRUE(session.ask("tab", WindowAction{WindowAction::kClose, 0}, &why)) << why;
  // A leave that arrives after the reloaded page's first question keeps it driving too, while it
  // asks again within a long poll.
  session.leave("tab", 3.5);
  EXPECT_FALSE(session.drives("other", 6.0));
  EXPECT_TRUE(session.drives("tab", 7.5));
  EXPECT_FALSE(session.drives("other", 13.0));
}

TEST_F(WindowSessionTest, UploadsAreKeptUnderTheGuidesOwnNames) {
  WindowSession session(true, folder_, nullptr);
  ASSERT_TRUE(session.drives("a", 0));
  std::string why;
  ASSERT_TRUE(session.upload("a", "12", "../../etc/passwd", "%data", &why)) << why;
  std::vector<WindowModule> modules = session.modules();
  ASSERT_EQ(modules.size(), 1U);
  EXPECT_EQ(modules[0].path, folder_ + "1.firmware");
  EXPECT_EQ(modules[0].originalName, "../../etc/passwd");
  EXPECT_EQ(modules[0].name, "Finger 2");
  std::ifstream in(modules[0].path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "%data");
  // The checks of the new module are asked of the guide.
  WindowAction action;
  ASSERT_TRUE(session.nextAction(0, &action));
  EXPECT_EQ(action.kind, WindowAction::kCheck);
  EXPECT_EQ(action.index, 0U);
}

TEST_F(WindowSessionTest, UploadsThatCannotBeFlashedAreRefused) {
  WindowSession session(true, folder_, nullptr);
  ASSERT_TRUE(session.drives("a", 0));
  std::string why;
  EXPECT_FALSE(session.upload("a", "15", "x.hex", "%", &why));
  EXPECT_EQ(why, "choose a module from 11 to 14");
  EXPECT_FALSE(session.upload("a", "11", "x.hex", std::string(kMaxUploadBytes + 1, '%'), &why));
  // A line end in the shown name would forge a line of the log: refused, the name escaped.
  EXPECT_FALSE(session.upload("a", "11", "a\r\n12:00:00.000 end: done", "%", &why));
  EXPECT_NE(why.find("\"a\\r\\n12:00:00.000 end: done\" holds a control character"),
            std::string::npos)
      << why;
  EXPECT_EQ(why.find('\n'), std::string::npos) << why;
  ASSERT_TRUE(session.upload("a", "11", "x.hex", "%", &why));
  EXPECT_FALSE(session.upload("a", "11", "y.hex", "%", &why));
  EXPECT_EQ(why, "module 11 is chosen already; remove it first to choose another file");
  EXPECT_FALSE(session.upload("b", "12", "y.hex", "%", &why));
  session.setPhase(WindowPhase::kRunning);
  EXPECT_FALSE(session.upload("a", "12", "y.hex", "%", &why));
  EXPECT_EQ(session.modules().size(), 1U);
}

TEST_F(WindowSessionTest, StartOnlyWhenEveryModuleIsCheckedAndAllowed) {
  WindowSession session(false, folder_, nullptr);
  ASSERT_TRUE(session.drives("a", 0));
  std::string why;
  EXPECT_FALSE(session.ask("a", WindowAction{WindowAction::kStart, 0}, &why));
  session.addModule(WindowModule{});
  session.addModule(WindowModule{});
  EXPECT_FALSE(session.canStart());
  session.setChecks(0, PreflightResult{}, true);
  EXPECT_FALSE(session.ask("a", WindowAction{WindowAction::kStart, 0}, &why));
  session.setChecks(1, PreflightResult{}, false);
  EXPECT_FALSE(session.canStart());
  session.setChecks(1, PreflightResult{}, true);
  EXPECT_TRUE(session.ask("a", WindowAction{WindowAction::kStart, 0}, &why));
  // A try again only once a module has failed.
  EXPECT_FALSE(session.ask("a", WindowAction{WindowAction::kRetry, 0}, &why));
}

TEST_F(WindowSessionTest, APageIsToldOnlyWhatItHasNotSeen) {
  WindowSession session(false, folder_, nullptr);
  session.publish({{"event", "one"}});
  bool anything = false;
  nlohmann::ordered_json first = session.read(0, 0, "a", 0, &anything);
  EXPECT_TRUE(anything);
  EXPECT_EQ(first["entries"].size(), 1U);
  nlohmann::ordered_json again = session.read(first["next"], first["version"], "a", 1, &anything);
  EXPECT_FALSE(anything);
  EXPECT_TRUE(again["entries"].empty());
  // A refused request wakes no page: it is counted, and told with the next change.
  int woken = 0;
  session.onChange([&woken] { ++woken; });
  session.refused("no token");
  nlohmann::ordered_json counted = session.read(first["next"], first["version"], "a", 2, &anything);
  EXPECT_FALSE(anything);
  EXPECT_EQ(woken, 0);
  EXPECT_EQ(counted["state"]["refused_requests"], 1);
  session.onChange(nullptr);
  EXPECT_EQ(session.takeRefusalNote(),
            "window: 1 request refused (no token), 1 since the window opened");
  EXPECT_EQ(session.takeRefusalNote(), "");
}

}  // namespace

namespace {

// The state's part the pages read, as a page reads it.
nlohmann::ordered_json stateOf(WindowSession* session) {
  bool anything = false;
  return session->read(0, 0, "a", 0, &anything)["state"];
}

}  // namespace

TEST_F(WindowSessionTest, AnUploadedFileIsShownByItsOwnNameAndNumbersAsTheTerminalWritesThem) {
  WindowSession session(true, folder_, nullptr);
  ASSERT_TRUE(session.drives("a", 0));
  std::string why;
  ASSERT_TRUE(session.upload("a", "12", "new firmware.hex", "%data", &why)) << why;
  const std::string copy = session.modules()[0].path;
  PreflightResult checks;
  checks.findings.push_back(
      {Severity::kProblem, "file", copy + ": not a TekHex record at " + copy});
  checks.haveSummary = true;
  checks.summary.records = 4321;
  checks.summary.dataBytes = 52000;
  checks.summary.payloadChars = 104000;
  checks.summary.estimatedSeconds = 61.4;
  session.setChecks(0, checks, false);
  nlohmann::ordered_json module = stateOf(&session)["modules"][0];
  EXPECT_EQ(module["shown_file"], "new firmware.hex");
  EXPECT_EQ(module["findings"][0]["text"],
            "new firmware.hex: not a TekHex record at new firmware.hex");
  EXPECT_EQ(module["summary"]["text"],
            "4,321 records, 52,000 data bytes, 104,000 characters to send; about 61 s from the "
            "power cycle to the end.");
}

TEST_F(WindowSessionTest, TheMomentWakesThePagesOnlyWhenItChanges) {
  WindowSession session(false, folder_, nullptr);
  int wakes = 0;
  session.onChange([&wakes] { ++wakes; });
  ProgressFigures figures;
  figures.percent = 50;
  figures.characters = 52000;
  figures.totalCharacters = 104000;
  figures.charsPerSecond = 1234.4;
  figures.secondsLeft = 41.2;
  session.setMoment(downloadMoment(0, &figures));
  session.setMoment(downloadMoment(0, &figures));
  EXPECT_EQ(wakes, 1);
  nlohmann::ordered_json moment = stateOf(&session)["moment"];
  EXPECT_EQ(moment["count"], "52,000 of 104,000 characters (50 %)");
  EXPECT_EQ(moment["pace"], "1,234 characters a second, about 42 s left");
  EXPECT_DOUBLE_EQ(moment["fraction"].get<double>(), 0.5);
  session.setMoment(nullptr);
  EXPECT_EQ(wakes, 2);
  EXPECT_TRUE(stateOf(&session)["moment"].is_null());
}
