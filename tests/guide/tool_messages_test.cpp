#include "tool_messages.h"

#include <gtest/gtest.h>

namespace {

std::vector<ToolMessage> readAll(const std::vector<std::string>& pieces) {
  ToolMessageReader reader;
  std::vector<ToolMessage> out;
  double seconds = 0;
  for (const std::string& piece : pieces) {
    reader.feed(piece, seconds, &out);
    seconds += 1;
  }
  reader.finish(seconds, &out);
  return out;
}

TEST(ToolMessageReader, JoinsLinesSplitAcrossPiecesAndDropsLineEnds) {
  std::vector<ToolMessage> out =
      readAll({"Load", "ing firmware file...\r\nInit", "ializing CAN connection...\n", "\n"});
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].raw, "Loading firmware file...");
  EXPECT_EQ(out[0].kind, MessageKind::kNarration);
  EXPECT_EQ(out[0].seconds, 1);  // complete when its second piece came
  EXPECT_EQ(out[1].raw, "Initializing CAN connection...");
  EXPECT_EQ(out[1].seconds, 2);
  EXPECT_EQ(out[2].kind, MessageKind::kBlank);
}

TEST(ToolMessageReader, ClassifiesEveryTag) {
  std::vector<ToolMessage> out = readAll(
      {"USERMESSAGEPlease power off the hand, wait 5 seconds, then power the hand back on.\n"
       "DOWNPROG33.333332\nDOWNPROG100.000000\nDOWNPROGxyz\n"
       "ERRORError resetting nodlet.\nProgram ended unsuccessfully.\n"});
  ASSERT_EQ(out.size(), 6u);
  EXPECT_EQ(out[0].kind, MessageKind::kInstruction);
  EXPECT_EQ(out[0].text, "Please power off the hand, wait 5 seconds, then power the hand back on.");
  EXPECT_EQ(out[1].kind, MessageKind::kProgress);
  EXPECT_DOUBLE_EQ(out[1].percent, 33.333332);
  EXPECT_DOUBLE_EQ(out[2].percent, 100.0);
  EXPECT_EQ(out[3].kind, MessageKind::kNarration);  // not a value the tool prints
  EXPECT_EQ(out[4].kind, MessageKind::kError);
  EXPECT_EQ(out[4].text, "Error resetting nodlet.");
  EXPECT_FALSE(out[4].continuation);
  EXPECT_EQ(out[5].kind, MessageKind::kClosing);
  EXPECT_FALSE(out[5].succeeded);
}

TEST(ToolMessageReader, KeepsTheWholeLineOfTheErrorThatHasASpaceAfterItsTag) {
  ToolMessage message = classifyLine("ERROR getting thread priority: 5. Aborting.");
  EXPECT_EQ(message.kind, MessageKind::kError);
  EXPECT_EQ(message.text, "ERROR getting thread priority: 5. Aborting.");
}

TEST(ToolMessageReader, TheLinesAfterAnErrorContinueItUntilTheClosingLine) {
  std::vector<ToolMessage> out =
      readAll({"ERRORInvalid nodlet ID: must be between 11 and 14.\nFinger 1 is nodlet 11, "
               "Finger 2 is nodlet 12, Finger 3 is nodlet 13, and Spread is nodlet 14.\n",
               "Program ended successfully.\n"});
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[1].kind, MessageKind::kError);
  EXPECT_TRUE(out[1].continuation);
  EXPECT_EQ(out[1].text.rfind("Finger 1 is nodlet 11", 0), 0u);
  EXPECT_EQ(out[2].kind, MessageKind::kClosing);
  EXPECT_TRUE(out[2].succeeded);
}

TEST(ToolMessageReader, AnUnfinishedLastLineIsReadAtTheEnd) {
  std::vector<ToolMessage> out = readAll({"Loading firmware file...\nClosing CAN conn"});
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].raw, "Closing CAN conn");
  EXPECT_EQ(out[1].seconds, 1);
}

TEST(ToolMessageReader, ByteByByteGivesTheSameMessagesAsOnePiece) {
  const std::string output =
      "Loading firmware file...\nInitializing CAN connection...\nUSERMESSAGEx\nDOWNPROG1.200000\n"
      "\nDownload complete!\n\nClosing CAN connection...\nProgram ended successfully.\n";
  std::vector<std::string> bytes;
  for (char c : output) {
    bytes.emplace_back(1, c);
  }
  std::vector<ToolMessage> whole = readAll({output});
  std::vector<ToolMessage> pieces = readAll(bytes);
  ASSERT_EQ(whole.size(), pieces.size());
  for (size_t i = 0; i < whole.size(); ++i) {
    EXPECT_EQ(whole[i].raw, pieces[i].raw);
    EXPECT_EQ(whole[i].kind, pieces[i].kind);
  }
}

}  // namespace
