#include "damaged_images.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

// The format's characters in the order of their values, 0 to 65.
const std::string kCharacterValues =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ$%._abcdefghijklmnopqrstuvwxyz";

std::string hex2(int value) {
  char text[4];
  std::snprintf(text, sizeof(text), "%02X", value & 0xFF);
  return text;
}

std::string joinCrlf(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) {
    out += line + "\r\n";
  }
  return out;
}

// A data record's line with the character at |index| (from 0, the "%") replaced by |c|, its
// block length and checksum kept as they were.
std::string replaced(std::string line, size_t index, char c) {
  line[index] = c;
  return line;
}

// A record's body (what follows its checksum), for rebuilding it with other contents.
std::string bodyOf(const std::string& line) {
  return line.substr(6);
}

}  // namespace

std::string makeRecord(int type, const std::string& body) {
  int length = 5 + static_cast<int>(body.size());
  std::string head = hex2(length) + static_cast<char>('0' + type);
  int sum = 0;
  for (char c : head + body) {
    sum += static_cast<int>(kCharacterValues.find(c));
  }
  return "%" + head + hex2(sum % 256) + body;
}

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::vector<DamagedImage> damageImage(const std::string& good) {
  const std::vector<std::string> lines = splitLines(good);
  const std::string& data1 = lines[0];
  const std::string& data2 = lines[1];
  const std::string& end = lines.back();
  std::vector<DamagedImage> corpus;
  // The file with line |index| (from 0) replaced.
  auto with = [&](size_t index, const std::string& line) {
    std::vector<std::string> changed = lines;
    changed[index] = line;
    return joinCrlf(changed);
  };
  // Line 2's data: the body from its first data digit (after "8" and 8 address digits).
  const size_t firstData = 6 + 9;

  char flipped = data2[firstData + 4] == 'A' ? 'B' : 'A';
  corpus.push_back({"corrupted data character", with(1, replaced(data2, firstData + 4, flipped)), 2,
                    5, "checksum mismatch"});
  corpus.push_back({"corrupted checksum", with(1, replaced(data2, 5, data2[5] == '0' ? '1' : '0')),
                    2, 5, "checksum mismatch"});
  // The same value in lowercase: the format gives lowercase letters other values.
  std::string lowered = data2;
  size_t letter = lowered.find_first_of("ABCDEF", firstData);
  lowered[letter] = static_cast<char>(lowered[letter] - 'A' + 'a');
  corpus.push_back({"lowercase hex digit", with(1, lowered), 2, 5, "checksum mismatch"});
  corpus.push_back(
      {"block length one too many",
       with(1, "%" + hex2(std::stoi(data2.substr(1, 2), nullptr, 16) + 1) + data2.substr(3)), 2, 2,
       "block length differs"});
  corpus.push_back({"block length not hex", with(1, replaced(data2, 2, 'G')), 2, 3,
                    "block length is not two hex digits"});
  corpus.push_back({"unknown type", with(1, replaced(data2, 3, '5')), 2, 4, "unknown block type"});
  corpus.push_back({"checksum not hex", with(1, replaced(data2, 4, 'Z')), 2, 5,
                    "checksum is not two hex digits"});
  corpus.push_back({"character outside the format", with(1, replaced(data2, 20, '@')), 2, 21,
                    "outside the format's set"});
  corpus.push_back(
      {"data digit not hex",
       with(1, makeRecord(6, bodyOf(data2).substr(0, 20) + "G" + bodyOf(data2).substr(21))), 2, 27,
       "data character is not a hex digit"});
  std::string odd = bodyOf(data2);
  odd.pop_back();
  corpus.push_back({"odd number of data digits", with(1, makeRecord(6, odd)), 2,
                    static_cast<int>(odd.size()) + 6, "odd number of data digits"});
  corpus.push_back({"address length not hex", with(1, makeRecord(6, "X" + bodyOf(data2).substr(1))),
                    2, 7, "address length is not a hex digit"});
  corpus.push_back({"address cut short", with(lines.size() - 1, makeRecord(8, "80010")), 4, 12,
                    "ends after 4 of 8 address digits"});
  corpus.push_back({"termination record with data",
                    with(lines.size() - 1, makeRecord(8, bodyOf(end) + "00")), 4, 16,
                    "after the termination record's address"});
  corpus.push_back({"record too short", with(1, "%4E6"), 2, 5, "record too short"});
  corpus.push_back({"record ends before its address", with(lines.size() - 1, makeRecord(8, "")), 4,
                    7, "address length is not a hex digit: the record ends there"});
  corpus.push_back({"no record mark", with(1, ":" + data2.substr(1)), 2, 1, "no record mark"});
  corpus.push_back({"record after the termination", joinCrlf({data1, end, data2, end}), 3, 1,
                    "after the termination record of line 2"});
  corpus.push_back({"overlapping records", joinCrlf({data1, data2, lines[2], data1, end}), 4, 1,
                    "overlaps the data of line 1"});
  // An interrupted copy: the file ends inside line 2, with no line end.
  std::string cut = good.substr(0, data1.size() + 2 + data2.size() / 2);
  corpus.push_back({"file cut short", cut, 2, 2, "block length differs"});
  corpus.push_back({"no termination record",
                    joinCrlf(std::vector<std::string>(lines.begin(), lines.end() - 1)), 0, 0,
                    "no termination record"});
  corpus.push_back({"no data", joinCrlf({end}), 0, 0, "no data"});
  corpus.push_back({"empty file", "", 1, 0, "empty"});
  // Intel HEX given by mistake: the first data record written in that format.
  corpus.push_back({"Intel HEX", ":0400000001020304F2\r\n:00000001FF\r\n", 1, 1, "no record mark"});
  // What the tool itself refuses: a record cut by a space that sendable characters follow, and
  // a NUL byte.
  corpus.push_back({"record interrupted by a space", with(1, replaced(data2, 30, ' ')), 2, 31,
                    "the tool refuses it"});
  corpus.push_back({"NUL byte", with(1, replaced(data2, 30, '\0')), 0, 0, "NUL byte"});
  return corpus;
}
