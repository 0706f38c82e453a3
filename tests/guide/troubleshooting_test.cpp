#include "troubleshooting.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "child_process.h"

namespace {

namespace fs = std::filesystem;

// The format strings the tool's sources pass to printStatus that begin with "ERROR": each
// call's adjacent string literals joined, as the compiler joins them.
std::vector<std::string> errorFormatsIn(const std::string& source) {
  std::vector<std::string> formats;
  size_t at = 0;
  while ((at = source.find("printStatus(", at)) != std::string::npos) {
    at += std::strlen("printStatus(");
    std::string joined;
    for (;;) {
      while (at < source.size() && std::isspace(static_cast<unsigned char>(source[at]))) {
        ++at;
      }
      if (at >= source.size() || source[at] != '"') {
        break;
      }
      for (++at; at < source.size() && source[at] != '"'; ++at) {
        if (source[at] == '\\' && at + 1 < source.size()) {
          ++at;
          joined += source[at] == 'n' ? '\n' : source[at];
        } else {
          joined += source[at];
        }
      }
      ++at;
    }
    // "ERROR%s" prints a text made elsewhere: the firmware file's refusals, which the tool
    // itself is made to print below.
    if (joined.rfind("ERROR", 0) == 0 && joined.rfind("ERROR%s", 0) != 0) {
      formats.push_back(joined);
    }
  }
  return formats;
}

// A line the tool would print for |format|: its first line, with sample values.
std::string sampleLine(const std::string& format) {
  std::string line = format.substr(0, format.find('\n'));
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '%' && i + 1 < line.size() && line[i + 1] == 'd') {
      out += "42";
      ++i;
    } else if (line[i] == '%' && i + 1 < line.size() && line[i + 1] == 's') {
      out += "dir/file name.hex";
      ++i;
    } else {
      out += line[i];
    }
  }
  return out;
}

TEST(Troubleshooting, EveryErrorMessageInTheToolsSourcesHasItsEntry) {
  int found = 0;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(SOURCE_DIR) / "src")) {
    if (entry.path().extension() != ".cpp") {
      continue;
    }
    std::ifstream in(entry.path());
    std::stringstream text;
    text << in.rdbuf();
    for (const std::string& format : errorFormatsIn(text.str())) {
      ++found;
      std::string line = sampleLine(format);
      const Trouble* trouble = findTrouble(line);
      EXPECT_NE(trouble, nullptr) << "no troubleshooting for " << line << " ("
                                  << entry.path().filename().string() << ")";
    }
  }
  EXPECT_GE(found, 16);  // the usage, the node, the adapter, scheduling, handshake, download
}

TEST(Troubleshooting, EveryEntryExplainsItselfOnBothPlatforms) {
  for (const Trouble& trouble : troubleTable()) {
    EXPECT_FALSE(trouble.meaning.empty()) << trouble.message;
    for (Platform platform : {Platform::kLinux, Platform::kWindows}) {
      const std::vector<Cause>& causes = causesFor(trouble, platform);
      EXPECT_FALSE(causes.empty()) << trouble.message;
      for (const Cause& cause : causes) {
        EXPECT_FALSE(cause.what.empty() || cause.todo.empty()) << trouble.message;
      }
    }
    // Each entry is found for its own message, not shadowed by an earlier, looser one.
    EXPECT_EQ(findTrouble(sampleLine(trouble.message)), &trouble) << trouble.message;
  }
}

TEST(Troubleshooting, PatternsMatchWholeLinesWithTheirValues) {
  EXPECT_TRUE(matchesMessage("ERRORError sending firmware byte, line #%d, count #%d. End",
                             "ERRORError sending firmware byte, line #12, count #-3. End"));
  EXPECT_FALSE(matchesMessage("ERRORline #%d.", "ERRORline #."));
  EXPECT_FALSE(matchesMessage("ERRORline #%d.", "ERRORline #x."));
  EXPECT_FALSE(matchesMessage("ERRORError resetting nodlet.", "ERRORError resetting nodlet. x"));
  EXPECT_TRUE(matchesMessage("ERRORFirmware file %s contains a NUL byte.",
                             "ERRORFirmware file a b.hex contains a NUL byte."));
  EXPECT_TRUE(matchesMessage("ERRORFirmware file %s.", "ERRORFirmware file ."));
  EXPECT_EQ(findTrouble("ERRORsomething the tool never says"), nullptr);
  // The refusals with a column and the byte, and of a path that is not a file.
  const Trouble* broken = findTrouble(
      "ERRORFirmware file a.hex, line 3, column 7: the record is interrupted by byte 0x20, "
      "which cannot be sent.");
  ASSERT_NE(broken, nullptr);
  EXPECT_NE(broken->message.find("line %d"), std::string::npos);
  const Trouble* notFile = findTrouble("ERRORFirmware file /tmp is not a regular file.");
  ASSERT_NE(notFile, nullptr);
  EXPECT_NE(notFile->message.find("regular file"), std::string::npos);
}

// The tool itself, refusing firmware files: each refusal has its own entry.
TEST(Troubleshooting, TheToolsFileRefusalsFindTheirEntries) {
  fs::path dir = fs::temp_directory_path() / ("guide-trouble-" + std::to_string(getpid()));
  fs::create_directories(dir);
  {
    std::ofstream nul(dir / "nul.hex", std::ios::binary);
    nul << "%1A6" << '\0' << "123\r\n";
    std::ofstream broken(dir / "broken.hex", std::ios::binary);
    broken << "%10612345\r\n%1 06123\r\n";
  }
  struct Case {
    std::string path;
    std::string entryStart;
  };
  for (const Case& c : std::vector<Case>{
           {(dir / "missing.hex").string(), "ERRORError opening firmware file"},
           {(dir / "nul.hex").string(), "ERRORFirmware file %s contains a NUL byte."},
           {(dir / "broken.hex").string(), "ERRORFirmware file %s, line %d"},
           {dir.string(), "ERROR"},  // a directory: refused in one of the ways above
       }) {
    ChildResult run = runChild({NODLETFLASH_PATH, "12", c.path});
    std::istringstream lines(run.output);
    std::string line;
    std::string error;
    while (std::getline(lines, line)) {
      if (line.rfind("ERROR", 0) == 0) {
        error = line;
      }
    }
    ASSERT_FALSE(error.empty()) << run.output;
    const Trouble* trouble = findTrouble(error);
    ASSERT_NE(trouble, nullptr) << error;
    EXPECT_EQ(trouble->message.rfind(c.entryStart, 0), 0u) << error;
  }
  fs::remove_all(dir);
}

}  // namespace
