// The commands that switch the hand's power for the guide (--power-off, --power-on): a program
// and its arguments, written as a shell would take them, run without one.
#pragma once

#include <string>
#include <vector>

/// The two commands, as given and as split into words; empty when the person switches.
struct PowerCommands {
  std::string offText;
  std::string onText;
  std::vector<std::string> off;
  std::vector<std::string> on;
  double limitSeconds = 15;  // how long either may run before it is ended
  bool given() const { return !off.empty(); }
};

/// How long a power command may run by default: well inside the tool's wait for the hand.
inline constexpr double kPowerCommandLimitSeconds = 15;

/// Splits |text| into words as a POSIX shell does without expanding anything: blanks separate
/// words; 'single quotes' keep everything; "double quotes" keep everything but a backslash
/// before \ " $ ` or a newline; a backslash elsewhere keeps the next character. False with
/// |problem| set for an unclosed quote, a trailing backslash or no words at all.
bool splitCommand(const std::string& text, std::vector<std::string>* words, std::string* problem);

/// |words[0]| as a program's path: as given when it holds a slash, else the first executable
/// of that name in the folders of PATH; empty when there is none.
std::string commandProgram(const std::string& name);

/// |words| as one line a person can read back and type, quoted where needed.
std::string commandText(const std::vector<std::string>& words);
