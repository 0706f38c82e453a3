#include "download/power_cycle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "can/recycle.h"
#include "scripted_port.h"

namespace {

using Calls = std::vector<std::string>;

// A node that answers the queries whose numbers (from 1) the test names, with one frame read
// right after the query.
struct ScriptedNode {
  CallTrace trace;
  ScriptedPort port{&trace};
  TracingSleeper sleeper{&trace};
  int queries = 0;
  bool pending = false;

  explicit ScriptedNode(const std::function<bool(int)>& answers) {
    port.writeOk = [this, answers](const CanFrame&) {
      pending = answers(++queries);
      return true;
    };
    port.readOk = [this] {
      bool answer = pending;
      pending = false;
      return answer;
    };
  }
};

void append(Calls* calls, const Calls& more) {
  calls->insert(calls->end(), more.begin(), more.end());
}

Calls answeredProbe() {
  return {"write", "read", "sleep 50", "close", "open", "sleep 50"};
}

Calls silentProbe() {
  Calls calls{"write"};
  for (int i = 0; i < kPollWindowReads; ++i) {
    append(&calls, {"read!", "sleep 2"});
  }
  append(&calls, {"sleep 50", "close", "open", "sleep 50"});
  return calls;
}

TEST(PowerCycleTest, WatchesNodeGoSilentAndAnswerAgain) {
  ScriptedNode node([](int query) { return query <= 2 || query == 5; });
  EXPECT_EQ(watchPowerCycle(node.port, node.sleeper, 12), PowerCycleOutcome::kAnswered);

  Calls expected;
  append(&expected, answeredProbe());
  append(&expected, answeredProbe());
  append(&expected, silentProbe());
  append(&expected, silentProbe());
  append(&expected, answeredProbe());
  append(&expected, {"sleep 100", "close", "open", "sleep 100"});
  EXPECT_EQ(node.trace.calls, expected);

  // Every probe is the query frame to the node.
  ASSERT_EQ(node.port.written.size(), 5u);
  for (const CanFrame& frame : node.port.written) {
    EXPECT_EQ(frame.identifier, 12u);
    EXPECT_EQ(frame.length, 1);
    EXPECT_EQ(frame.data[0], 0x00);
  }
}

TEST(PowerCycleTest, BothPhasesShareOneBudget) {
  // Silent from query 480: phase 2 has only the 20 attempts left.
  ScriptedNode late([](int query) { return query < 480; });
  EXPECT_EQ(watchPowerCycle(late.port, late.sleeper, 11), PowerCycleOutcome::kConnectTimeout);
  EXPECT_EQ(late.queries, kPowerCycleAttempts);

  // Never answers: one phase-1 attempt, then phase 2 up to the 500th.
  ScriptedNode absent([](int) { return false; });
  EXPECT_EQ(watchPowerCycle(absent.port, absent.sleeper, 11), PowerCycleOutcome::kConnectTimeout);
  EXPECT_EQ(absent.queries, kPowerCycleAttempts);

  // Always answers: the power-off timeout after the 500th answered attempt.
  ScriptedNode always([](int) { return true; });
  EXPECT_EQ(watchPowerCycle(always.port, always.sleeper, 11), PowerCycleOutcome::kPowerOffTimeout);
  EXPECT_EQ(always.queries, kPowerCycleAttempts);
}

TEST(PowerCycleTest, AnyFrameCountsAsAnAnswer) {
  // A frame already waiting (from another node, say) keeps phase 1 going.
  ScriptedNode node([](int query) { return query == 3; });
  int reads = 0;
  node.port.readOk = [&] {
    bool answer = node.pending || ++reads == 1;
    node.pending = false;
    return answer;
  };
  EXPECT_EQ(watchPowerCycle(node.port, node.sleeper, 13), PowerCycleOutcome::kAnswered);
  EXPECT_EQ(node.queries, 3);
}

TEST(PowerCycleTest, QueryWriteFailureEndsPhaseOneOnly) {
  ScriptedNode refused([](int) { return true; });
  refused.port.writeOk = [](const CanFrame&) { return false; };
  EXPECT_EQ(watchPowerCycle(refused.port, refused.sleeper, 14),
            PowerCycleOutcome::kQueryWriteFailed);
  EXPECT_EQ(refused.trace.calls, Calls{"write!"});

  // In phase 2 a refused query is an attempt with no poll, no sleep and no reset.
  ScriptedNode off([](int) { return false; });
  int writes = 0;
  off.port.writeOk = [&](const CanFrame&) { return ++writes == 1; };
  EXPECT_EQ(watchPowerCycle(off.port, off.sleeper, 14), PowerCycleOutcome::kConnectTimeout);
  Calls expected = silentProbe();
  expected.insert(expected.end(), kPowerCycleAttempts - 1, "write!");
  EXPECT_EQ(off.trace.calls, expected);
}

TEST(PowerCycleTest, RecycleRetriesAndGivesUp) {
  ScriptedNode node([](int query) { return query == 2; });
  int closes = 0;
  node.port.closeOk = [&] { return ++closes > 2; };
  EXPECT_EQ(watchPowerCycle(node.port, node.sleeper, 12), PowerCycleOutcome::kAnswered);
  Calls expected = silentProbe();
  expected.resize(expected.size() - 3);
  append(&expected, {"close!", "sleep 1", "close!", "sleep 1", "close", "open", "sleep 50"});
  Calls firstProbe(node.trace.calls.begin(),
                   node.trace.calls.begin() + static_cast<long>(expected.size()));
  EXPECT_EQ(firstProbe, expected);

  ScriptedNode stuck([](int) { return false; });
  stuck.port.openOk = [&] { return stuck.trace.calls.empty(); };
  stuck.port.open();
  EXPECT_EQ(watchPowerCycle(stuck.port, stuck.sleeper, 12), PowerCycleOutcome::kRecycleFailed);
  EXPECT_EQ(stuck.queries, 1);
  long opens = 0;
  for (const std::string& call : stuck.trace.calls) {
    opens += call == "open!";
  }
  EXPECT_EQ(opens, kRecycleAttempts);
}

}  // namespace

TEST(PowerCycleLimits, FollowFromTheAttemptBudgetAndTheProbesSleeps) {
  // 500 answered probes of 100 ms; 500 silent ones of 150 ms.
  EXPECT_DOUBLE_EQ(powerOffLimitSeconds(), 50);
  EXPECT_DOUBLE_EQ(powerOnLimitSeconds(0), 75);
  // Each second before the hand goes off leaves 1.5 s less: 75 - t/2.
  EXPECT_DOUBLE_EQ(powerOnLimitSeconds(10), 70);
  EXPECT_DOUBLE_EQ(powerOnLimitSeconds(30), 60);
  EXPECT_DOUBLE_EQ(powerOnLimitSeconds(50), 50);
  EXPECT_DOUBLE_EQ(powerOnLimitSeconds(60), 60);  // no budget left: nothing to add
}
