// Reading a Windows library file (PE) for what loading it would need: its machine, its format and
// the ordinals it exports. Portable, so that it is tested on any host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint16_t kPeMachineAmd64 = 0x8664;
constexpr uint16_t kPeMachineI386 = 0x014C;

/// What a PE file says of itself.
struct PeExports {
  std::string failure;  // empty when the file was read as a PE image
  uint16_t machine = 0;
  bool pe32Plus = false;           // the 64-bit optional header
  std::vector<uint32_t> ordinals;  // exported ordinals that lead somewhere, ascending
};

/// Reads the image held in |bytes|. Every offset is checked against the buffer.
PeExports parsePeExports(const std::vector<uint8_t>& bytes);

/// Reads the file at |path| whole and parses it.
PeExports readPeExports(const std::string& path);
