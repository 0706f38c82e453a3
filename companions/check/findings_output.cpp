#include "findings_output.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace {

int countOf(const PreflightResult& result, Severity severity) {
  int count = 0;
  for (const Finding& finding : result.findings) {
    count += finding.severity == severity ? 1 : 0;
  }
  return count;
}

std::string plural(int count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string address(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%08llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

const char* severityName(Severity severity) {
  switch (severity) {
    case Severity::kOk:
      return "ok";
    case Severity::kWarning:
      return "warning";
    case Severity::kProblem:
      return "problem";
  }
  return "problem";
}

std::string formatFindings(const PreflightResult& result) {
  std::string out;
  for (const Finding& finding : result.findings) {
    std::string where;
    if (finding.line > 0 && finding.column > 0) {
      where = "line " + std::to_string(finding.line) + ", column " +
              std::to_string(finding.column) + ": ";
    } else if (finding.line > 0) {
      where = "line " + std::to_string(finding.line) + ": ";
    }
    out += std::string(severityName(finding.severity)) + " " + finding.topic + ": " + where +
           finding.text + "\n";
  }
  if (result.haveSummary) {
    const ImageSummary& s = result.summary;
    out += "summary: " + plural(s.dataRecords, "data record", "data records") + ", " +
           plural(s.terminationRecords, "termination record", "termination records") + ", " +
           plural(s.symbolRecords, "symbol record", "symbol records") + "; " +
           plural(static_cast<int>(s.dataBytes), "data byte", "data bytes");
    if (s.dataBytes > 0) {
      out += " at " + address(s.lowAddress) + "-" + address(s.highAddress);
    }
    out += "\n";
    char estimate[64];
    std::snprintf(estimate, sizeof(estimate), "%.1f s", s.estimatedSeconds);
    out += "summary: " + std::to_string(s.payloadChars) +
           " characters to send, one frame each; download about " + estimate +
           " at 1 Mbit/s (an estimate for a quiet bus)\n";
  }
  int problems = countOf(result, Severity::kProblem);
  int warnings = countOf(result, Severity::kWarning);
  if (problems > 0) {
    out += "result: " + plural(problems, "problem", "problems") + ", " +
           plural(warnings, "warning", "warnings") + ": do not flash with this set-up\n";
  } else {
    out += "result: no problems, " + plural(warnings, "warning", "warnings") +
           ": nothing found that would stop a good download\n";
  }
  return out;
}

std::string formatFindingsJson(const PreflightResult& result) {
  nlohmann::json findings = nlohmann::json::array();
  for (const Finding& finding : result.findings) {
    nlohmann::json item = {{"severity", severityName(finding.severity)},
                           {"topic", finding.topic},
                           {"text", finding.text}};
    if (finding.line > 0) {
      item["line"] = finding.line;
    }
    if (finding.column > 0) {
      item["column"] = finding.column;
    }
    findings.push_back(item);
  }
  nlohmann::json out = {{"findings", findings},
                        {"problems", countOf(result, Severity::kProblem)},
                        {"warnings", countOf(result, Severity::kWarning)}};
  out["node"] = result.node == 0 ? nlohmann::json(nullptr) : nlohmann::json(result.node);
  if (result.haveSummary) {
    const ImageSummary& s = result.summary;
    nlohmann::json summary = {{"lines", s.lineCount},
                              {"dataRecords", s.dataRecords},
                              {"terminationRecords", s.terminationRecords},
                              {"symbolRecords", s.symbolRecords},
                              {"dataBytes", s.dataBytes},
                              {"payloadChars", s.payloadChars},
                              {"estimatedSeconds", s.estimatedSeconds}};
    if (s.dataBytes > 0) {
      summary["lowAddress"] = s.lowAddress;
      summary["highAddress"] = s.highAddress;
    }
    out["summary"] = summary;
  } else {
    out["summary"] = nullptr;
  }
  // Bytes of the file that are not UTF-8 are shown replaced rather than failing the output.
  return out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}
