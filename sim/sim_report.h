// The virtual hand's account of a run, as JSON, for tests and measurements.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "hand_timing.h"

class HandRig;

/// What the report is made of besides the rig.
struct ReportContext {
  std::string scenario;
  std::string clock;
  uint64_t affinityMask = 0;
  SimTime wallTime = 0;  // the host's real time since the simulation began
};

/// Writes the report as one JSON object. |rig| should be caught up first.
void writeReport(std::FILE* out, const HandRig& rig, const ReportContext& context);

/// |text| as a JSON string literal, quotes included.
std::string jsonString(const std::string& text);
