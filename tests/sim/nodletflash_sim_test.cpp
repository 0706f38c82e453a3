// The tool's whole run against the virtual hand, through nodletflash-sim on the virtual clock:
// standard output byte for byte, the exit status, and what the hand received.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "sim_runner.h"

namespace {

const std::string kTiny = EXAMPLES_DIR "/tiny.hex";
const std::string k100k = EXAMPLES_DIR "/firmware-100k.hex";

// The tool's messages.
const std::string kInvalidNode =
    "ERRORInvalid nodlet ID: must be between 11 and 14.\nFinger 1 is nodlet 11, Finger 2 is "
    "nodlet 12, Finger 3 is nodlet 13, and Spread is nodlet 14.\n";
const std::string kLoading = "Loading firmware file...\n";
const std::string kInitializing = "Initializing CAN connection...\n";
const std::string kOpenError =
    "ERRORError initializing CAN- ensure adapter is properly connected and PEAK CAN drivers are "
    "installed.\n";
const std::string kClassReadError = "ERRORError getting priority class: 5. Aborting.\n";
const std::string kClassWrong = "ERRORPriority class is not 0x80. Aborting.\n";
const std::string kThreadReadError = "ERROR getting thread priority: 6. Aborting.\n";
const std::string kThreadWrong = "ERRORThread priority is not 0x0F. Aborting.\n";
const std::string kCloseOthers =
    "USERMESSAGETo prevent errors, please close non-essential programs on your computer.\n";
const std::string kPowerCycleNow =
    "USERMESSAGEPlease power off the hand, wait 5 seconds, then power the hand back on.\n";
const std::string kPowerOffTimeout =
    "ERRORTimeout occured while waiting for nodlet to be powered off. Please try again and power "
    "off your hand more quickly.\n";
const std::string kVersionError =
    "ERRORError getting nodlet version to ensure nodlet is active. CAN Error. Aborting.\n";
const std::string kConnectTimeout =
    "ERRORTimeout occured while attempting to connect to nodlet. Please ensure that your hand is "
    "connected and powered on. If your hand is powered on, please try again and power your hand "
    "on earlier in the process.\n";
const std::string kResetError = "ERRORError resetting nodlet.\n";
const std::string kStartError = "ERRORError signaling start of firmware download.\n";
const std::string kComplete = "\nDownload complete!\n";
const std::string kClosing = "\nClosing CAN connection...\n";
const std::string kCloseError = "ERRORError closing CAN connection (most likely not a problem)\n";
const std::string kPowerCycleAfter =
    "USERMESSAGEPlease power cycle the hand to complete the firmware download process.\n";
const std::string kFailed = "Program ended unsuccessfully.\n";
const std::string kSucceeded = "Program ended successfully.\n";
// The tool's own report of a controller that will not reset.
const std::string kRecycleError =
    "ERRORError resetting CAN connection: the adapter did not close and reopen the channel. "
    "Please check that the adapter is connected and try again.\n";

std::string usage(const std::string& program) {
  return "ERRORusage: " + program + " <nodletNumber> <filename>\n";
}

std::string starting(const std::string& path, const std::string& name, int node) {
  return "Starting download of firmware " + path + " to " + name + " (nodlet " +
         std::to_string(node) + ")...\n";
}

std::string readError(int line, int count) {
  return "ERRORError reading on CAN prior to writing line " + std::to_string(line) + ", count #" +
         std::to_string(count) +
         ", to the CAN Bus. Please reboot your hand and try the download again. If this problem "
         "persists please contact Velmora.\n";
}

std::string sendError(int line, int count) {
  return "ERRORError sending firmware byte, line #" + std::to_string(line) + ", count #" +
         std::to_string(count) +
         ". Please reboot your hand and try the download again. If this problem persists please "
         "contact Velmora\n";
}

// tiny.hex has five lines, the last one empty.
const std::string kTinyProgress =
    "DOWNPROG20.000000\nDOWNPROG40.000000\nDOWNPROG60.000000\nDOWNPROG80.000000\n"
    "DOWNPROG100.000000\n";

const std::string kOpening = kLoading + kInitializing + kCloseOthers + kPowerCycleNow;

// The whole output of a successful run on tiny.hex.
std::string tinySuccess(const std::string& name, int node) {
  return kOpening + starting(kTiny, name, node) + kTinyProgress + kComplete + kClosing +
         kPowerCycleAfter + kSucceeded;
}

SimRun simulate(const std::string& scenario, const std::string& image = kTiny,
                const std::string& node = "12") {
  return runSim({"--sim-clock=virtual", "--sim-scenario=" + scenario, node, image});
}

// A run that completed: the node received the image's payload whole and in order.
void expectDelivered(const SimRun& run, const std::string& image) {
  std::string payload = imagePayload(image);
  EXPECT_EQ(run.text("data"), payload);
  EXPECT_EQ(run.number("data_frames"), static_cast<double>(payload.size()));
  EXPECT_EQ(run.number("records_bad"), 0);
  EXPECT_EQ(run.number("records_ok"), imageRecords(image));
  EXPECT_EQ(run.number("resets"), 1);
  EXPECT_EQ(run.number("starts"), 1);
}

std::string tinyPayloadPrefix(size_t n) {
  return imagePayload(kTiny).substr(0, n);
}

TEST(NodletflashSimTest, NormalRunDeliversTheImage) {
  SimRun run = simulate("normal");
  EXPECT_EQ(run.out, tinySuccess("Finger 2", 12));
  EXPECT_EQ(run.status, 0);
  expectDelivered(run, kTiny);
  // Every probe whose query was written resets the controller, and the settle once more.
  EXPECT_EQ(run.number("recycles"), run.number("queries") + 1);
  EXPECT_EQ(run.number("power_offs"), 1);
  // Four CPUs, no restriction: the process is pinned to the highest one.
  EXPECT_EQ(run.number("affinity_mask"), 8);
}

TEST(NodletflashSimTest, NamesEveryNodeItFlashes) {
  const char* names[] = {"Finger 1", "Finger 2", "Finger 3", "Spread"};
  for (int node = 11; node <= 14; ++node) {
    SimRun run = simulate("normal", kTiny, std::to_string(node));
    EXPECT_EQ(run.out, tinySuccess(names[node - 11], node));
    EXPECT_EQ(run.status, 0);
    expectDelivered(run, kTiny);
  }
}

TEST(NodletflashSimTest, HundredKilobyteImageArrivesWhole) {
  SimRun run = simulate("normal", k100k);
  EXPECT_EQ(run.status, 0);
  std::string tail = kComplete + kClosing + kPowerCycleAfter + kSucceeded;
  ASSERT_GE(run.out.size(), tail.size());
  EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail);
  size_t reports = 0;
  for (size_t at = 0; (at = run.out.find("DOWNPROG", at)) != std::string::npos; ++at) {
    ++reports;
  }
  EXPECT_EQ(reports, 100u);
  expectDelivered(run, k100k);
}

TEST(NodletflashSimTest, HandAlreadyOffIsFlashedOnceSwitchedOn) {
  SimRun run = simulate("already-off");
  EXPECT_EQ(run.out, tinySuccess("Finger 2", 12));
  EXPECT_EQ(run.status, 0);
  expectDelivered(run, kTiny);
  EXPECT_EQ(run.number("power_offs"), 0);
}

// The virtual hand's events, written to a descriptor it inherits: "<seconds> <what>" lines.
std::vector<std::pair<double, std::string>> simulateWithEvents(const std::string& scenario,
                                                               SimRun* run) {
  char path[] = "/tmp/sim-events.XXXXXX";
  int fd = mkstemp(path);  // not closed on exec: the child inherits it
  EXPECT_GE(fd, 3);
  *run = runSim({"--sim-clock=virtual", "--sim-scenario=" + scenario,
                 "--sim-events-fd=" + std::to_string(fd), "12", kTiny});
  close(fd);
  std::vector<std::pair<double, std::string>> events;
  std::ifstream in(path);
  double at = 0;
  std::string what;
  while (in >> at && std::getline(in >> std::ws, what)) {
    events.emplace_back(at, what);
  }
  unlink(path);
  return events;
}

TEST(NodletflashSimTest, TellsItsCallerWhenThePowerGoesOffAndOnAndTheNodeAnswers) {
  SimRun run;
  auto late = simulateWithEvents("switched-off-late", &run);
  EXPECT_EQ(run.out, tinySuccess("Finger 2", 12));
  expectDelivered(run, kTiny);
  ASSERT_EQ(late.size(), 4u);
  EXPECT_EQ(late[0].second, "first-query on");
  EXPECT_EQ(late[1].second, "power-off");
  EXPECT_EQ(late[2].second, "power-on");
  EXPECT_EQ(late[3].second, "answer");
  EXPECT_NEAR(late[1].first - late[0].first, 30, 1e-6);
  EXPECT_NEAR(late[2].first - late[1].first, 6, 1e-6);
  // The node boots, then answers the next query.
  EXPECT_GT(late[3].first - late[2].first, 0.25);
  EXPECT_LT(late[3].first - late[2].first, 0.5);

  auto off = simulateWithEvents("already-off", &run);
  ASSERT_EQ(off.size(), 3u);
  EXPECT_EQ(off[0].second, "first-query off");
  EXPECT_EQ(off[1].second, "power-on");
  EXPECT_EQ(off[2].second, "answer");

  auto stuck = simulateWithEvents("never-powers-off", &run);
  ASSERT_EQ(stuck.size(), 1u);
  EXPECT_EQ(stuck[0].second, "first-query on");
}

TEST(NodletflashSimTest, UnconnectedHandUsesTheWholeBudget) {
  SimRun run = simulate("never-answers");
  EXPECT_EQ(run.out, kOpening + kConnectTimeout + kFailed);
  EXPECT_EQ(run.status, 1);
  // One attempt in the first phase, the other 499 in the second.
  EXPECT_EQ(run.number("queries"), 500);
  EXPECT_EQ(run.number("recycles"), 500);
  EXPECT_EQ(run.text("data"), "");
}

TEST(NodletflashSimTest, HandNeverSwitchedOffTimesOut) {
  SimRun run = simulate("never-powers-off");
  EXPECT_EQ(run.out, kOpening + kPowerOffTimeout + kFailed);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.number("queries"), 500);
  EXPECT_EQ(run.number("node_frames_sent"), 500);
}

TEST(NodletflashSimTest, BothPhasesShareTheAttemptBudget) {
  // Answered up to attempt 479, silent from 480: 20 attempts are left for the second phase.
  SimRun run = simulate("silent-from=480");
  EXPECT_EQ(run.out, kOpening + kConnectTimeout + kFailed);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.number("queries"), 500);
  EXPECT_EQ(run.number("node_frames_sent"), 479);
}

TEST(NodletflashSimTest, QueryWriteFailureWhileTheHandIsOnAborts) {
  SimRun run = simulate("query-write-fails");
  EXPECT_EQ(run.out, kOpening + kVersionError + kFailed);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.number("queries"), 0);
}

TEST(NodletflashSimTest, FailingWritesBurnTheSecondPhaseAtOnce) {
  SimRun run = simulate("writes-fail-after-first");
  EXPECT_EQ(run.out, kOpening + kConnectTimeout + kFailed);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.number("queries"), 1);
  EXPECT_EQ(run.number("recycles"), 1);
  // Only the first probe waited; 499 refused writes took no time.
  EXPECT_LT(run.number("elapsed_ms"), 1000);
}

TEST(NodletflashSimTest, AdapterThatWillNotOpen) {
  SimRun run = simulate("open-fails");
  EXPECT_EQ(run.out, kLoading + kInitializing + kOpenError + kFailed);
  EXPECT_EQ(run.status, 1);
  // The end of the run makes no adapter call on a channel that never opened.
  EXPECT_EQ(run.number("adapter_calls"), 1);
}

TEST(NodletflashSimTest, FirstAdapterCallFailing) {
  SimRun run = simulate("fail-call=1");
  EXPECT_EQ(run.out, kLoading + kInitializing + kOpenError + kFailed);
  EXPECT_EQ(run.status, 1);
}

TEST(NodletflashSimTest, ControllerThatWillNotResetEndsTheRun) {
  SimRun run = simulate("recycle-stuck");
  EXPECT_EQ(run.out, kOpening + kRecycleError + kFailed);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.number("queries"), 1);
}

TEST(NodletflashSimTest, ResetWriteFailure) {
  SimRun run = simulate("reset-write-fails");
  EXPECT_EQ(run.out, kOpening + starting(kTiny, "Finger 2", 12) + kResetError + kFailed);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.number("resets"), 0);
  EXPECT_EQ(run.number("starts"), 0);
}

TEST(NodletflashSimTest, StartWriteFailure) {
  SimRun run = simulate("start-write-fails");
  EXPECT_EQ(run.out, kOpening + starting(kTiny, "Finger 2", 12) + kStartError + kFailed);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.number("resets"), 1);
  EXPECT_EQ(run.number("starts"), 0);
}

TEST(NodletflashSimTest, NodeSilentAfterTheStartFrame) {
  SimRun run = simulate("no-go-ahead");
  EXPECT_EQ(run.out, kOpening + starting(kTiny, "Finger 2", 12) + "DOWNPROG20.000000\n" +
                         readError(1, 1) + kFailed);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.number("data_frames"), 0);
  EXPECT_EQ(run.number("node_starts"), 1);
}

TEST(NodletflashSimTest, DataWriteFailureNamesLineAndCount) {
  // tiny.hex: lines 1 to 3 carry 78 characters each, line 4 carries 14.
  struct Case {
    int n, line, count;
    const char* progress;
  };
  const Case cases[] = {
      {1, 1, 1, "DOWNPROG20.000000\n"},
      {78, 1, 78, "DOWNPROG20.000000\n"},
      {80, 2, 2, "DOWNPROG20.000000\nDOWNPROG40.000000\n"},
      {248, 4, 14, "DOWNPROG20.000000\nDOWNPROG40.000000\nDOWNPROG60.000000\nDOWNPROG80.000000\n"},
  };
  for (const Case& c : cases) {
    SimRun run = simulate("data-write-fails-at=" + std::to_string(c.n));
    std::string expected = kOpening + starting(kTiny, "Finger 2", 12);
    expected += c.progress;
    expected += sendError(c.line, c.count);
    expected += kFailed;
    EXPECT_EQ(run.out, expected) << c.n;
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.text("data"), tinyPayloadPrefix(static_cast<size_t>(c.n - 1)));
  }
}

TEST(NodletflashSimTest, FinalCloseFailureFailsTheRun) {
  SimRun run = simulate("close-fails");
  EXPECT_EQ(run.out, kOpening + starting(kTiny, "Finger 2", 12) + kTinyProgress + kComplete +
                         kClosing + kCloseError + kFailed);
  EXPECT_EQ(run.status, 1);
  expectDelivered(run, kTiny);
}

TEST(NodletflashSimTest, SchedulingFailuresEndWithMinusOne) {
  struct Case {
    const char* scenario;
    std::string message;
  };
  const Case cases[] = {
      {"class-read-fails", kClassReadError},
      {"class-wrong", kClassWrong},
      {"thread-read-fails", kThreadReadError},
      {"thread-wrong", kThreadWrong},
      {"affinity-read-fails", ""},  // silent
  };
  for (const Case& c : cases) {
    SimRun run = simulate(c.scenario);
    EXPECT_EQ(run.out, kLoading + kInitializing + c.message) << c.scenario;
    EXPECT_EQ(run.status, 255) << c.scenario;
    // Only the open: the channel is not closed on this way out.
    EXPECT_EQ(run.number("adapter_calls"), 1) << c.scenario;
  }
}

TEST(NodletflashSimTest, CommandLineErrors) {
  SimRun one = runSim({"--sim-clock=virtual", "12"});
  EXPECT_EQ(one.out, usage(simPath()) + kFailed);
  EXPECT_EQ(one.status, 1);

  SimRun three = runSim({"--sim-clock=virtual", "12", kTiny, "extra"});
  EXPECT_EQ(three.out, usage(simPath()) + kFailed);
  EXPECT_EQ(three.status, 1);

  SimRun hex = runSim({"--sim-clock=virtual", "0x0B", kTiny});
  EXPECT_EQ(hex.out, kInvalidNode + kFailed);
  EXPECT_EQ(hex.status, 1);
  EXPECT_EQ(hex.number("adapter_calls"), 0);
}

TEST(NodletflashSimTest, MalformedSimOptionsAreRefused) {
  for (const char* option : {"--sim-scenario=sometimes", "--sim-scenario=silent-from=0",
                             "--sim-scenario=fail-call=", "--sim-clock=fast", "--sim-report=",
                             "--sim-speed=2", "--sim-events-fd=1", "--sim-events-fd=9x"}) {
    SimRun run = runSim({"--sim-report=/dev/null", option, "12", kTiny});
    EXPECT_EQ(run.out, "") << option;
    EXPECT_EQ(run.status, 2) << option;
  }
}

TEST(NodletflashSimTest, OutputArrivesMessageByMessage) {
  // Real clock: the controller that will not reset keeps the run going for seconds after the
  // instructions, which must already have reached the reader by then.
  SimChild child = spawnSim({"--sim-clock=real", "--sim-scenario=recycle-stuck", "12", kTiny});
  ASSERT_GE(child.pid, 0);
  std::FILE* in = fdopen(child.out, "r");
  ASSERT_NE(in, nullptr);
  std::string out;
  char line[512];
  for (int i = 0; i < 4 && std::fgets(line, sizeof line, in) != nullptr; ++i) {
    out += line;
  }
  EXPECT_EQ(out, kOpening);
  int status = 0;
  EXPECT_EQ(waitpid(child.pid, &status, WNOHANG), 0) << "the run had already ended";
  while (std::fgets(line, sizeof line, in) != nullptr) {
    out += line;
  }
  std::fclose(in);
  waitpid(child.pid, &status, 0);
  EXPECT_EQ(out, kOpening + kRecycleError + kFailed);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
}

TEST(NodletflashSimTest, AStopSignalLeavesTheReportAndEndsTheRunByIt) {
  // The hand never goes off: on the real clock the tool waits for it for 50 s, and is stopped
  // while it waits.
  std::string report =
      testing::TempDir() + "sim-report-stopped-" + std::to_string(getpid()) + ".json";
  std::remove(report.c_str());
  SimChild child = spawnSim({"--sim-clock=real", "--sim-scenario=never-powers-off",
                             "--sim-report=" + report, "12", kTiny});
  ASSERT_GE(child.pid, 0);
  std::FILE* in = fdopen(child.out, "r");
  ASSERT_NE(in, nullptr);
  std::string out;
  char line[512];
  while (out.find(kPowerCycleNow) == std::string::npos &&
         std::fgets(line, sizeof line, in) != nullptr) {
    out += line;
  }
  ASSERT_NE(out.find(kPowerCycleNow), std::string::npos) << out;
  kill(child.pid, SIGTERM);
  while (std::fgets(line, sizeof line, in) != nullptr) {
    out += line;
  }
  std::fclose(in);
  int status = 0;
  waitpid(child.pid, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(out.find(kPowerOffTimeout), std::string::npos) << out;
  std::ifstream written(report);
  std::stringstream text;
  text << written.rdbuf();
  std::map<std::string, std::string> values;
  ASSERT_TRUE(parseFlatJson(text.str(), &values)) << text.str();
  EXPECT_EQ(values["scenario"], "never-powers-off");
  EXPECT_EQ(values["clock"], "real");
  EXPECT_EQ(values["power_offs"], "0");
  std::remove(report.c_str());
}

}  // namespace
