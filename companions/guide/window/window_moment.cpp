#include "window_moment.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "figures_text.h"
#include "power_cycle_words.h"

namespace {

using Json = nlohmann::ordered_json;

}  // namespace

Json downloadMoment(size_t index, const ProgressFigures* progress) {
  Json moment;
  moment["kind"] = "download";
  moment["index"] = index;
  if (progress == nullptr) {
    moment["fraction"] = 0.0;
    moment["count"] = "starting";
    moment["pace"] = "";
    return moment;
  }
  // The bar moves with the characters sent when the file's shape is known: the tool's
  // percentage counts lines, which differ in length.
  double fraction = progress->percent / 100.0;
  std::string count;
  char percent[16];
  if (progress->characters >= 0 && progress->totalCharacters > 0) {
    fraction =
        static_cast<double>(progress->characters) / static_cast<double>(progress->totalCharacters);
    std::snprintf(percent, sizeof(percent), "%.0f %%", 100 * std::clamp(fraction, 0.0, 1.0));
    count = withThousands(progress->characters) + " of " +
            withThousands(progress->totalCharacters) + " characters (" + percent + ")";
  } else {
    std::snprintf(percent, sizeof(percent), "%.0f %%", progress->percent);
    count = percent;
  }
  moment["fraction"] = std::round(std::clamp(fraction, 0.0, 1.0) * 1000) / 1000;
  moment["count"] = count;
  std::string pace;
  if (progress->charsPerSecond >= 0) {
    pace = withThousands(std::llround(progress->charsPerSecond)) + " characters a second";
    if (progress->secondsLeft >= 0) {
      pace +=
          ", about " + withThousands(std::llround(std::ceil(progress->secondsLeft))) + " s left";
    }
  }
  moment["pace"] = pace;
  return moment;
}

void WindowMoment::clear() {
  instructionAt_ = -1;
  downloading_ = false;
  session_->setMoment(nullptr);
}

void WindowMoment::moduleBegins(const ModuleInfo& /*module*/, double /*seconds*/) {
  clear();
}

void WindowMoment::moduleEnds(const ModuleInfo& /*module*/, const ModuleOutcome& /*outcome*/,
                              double /*seconds*/) {
  clear();
}

void WindowMoment::message(const ModuleInfo& module, const ToolMessage& message,
                           const ProgressFigures* progress) {
  if (message.milestone == Milestone::kPowerCycleAsked) {
    // What to do is shown once the guide knows how it will follow the hand.
    instructionAt_ = message.seconds;
    hand_ = HandState();
    return;
  }
  if (message.milestone == Milestone::kDownloadStarting) {
    instructionAt_ = -1;
    downloading_ = true;
    showDownload(module, nullptr);
    return;
  }
  if (message.kind == MessageKind::kError && !message.continuation) {
    // The last figures stay: they show how far the run got.
    instructionAt_ = -1;
    downloading_ = false;
    return;
  }
  if (downloading_ && progress != nullptr) {
    showDownload(module, progress);
  }
  if (message.kind == MessageKind::kClosing) {
    instructionAt_ = -1;
    downloading_ = false;
  }
}

void WindowMoment::powerCycle(const ModuleInfo& module, const PowerCycleStep& step,
                              double seconds) {
  if (instructionAt_ < 0) {
    return;
  }
  hand_ = handAfter(hand_, step, instructionAt_);
  showPowerCycle(module, seconds);
}

void WindowMoment::tick(const ModuleInfo& module, Stage /*stage*/, const ProgressFigures* progress,
                        double seconds) {
  if (instructionAt_ >= 0) {
    showPowerCycle(module, seconds);
  } else if (downloading_ && progress != nullptr) {
    showDownload(module, progress);
  }
}

void WindowMoment::showPowerCycle(const ModuleInfo& module, double seconds) {
  if (hand_.offBy <= 0) {
    return;  // the power-cycle watch has not begun
  }
  PowerCycleWords words = powerCycleWords(hand_, powerCycleSince(hand_, seconds - instructionAt_));
  Json moment;
  moment["kind"] = "power-cycle";
  moment["index"] = module.index;
  moment["phase"] = words.phase;
  moment["instruction"] = words.sentence;
  moment["asked_t"] = instructionAt_;
  moment["deadline_s"] = words.deadline >= 0 ? Json(words.deadline) : Json(nullptr);
  moment["deadline_meaning"] =
      words.deadline >= 0 ? Json(kPowerCycleDeadlineMeaning) : Json(nullptr);
  moment["source"] = powerCycleSourceSentence(hand_.source);
  session_->setMoment(std::move(moment));
}

void WindowMoment::showDownload(const ModuleInfo& module, const ProgressFigures* progress) {
  session_->setMoment(downloadMoment(module.index, progress));
}
