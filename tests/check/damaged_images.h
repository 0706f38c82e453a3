// Firmware files broken on purpose, made from good ones, each with the finding it must produce.
#pragma once

#include <string>
#include <vector>

/// One damaged file: what was done to it and where the check must report it.
struct DamagedImage {
  std::string name;
  std::string bytes;
  int line = 0;         // the problem's line; 0 for a finding about the whole file
  int column = 0;       // its column; 0 for none
  std::string finding;  // a piece of the problem's text
};

/// A record of |type| around |body| (what follows the checksum), with its block length and
/// checksum worked out here, independently of the parser under test. No line end.
std::string makeRecord(int type, const std::string& body);

/// The whole of the file at |path|, byte for byte; empty when it cannot be read.
std::string readWholeFile(const std::string& path);

/// Splits a file's text into lines without their ends (CR LF or LF).
std::vector<std::string> splitLines(const std::string& text);

/// Every kind of damage the check knows, applied to |good|: a file of at least three data
/// records of 32 bytes and one termination record, in CR LF lines.
std::vector<DamagedImage> damageImage(const std::string& good);
