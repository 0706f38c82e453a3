// Opening the firmware file: a regular file only, and never waiting on one that is not.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image/firmware_image.h"

/// Opens |path| for reading in binary mode, without denying others read or write access, and
/// finds its size. A path that names anything but a regular file (a directory, a FIFO, a
/// device) is refused with kNotRegular without waiting on it; a file that cannot be opened gives
/// kOpen, one whose size cannot be found kSize. On kNone |file| is open.
ImageError openFirmwareFile(const char* path, std::FILE** file, int64_t* size);
