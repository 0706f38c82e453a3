// What each error message of nodletflash means, its likely causes on Linux and on Windows, and
// what to do: shown by the guide after an error, and rendered into the manual page and the
// Windows README by troubleshooting-doc.
#pragma once

#include <string>
#include <vector>

/// The platforms whose causes differ.
enum class Platform { kLinux, kWindows };

/// One likely cause of an error and what to do about it.
struct Cause {
  std::string what;
  std::string todo;
};

/// One error message of the tool and its troubleshooting.
struct Trouble {
  /// The whole line as the tool prints it, "ERROR" tag included; "%s" stands for any text and
  /// "%d" for a whole number.
  std::string message;
  /// What has happened, and what state the hand is left in.
  std::string meaning;
  /// The likely causes on Linux, and on Windows as well when |windowsCauses| is empty.
  std::vector<Cause> linuxCauses;
  std::vector<Cause> windowsCauses;
};

/// Every error message of the tool, in the order a run can meet them.
const std::vector<Trouble>& troubleTable();

/// The entry whose message matches |line| (one line of the tool's output, tag included), or
/// null when none does.
const Trouble* findTrouble(const std::string& line);

/// True when |line| is |pattern| with its "%s" and "%d" filled in.
bool matchesMessage(const std::string& pattern, const std::string& line);

/// The causes for |platform|.
const std::vector<Cause>& causesFor(const Trouble& trouble, Platform platform);

/// True for the cause every error in the middle of the download adds: that the download stopped
/// part-way. A face that says what the module holds already leaves it out.
bool saysTheDownloadStopped(const Cause& cause);

/// The platform this program was built for.
Platform thisPlatform();
