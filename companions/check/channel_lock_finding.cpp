#include "channel_lock_finding.h"

void judgeChannelLock(const std::string& channel, const std::string& lockName,
                      ChannelLockState state, std::vector<Finding>* findings) {
  switch (state) {
    case ChannelLockState::kFree:
      findings->push_back(Finding{Severity::kOk, "lock",
                                  "no other run holds " + channel + " (" + lockName + ")", 0, 0});
      return;
    case ChannelLockState::kHeld:
      findings->push_back(Finding{Severity::kProblem, "lock",
                                  "another run of the tool holds " + channel + " now (" + lockName +
                                      "): a second run would stop at \"Error initializing CAN\"; "
                                      "wait for the first to end",
                                  0, 0});
      return;
    case ChannelLockState::kUnknown:
      findings->push_back(Finding{
          Severity::kWarning, "lock",
          "cannot tell whether another run holds " + channel + " (" + lockName + ")", 0, 0});
      return;
  }
}

void checkChannelLock(const std::string& channel, std::vector<Finding>* findings) {
  std::string name = channelLockName(channel);
  judgeChannelLock(channel, name, probeChannelLock(name), findings);
}
