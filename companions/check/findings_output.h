// The findings as a person reads them, or as one JSON object for a program.
#pragma once

#include <string>

#include "preflight.h"

/// One line per finding, "ok", "warning" or "problem" first, then the summary and the verdict.
std::string formatFindings(const PreflightResult& result);

/// The same as one JSON object, on one line.
std::string formatFindingsJson(const PreflightResult& result);

/// "ok", "warning" or "problem".
const char* severityName(Severity severity);
