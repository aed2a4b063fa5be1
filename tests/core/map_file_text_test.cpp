// Reading map files as text: code pages, byte-order marks, lines and fields.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "MapFileText.h"

namespace {

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> out;
  for (auto l : SplitMapLines(text)) out.emplace_back(l);
  return out;
}

std::vector<std::string> Fields(std::string_view line) {
  std::vector<std::string> out;
  for (auto f : SplitMapFields(line)) out.emplace_back(f);
  return out;
}

using V = std::vector<std::string>;

TEST(MapFileLines, EveryLineBreakStyleEndsALineButTheLastBreakAddsNone) {
  EXPECT_EQ(Lines(""), V{});
  EXPECT_EQ(Lines("a"), V{"a"});
  EXPECT_EQ(Lines("a\n"), V{"a"});
  EXPECT_EQ(Lines("a\r\nb\r\n"), (V{"a", "b"}));
  EXPECT_EQ(Lines("a\rb\nc"), (V{"a", "b", "c"}));
  EXPECT_EQ(Lines("\r"), V{""});  // a lone CR is one empty line
  EXPECT_EQ(Lines("a\n\nb"), (V{"a", "", "b"}));
  EXPECT_EQ(Lines("a\n\r"), (V{"a", ""}));  // LF CR is two breaks
  EXPECT_EQ(Lines("a\r\n\r\n"), (V{"a", ""}));
}

TEST(MapFileFields, SplitsAtEveryBarAndDropsOnlyTheFieldAfterAFinalBar) {
  EXPECT_EQ(Fields(""), V{});
  EXPECT_EQ(Fields("x|F|y"), (V{"x", "F", "y"}));
  EXPECT_EQ(Fields("x|F|y|"), (V{"x", "F", "y"}));
  EXPECT_EQ(Fields("x|F|"), (V{"x", "F"}));
  EXPECT_EQ(Fields("x|F||"), (V{"x", "F", ""}));
  EXPECT_EQ(Fields("x|F|||"), (V{"x", "F", "", ""}));
  EXPECT_EQ(Fields("|F|y"), (V{"", "F", "y"}));
  EXPECT_EQ(Fields("|"), V{""});
  EXPECT_EQ(Fields(" x | F |y "), (V{" x ", " F ", "y "}));  // no trimming
}

TEST(MapFileEncoding, ByteOrderMarksSelectTheEncodingAndWindows1252IsTheDefault) {
  // "à€" in each encoding.
  EXPECT_EQ(MapFileTextToUtf8("\xE0\x80"), "\xC3\xA0\xE2\x82\xAC");
  EXPECT_EQ(MapFileTextToUtf8("\xEF\xBB\xBF\xC3\xA0\xE2\x82\xAC"), "\xC3\xA0\xE2\x82\xAC");
  EXPECT_EQ(MapFileTextToUtf8(std::string("\xFF\xFE\xE0\x00\xAC\x20", 6)), "\xC3\xA0\xE2\x82\xAC");
  EXPECT_EQ(MapFileTextToUtf8(std::string("\xFE\xFF\x00\xE0\x20\xAC", 6)), "\xC3\xA0\xE2\x82\xAC");
  // A surrogate pair (U+1F600) survives; the BOM itself never reaches the text.
  EXPECT_EQ(MapFileTextToUtf8(std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6)), "\xF0\x9F\x98\x80");
  EXPECT_EQ(MapFileTextToUtf8("\xEF\xBB\xBF"), "");
  // Undefined Windows-1252 bytes keep their C1 code point.
  EXPECT_EQ(MapFileTextToUtf8("\x81"), "\xC2\x81");
}

TEST(MapFileEncoding, MalformedInputBecomesReplacementCharacters) {
  const std::string fffd = "\xEF\xBF\xBD";
  // Lone high surrogate, lone low surrogate, odd trailing byte.
  EXPECT_EQ(MapFileTextToUtf8(std::string("\xFF\xFE\x3D\xD8"
                                          "a\x00",
                                          6)),
            fffd + "a");
  EXPECT_EQ(MapFileTextToUtf8(std::string("\xFF\xFE\x00\xDE", 4)), fffd);
  EXPECT_EQ(MapFileTextToUtf8(std::string("\xFE\xFF\x00"
                                          "a"
                                          "b",
                                          5)),
            "a" + fffd);
  // Overlong, truncated and surrogate UTF-8 after a UTF-8 mark.
  EXPECT_EQ(MapFileTextToUtf8("\xEF\xBB\xBF\xC0\xAF"), fffd + fffd);
  EXPECT_EQ(MapFileTextToUtf8("\xEF\xBB\xBF"
                              "a\xE2\x82"),
            "a" + fffd + fffd);
  EXPECT_EQ(MapFileTextToUtf8("\xEF\xBB\xBF\xED\xA0\x80"), fffd + fffd + fffd);
}

TEST(MapFileRead, UnreadableFilesRaiseTheOsErrorAndNothingWaits) {
  try {
    ReadMapFileBytes("no-such-map.cfg");
    FAIL() << "expected a file error";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), ENOENT);
    EXPECT_NE(std::string(e.what()).find("no-such-map.cfg"), std::string::npos);
  }
  EXPECT_THROW(ReadMapFileBytes("."), std::system_error);

  // A FIFO without a writer reads as empty instead of blocking the window.
  const char* fifo = "map_file_text_test.fifo";
  ::unlink(fifo);
  ASSERT_EQ(::mkfifo(fifo, 0600), 0);
  EXPECT_EQ(ReadMapFileBytes(fifo), "");
  ::unlink(fifo);
}

}  // namespace
