#include "pe_exports.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "adapter_library.h"

namespace {

void put16(std::vector<uint8_t>* bytes, size_t at, uint32_t value) {
  (*bytes)[at] = static_cast<uint8_t>(value);
  (*bytes)[at + 1] = static_cast<uint8_t>(value >> 8);
}

void put32(std::vector<uint8_t>* bytes, size_t at, uint32_t value) {
  put16(bytes, at, value & 0xFFFF);
  put16(bytes, at + 2, value >> 16);
}

// A minimal library image: headers, one section at 0x1000 (file offset 0x200) holding the export
// directory and its address table, one entry per element of |addresses| from ordinal |base|.
std::vector<uint8_t> makeLibrary(uint16_t machine, bool pe32Plus, uint32_t base,
                                 const std::vector<uint32_t>& addresses) {
  std::vector<uint8_t> bytes(0x400, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  put32(&bytes, 0x3C, 0x40);
  bytes[0x40] = 'P';
  bytes[0x41] = 'E';
  size_t coff = 0x44;
  uint32_t optionalSize = pe32Plus ? 240 : 224;
  put16(&bytes, coff, machine);
  put16(&bytes, coff + 2, 1);
  put16(&bytes, coff + 16, optionalSize);
  size_t optional = coff + 20;
  put16(&bytes, optional, pe32Plus ? 0x20B : 0x10B);
  size_t count = optional + (pe32Plus ? 108 : 92);
  put32(&bytes, count, 16);
  put32(&bytes, count + 4, 0x1000);  // the export directory
  put32(&bytes, count + 8, 40 + 4 * static_cast<uint32_t>(addresses.size()));
  size_t section = optional + optionalSize;
  put32(&bytes, section + 8, 0x200);
  put32(&bytes, section + 12, 0x1000);
  put32(&bytes, section + 16, 0x200);
  put32(&bytes, section + 20, 0x200);
  put32(&bytes, 0x200 + 16, base);
  put32(&bytes, 0x200 + 20, static_cast<uint32_t>(addresses.size()));
  put32(&bytes, 0x200 + 28, 0x1000 + 40);
  for (size_t i = 0; i < addresses.size(); ++i) {
    put32(&bytes, 0x200 + 40 + 4 * i, addresses[i]);
  }
  return bytes;
}

const std::vector<uint32_t> kSixCalls = {0x1100, 0x1110, 0, 0, 0x1120, 0x1130};

Severity verdict(const std::vector<uint8_t>& bytes, std::string* text) {
  std::vector<Finding> findings;
  judgeAdapterLibrary("PCANBasic.dll", {"PCANBasic.dll"}, parsePeExports(bytes), &findings);
  *text = findings.at(0).text;
  return findings.at(0).severity;
}

TEST(PeExportsTest, ReadsMachineFormatAndOrdinals) {
  PeExports exports = parsePeExports(makeLibrary(kPeMachineAmd64, true, 1, kSixCalls));
  ASSERT_EQ(exports.failure, "");
  EXPECT_EQ(exports.machine, kPeMachineAmd64);
  EXPECT_TRUE(exports.pe32Plus);
  EXPECT_EQ(exports.ordinals, (std::vector<uint32_t>{1, 2, 5, 6}));
  exports = parsePeExports(makeLibrary(kPeMachineI386, false, 5, {0x1100, 0x1110}));
  ASSERT_EQ(exports.failure, "");
  EXPECT_FALSE(exports.pe32Plus);
  EXPECT_EQ(exports.ordinals, (std::vector<uint32_t>{5, 6}));
}

TEST(PeExportsTest, LibraryVerdicts) {
  std::string text;
  EXPECT_EQ(verdict(makeLibrary(kPeMachineAmd64, true, 1, kSixCalls), &text), Severity::kOk);
  EXPECT_EQ(verdict(makeLibrary(kPeMachineI386, false, 1, kSixCalls), &text), Severity::kProblem);
  EXPECT_NE(text.find("32-bit"), std::string::npos) << text;
  std::vector<uint32_t> noWrite(kSixCalls.begin(), kSixCalls.end() - 1);
  EXPECT_EQ(verdict(makeLibrary(kPeMachineAmd64, true, 1, noWrite), &text), Severity::kProblem);
  EXPECT_NE(text.find("by ordinal: 6 "), std::string::npos) << text;
  EXPECT_EQ(verdict(makeLibrary(kPeMachineAmd64, true, 5, {0x1100, 0x1110}), &text),
            Severity::kProblem);
  EXPECT_NE(text.find("by ordinal: 1, 2 "), std::string::npos) << text;
  EXPECT_EQ(verdict({'#', '!', '/', 'b'}, &text), Severity::kProblem);
  EXPECT_NE(text.find("no MZ header"), std::string::npos) << text;

  std::vector<Finding> findings;
  judgeAdapterLibrary("", {"C:\\tool\\PCANBasic.dll", "C:\\Windows\\system32\\PCANBasic.dll"},
                      PeExports{}, &findings);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].severity, Severity::kProblem);
  EXPECT_NE(findings[0].text.find("C:\\tool\\PCANBasic.dll, C:\\Windows"), std::string::npos);
}

TEST(PeExportsTest, DamagedImagesAreRefusedWithoutReadingPastThem) {
  std::vector<uint8_t> good = makeLibrary(kPeMachineAmd64, true, 1, kSixCalls);
  // Cut short anywhere before the last address of the table: never all four calls.
  for (size_t size = 0; size < 0x200 + 40 + 4 * kSixCalls.size(); ++size) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
    PeExports exports = parsePeExports(cut);
    EXPECT_TRUE(!exports.failure.empty() || exports.ordinals.size() < 4) << size;
  }
  std::vector<uint8_t> farHeader = good;
  put32(&farHeader, 0x3C, 0xFFFFFFF0);
  EXPECT_NE(parsePeExports(farHeader).failure, "");
  std::vector<uint8_t> hugeTable = good;
  put32(&hugeTable, 0x200 + 20, 0x7FFFFFFF);
  EXPECT_NE(parsePeExports(hugeTable).failure, "");
  std::vector<uint8_t> tableOutside = good;
  put32(&tableOutside, 0x200 + 28, 0x9000);
  EXPECT_NE(parsePeExports(tableOutside).failure, "");
}

TEST(PeExportsTest, LibraryFoundInSearchOrder) {
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("nodletflash-pe-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir / "system");
  std::string tool = (dir / "PCANBasic.dll").string();
  std::string system = (dir / "system" / "PCANBasic.dll").string();
  std::ofstream(system) << "MZ";
  EXPECT_EQ(firstExisting({tool, system}), system);
  std::ofstream(tool) << "MZ";
  EXPECT_EQ(firstExisting({tool, system}), tool);
  EXPECT_EQ(firstExisting({(dir / "none").string()}), "");
  std::filesystem::remove_all(dir);
}

}  // namespace
