#include "module_outcome.h"

#include "module_records.h"

const char* stageName(Stage stage) {
  switch (stage) {
    case Stage::kChecks:
      return "checks";
    case Stage::kStarting:
      return "starting";
    case Stage::kPowerCycle:
      return "power-cycle";
    case Stage::kDownload:
      return "download";
    case Stage::kClosing:
      return "closing";
  }
  return "";
}

const char* resultName(Result result) {
  switch (result) {
    case Result::kDone:
      return "done";
    case Result::kFailed:
      return "failed";
    case Result::kRefused:
      return "refused";
    case Result::kNotStarted:
      return "not-started";
    case Result::kInterrupted:
      return "interrupted";
    case Result::kSkipped:
      return "skipped";
    case Result::kPowerFailed:
      return "power-failed";
  }
  return "";
}

std::string moduleLabel(const ModuleInfo& module) {
  if (module.node == 0) {
    return module.nodeText;
  }
  return std::to_string(module.node) + " (" + module.name + ")";
}

const char* holdsName(Holds holds) {
  switch (holds) {
    case Holds::kUnchanged:
      return "unchanged";
    case Holds::kMayBeErased:
      return "may-be-erased";
    case Holds::kPartWay:
      return "part-way";
    case Holds::kWritten:
      return "written";
  }
  return "unchanged";
}

namespace {

// The tool's statuses that come without an ERROR line, and what they mean.
std::string silentStatusMeaning(int status) {
  if (status == 255) {
    return "The tool ended with status -1 (shown as 255) and no error message: it could not "
           "raise its priority, pin itself to one processor, or read either back to confirm "
           "it. ";
  }
  if (status == 0) {
    return "The tool ended with status 0, the status of a complete download, but never said that "
           "the download completed; the guide does not take the module for done. ";
  }
  if (status > 128 && status < 160) {
    return "The tool was ended by signal " + std::to_string(status - 128) + " (status " +
           std::to_string(status) + ") before it could say why. ";
  }
  return "The tool ended with status " + std::to_string(status) +
         " and no error message; the guide cannot tell why. ";
}

// What to do after a turn that ended without completing.
std::string remedy(const ModuleOutcome& outcome) {
  if (outcome.holds == Holds::kUnchanged) {
    return "Switch the hand off and on before you start again.";
  }
  return "Switch the hand off and on, and flash this module again with the same file.";
}

// What a kill after the grace may have left behind.
std::string killedWords(const ModuleOutcome& outcome) {
  if (!outcome.killed) {
    return "";
  }
  std::string words = "The tool did not end within " +
                      std::to_string(static_cast<int>(kInterruptGraceSeconds)) +
                      " s of the interruption and was killed";
  if (outcome.interfaceName.empty()) {
    return words + ". ";
  }
  const std::string& name = outcome.interfaceName;
  return words + ", which may have kept it from putting the interface back: " + name +
         " may be left down or at another bit rate. Check it with: ip -details link show " + name +
         " (\"UP\" in its flags, \"bitrate\" on its can line); sudo ip link set " + name +
         " up brings it back up. ";
}

}  // namespace

std::string holdsWords(const ModuleInfo& module, const ModuleOutcome& outcome) {
  std::string of = outcome.charactersExact ? "" : "at least ";
  of += std::to_string(outcome.charactersSent) + " of the file's ";
  switch (outcome.holds) {
    case Holds::kUnchanged: {
      std::string words =
          "The download never began on the module: it holds what it held before "
          "this turn.";
      std::string note = recordNote(module);
      return note.empty() ? words : words + " " + note;
    }
    case Holds::kMayBeErased:
      return "The start of the download may have reached the module, and no character of the "
             "file is known to have reached it: its firmware may be erased, and it may not work "
             "until it is flashed completely.";
    case Holds::kPartWay:
      return "The download stopped part-way, after " + of +
             "characters had been sent: the module holds part of the new firmware and cannot be "
             "trusted to work until it is flashed completely.";
    case Holds::kWritten:
      return "Every character of the file was sent to the module.";
  }
  return "";
}

std::string outcomeMeaning(const ModuleInfo& module, const ModuleOutcome& outcome) {
  std::string holds = holdsWords(module, outcome);
  switch (outcome.result) {
    case Result::kDone:
      if (!outcome.overridden.empty()) {
        std::string words =
            "Every character of the file was sent, with --force overriding what "
            "the checks found: ";
        for (size_t i = 0; i < outcome.overridden.size(); ++i) {
          words += (i > 0 ? "; " : "") + outcome.overridden[i];
        }
        return words +
               ". Switch the hand off and on to complete the update, and check that the "
               "module works.";
      }
      if (outcome.finalPowerCycleDone) {
        return holds +
               " The guide ran its power commands to switch the hand off and on; once the hand "
               "has been off and on, the update is complete.";
      }
      if (outcome.guideSwitches) {
        return holds +
               " Switch the hand off and on to complete the update: the guide's power commands "
               "do it at the next module's power cycle.";
      }
      return holds + " Switch the hand off and on to complete the update.";
    case Result::kFailed: {
      std::string words =
          outcome.toolGaveError ? std::string() : silentStatusMeaning(outcome.status);
      return words + holds + " " + remedy(outcome);
    }
    case Result::kRefused:
      if (!outcome.fileProblems.empty()) {
        return std::string("Not flashed: ") +
               (module.node == 0 ? "the node number is not valid or " : "") +
               "the firmware file has problems, and the guide never flashes a file with "
               "problems, not even with --force. " +
               holds;
      }
      return "Not flashed: the checks found a problem with this computer or the bus. " + holds;
    case Result::kNotStarted:
      return "Not started: " + outcome.reason + ". " + holds;
    case Result::kInterrupted: {
      std::string killed = killedWords(outcome);
      switch (outcome.holds) {
        case Holds::kUnchanged:
          return killed +
                 (outcome.stage < Stage::kDownload ? "Interrupted before the download began. "
                                                   : "Interrupted. ") +
                 holds + " " + remedy(outcome);
        case Holds::kWritten:
          return killed +
                 "Interrupted after every character was sent. Switch the hand off and on; if the "
                 "module does not work, flash it again.";
        case Holds::kMayBeErased:
        case Holds::kPartWay:
          break;
      }
      return killed + "Interrupted during the download. " + holds + " " + remedy(outcome);
    }
    case Result::kSkipped:
      return "Not flashed: " +
             (outcome.reason.empty() ? std::string("an earlier module did not complete")
                                     : outcome.reason) +
             ". " + holds;
    case Result::kPowerFailed:
      return "The guide's power cycle failed: " + outcome.reason + ". " + holds +
             (outcome.holds == Holds::kWritten
                  ? " Switch the hand off and on yourself to complete the update."
                  : " See to the power switch and its commands, then start the guide again.");
  }
  return "";
}

int guideExitStatus(const ModuleOutcome& outcome) {
  if (outcome.result == Result::kInterrupted) {
    return kInterruptedStatus;
  }
  if (outcome.result == Result::kPowerFailed) {
    return kPowerFailedStatus;
  }
  if (outcome.haveStatus && outcome.status != 0) {
    return outcome.status;
  }
  return kRefusedStatus;
}
