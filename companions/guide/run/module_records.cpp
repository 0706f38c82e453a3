#include "module_records.h"

namespace {

// "2026-12-09T14:02:11Z" as "14:02 UTC on 2026-12-09"; any other text as it is.
std::string whenWords(const std::string& utc) {
  if (utc.size() == 20 && utc[10] == 'T' && utc[19] == 'Z') {
    return utc.substr(11, 5) + " UTC on " + utc.substr(0, 10);
  }
  return utc;
}

}  // namespace

ModuleRecord recordAfterTurn(const ModuleInfo& module, const ModuleOutcome& outcome,
                             ModuleRecords* records, std::string* warning) {
  // A turn that sent nothing of the download leaves the module, and so its record, as it was.
  if (records == nullptr || outcome.holds == Holds::kUnchanged || module.node == 0) {
    return module.recordBefore;
  }
  return records->turnEnds(module, outcome.holds, warning);
}

std::string recordNote(const ModuleInfo& module) {
  const ModuleRecord& record = module.recordBefore;
  if (!record.known || record.holds == Holds::kWritten || record.holds == Holds::kUnchanged) {
    return "";
  }
  bool rehearsal = !module.rehearsal.empty();
  std::string left = record.holds == Holds::kPartWay ? "was left part-way"
                                                     : "may have been left "
                                                       "erased";
  return "Module " + moduleLabel(module) + " " + left +
         (rehearsal ? " by a rehearsal on this computer" : " by this computer") + " at " +
         whenWords(record.utc) + ", with " + record.file +
         ": flash it completely before the hand is used. This is this computer's record" +
         (rehearsal ? " of its rehearsals, not an answer from the virtual hand."
                    : ", not an answer from the module: it cannot tell one hand from another.");
}
