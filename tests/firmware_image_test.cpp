#include "image/firmware_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// A firmware file written to a temporary directory for one test.
class ImageFile {
 public:
  explicit ImageFile(const std::string& contents) {
    path_ = (std::filesystem::temp_directory_path() /
             ("nodletflash-image-" + std::to_string(getpid()) + "-" + std::to_string(next_++)))
                .string();
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    std::fwrite(contents.data(), 1, contents.size(), f);
    std::fclose(f);
  }
  ~ImageFile() { std::remove(path_.c_str()); }
  const char* path() const { return path_.c_str(); }

 private:
  static inline int next_ = 0;
  std::string path_;
};

struct WalkedLine {
  int number;
  std::string payload;
};

std::vector<WalkedLine> walk(FirmwareImage& image) {
  std::vector<WalkedLine> lines;
  LineCursor cursor(image);
  ImageLine line;
  while (cursor.next(&line)) {
    lines.push_back(
        {line.number, std::string(line.payload, static_cast<size_t>(line.payloadLength))});
  }
  return lines;
}

// Loads |contents|, expecting success, and returns the walk.
std::vector<WalkedLine> loadAndWalk(const std::string& contents, int* lineCount) {
  ImageFile file(contents);
  FirmwareImage image;
  ImageLoad load = loadFirmwareImage(file.path(), &image);
  EXPECT_EQ(load.error, ImageError::kNone);
  EXPECT_EQ(image.size, static_cast<int32_t>(contents.size()));
  if (image.bytes != nullptr) {
    EXPECT_EQ(std::string(image.bytes, contents.size()), contents);
    EXPECT_EQ(image.bytes[image.size], '\0');
  }
  *lineCount = image.lineCount;
  std::vector<WalkedLine> lines = walk(image);
  // The walk puts every newline back.
  EXPECT_EQ(std::string(image.bytes, contents.size()), contents);
  releaseFirmwareImage(&image);
  return lines;
}

void expectLines(const std::vector<WalkedLine>& got, const std::vector<std::string>& payloads) {
  ASSERT_EQ(got.size(), payloads.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].number, static_cast<int>(i + 1));
    EXPECT_EQ(got[i].payload, payloads[i]) << "line " << i + 1;
  }
}

TEST(FirmwareImageTest, EmptyFileIsOneEmptyLine) {
  int lineCount = 0;
  expectLines(loadAndWalk("", &lineCount), {""});
  EXPECT_EQ(lineCount, 1);
}

TEST(FirmwareImageTest, RecordsLoseMarkAndLineEnd) {
  int lineCount = 0;
  expectLines(loadAndWalk("%AB\r\n%CD\r\n", &lineCount), {"AB", "CD", ""});
  EXPECT_EQ(lineCount, 3);

  expectLines(loadAndWalk("%0123\r\n%4567", &lineCount), {"0123", "4567"});
  EXPECT_EQ(lineCount, 2);

  expectLines(loadAndWalk("%12\n%34\n", &lineCount), {"12", "34", ""});
  EXPECT_EQ(lineCount, 3);
}

TEST(FirmwareImageTest, EmptyAndShortLinesHaveNoPayload) {
  int lineCount = 0;
  expectLines(loadAndWalk("%AB\r\n\r\n\n%\n%CD\r\n", &lineCount), {"AB", "", "", "", "CD", ""});
  EXPECT_EQ(lineCount, 6);
}

TEST(FirmwareImageTest, PayloadEndsAtTrailingSpaceOrControl) {
  int lineCount = 0;
  expectLines(loadAndWalk("%AB \r\n%CD\t\x01\r\n%EF\r\r\n%~z@:\r\n", &lineCount),
              {"AB", "CD", "EF", "~z@:", ""});
  EXPECT_EQ(lineCount, 5);
  // Bytes from 0x80 are not sendable; at the end of a line they are left alone.
  expectLines(loadAndWalk("%AB\xC3\xA9\r\n", &lineCount), {"AB", ""});
}

TEST(FirmwareImageTest, RefusesRecordsInterruptedMidLine) {
  // The line, the column (the record mark's is 1) and the byte that ends the payload early.
  struct Case {
    const char* contents;
    int line;
    int column;
    unsigned char byte;
  };
  const Case cases[] = {{"%ABC D\r\n", 1, 5, ' '},
                        {"%AB\r\n%1\xC3"
                         "2\r\n",
                         2, 3, 0xC3},
                        {"%AB\r\n\r\n%CD\r\n% E", 4, 2, ' '},
                        {"%AB\rCD\r\n", 1, 4, '\r'},
                        {"%AB\r\n%CD/EF\r\n", 2, 4, '/'},
                        {"\xEF\xBB\xBF%AB\r\n", 1, 2, 0xBB}};
  for (const Case& c : cases) {
    ImageFile file(c.contents);
    FirmwareImage image;
    ImageLoad load = loadFirmwareImage(file.path(), &image);
    EXPECT_EQ(load.error, ImageError::kBrokenLine) << c.contents;
    EXPECT_EQ(load.line, c.line) << c.contents;
    EXPECT_EQ(load.column, c.column) << c.contents;
    EXPECT_EQ(load.byte, c.byte) << c.contents;
    EXPECT_EQ(image.bytes, nullptr);
  }
}

TEST(FirmwareImageTest, RefusesNulBytesAnywhere) {
  const std::string cases[] = {std::string("%AB\r\n\0%CD\r\n", 11), std::string("\0", 1),
                               std::string("%AB\r\n%CD\r\n\0", 11)};
  for (const std::string& contents : cases) {
    ImageFile file(contents);
    FirmwareImage image;
    EXPECT_EQ(loadFirmwareImage(file.path(), &image).error, ImageError::kNulByte);
  }
}

TEST(FirmwareImageTest, RefusesFilesThatCannotBeRead) {
  FirmwareImage image;
  EXPECT_EQ(loadFirmwareImage("/nonexistent/firmware.hex", &image).error, ImageError::kOpen);
  EXPECT_EQ(image.bytes, nullptr);
  EXPECT_EQ(image.file, nullptr);
}

TEST(FirmwareImageTest, RefusesWhatIsNotARegularFileWithoutWaiting) {
  FirmwareImage image;
  EXPECT_EQ(loadFirmwareImage(std::filesystem::temp_directory_path().c_str(), &image).error,
            ImageError::kNotRegular);
  EXPECT_EQ(image.file, nullptr);
  EXPECT_EQ(loadFirmwareImage("/dev/null", &image).error, ImageError::kNotRegular);
  // A FIFO nobody writes to: opening it for reading would wait for a writer for ever.
  std::string fifo =
      (std::filesystem::temp_directory_path() / ("nodletflash-fifo-" + std::to_string(getpid())))
          .string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(loadFirmwareImage(fifo.c_str(), &image).error, ImageError::kNotRegular);
  EXPECT_EQ(image.file, nullptr);
  std::remove(fifo.c_str());
}

TEST(FirmwareImageTest, SizeBoundIsTheLargestSigned32BitCount) {
  EXPECT_TRUE(imageSizeFits(0));
  EXPECT_TRUE(imageSizeFits(INT32_MAX));
  EXPECT_FALSE(imageSizeFits(int64_t{INT32_MAX} + 1));
  EXPECT_FALSE(imageSizeFits(int64_t{5} << 32));
  // A sparse file of 2 GiB is refused before anything is read.
  ImageFile file("");
  ASSERT_EQ(truncate(file.path(), int64_t{INT32_MAX} + 1), 0);
  FirmwareImage image;
  EXPECT_EQ(loadFirmwareImage(file.path(), &image).error, ImageError::kTooLarge);
  EXPECT_EQ(image.bytes, nullptr);
  EXPECT_EQ(image.file, nullptr);
}

TEST(FirmwareImageTest, AdoptedBytesAreCheckedAndCounted) {
  char ok[] = "%AB\n%CD";
  FirmwareImage image;
  EXPECT_EQ(adoptFirmwareBytes(ok, 7, &image).error, ImageError::kNone);
  EXPECT_EQ(image.lineCount, 2);
  expectLines(walk(image), {"AB", "CD"});

  char broken[] = "%A B";
  EXPECT_EQ(adoptFirmwareBytes(broken, 4, &image).error, ImageError::kBrokenLine);
}

}  // namespace
