// Numbers and figures as the guide writes them for people, in every face.
#pragma once

#include <cstdint>
#include <string>

#include "preflight.h"

/// |value| with a comma between each group of three digits: 12,345.
std::string withThousands(int64_t value);

/// What the checks found of a firmware file's size, as a sentence.
std::string imageSummarySentence(const ImageSummary& summary);
