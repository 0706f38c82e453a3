#include "pe_exports.h"

#include <fstream>
#include <iterator>

namespace {

constexpr uint32_t kPeOffsetField = 0x3C;
constexpr uint32_t kCoffHeaderSize = 20;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kSectionHeaderSize = 40;
// Where the count of data directories stands in the optional header, for PE32 and PE32+.
constexpr uint32_t kDirectoryCountPe32 = 92;
constexpr uint32_t kDirectoryCountPe32Plus = 108;
// Ordinals beyond this many functions are not believed: no real table is that large.
constexpr uint32_t kMaxFunctions = 65536;

// Little-endian reads that fail rather than run past the buffer.
struct Reader {
  const std::vector<uint8_t>& bytes;

  bool u16(uint64_t at, uint16_t* value) const {
    if (at + 2 > bytes.size()) {
      return false;
    }
    *value = static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
    return true;
  }

  bool u32(uint64_t at, uint32_t* value) const {
    if (at + 4 > bytes.size()) {
      return false;
    }
    *value = static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
             static_cast<uint32_t>(bytes[at + 2]) << 16 |
             static_cast<uint32_t>(bytes[at + 3]) << 24;
    return true;
  }
};

PeExports failed(PeExports exports, const char* why) {
  exports.failure = why;
  return exports;
}

}  // namespace

PeExports parsePeExports(const std::vector<uint8_t>& bytes) {
  PeExports out;
  Reader read{bytes};
  if (bytes.size() < 2 || bytes[0] != 'M' || bytes[1] != 'Z') {
    return failed(out, "not a Windows executable (no MZ header)");
  }
  uint32_t pe = 0;
  if (!read.u32(kPeOffsetField, &pe) || static_cast<uint64_t>(pe) + 4 > bytes.size() ||
      bytes[pe] != 'P' || bytes[pe + 1] != 'E' || bytes[pe + 2] != 0 || bytes[pe + 3] != 0) {
    return failed(out, "not a PE image (no PE signature)");
  }
  uint64_t coff = static_cast<uint64_t>(pe) + 4;
  uint16_t sections = 0;
  uint16_t optionalSize = 0;
  uint16_t magic = 0;
  if (!read.u16(coff, &out.machine) || !read.u16(coff + 2, &sections) ||
      !read.u16(coff + 16, &optionalSize) || !read.u16(coff + kCoffHeaderSize, &magic)) {
    return failed(out, "truncated PE header");
  }
  uint64_t optional = coff + kCoffHeaderSize;
  if (magic != kMagicPe32 && magic != kMagicPe32Plus) {
    return failed(out, "unknown optional header");
  }
  out.pe32Plus = magic == kMagicPe32Plus;
  uint64_t countAt = optional + (out.pe32Plus ? kDirectoryCountPe32Plus : kDirectoryCountPe32);
  uint32_t directories = 0;
  uint32_t exportRva = 0;
  if (!read.u32(countAt, &directories) || countAt + 4 + 8 > optional + optionalSize) {
    return failed(out, "truncated optional header");
  }
  if (directories == 0 || !read.u32(countAt + 4, &exportRva) || exportRva == 0) {
    return out;  // a library that exports nothing
  }
  // Maps an address in the loaded image to its place in the file.
  uint64_t sectionTable = optional + optionalSize;
  auto fileOffset = [&](uint32_t rva, uint64_t* offset) {
    for (uint16_t i = 0; i < sections; ++i) {
      uint64_t header = sectionTable + static_cast<uint64_t>(i) * kSectionHeaderSize;
      uint32_t virtualSize = 0;
      uint32_t virtualAddress = 0;
      uint32_t rawSize = 0;
      uint32_t rawPointer = 0;
      if (!read.u32(header + 8, &virtualSize) || !read.u32(header + 12, &virtualAddress) ||
          !read.u32(header + 16, &rawSize) || !read.u32(header + 20, &rawPointer)) {
        return false;
      }
      if (rva >= virtualAddress && rva - virtualAddress < rawSize) {
        *offset = static_cast<uint64_t>(rawPointer) + (rva - virtualAddress);
        return true;
      }
    }
    return false;
  };
  uint64_t exportDirectory = 0;
  uint32_t base = 0;
  uint32_t functions = 0;
  uint32_t tableRva = 0;
  uint64_t table = 0;
  if (!fileOffset(exportRva, &exportDirectory) || !read.u32(exportDirectory + 16, &base) ||
      !read.u32(exportDirectory + 20, &functions) || !read.u32(exportDirectory + 28, &tableRva)) {
    return failed(out, "export directory outside the file");
  }
  if (functions > kMaxFunctions) {
    return failed(out, "export table of implausible size");
  }
  if (functions > 0 && !fileOffset(tableRva, &table)) {
    return failed(out, "export address table outside the file");
  }
  for (uint32_t i = 0; i < functions; ++i) {
    uint32_t address = 0;
    if (!read.u32(table + static_cast<uint64_t>(i) * 4, &address)) {
      return failed(out, "export address table cut short");
    }
    if (address != 0) {
      out.ordinals.push_back(base + i);
    }
  }
  return out;
}

PeExports readPeExports(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    PeExports out;
    out.failure = "cannot be read";
    return out;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  return parsePeExports(bytes);
}
