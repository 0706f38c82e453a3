#include "redo_command.h"

namespace {

// |word| as a POSIX shell reads it back.
std::string shellWord(const std::string& word) {
  bool plain = !word.empty();
  for (char c : word) {
    bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
              std::string("_-./=:,+@%").find(c) != std::string::npos;
    plain = plain && ok;
  }
  if (plain) {
    return word;
  }
  std::string quoted = "'";
  for (char c : word) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

}  // namespace

std::vector<size_t> modulesNotDone(const std::vector<ModuleOutcome>& outcomes) {
  std::vector<size_t> notDone;
  for (size_t i = 0; i < outcomes.size(); ++i) {
    if (outcomes[i].result != Result::kDone) {
      notDone.push_back(i);
    }
  }
  return notDone;
}

std::vector<std::string> redoArguments(const std::vector<std::string>& commandLine,
                                       const std::vector<ModuleInfo>& modules,
                                       const std::vector<ModuleOutcome>& outcomes) {
  std::vector<size_t> notDone = modulesNotDone(outcomes);
  if (notDone.empty() || commandLine.empty()) {
    return {};
  }
  std::vector<std::string> words = commandLine;
  for (size_t i : notDone) {
    if (i < modules.size()) {
      words.push_back(modules[i].nodeText);
      words.push_back(modules[i].path);
    }
  }
  return words;
}

std::string shellCommand(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
    line += (line.empty() ? "" : " ") + shellWord(word);
  }
  return line;
}
