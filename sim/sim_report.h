// The virtual hand's account of a run, as JSON, for tests and measurements: one object, one
// member a line, written the same way by each of the hand's programs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "frame_kind.h"
#include "hand_timing.h"

class HandRig;
class NodeModel;

/// A report as it is built, its members in the order they are added.
using Report = nlohmann::ordered_json;

/// What a rig's report is made of besides the rig itself.
struct ReportContext {
  std::string scenario;
  std::string clock;
  SimTime wallTime = 0;  // the host's real time since the simulation began
  uint64_t affinityMask = 0;
};

/// A report's first members: the scenario, the clock, and the frames of each kind and the
/// hand's power switchings as the node's side of the bus counted them. The program's own
/// members follow, then finishReport's.
Report startReport(const std::string& scenario, const std::string& clock,
                   const FrameCounts& counts);

/// Ends |report| with what the node received (its counts, its records and the download's pace
/// as it saw it), the hand time |elapsed|, the host's real time |wall| and the characters
/// received, and writes it to |out|.
void finishReport(std::FILE* out, Report report, const NodeModel& node, SimTime elapsed,
                  SimTime wall);

/// The report of a rig, which should be caught up first: what the host's adapter accepted and
/// what the node received, with the run's timing.
void writeRigReport(std::FILE* out, const HandRig& rig, const ReportContext& context);
