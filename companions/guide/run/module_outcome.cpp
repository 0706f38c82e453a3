#include "module_outcome.h"

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

const char* touchedName(Touched touched) {
  switch (touched) {
    case Touched::kNo:
      return "no";
    case Touched::kPartly:
      return "partly";
    case Touched::kFully:
      return "fully";
  }
  return "";
}

namespace {

// The tool's statuses that come without an ERROR line, and what they mean.
std::string silentStatusMeaning(int status) {
  if (status == 255) {
    return "The tool ended with status -1 (shown as 255) and no error message: it could not "
           "raise its priority, pin itself to one processor, or read either back to confirm "
           "it. ";
  }
  if (status > 128 && status < 160) {
    return "The tool was ended by signal " + std::to_string(status - 128) + " (status " +
           std::to_string(status) + ") before it could say why. ";
  }
  return "The tool ended with status " + std::to_string(status) +
         " and no error message; the guide cannot tell why. ";
}

std::string touchedWords(Touched touched) {
  switch (touched) {
    case Touched::kNo:
      return "No firmware reached the module: it is as it was. ";
    case Touched::kPartly:
      return "The download began and did not complete: the module may hold part of the new "
             "firmware and may not work until it is flashed completely. ";
    case Touched::kFully:
      return "Every character of the file was sent to the module. ";
  }
  return "";
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

std::string outcomeMeaning(const ModuleInfo& module, const ModuleOutcome& outcome) {
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
      return "Every character of the file was sent to the module. Switch the hand off and on to "
             "complete the update.";
    case Result::kFailed: {
      std::string words =
          outcome.toolGaveError ? std::string() : silentStatusMeaning(outcome.status);
      words += touchedWords(outcome.touched);
      if (outcome.touched == Touched::kNo) {
        words += "Switch the hand off and on before you start again.";
      } else {
        words += "Switch the hand off and on, and flash this module again with the same file.";
      }
      return words;
    }
    case Result::kRefused:
      if (!outcome.fileProblems.empty()) {
        return std::string("Not flashed: ") +
               (module.node == 0 ? "the node number is not valid or " : "") +
               "the firmware file has problems, and the guide never flashes a file with "
               "problems, not even with --force. The module was not touched.";
      }
      return "Not flashed: the checks found a problem with this computer or the bus; the module "
             "was not touched.";
    case Result::kNotStarted:
      return "Not started: " + outcome.reason + ". The module was not touched.";
    case Result::kInterrupted: {
      std::string killed = killedWords(outcome);
      if (outcome.stage < Stage::kDownload) {
        return killed +
               "Interrupted before the download began: the module was not changed. Switch the "
               "hand off and on before you start again.";
      }
      if (outcome.touched == Touched::kFully) {
        return killed +
               "Interrupted after every character was sent. Switch the hand off and on; if the "
               "module does not work, flash it again.";
      }
      return killed +
             "Interrupted during the download: the module may hold part of the new firmware and "
             "may not work until it is flashed completely. Switch the hand off and on, and "
             "flash this module again with the same file.";
    }
    case Result::kSkipped:
      return "Not flashed: " +
             (outcome.reason.empty() ? std::string("an earlier module did not complete")
                                     : outcome.reason) +
             ". The module was not touched.";
  }
  return "";
}

int guideExitStatus(const ModuleOutcome& outcome) {
  if (outcome.result == Result::kInterrupted) {
    return kInterruptedStatus;
  }
  if (outcome.haveStatus && outcome.status != 0) {
    return outcome.status;
  }
  return kRefusedStatus;
}
