#include "window_gate.h"

#include <gtest/gtest.h>

namespace {

const WindowGate kGate{"127.0.0.1:5000", "00112233445566778899aabbccddeeff"};

WindowRequest asked(const char* method, const char* path, const char* token = "",
                    const char* origin = "http://127.0.0.1:5000") {
  return WindowRequest{method, path, "127.0.0.1:5000", origin, token};
}

TEST(WindowGateTest, ThePageItselfNeedsOnlyOurHost) {
  EXPECT_EQ(kGate.admit(asked("GET", "/")), Refusal::kAdmitted);
  EXPECT_EQ(kGate.admit(asked("GET", "/window.js")), Refusal::kAdmitted);
  WindowRequest rebound = asked("GET", "/");
  for (const char* host :
       {"localhost:5000", "127.0.0.1:5001", "127.0.0.1", "evil.example:5000", ""}) {
    rebound.host = host;
    EXPECT_EQ(kGate.admit(rebound), Refusal::kForeignHost) << host;
  }
  // The page's files are read, never posted to.
  EXPECT_EQ(kGate.admit(asked("POST", "/")), Refusal::kNoToken);
}

TEST(WindowGateTest, ReadingTheRunNeedsThisRunsToken) {
  EXPECT_EQ(kGate.admit(asked("GET", "/events")), Refusal::kNoToken);
  EXPECT_EQ(kGate.admit(asked("GET", "/events", "00112233445566778899aabbccddeefe")),
            Refusal::kWrongToken);
  EXPECT_EQ(kGate.admit(asked("GET", "/events", "00112233445566778899aabbccddeeff0")),
            Refusal::kWrongToken);
  EXPECT_EQ(kGate.admit(asked("GET", "/events", "00112233445566778899aabbccddeeff")),
            Refusal::kAdmitted);
  // Even a path that names nothing is only answered to the token's holder.
  EXPECT_EQ(kGate.admit(asked("GET", "/secret")), Refusal::kNoToken);
}

TEST(WindowGateTest, ActionsOnlyByPostFromOurOwnPage) {
  const char* token = "00112233445566778899aabbccddeeff";
  for (const char* action : {"/start", "/cancel", "/retry", "/close", "/module", "/leave"}) {
    EXPECT_EQ(kGate.admit(asked("POST", action, token)), Refusal::kAdmitted) << action;
    EXPECT_EQ(kGate.admit(asked("GET", action, token)), Refusal::kNotByPost) << action;
    EXPECT_EQ(kGate.admit(asked("PUT", action, token)), Refusal::kNotByPost) << action;
    EXPECT_EQ(kGate.admit(asked("POST", action, token, "http://evil.example")),
              Refusal::kForeignOrigin)
        << action;
    EXPECT_EQ(kGate.admit(asked("POST", action, token, "")), Refusal::kForeignOrigin) << action;
    EXPECT_EQ(kGate.admit(asked("POST", action, token, "http://127.0.0.1:5000.evil.example")),
              Refusal::kForeignOrigin)
        << action;
  }
}

TEST(WindowGateTest, AnUploadedNameIsKeptForShowingOnly) {
  EXPECT_EQ(uploadedName("finger%203%20%C3%A9.hex"), "finger 3 \xC3\xA9.hex");
  // Decoded as sent: the session refuses a name with a control character, saying so.
  EXPECT_EQ(uploadedName("a%0D%0A12:00:00.000 end: done"), "a\r\n12:00:00.000 end: done");
  EXPECT_EQ(uploadedName("bad%zz%4"), "bad%zz%4");
  EXPECT_EQ(uploadedName(""), "(no name)");
  // Bounded, and never cut inside a character.
  std::string longName;
  for (int i = 0; i < 200; ++i) {
    longName += "%C3%A9";
  }
  std::string kept = uploadedName(longName);
  EXPECT_LE(kept.size(), 255U);
  EXPECT_EQ(kept.size() % 2, 0U);
}

}  // namespace
