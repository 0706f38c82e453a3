// Why a firmware file was refused, in the words the run prints.
#pragma once

#include <string>

#include "image/firmware_image.h"

/// The reason |load| was refused, naming the file |path|: one sentence without a tag or a
/// newline. Empty when the load succeeded.
std::string describeImageError(const ImageLoad& load, const char* path);
