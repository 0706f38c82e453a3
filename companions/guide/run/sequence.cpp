#include "sequence.h"

#include <utility>

#include "app/node_number.h"
#include "download/node_frames.h"
#include "interruption.h"

ModuleInfo namedModule(const std::string& nodeText, const std::string& path) {
  ModuleInfo module;
  module.nodeText = nodeText;
  module.path = path;
  if (parseNodeNumber(nodeText.c_str(), &module.node)) {
    module.name = nodletName(module.node);
  } else {
    module.node = 0;
  }
  return module;
}

bool sameModule(const ModuleInfo& a, const ModuleInfo& b) {
  return a.node != 0 && a.node == b.node;
}

bool namedTwice(const std::vector<ModuleInfo>& modules, size_t* first, size_t* second) {
  for (size_t i = 0; i < modules.size(); ++i) {
    for (size_t j = i + 1; j < modules.size(); ++j) {
      if (sameModule(modules[i], modules[j])) {
        *first = i;
        *second = j;
        return true;
      }
    }
  }
  return false;
}

Sequence::Sequence(std::vector<ModuleInfo> modules, GuideSettings settings, const GuideClock* clock,
                   RunObserver* observer, TurnRecord* record, ModuleRecords* records)
    : modules_(std::move(modules)),
      outcomes_(modules_.size()),
      settings_(std::move(settings)),
      clock_(clock),
      observer_(observer),
      record_(record),
      records_(records) {
  for (size_t i = 0; i < modules_.size(); ++i) {
    modules_[i].index = static_cast<int>(i);
    modules_[i].count = static_cast<int>(modules_.size());
    modules_[i].rehearsal = settings_.rehearse ? settings_.scenario : std::string();
  }
  readRecords();
}

void Sequence::readRecords() {
  if (records_ == nullptr) {
    return;
  }
  recordWarning_.clear();
  std::map<int, ModuleRecord> kept = records_->readAll(&recordWarning_);
  for (ModuleInfo& module : modules_) {
    auto found = kept.find(module.node);
    module.recordBefore = found != kept.end() ? found->second : ModuleRecord();
  }
}

void Sequence::skip(size_t index, const std::string& reason) {
  outcomes_[index] = ModuleOutcome();
  outcomes_[index].reason = reason;
  outcomes_[index].recordAfter = modules_[index].recordBefore;
  observer_->moduleEnds(modules_[index], outcomes_[index], clock_->now());
}

void Sequence::refuseAll(const std::vector<size_t>& todo,
                         const std::vector<PreflightResult>& fileChecks) {
  std::string damaged;
  for (size_t i : todo) {
    if (hasProblem(fileChecks[i])) {
      damaged += (damaged.empty() ? "" : ", ") + moduleLabel(modules_[i]);
    }
  }
  for (size_t i : todo) {
    if (hasProblem(fileChecks[i])) {
      outcomes_[i] = refuseModule(modules_[i], fileChecks[i], *clock_, observer_);
      continue;
    }
    observer_->moduleBegins(modules_[i], clock_->now());
    observer_->checked(modules_[i], fileChecks[i], false, clock_->now());
    skip(i, "no module is flashed while the node number or file of another (" + damaged +
                ") has problems");
  }
}

int Sequence::run(size_t first) {
  // A try again: what the run before it, or another guide, left in the record since.
  if (runs_++ > 0) {
    readRecords();
  }
  // The modules go in order: one before |first| that is not done goes first.
  size_t from = first;
  for (size_t i = 0; i < first && i < modules_.size(); ++i) {
    if (outcomes_[i].result != Result::kDone) {
      from = i;
      break;
    }
  }
  std::vector<size_t> todo;
  for (size_t i = from; i < modules_.size(); ++i) {
    if (outcomes_[i].result != Result::kDone) {
      todo.push_back(i);
    }
  }
  // Every module's node number and file first: a damaged file anywhere, and nothing is flashed.
  std::vector<PreflightResult> fileChecks(modules_.size());
  bool fileProblems = false;
  for (size_t i : todo) {
    fileChecks[i] = checkNodeAndImage(modules_[i].nodeText, modules_[i].path);
    fileProblems = fileProblems || hasProblem(fileChecks[i]);
  }
  int status = 0;
  // The module done just before, in this run: its completing power cycle starts the next one.
  const ModuleInfo* justDone = nullptr;
  if (fileProblems) {
    refuseAll(todo, fileChecks);
    status = kRefusedStatus;
    todo.clear();
  }
  for (size_t i : todo) {
    if (status != 0) {
      // The first module not done stops the sequence: the rest are left as they are.
      skip(i, "the sequence stopped at an earlier module");
      continue;
    }
    if (wasInterrupted()) {
      status = kInterruptedStatus;
      skip(i, "the guide was asked to stop");
      continue;
    }
    if (record_ != nullptr) {
      std::string reason;
      if (!record_->open(modules_[i], clock_->now(), &reason)) {
        // The log is the record of what reached the hand: no module starts without one unless
        // the person asked for none.
        outcomes_[i] = ModuleOutcome();
        outcomes_[i].result = Result::kNotStarted;
        outcomes_[i].reason =
            reason + "; start the guide again with another --log, or with --no-log to keep none";
        outcomes_[i].recordAfter = modules_[i].recordBefore;
        observer_->moduleBegins(modules_[i], clock_->now());
        observer_->moduleEnds(modules_[i], outcomes_[i], clock_->now());
        status = kRefusedStatus;
        continue;
      }
      modules_[i].logPath = record_->path();
    }
    if (justDone != nullptr) {
      observer_->powerCycleShared(*justDone, modules_[i], clock_->now());
    }
    outcomes_[i] = runModule(modules_[i], fileChecks[i], settings_, *clock_, observer_, records_);
    justDone = outcomes_[i].result == Result::kDone ? &modules_[i] : nullptr;
    if (outcomes_[i].result != Result::kDone) {
      status = guideExitStatus(outcomes_[i]);
    }
  }
  observer_->sequenceEnds(modules_, outcomes_, clock_->now());
  return status;
}
