#include "sha256.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

TEST(Sha256, StandardVectorsAcrossBlockBoundaries) {
  EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 bytes: the length no longer fits the first block's padding.
  EXPECT_EQ(sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(sha256Hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, AFileHashesAsItsBytesAndAMissingOneSaysWhy) {
  char dirTemplate[] = "/tmp/sha256-test-XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  std::filesystem::path dir = dirTemplate;
  // Longer than the read chunk, with bytes a text-mode read would change.
  std::string bytes;
  for (int i = 0; i < 200000; ++i)
    bytes += static_cast<char>(i % 251);
  std::ofstream(dir / "image.hex", std::ios::binary) << bytes;
  std::string error;
  EXPECT_EQ(sha256File((dir / "image.hex").string(), &error), sha256Hex(bytes));
  EXPECT_EQ(error, "");

  EXPECT_EQ(sha256File((dir / "absent.hex").string(), &error), "");
  EXPECT_NE(error, "");
  error.clear();
  EXPECT_EQ(sha256File(dir.string(), &error), "");
  EXPECT_EQ(error, "not a regular file");
  std::filesystem::remove_all(dir);
}

}  // namespace
