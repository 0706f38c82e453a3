// A port and a sleeper that log every call in one trace, with read and write results scripted
// by the test.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "can/can_port.h"
#include "host/millisecond_sleep.h"

// One trace shared by the port and the sleeper, so that their order shows.
struct CallTrace {
  std::vector<std::string> calls;
};

// Answers each call from a script: a function per kind of call decides the status.
class ScriptedPort : public CanPort {
 public:
  explicit ScriptedPort(CallTrace* trace) : trace_(trace) {}

  std::function<bool()> openOk = [] { return true; };
  std::function<bool()> closeOk = [] { return true; };
  std::function<bool()> readOk = [] { return false; };
  std::function<bool(const CanFrame&)> writeOk = [](const CanFrame&) { return true; };
  std::vector<CanFrame> written;
  long reads = 0;

 protected:
  CanStatus doOpen() override { return log("open", openOk()); }
  CanStatus doClose() override { return log("close", closeOk()); }
  CanStatus doRead(CanFrame* frame) override {
    ++reads;
    *frame = CanFrame{};
    bool ok = readOk();
    if (logReads) {
      log("read", ok);
    }
    return ok ? kCanOk : 1;
  }
  CanStatus doWrite(const CanFrame& frame) override {
    written.push_back(frame);
    return log("write", writeOk(frame));
  }

 public:
  bool logReads = true;

 private:
  CanStatus log(const char* call, bool ok) {
    trace_->calls.push_back(std::string(call) + (ok ? "" : "!"));
    return ok ? kCanOk : 1;
  }
  CallTrace* trace_;
};

// Logs each sleep as "sleep N".
class TracingSleeper : public Sleeper {
 public:
  explicit TracingSleeper(CallTrace* trace) : trace_(trace) {}
  void sleepMs(unsigned ms) override {
    trace_->calls.push_back("sleep " + std::to_string(ms));
    totalMs += ms;
  }
  unsigned long totalMs = 0;

 private:
  CallTrace* trace_;
};
