#include "sim_report.h"

#include "hand_rig.h"

namespace {

double ms(SimTime span) {
  return static_cast<double>(span) / static_cast<double>(kMillisecond);
}

}  // namespace

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

void writeRigReport(std::FILE* out, const HandRig& rig, ReportContext context) {
  context.elapsed = rig.now();
  context.recycles = rig.recycles();
  context.txQueuedAtEnd = rig.adapter().txQueued();
  context.rxLost = rig.adapter().rxLost();
  writeReport(out, rig.stats(), rig.node(), context);
}

void writeNodeFields(std::FILE* out, const NodeModel& nodeModel) {
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
  std::fprintf(out, "  \"node_queries\": %d,\n", node.queries);
  std::fprintf(out, "  \"node_resets\": %d,\n", node.resets);
  std::fprintf(out, "  \"node_starts\": %d,\n", node.starts);
  std::fprintf(out, "  \"node_data_frames\": %d,\n", node.dataFrames);
  std::fprintf(out, "  \"node_frames_sent\": %d,\n", node.framesSent);
  std::fprintf(out, "  \"records_ok\": %d,\n", records.recordsOk());
  std::fprintf(out, "  \"records_bad\": %d,\n", records.recordsBad());
  std::fprintf(out, "  \"record_chars_pending\": %d,\n", records.pendingChars());
  std::fprintf(out, "  \"download_ms\": %.3f,\n", downloadMs);
  std::fprintf(out, "  \"download_chars_per_s\": %.1f,\n", charsPerSecond);
}

void writeReport(std::FILE* out, const RigStats& s, const NodeModel& nodeModel,
                 const ReportContext& context) {
  const NodeLog& node = nodeModel.log();
  // The bus alone: a data frame and its go-ahead, each for its wire time.
  double busUsPerChar = 0;
  double busLimit = 0;
  if (node.dataFrames > 0) {
    busUsPerChar = static_cast<double>(s.downloadBusTime) / node.dataFrames;
    busLimit = 1e6 / busUsPerChar;
  }

  std::fprintf(out, "{\n");
  std::fprintf(out, "  \"scenario\": %s,\n", jsonString(context.scenario).c_str());
  std::fprintf(out, "  \"clock\": %s,\n", jsonString(context.clock).c_str());
  std::fprintf(out, "  \"queries\": %d,\n", s.queries);
  std::fprintf(out, "  \"resets\": %d,\n", s.resets);
  std::fprintf(out, "  \"starts\": %d,\n", s.starts);
  std::fprintf(out, "  \"data_frames\": %d,\n", s.dataFrames);
  std::fprintf(out, "  \"other_frames\": %d,\n", s.otherFrames);
  std::fprintf(out, "  \"recycles\": %d,\n", context.recycles);
  std::fprintf(out, "  \"opens\": %d,\n", s.opens);
  std::fprintf(out, "  \"closes\": %d,\n", s.closes);
  std::fprintf(out, "  \"adapter_calls\": %llu,\n",
               static_cast<unsigned long long>(s.adapterCalls));
  std::fprintf(out, "  \"failed_calls\": %llu,\n", static_cast<unsigned long long>(s.failedCalls));
  std::fprintf(out, "  \"reads\": %llu,\n", static_cast<unsigned long long>(s.reads));
  std::fprintf(out, "  \"frames_read\": %llu,\n", static_cast<unsigned long long>(s.framesRead));
  std::fprintf(out, "  \"frames_on_bus\": %llu,\n", static_cast<unsigned long long>(s.framesOnBus));
  std::fprintf(out, "  \"tx_queued_at_end\": %d,\n", context.txQueuedAtEnd);
  std::fprintf(out, "  \"rx_lost\": %d,\n", context.rxLost);
  std::fprintf(out, "  \"power_offs\": %d,\n", s.powerOffs);
  std::fprintf(out, "  \"power_ons\": %d,\n", s.powerOns);
  writeNodeFields(out, nodeModel);
  std::fprintf(out, "  \"affinity_mask\": %llu,\n",
               static_cast<unsigned long long>(context.affinityMask));
  std::fprintf(out, "  \"elapsed_ms\": %.3f,\n", ms(context.elapsed));
  std::fprintf(out, "  \"bus_ms\": %.3f,\n", ms(s.busTime));
  std::fprintf(out, "  \"sleep_ms\": %.3f,\n", ms(s.sleepTime));
  std::fprintf(out, "  \"bus_us_per_char\": %.3f,\n", busUsPerChar);
  std::fprintf(out, "  \"bus_limit_chars_per_s\": %.1f,\n", busLimit);
  std::fprintf(out, "  \"wall_ms\": %.3f,\n", ms(context.wallTime));
  std::fprintf(out, "  \"data\": %s\n", jsonString(node.data).c_str());
  std::fprintf(out, "}\n");
}
