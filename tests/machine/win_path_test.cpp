#include "machine/win_path.h"

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

TEST(WinPathTest, AddTrailingBackslashAppendsExactlyOne) {
  EXPECT_EQ(AddTrailingBackslash(""), "");
  EXPECT_EQ(AddTrailingBackslash("C:"), "C:\\");
  EXPECT_EQ(AddTrailingBackslash("C:\\"), "C:\\");
  EXPECT_EQ(AddTrailingBackslash("C:\\WINDOWS"), "C:\\WINDOWS\\");
  EXPECT_EQ(AddTrailingBackslash("C:\\WINDOWS\\"), "C:\\WINDOWS\\");
  EXPECT_EQ(AddTrailingBackslash("C:\\A\\\\"), "C:\\A\\\\");
  EXPECT_EQ(AddTrailingBackslash(" "), " \\");
}

TEST(WinPathTest, CaseFoldingTouchesAsciiLettersOnly) {
  EXPECT_TRUE(EqualsIgnoreCase("Start Menu", "START MENU"));
  EXPECT_FALSE(EqualsIgnoreCase("caf\xE9", "CAF\xC9"));
  EXPECT_FALSE(EqualsIgnoreCase("abc", "abcd"));
  EXPECT_EQ(UpperAscii("a\xE9z"), "A\xE9Z");
}

TEST(WinPathTest, SplitsNamesAndExtensions) {
  EXPECT_EQ(ExtractFileName("C:\\WINDOWS\\NOTEPAD.EXE"), "NOTEPAD.EXE");
  EXPECT_EQ(ExtractFileName("C:NOTEPAD.EXE"), "NOTEPAD.EXE");
  EXPECT_EQ(ExtractFilePath("C:\\WINDOWS\\NOTEPAD.EXE"), "C:\\WINDOWS\\");
  EXPECT_EQ(ExtractFilePath("NOTEPAD.EXE"), "");
  EXPECT_EQ(ExtractFileExt("C:\\WINDOWS\\NOTEPAD.EXE"), ".EXE");
  EXPECT_EQ(ExtractFileExt("C:\\MY.DIR\\README"), "");
  EXPECT_EQ(RemoveFileExt("C:\\A\\Tarnex.pol"), "C:\\A\\Tarnex");
  EXPECT_EQ(SplitWindowsPath("\\\\SERVER\\SHARE\\\\dir\\"),
            (std::vector<std::string>{"SERVER", "SHARE", "dir"}));
  EXPECT_TRUE(SplitWindowsPath("\\").empty());
}

}  // namespace
}  // namespace tarnwick::test
