#include "power_cycle_watch.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "power_cycle_text.h"
#include "power_cycle_words.h"

namespace {

std::vector<std::string> phases(const std::vector<PowerCycleStep>& steps) {
  static const char* const kNames[] = {"asked", "hand-off", "hand-on"};
  std::vector<std::string> names;
  names.reserve(steps.size());
  for (const PowerCycleStep& step : steps) {
    names.emplace_back(kNames[step.phase]);
  }
  return names;
}

// The tool's probes as the bus shows them: a query every |step| seconds from |from|, each
// answered while |answered| says so.
void probe(PowerCycleWatch* watch, double from, int count, bool answered, double step = 0.1) {
  for (int i = 0; i < count; ++i) {
    watch->querySeen(from + i * step);
    if (answered) {
      watch->answerSeen(from + i * step + 0.001);
    }
  }
}

TEST(PowerCycleWatch, OnTheBusAnUnansweredQueryIsTheHandGoingOffAndTheNextFrameItComingOn) {
  PowerCycleWatch watch(PowerCycleStep::kBus);
  watch.asked(100);
  probe(&watch, 100, 100, true);  // on for 10 s
  probe(&watch, 110, 30, false, 0.15);
  EXPECT_TRUE(watch.state().off);
  EXPECT_NEAR(watch.state().offAt, 10, 1e-9);
  // Off at 10 s: 100 probes used, 400 silent ones of 0.15 s left.
  EXPECT_NEAR(watch.state().onBy, 70, 1e-9);
  EXPECT_FALSE(watch.state().on);
  watch.answerSeen(116.2);
  EXPECT_TRUE(watch.state().on);
  EXPECT_NEAR(watch.state().onAt, 16.2, 1e-9);

  // The steps are timed on the guide's clock, like the instruction.
  std::vector<PowerCycleStep> steps = watch.takeSteps();
  EXPECT_EQ(phases(steps), (std::vector<std::string>{"asked", "hand-off", "hand-on"}));
  EXPECT_DOUBLE_EQ(steps[0].offBySeconds, 150);
  EXPECT_DOUBLE_EQ(steps[0].onBySeconds, 175);
  EXPECT_NEAR(steps[1].atSeconds, 110, 1e-9);
  EXPECT_NEAR(steps[1].onBySeconds, 170, 1e-9);
  EXPECT_NEAR(steps[2].atSeconds, 116.2, 1e-9);
  EXPECT_TRUE(watch.takeSteps().empty());
  // Followed step by step, a view knows what the watch knows.
  HandState followed;
  for (const PowerCycleStep& step : steps) {
    followed = handAfter(followed, step, 100);
  }
  EXPECT_NEAR(followed.offAt, 10, 1e-9);
  EXPECT_NEAR(followed.onBy, 70, 1e-9);
  EXPECT_NEAR(followed.onAt, 16.2, 1e-9);
}

TEST(PowerCycleWatch, OnTheBusAHandThatKeepsAnsweringNeverGoesOff) {
  PowerCycleWatch watch(PowerCycleStep::kBus);
  watch.asked(0);
  probe(&watch, 0, 500, true);
  EXPECT_FALSE(watch.state().off);
  EXPECT_EQ(phases(watch.takeSteps()), std::vector<std::string>{"asked"});
}

TEST(PowerCycleWatch, SightingsBeforeTheInstructionIsReadAreKeptForIt) {
  PowerCycleWatch watch(PowerCycleStep::kBus);
  // The bus was drained before the tool's line reached the guide: the hand was already off.
  watch.querySeen(5.0);
  watch.querySeen(5.15);
  EXPECT_TRUE(watch.takeSteps().empty());
  watch.asked(5.01);
  EXPECT_EQ(phases(watch.takeSteps()), (std::vector<std::string>{"asked", "hand-off"}));
  EXPECT_EQ(watch.state().offAt, 0);
  EXPECT_EQ(watch.state().onBy, 75);
}

TEST(PowerCycleWatch, TheVirtualHandsReportIsTimedFromItsFirstQuery) {
  PowerCycleWatch late(PowerCycleStep::kVirtualHand);
  late.asked(0.004);
  for (const char* line : {"0.003000 first-query on", "this is not a report", "30.003000 power-off",
                           "36.003000 power-on", "36.253000 answer"}) {
    late.handReport(line);
  }
  EXPECT_NEAR(late.state().offAt, 30, 1e-9);
  EXPECT_NEAR(late.state().onBy, 60, 1e-9);
  EXPECT_NEAR(late.state().onAt, 36, 1e-9);
  EXPECT_EQ(phases(late.takeSteps()), (std::vector<std::string>{"asked", "hand-off", "hand-on"}));

  PowerCycleWatch alreadyOff(PowerCycleStep::kVirtualHand);
  alreadyOff.handReport("0.002 first-query off");
  alreadyOff.asked(0);
  EXPECT_TRUE(alreadyOff.state().off);
  EXPECT_EQ(alreadyOff.state().offAt, 0);
}

TEST(PowerCycleWatch, TheClockAloneNeverClaimsTheHandWentOffOrOn) {
  PowerCycleWatch watch(PowerCycleStep::kClock);
  watch.asked(1);
  probe(&watch, 1, 5, true);
  probe(&watch, 2, 5, false);
  watch.answerSeen(4);
  watch.handReport("1.0 power-off");
  EXPECT_FALSE(watch.state().off);
  EXPECT_EQ(phases(watch.takeSteps()), std::vector<std::string>{"asked"});
}

// The hand in each state the person can meet, with a moment in it.
struct Moment {
  const char* what;
  HandState hand;
  double since;
  const char* says;  // a phrase the full line must hold
};

std::vector<Moment> moments() {
  HandState on{PowerCycleStep::kBus, false, 0, false, 0, 50, 75};
  HandState offAt30{PowerCycleStep::kVirtualHand, true, 30, false, 0, 50, 60};
  HandState backOn{PowerCycleStep::kVirtualHand, true, 30, true, 36, 50, 60};
  HandState clock{PowerCycleStep::kClock, false, 0, false, 0, 50, 75};
  // A second learnt as the difference of two clock readings is still a second.
  HandState offAt1{PowerCycleStep::kVirtualHand,
                   true,
                   (0.21428627277703438 + 1.0) - 0.21428627277703438,
                   false,
                   0,
                   50,
                   74.5};
  return {
      {"off at 1 s, by difference", offAt1, 1.0, "off since 1 s; keep it off 5 s more"},
      {"on", on, 3, "switch the hand OFF now, by 50 s"},
      {"on past the limit", on, 51, "stayed on past 50 s"},
      {"just off", offAt30, 31, "keep it off 4 s more, then ON by 60 s"},
      {"off 5 s", offAt30, 35.5, "switch it back ON now, by 60 s"},
      {"off too long", offAt30, 61, "not back on by 60 s"},
      {"back on", backOn, 36.5, "back on at 36 s (by 60 s)"},
      {"clock early", clock, 12, "if off 5 s, ON by 69 s"},
      {"clock late", clock, 52, "switch it ON now, by 75 s"},
      {"clock past", clock, 76, "past about 75 s"},
  };
}

TEST(PowerCycleLine, SaysWhatToDoByWhenAndFitsEveryWidthWithItsDeadline) {
  const std::regex deadline("(by|past|after) (about )?[0-9]+ s");
  for (const Moment& m : moments()) {
    std::string full = powerCycleLine(m.hand, m.since, 200);
    EXPECT_NE(full.find(m.says), std::string::npos) << m.what << ": " << full;
    for (int width = 24; width <= 120; ++width) {
      std::string line = powerCycleLine(m.hand, m.since, width);
      EXPECT_LE(static_cast<int>(line.size()), width - 1) << m.what << " at " << width;
      EXPECT_TRUE(std::regex_search(line, deadline)) << m.what << " at " << width << ": " << line;
    }
    // At 80 columns, the whole instruction with its deadline.
    std::string at80 = powerCycleLine(m.hand, m.since, 80);
    EXPECT_EQ(at80.rfind("Power cycle ", 0), 0u) << m.what << ": " << at80;
  }
}

// The window shows the sentence the terminal's line is made of, and the deadline it names.
TEST(PowerCycleWords, EveryFaceSaysTheSameStepAndItsDeadline) {
  for (const Moment& m : moments()) {
    PowerCycleWords words = powerCycleWords(m.hand, m.since);
    EXPECT_EQ(powerCycleLine(m.hand, m.since, 1000),
              "Power cycle " + powerCycleSeconds(m.since) + " s: " + words.sentence)
        << m.what;
    if (words.deadline >= 0) {
      EXPECT_GT(words.deadline, m.since) << m.what;
      EXPECT_NE(words.sentence.find("by " + powerCycleSeconds(words.deadline) + " s"),
                std::string::npos)
          << m.what << ": " << words.sentence;
    } else {
      // Nothing left to do in time: the hand is back, or the tool gives up.
      EXPECT_TRUE(words.phase == "back-on" || words.phase == "back-on-late" ||
                  words.phase == "stayed-on" || words.phase == "not-back-on" ||
                  words.phase == "clock-past")
          << m.what << ": " << words.phase;
    }
  }
}

TEST(PowerCycleLine, WithoutSightOfTheHandTheWordsHoldEitherWay) {
  HandState clock{PowerCycleStep::kClock, false, 0, false, 0, 50, 75};
  std::string line = powerCycleLine(clock, 20, 80);
  EXPECT_NE(line.find("if on"), std::string::npos) << line;
  EXPECT_EQ(line.find("the hand is off"), std::string::npos) << line;
  EXPECT_NE(powerCycleInstructions(clock).find("cannot see the hand"), std::string::npos);
}

}  // namespace
