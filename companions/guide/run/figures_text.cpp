#include "figures_text.h"

#include <cstdio>

std::string withThousands(int64_t value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) {
      out += ',';
    }
    out += digits[i];
  }
  return value < 0 ? "-" + out : out;
}

std::string imageSummarySentence(const ImageSummary& summary) {
  int records = summary.records;
  char seconds[32];
  std::snprintf(seconds, sizeof(seconds), "%.0f", summary.estimatedSeconds);
  return withThousands(records) + (records == 1 ? " record, " : " records, ") +
         withThousands(summary.dataBytes) + " data bytes, " + withThousands(summary.payloadChars) +
         " characters to send; about " + seconds + " s from the power cycle to the end.";
}
