// Whether the adapter library that the tool would load on Windows is one it can use.
#pragma once

#include <string>
#include <vector>

#include "pe_exports.h"
#include "preflight.h"

/// The ordinals of the four calls the tool takes from the library: open, close, read, write.
constexpr uint32_t kAdapterOrdinals[] = {1, 2, 5, 6};

/// Where the tool would load PCANBasic.dll from: the first of |candidates| (in the tool's search
/// order) that exists, or "" for none.
std::string firstExisting(const std::vector<std::string>& candidates);

/// Findings on the library at |path| (empty: none found in |searched|), read as |exports|.
void judgeAdapterLibrary(const std::string& path, const std::vector<std::string>& searched,
                         const PeExports& exports, std::vector<Finding>* findings);
