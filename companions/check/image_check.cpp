#include "image_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/image_errors.h"
#include "app/node_number.h"
#include "download/node_frames.h"
#include "download_estimate.h"
#include "file_name.h"
#include "image/firmware_image.h"
#include "image/tekhex_record.h"

namespace {

// One data record's place in memory, for the overlap check.
struct DataRange {
  uint64_t first = 0;
  uint64_t last = 0;
  int line = 0;
};

std::string hex(uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof(text), "%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

// A character as a reader can recognise it: 'A', or 0x09 for what does not print.
std::string shown(char c) {
  auto byte = static_cast<unsigned char>(c);
  if (byte > 0x20 && byte < 0x7F) {
    return std::string("'") + c + "'";
  }
  return "0x" + hex(byte, 2);
}

Finding problemAt(int line, int column, std::string text) {
  return Finding{Severity::kProblem, "record", std::move(text), line, column};
}

// What a faulty record's fault looks like, in words a person can act on.
std::string describeFault(const TekhexRecord& record, const char* text, int length) {
  std::string what = tekhexFaultName(record.fault);
  int at = record.faultOffset;
  // What stands where the fault is; a record may end right there.
  std::string found = at < length ? ": found " + shown(text[at]) : ": the record ends there";
  switch (record.fault) {
    case TekhexFault::kTooShort:
      return what + ": " + std::to_string(length) + " characters after the \"%\", at least " +
             std::to_string(kTekhexHeaderLength) + " needed";
    case TekhexFault::kBadCharacter:
    case TekhexFault::kLengthDigits:
    case TekhexFault::kChecksumDigits:
    case TekhexFault::kAddressLength:
    case TekhexFault::kDataDigits:
      return what + found;
    case TekhexFault::kAddressDigits:
      return at < length ? what + found
                         : what + ": the record ends after " +
                               std::to_string(at - kTekhexAddressLengthOffset - 1) + " of " +
                               std::to_string(record.addressDigits) + " address digits";
    case TekhexFault::kLengthMismatch:
      return what + ": it says " + std::to_string(record.blockLength) +
             " characters, the record has " + std::to_string(length);
    case TekhexFault::kUnknownType:
      return what + found + ", expected 6 (data), 8 (termination) or 3 (symbol)";
    case TekhexFault::kOddData:
      return what + ": " + std::to_string(record.dataDigits) + " digits, the last byte is half";
    case TekhexFault::kTrailing:
      return what + ": " + std::to_string(length - at) + " more";
    case TekhexFault::kChecksumMismatch:
      return what + ": the record says " + hex(static_cast<uint64_t>(record.statedChecksum), 2) +
             ", its characters sum to " + hex(static_cast<uint64_t>(record.computedChecksum), 2);
    case TekhexFault::kNone:
      break;
  }
  return what;
}

// Records whose address ranges share bytes, each reported at the later line.
void reportOverlaps(std::vector<DataRange> ranges, std::vector<Finding>* findings) {
  std::sort(ranges.begin(), ranges.end(), [](const DataRange& a, const DataRange& b) {
    return a.first != b.first ? a.first < b.first : a.line < b.line;
  });
  std::vector<Finding> found;
  const DataRange* reach = nullptr;  // the range reaching furthest so far
  for (const DataRange& range : ranges) {
    if (reach != nullptr && range.first <= reach->last) {
      const DataRange& early = reach->line < range.line ? *reach : range;
      const DataRange& late = reach->line < range.line ? range : *reach;
      found.push_back(problemAt(late.line, 1,
                                "data at 0x" + hex(late.first, 8) + "-0x" + hex(late.last, 8) +
                                    " overlaps the data of line " + std::to_string(early.line) +
                                    " (0x" + hex(early.first, 8) + "-0x" + hex(early.last, 8) +
                                    ")"));
    }
    if (reach == nullptr || range.last > reach->last) {
      reach = &range;
    }
  }
  std::sort(found.begin(), found.end(),
            [](const Finding& a, const Finding& b) { return a.line < b.line; });
  findings->insert(findings->end(), found.begin(), found.end());
}

// The line ends of the file: CR LF or LF, and whether they are mixed.
struct LineEnds {
  int crlf = 0;
  int lf = 0;
  int firstCrlf = 0;
  int firstLf = 0;
};

}  // namespace

void checkRecords(const char* bytes, size_t size, std::vector<Finding>* findings,
                  ImageSummary* summary) {
  if (size == 0) {
    findings->push_back(Finding{Severity::kProblem, "file",
                                "the file is empty: the node would be "
                                "reset and given nothing",
                                1, 0});
    return;
  }
  LineEnds ends;
  std::vector<DataRange> ranges;
  int emptyLines = 0;
  int firstEmpty = 0;
  int terminationLine = 0;
  bool anyData = false;
  int lineNumber = 0;
  size_t start = 0;
  while (start <= size) {
    ++lineNumber;
    const char* line = bytes + start;
    const void* newline = std::memchr(line, '\n', size - start);
    size_t length = newline != nullptr ? static_cast<const char*>(newline) - line : size - start;
    bool lastLine = newline == nullptr;
    start += length + 1;
    if (!lastLine) {
      bool crlf = length > 0 && line[length - 1] == '\r';
      if (crlf) {
        --length;
        ends.firstCrlf = ends.crlf++ == 0 ? lineNumber : ends.firstCrlf;
      } else {
        ends.firstLf = ends.lf++ == 0 ? lineNumber : ends.firstLf;
      }
    }
    if (length == 0) {
      // The empty line after a final newline is the file's end, not a line of its own.
      if (!lastLine || lineNumber == 1) {
        firstEmpty = emptyLines++ == 0 ? lineNumber : firstEmpty;
      }
      continue;
    }
    if (terminationLine != 0) {
      findings->push_back(problemAt(lineNumber, 1,
                                    "a line after the termination record of line " +
                                        std::to_string(terminationLine) +
                                        ": the node takes nothing after it"));
      continue;
    }
    if (line[0] != '%') {
      findings->push_back(
          problemAt(lineNumber, 1, "no record mark \"%\" at the start: found " + shown(line[0])));
      continue;
    }
    // The record as the node receives it: the characters the tool sends.
    const char* record = line + 1;
    int sent = 0;
    while (static_cast<size_t>(sent) + 1 < length && isPayloadChar(record[sent])) {
      ++sent;
    }
    if (static_cast<size_t>(sent) + 1 < length) {
      findings->push_back(Finding{
          Severity::kWarning, "record",
          "the record ends at " + shown(record[sent]) + "; the rest of the line is not sent",
          lineNumber, sent + 2});
    }
    TekhexRecord parsed = parseTekhexRecord(record, sent);
    if (parsed.fault != TekhexFault::kNone) {
      findings->push_back(
          problemAt(lineNumber, parsed.faultOffset + 2, describeFault(parsed, record, sent)));
      continue;
    }
    switch (parsed.type) {
      case kTekhexSymbol:
        ++summary->symbolRecords;
        break;
      case kTekhexTermination:
        ++summary->terminationRecords;
        terminationLine = lineNumber;
        break;
      default: {
        ++summary->dataRecords;
        int64_t dataBytes = parsed.dataDigits / 2;
        if (dataBytes == 0) {
          break;
        }
        uint64_t last = parsed.address + static_cast<uint64_t>(dataBytes - 1);
        if (last < parsed.address) {
          findings->push_back(
              problemAt(lineNumber, 7, "data runs past the end of the address space"));
          break;
        }
        summary->dataBytes += dataBytes;
        summary->lowAddress =
            anyData ? std::min(summary->lowAddress, parsed.address) : parsed.address;
        summary->highAddress = anyData ? std::max(summary->highAddress, last) : last;
        anyData = true;
        ranges.push_back(DataRange{parsed.address, last, lineNumber});
        break;
      }
    }
  }
  if (ends.crlf > 0 && ends.lf > 0) {
    bool crlfFirst = ends.firstCrlf < ends.firstLf;
    findings->push_back(Finding{Severity::kWarning, "file",
                                "mixed line ends: " + std::to_string(ends.crlf) + " CR LF and " +
                                    std::to_string(ends.lf) + " LF only; the first " +
                                    (crlfFirst ? "LF only" : "CR LF") + " here",
                                crlfFirst ? ends.firstLf : ends.firstCrlf, 0});
  }
  if (emptyLines > 0) {
    findings->push_back(Finding{Severity::kWarning, "file",
                                std::to_string(emptyLines) +
                                    (emptyLines == 1 ? " empty line" : " empty lines") +
                                    " (nothing is sent for them); the first here",
                                firstEmpty, 0});
  }
  reportOverlaps(ranges, findings);
  if (summary->terminationRecords == 0) {
    findings->push_back(Finding{Severity::kProblem, "file", "no termination record", 0, 0});
  }
  if (!anyData) {
    findings->push_back(Finding{Severity::kProblem, "file",
                                "no data: the node would be reset and given nothing", 0, 0});
  }
}

void limitProblems(std::vector<Finding>* findings) {
  std::vector<Finding> kept;
  int problems = 0;
  for (Finding& finding : *findings) {
    if (finding.severity == Severity::kProblem && ++problems > kMaxListedProblems) {
      continue;
    }
    kept.push_back(std::move(finding));
  }
  if (problems > kMaxListedProblems) {
    int rest = problems - kMaxListedProblems;
    kept.push_back(Finding{
        Severity::kProblem, "file",
        std::to_string(rest) + (rest == 1 ? " more problem" : " more problems") + " not listed", 0,
        0});
  }
  *findings = std::move(kept);
}

PreflightResult checkNodeAndImage(const std::string& nodeText, const std::string& path) {
  PreflightResult result;
  int node = 0;
  if (parseNodeNumber(nodeText.c_str(), &node)) {
    result.node = node;
    result.findings.push_back(
        Finding{Severity::kOk, "node",
                "nodlet " + std::to_string(node) + " (" + nodletName(node) + ")", 0, 0});
  } else {
    result.findings.push_back(
        Finding{Severity::kProblem, "node",
                "\"" + escapedText(nodeText) +
                    "\": Invalid nodlet ID: must be between 11 and 14. Finger 1 is nodlet 11, "
                    "Finger 2 is nodlet 12, Finger 3 is nodlet 13, and Spread is nodlet 14.",
                0, 0});
  }

  // A name the tool would echo into its messages is refused before the file is even opened.
  std::string nameProblem = fileNameProblem(path);
  if (!nameProblem.empty()) {
    result.findings.push_back(Finding{Severity::kProblem, "file", nameProblem, 0, 0});
    return result;
  }
  FirmwareImage image;
  ImageLoad load = loadFirmwareImage(path.c_str(), &image);
  if (load.error != ImageError::kNone) {
    result.findings.push_back(Finding{
        Severity::kProblem, "file",
        "the tool refuses it: " + describeImageError(load, path.c_str()), load.line, load.column});
    return result;
  }
  ImageSummary& summary = result.summary;
  summary.lineCount = image.lineCount;
  summary.payloadBefore.reserve(static_cast<size_t>(image.lineCount) + 1);
  {
    LineCursor cursor(image);
    ImageLine line;
    while (cursor.next(&line)) {
      summary.payloadBefore.push_back(summary.payloadChars);
      summary.payloadChars += line.payloadLength;
      if (line.start != line.end && *line.start == '%') {
        ++summary.records;
      }
    }
  }
  summary.payloadBefore.push_back(summary.payloadChars);
  summary.estimatedSeconds = estimateDownloadSeconds(summary.payloadChars);
  std::vector<Finding> fileFindings;
  checkRecords(image.bytes, static_cast<size_t>(image.size), &fileFindings, &summary);
  limitProblems(&fileFindings);
  bool problems = std::any_of(fileFindings.begin(), fileFindings.end(),
                              [](const Finding& f) { return f.severity == Severity::kProblem; });
  // People count records; the tool's line count (an empty last line included) is its own.
  int records = summary.records;
  result.findings.push_back(
      Finding{Severity::kOk, "file",
              path + ": " + std::to_string(image.size) + " bytes, " + std::to_string(records) +
                  (records == 1 ? " record" : " records") + "; the tool loads it",
              0, 0});
  result.findings.insert(result.findings.end(), fileFindings.begin(), fileFindings.end());
  if (!problems) {
    result.findings.push_back(Finding{Severity::kOk, "record", "every record is sound", 0, 0});
  }
  result.haveSummary = true;
  releaseFirmwareImage(&image);
  return result;
}
