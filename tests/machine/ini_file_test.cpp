#include "machine/ini_file.h"

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

TEST(IniFileTest, ReadsSectionsEntriesAndComments) {
  const IniFile ini = IniFile::Parse(
      "\xEF\xBB\xBF; machine\r\n[Machine]\r\n  WindowsDirectory = C:\\WINDOWS\\  \r\n\r\n"
      "# drive\n[ Drive C ]\nPath=\nLabel=a=b\n",
      "test.ini");
  ASSERT_EQ(ini.Sections().size(), 2u);
  const IniSection* machine = ini.FindSection("machine");
  ASSERT_NE(machine, nullptr);
  EXPECT_EQ(machine->Line(), 2);
  const IniEntry* windows = machine->Find("WINDOWSDIRECTORY");
  ASSERT_NE(windows, nullptr);
  EXPECT_EQ(windows->value, "C:\\WINDOWS\\");
  EXPECT_EQ(windows->line, 3);
  const IniSection* drive = ini.FindSection("Drive C");
  ASSERT_NE(drive, nullptr);
  EXPECT_EQ(drive->Find("Path")->value, "");
  EXPECT_EQ(drive->Find("Label")->value, "a=b");
  EXPECT_EQ(drive->Find("Serial"), nullptr);
}

TEST(IniFileTest, FormatReadsBackTheSameEntries) {
  IniFile ini;
  ini.AddSection("Machine").Set("ProgramPath", "C:\\TARNEX\\TARNEX.EXE");
  IniSection& drive = ini.AddSection("Drive A");
  drive.Set("Type", "removable");
  drive.Set("Path", "");
  drive.Set("type", "fixed");
  const IniFile back = IniFile::Parse(ini.Format(), "test.ini");
  ASSERT_EQ(back.Sections().size(), 2u);
  EXPECT_EQ(back.FindSection("Machine")->Find("ProgramPath")->value, "C:\\TARNEX\\TARNEX.EXE");
  ASSERT_EQ(back.FindSection("Drive A")->Entries().size(), 2u);
  EXPECT_EQ(back.FindSection("Drive A")->Find("Type")->value, "fixed");
}

TEST(IniFileTest, LineEndsAndStrayCarriageReturnsReadBackTheSame) {
  const IniFile ini =
      IniFile::Parse("[A B]\r\r\nk ey=v\r\r\nLF=x\ny\r=\rz\r\nend=v\r\r", "test.ini");
  const auto entries = [](const IniFile& file) {
    std::vector<std::string> all;
    for (const IniSection& section : file.Sections()) {
      all.push_back(section.Name());
      for (const IniEntry& entry : section.Entries()) all.push_back(entry.key + '=' + entry.value);
    }
    return all;
  };
  const std::vector<std::string> expected = {"A B", "k ey=v", "LF=x", "y=z", "end=v"};
  EXPECT_EQ(entries(ini), expected);
  EXPECT_EQ(entries(IniFile::Parse(ini.Format(), "test.ini")), expected);

  // What the reader would trim or split is refused rather than written differently.
  for (const auto& [key, value] : {std::pair{"k", "v\r"},
                                   {"k", " v"},
                                   {"k", "a\nb"},
                                   {"k=", "v"},
                                   {";k", "v"},
                                   {"k\r", "v"},
                                   {"k\rey", "v"},
                                   {"k", "a\rb"}}) {
    IniFile bad;
    bad.AddSection("S").Set(key, value);
    EXPECT_THROW(bad.Format(), IniError) << key << '=' << value;
  }
}

TEST(IniFileTest, ErrorsNameTheFileAndLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"Type=fixed\n", "test.ini, line 1: entry before the first [Section]"},
      {"[A]\n[B\n", "test.ini, line 2: missing \"]\""},
      {"[A]\n\n[ ]\n", "test.ini, line 3: empty section name"},
      {"[A]\nx=1\nplain text\n", "test.ini, line 3: expected"},
      {"[A]\n=1\n", "test.ini, line 2: empty key"},
      {"[A]\nKey=1\nkey=2\n", "test.ini, line 3: key key given twice in [A] (first on line 2)"},
      {"[A]\n[a]\n", "test.ini, line 2: section [a] given twice (first on line 1)"},
      // A control character inside a name or value: a CR would end the line for other readers.
      {"[A]\nLabel=AB\rNoRun=0\n",
       "test.ini, line 2: The value of Label cannot hold a control character such as a line break "
       "or a tab (it holds byte 0x0D)"},
      {"[A]\nx=a\x7F\n", "line 2: The value of x cannot hold a control character"},
      {"[A]\nx=a\x1F b\n", "line 2: The value of x cannot hold a control character"},
      {"[A]\nk\te y=1\n", "line 2: The key cannot hold a control character"},
      {"[A\rB]\n", "line 1: The section name cannot hold a control character"},
  };
  for (const auto& [text, message] : cases) {
    try {
      IniFile::Parse(text, "test.ini");
      ADD_FAILURE() << "accepted: " << text;
    } catch (const IniError& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
}

TEST(IniFileTest, BlanksAndHighBytesInsideAValueAreText) {
  const IniFile ini = IniFile::Parse("[A]\nLabel= MY  DISK\x80\xFF \r\n", "test.ini");
  EXPECT_EQ(ini.FindSection("A")->Find("Label")->value, "MY  DISK\x80\xFF");
  IniFile bad;
  bad.AddSection("S").Set("k", "a\tb");
  EXPECT_THROW(bad.Format(), IniError);
}

}  // namespace
}  // namespace tarnwick::test
