// The virtual hand's account of a run, as JSON, for tests and measurements.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "hand_timing.h"

class HandRig;
class NodeModel;
struct RigStats;

/// What the report is made of besides the host's counts and the node.
struct ReportContext {
  std::string scenario;
  std::string clock;
  SimTime elapsed = 0;   // hand time at the end
  SimTime wallTime = 0;  // the host's real time since the simulation began
  int recycles = 0;
  int txQueuedAtEnd = 0;
  int rxLost = 0;
  uint64_t affinityMask = 0;
};

/// Writes the report as one JSON object: what the host's adapter accepted and what the node
/// received, with the run's timing.
void writeReport(std::FILE* out, const RigStats& stats, const NodeModel& node,
                 const ReportContext& context);

/// Writes what the node received (its counts, its records and the download's pace as it saw
/// it) as members of the report's JSON object, each followed by a comma.
void writeNodeFields(std::FILE* out, const NodeModel& node);

/// The report of a rig, which should be caught up first; |context| gives the rest.
void writeRigReport(std::FILE* out, const HandRig& rig, ReportContext context);

/// |text| as a JSON string literal, quotes included.
std::string jsonString(const std::string& text);
