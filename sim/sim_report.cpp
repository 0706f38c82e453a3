#include "sim_report.h"

#include <cmath>
#include <utility>

#include "hand_rig.h"

namespace {

double ms(SimTime span) {
  return static_cast<double>(span) / static_cast<double>(kMillisecond);
}

// Times to the microsecond and paces to a tenth: more digits would only be noise.
double rounded(double value, double scale) {
  return std::round(value * scale) / scale;
}

}  // namespace

Report startReport(const std::string& scenario, const std::string& clock,
                   const FrameCounts& counts) {
  Report report;
  report["scenario"] = scenario;
  report["clock"] = clock;
  report["queries"] = counts.queries;
  report["resets"] = counts.resets;
  report["starts"] = counts.starts;
  report["data_frames"] = counts.dataFrames;
  report["other_frames"] = counts.otherFrames;
  report["power_offs"] = counts.powerOffs;
  report["power_ons"] = counts.powerOns;
  return report;
}

void finishReport(std::FILE* out, Report report, const NodeModel& nodeModel, SimTime elapsed,
                  SimTime wall) {
  const NodeLog& node = nodeModel.log();
  const TekhexAssembler& records = nodeModel.records();
  // The download's pace: from the start frame to the last character, as the node saw it.
  double downloadMs = 0;
  double charsPerSecond = 0;
  if (node.firstStartAt != kNever && node.lastDataAt != kNever) {
    downloadMs = ms(node.lastDataAt - node.firstStartAt);
    if (downloadMs > 0) {
      charsPerSecond = node.dataFrames / (downloadMs / 1000.0);
    }
  }
  report["node_queries"] = node.queries;
  report["node_resets"] = node.resets;
  report["node_starts"] = node.starts;
  report["node_data_frames"] = node.dataFrames;
  report["node_frames_sent"] = node.framesSent;
  report["records_ok"] = records.recordsOk();
  report["records_bad"] = records.recordsBad();
  report["record_chars_pending"] = records.pendingChars();
  report["download_ms"] = rounded(downloadMs, 1000);
  report["download_chars_per_s"] = rounded(charsPerSecond, 10);
  report["elapsed_ms"] = rounded(ms(elapsed), 1000);
  report["wall_ms"] = rounded(ms(wall), 1000);
  report["data"] = node.data;
  // Characters the node received need not be UTF-8: those that are not are replaced.
  std::string text = report.dump(2, ' ', false, Report::error_handler_t::replace) + "\n";
  std::fwrite(text.data(), 1, text.size(), out);
}

void writeRigReport(std::FILE* out, const HandRig& rig, const ReportContext& context) {
  const RigStats& stats = rig.stats();
  // The bus alone: a data frame and its go-ahead, each for its wire time.
  const int dataFrames = rig.node().log().dataFrames;
  double busUsPerChar = 0;
  double busLimit = 0;
  if (dataFrames > 0) {
    busUsPerChar = static_cast<double>(stats.downloadBusTime) / dataFrames;
    busLimit = 1e6 / busUsPerChar;
  }
  Report report = startReport(context.scenario, context.clock, stats);
  report["recycles"] = rig.recycles();
  report["opens"] = stats.opens;
  report["closes"] = stats.closes;
  report["adapter_calls"] = stats.adapterCalls;
  report["failed_calls"] = stats.failedCalls;
  report["reads"] = stats.reads;
  report["frames_read"] = stats.framesRead;
  report["frames_on_bus"] = stats.framesOnBus;
  report["tx_queued_at_end"] = rig.adapter().txQueued();
  report["rx_lost"] = rig.adapter().rxLost();
  report["affinity_mask"] = context.affinityMask;
  report["bus_ms"] = rounded(ms(stats.busTime), 1000);
  report["sleep_ms"] = rounded(ms(stats.sleepTime), 1000);
  report["bus_us_per_char"] = rounded(busUsPerChar, 1000);
  report["bus_limit_chars_per_s"] = rounded(busLimit, 10);
  finishReport(out, std::move(report), rig.node(), rig.now(), context.wallTime);
}
