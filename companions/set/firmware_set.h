// A hand's firmware set: one TOML file that ties each firmware file to its module, with the
// file's SHA-256, so that a whole hand is updated from one name and a finger's image never
// reaches the spread. Read and verified whole before anything is touched; the guide and the check
// both take their modules from here.
//
//   name = "hand release 4.2"
//   [modules.11]
//   file = "finger1.hex"     # relative to the set file's folder
//   sha256 = "9f86d081..."
#pragma once

#include <string>
#include <vector>

/// One module of a set, verified.
struct SetEntry {
  int node = 0;          // 11 to 14
  std::string nodeText;  // the node number as the set writes it ("11")
  std::string file;      // the file as the set names it
  std::string path;      // where it is: the set file's folder joined with |file|
  std::string sha256;    // its SHA-256, 64 lower-case hex digits, as verified
};

/// A set whose every entry was verified: the modules in the order of their node numbers.
struct FirmwareSet {
  std::string path;  // the set file, as named
  std::string name;
  std::vector<SetEntry> entries;
};

/// How reading a set ended.
enum class SetReading {
  kVerified,    // every entry names a node 11 to 14 once, and a file with the digest it gives
  kRefused,     // the set is TOML, but an entry (or the set's own fields) is wrong
  kUnreadable,  // the file cannot be read, or is not TOML
};

/// The exit status for a set refused (1) and for one that cannot be read as TOML (2).
int setReadingStatus(SetReading reading);

/// Reads the set file at |path| and verifies every entry: each node 11 to 14 named once, no key
/// the set does not know anywhere, each file there with the SHA-256 the set gives. On kVerified
/// |set| holds it; otherwise |problems| holds one sentence per fault, each naming the set file
/// and the entry or line it is about.
SetReading readFirmwareSet(const std::string& path, FirmwareSet* set,
                           std::vector<std::string>* problems);

/// Where |file|, named in the set file at |setPath|, is: relative to the set file's folder (an
/// absolute path stands as it is).
std::string setEntryPath(const std::string& setPath, const std::string& file);
