// The firmware file's records, line by line, and the file as a whole.
#pragma once

#include <cstddef>
#include <vector>

#include "preflight.h"

/// Problems reported one by one; later ones are only counted.
constexpr int kMaxListedProblems = 20;

/// Checks every line of |bytes| (|size| bytes, the whole file) as an Extended Tektronix Hex record
/// and the file as a whole, appending findings; fills the record counts, data bytes and address
/// range of |summary|. Only the part of each line that the tool sends is read as the record.
void checkRecords(const char* bytes, size_t size, std::vector<Finding>* findings,
                  ImageSummary* summary);

/// Keeps the first kMaxListedProblems problems and replaces the rest by one finding that counts
/// them; other findings stay as they are.
void limitProblems(std::vector<Finding>* findings);
