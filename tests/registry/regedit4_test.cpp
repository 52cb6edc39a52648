#include "registry/regedit4.h"

#include <gtest/gtest.h>

#include <sstream>
#include <streambuf>

namespace tarnwick::test {
namespace {

std::vector<uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

// Text with "\n" line ends turned into the CR LF that export writes.
std::string Crlf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string Export(const RegNode& root, std::string_view rootPath = {}) {
  std::ostringstream out;
  ExportRegedit4(root, out, rootPath);
  return out.str();
}

// Counts what is written to it and keeps none of it.
class CountingBuffer : public std::streambuf {
 public:
  size_t Count() const { return count_; }

 protected:
  int_type overflow(int_type c) override {
    ++count_;
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char*, std::streamsize n) override {
    count_ += static_cast<size_t>(n);
    return n;
  }

 private:
  size_t count_ = 0;
};

TEST(Regedit4Test, ExportsAsWindows95RegeditDoes) {
  RegNode root;
  RegNode& software = root.AddSubkey("Software");
  software.SetValue("", kRegSz, Bytes(std::string("Demo\0", 5)));
  software.SetValue("NoRun", kRegDword, {1, 0, 0, 0});
  software.SetValue("Path \"q\"", kRegSz, Bytes(std::string("C:\\WINDOWS\\\xC4\0", 13)));
  software.SetValue("Windows", kRegSz, Bytes("C:\\WINDOWS"));  // Windows 95's own form
  software.SetValue("Mask", kRegDword, {0xFF, 0xFF, 0xFF, 0x83});
  software.SetValue("Bin", kRegBinary, {0x00, 0xAB, 0x10});
  software.SetValue("Empty", kRegBinary, {});
  software.AddSubkey("Empty");
  root.AddSubkey("second");
  EXPECT_EQ(Export(root), Crlf("REGEDIT4\n"
                               "\n"
                               "[Software]\n"
                               "@=\"Demo\"\n"
                               "\"NoRun\"=dword:00000001\n"
                               "\"Path \\\"q\\\"\"=\"C:\\\\WINDOWS\\\\\xC4\"\n"
                               "\"Windows\"=\"C:\\\\WINDOWS\"\n"
                               "\"Mask\"=dword:83ffffff\n"
                               "\"Bin\"=hex:00,ab,10\n"
                               "\"Empty\"=hex:\n"
                               "\n"
                               "[Software\\Empty]\n"
                               "\n"
                               "[second]\n"
                               "\n"));
}

TEST(Regedit4Test, ValuesThatCannotStandAsTextAreHex) {
  RegNode root;
  RegNode& key = root.AddSubkey("K");
  key.SetValue("Lines", kRegSz, Bytes(std::string("a\r\nb\0", 5)));
  key.SetValue("TwoNuls", kRegSz, Bytes(std::string("a\0\0", 3)));
  key.SetValue("Inner", kRegSz, Bytes(std::string("a\0b\0", 4)));
  key.SetValue("Expand", kRegExpandSz, Bytes(std::string("%x%\0", 4)));
  key.SetValue("ShortDword", kRegDword, {1, 2});
  key.SetValue("Odd", 0x80000005, {9});
  std::istringstream lines(Export(root));
  std::vector<std::string> got;
  for (std::string line; std::getline(lines, line);) got.push_back(line);
  EXPECT_EQ(got, (std::vector<std::string>{
                     "REGEDIT4\r", "\r", "[K]\r", "\"Lines\"=hex(1):61,0d,0a,62,00\r",
                     "\"TwoNuls\"=hex(1):61,00,00\r", "\"Inner\"=hex(1):61,00,62,00\r",
                     "\"Expand\"=hex(2):25,78,25,00\r", "\"ShortDword\"=hex(4):01,02\r",
                     "\"Odd\"=hex(80000005):09\r", "\r"}));

  RegNode bad;
  bad.AddSubkey("K").SetValue("two\nlines", kRegSz, Bytes(std::string("x\0", 2)));
  EXPECT_THROW(Export(bad), Regedit4Error);
}

TEST(Regedit4Test, LongHexDataWrapsAndReadsBack) {
  RegNode root;
  std::vector<uint8_t> data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  root.AddSubkey("K").SetValue("Blob", kRegBinary, data);
  const std::string text = Export(root);
  std::istringstream lines(text);
  size_t count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    EXPECT_LE(line.size(), 81u) << line;
  }
  EXPECT_GT(count, 10u);
  EXPECT_NE(text.find(",\\\r\n  "), std::string::npos);
  RegNode back;
  ImportRegedit4(text, back);
  EXPECT_TRUE(SameTree(back, root));
}

TEST(Regedit4Test, ExportThenImportGivesBackTheSameTree) {
  RegNode root;
  RegNode& a = root.AddSubkey("Caf\xE9");
  a.SetValue("", kRegSz, Bytes("default"));
  a.SetValue("@", kRegSz, Bytes("at sign"));
  a.SetValue("quote\"back\\slash", kRegSz, Bytes("\"\\"));
  a.SetValue("Tab", kRegSz, Bytes("a\tb ; [x] = "));
  a.SetValue("Nothing", kRegSz, {});
  a.SetValue("Lines", kRegSz, Bytes(std::string("1\n2\0", 4)));
  a.SetValue("Zero", kRegDword, {0, 0, 0, 0});
  a.SetValue("None", kRegNone, {});
  a.SetValue("Multi", kRegMultiSz, Bytes(std::string("x\0y\0\0", 5)));
  a.AddSubkey("Deep").AddSubkey("Er").AddSubkey("Still").SetValue("n", kRegBinary, {1});
  a.AddSubkey("Brack]et");
  root.AddSubkey("Empty");
  const std::string text = Export(root);
  RegNode back;
  ImportRegedit4(text, back);
  EXPECT_TRUE(SameTree(back, root)) << Export(back);
  EXPECT_EQ(Export(back), text);
}

TEST(Regedit4Test, ImportMergesDeletesAndAcceptsLooseFormatting) {
  RegNode root;
  RegNode& keep = root.AddSubkey("Keep");
  keep.SetValue("first", kRegSz, Bytes(std::string("old\0", 4)));
  keep.SetValue("gone", kRegDword, {1, 0, 0, 0});
  root.AddSubkey("Drop").AddSubkey("Child");
  ImportRegedit4(
      "REGEDIT4\n"
      "; a comment\n"
      "\n"
      "[keep]\n"
      "\"FIRST\" = \"new\"\n"
      "\"gone\"=-\n"
      "\"added\"=dword:2A\n"
      "\"wrapped\"=hex:01,02,\\\n"
      "    03 , 04\n"
      "[-Drop]\n"
      "[-Never\\There]\n"
      "[New\\Nested]\r\n"
      "@=\"x\"\r\n",
      root);
  RegNode expected;
  RegNode& k = expected.AddSubkey("Keep");
  k.SetValue("first", kRegSz, Bytes("new"));
  k.SetValue("added", kRegDword, {0x2A, 0, 0, 0});
  k.SetValue("wrapped", kRegBinary, {1, 2, 3, 4});
  expected.AddSubkey("New").AddSubkey("Nested").SetValue("", kRegSz, Bytes("x"));
  EXPECT_TRUE(SameTree(root, expected)) << Export(root);
}

TEST(Regedit4Test, BadTextNamesItsLineAndLeavesTheTreeAlone) {
  struct Case {
    const char* text;
    size_t line;
  };
  const std::string tooLong(256, 'n');
  std::string big = "\"b\"=hex:00";
  for (int i = 0; i < 16300; ++i) big += ",00";  // one byte beyond the limit
  const std::vector<Case> cases{
      {"REGEDIT5\n[K]\n", 1},
      {"", 1},
      {"REGEDIT4\n\"v\"=\"before any key\"\n", 2},
      {"REGEDIT4\n[K]\n\"v\" \"x\"\n", 3},
      {"REGEDIT4\n[K]\n\"v\"=\"C:\\WINDOWS\"\n", 3},
      {"REGEDIT4\n[K]\n\"v\"=\"open\n", 3},
      {"REGEDIT4\n[K]\n\"v\"=\"x\" trailing\n", 3},
      {"REGEDIT4\n[K]\n\n\"v\"=dword:123456789\n", 4},
      {"REGEDIT4\n[K]\n\"v\"=dword:xyz\n", 3},
      {"REGEDIT4\n[K]\n\"v\"=hex:1,2,345\n", 3},
      {"REGEDIT4\n[K]\n\"v\"=hex:01,,02\n", 3},
      {"REGEDIT4\n[K]\n\"v\"=hex(7:00\n", 3},
      {"REGEDIT4\n[K]\n\"v\"=hex(4):01,02\n", 3},
      {"REGEDIT4\n[K]\n\"v\"=hex:01,\\\n", 3},
      {"REGEDIT4\n[K]\n\"v\"=hex:01,\\\n  zz\n", 4},
      {"REGEDIT4\n[K]\n\"v\"=text\n", 3},
      {"REGEDIT4\n[K]\n\"\"=\"x\"\n", 3},
      {"REGEDIT4\n[K\n", 2},
      {"REGEDIT4\n[]\n", 2},
      {"REGEDIT4\n[A\\\\B]\n", 2},
      {"REGEDIT4\n[A]\n[-A]\n\"v\"=\"x\"\n", 4},
      {"REGEDIT4\n\n\n[A\\B]\nnonsense\n", 5},
      // Names export could not write back.
      {"REGEDIT4\n[a\rb]\n", 2},
      {"REGEDIT4\n[K]\n\"a\rb\"=\"x\"\n", 3},
      // Root key paths in a file's text.
      {"REGEDIT4\n[K]\n[HKEY_LOCAL_MACHINE\\Software]\n", 3},
      {"REGEDIT4\n[-hkey_users\\.DEFAULT]\n", 2},
  };
  RegNode root;
  root.AddSubkey("K").SetValue("v", kRegSz, Bytes(std::string("kept\0", 5)));
  root.AddSubkey("A");
  const std::unique_ptr<RegNode> before = root.Clone();
  auto check = [&](const std::string& text, size_t line) {
    try {
      ImportRegedit4(text, root);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const Regedit4Error& e) {
      EXPECT_EQ(e.Line(), line) << text << " -> " << e.what();
      EXPECT_EQ(std::string(e.what()).rfind("line " + std::to_string(line) + ": ", 0), 0u);
    }
    EXPECT_TRUE(SameTree(root, *before)) << text;
  };
  for (const Case& c : cases) check(c.text, c.line);
  check("REGEDIT4\n[K\\" + tooLong + "]\n", 2);
  check("REGEDIT4\n[K]\n\"" + tooLong + "\"=\"x\"\n", 3);
  check("REGEDIT4\n[K]\n\"ok\"=\"x\"\n" + big + "\n", 4);
  // An error after good lines undoes nothing in root, since nothing reached it.
  check("REGEDIT4\n[New]\n\"a\"=\"b\"\n[-K]\n\"oops\n", 5);
}

// Windows 95's regedit writes code page 1252; UTF-8 taken byte for byte would store mojibake.
TEST(Regedit4Test, UnicodeTextIsRefusedAndCodePage1252IsTakenAsItIs) {
  RegNode root;
  root.AddSubkey("K");
  const std::unique_ptr<RegNode> before = root.Clone();
  const std::pair<std::string, size_t> refused[] = {
      {"\xEF\xBB\xBFREGEDIT4\r\n[K]\r\n\"v\"=\"x\"\r\n", 1},
      {"\xEF\xBB\xBFREGEDIT4\r\n[K]\r\n\"v\"=\"Caf\xC3\xA9\"\r\n", 1},
      {std::string("\xFF\xFER\0E\0", 6), 1},
      {"REGEDIT4\r\n[K]\r\n\"v\"=\"Caf\xC3\xA9\"\r\n", 3},
      {"REGEDIT4\n[K]\n\n\"v\"=\"\xE2\x82\xAC 5\"\n", 4},  // the euro sign
      {"REGEDIT4\n[K\\\xE6\x97\xA5]\n", 2},                // outside code page 1252 too
  };
  for (const auto& [text, line] : refused) {
    try {
      ImportRegedit4(text, root);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const Regedit4Error& e) {
      EXPECT_EQ(e.Line(), line) << text << " -> " << e.what();
      const std::string what = e.what();
      EXPECT_TRUE(what.find("UTF-8") != std::string::npos ||
                  what.find("UTF-16") != std::string::npos)
          << what;
      EXPECT_NE(what.find("code page 1252"), std::string::npos) << what;
    }
    EXPECT_TRUE(SameTree(root, *before)) << text;
  }

  // Code page 1252 with bytes that break UTF-8: an accented letter alone, the euro sign, a
  // capital followed by a letter.
  ImportRegedit4("REGEDIT4\r\n[K]\r\n\"v\"=\"Caf\xE9 \x80 5 M\xDCNCHEN\"\r\n[\xC4rger]\r\n", root);
  EXPECT_EQ(root.FindSubkey("K")->FindValue("v")->data, Bytes("Caf\xE9 \x80 5 M\xDCNCHEN"));
  EXPECT_NE(root.FindSubkey("\xC4rger"), nullptr);
}

// A one-line key 300,000 levels deep: imported and exported without recursion, the export
// streamed (the text would be 90 GB).
TEST(Regedit4Test, AVeryDeepKeyImportsAndStreamsOut) {
  constexpr size_t kDepth = 300000;
  std::string text = "REGEDIT4\n[";
  for (size_t i = 0; i < kDepth; ++i) text += i ? "\\a" : "a";
  text += "]\n\"v\"=\"x\"\n";
  RegNode root;
  ImportRegedit4(text, root);
  CountingBuffer counter;
  std::ostream out(&counter);
  ExportRegedit4(root, out);
  // The header, then per level d a line "[a\...\a]" of 2d + 1 bytes, its ends, and one value.
  size_t expected = 12 + std::string_view("\"v\"=\"x\"\r\n").size();
  for (size_t d = 1; d <= kDepth; ++d) expected += 2 * d + 1 + 4;
  EXPECT_EQ(counter.Count(), expected);
}

TEST(Regedit4Test, RootKeyPathsGoOnAndComeOff) {
  RegNode root;
  RegNode& software = root.AddSubkey("Software");
  software.SetValue("v", kRegSz, Bytes("x"));
  software.AddSubkey("Sub");
  const std::string text = Export(root, "HKEY_LOCAL_MACHINE");
  EXPECT_EQ(text, Crlf("REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\Software]\n"
                       "\"v\"=\"x\"\n\n[HKEY_LOCAL_MACHINE\\Software\\Sub]\n\n"));
  RegNode back;
  ImportRegedit4(text, back, "HKEY_LOCAL_MACHINE");
  EXPECT_TRUE(SameTree(back, root)) << Export(back);

  // Two root keys into two trees, one of them below a key of the other's.
  RegNode system;
  RegNode user;
  ImportRegedit4(
      "REGEDIT4\n[hkey_classes_root\\.txt]\n@=\"txtfile\"\n[HKEY_USERS\\.DEFAULT]\n"
      "[-HKEY_LOCAL_MACHINE\\Nothing]\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt]\n\"b\"="
      "\"c\"\n",
      {{"HKEY_LOCAL_MACHINE", system},
       {"HKEY_USERS", user},
       {"HKEY_CLASSES_ROOT", system, "SOFTWARE\\Classes"}});
  EXPECT_EQ(Export(system), Crlf("REGEDIT4\n\n[SOFTWARE]\n\n[SOFTWARE\\Classes]\n\n"
                                 "[SOFTWARE\\Classes\\.txt]\n@=\"txtfile\"\n\"b\"=\"c\"\n\n"));
  EXPECT_EQ(Export(user), Crlf("REGEDIT4\n\n[.DEFAULT]\n\n"));

  // Refused with the line: a key under no target, deleting a target's key, values on a file's
  // root; and no tree has changed.
  const std::unique_ptr<RegNode> before = back.Clone();
  for (const auto& [bad, line] : std::vector<std::pair<std::string, size_t>>{
           {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n[HKEY_USERS\\B]\n", 3},
           {"REGEDIT4\n[Software]\n", 2},
           {"REGEDIT4\n\n[-HKEY_LOCAL_MACHINE]\n", 3},
           {"REGEDIT4\n[HKEY_LOCAL_MACHINE]\n\"v\"=\"x\"\n", 3},
       }) {
    try {
      ImportRegedit4(bad, back, "HKEY_LOCAL_MACHINE");
      ADD_FAILURE() << "accepted: " << bad;
    } catch (const Regedit4Error& e) {
      EXPECT_EQ(e.Line(), line) << bad << " -> " << e.what();
    }
    EXPECT_TRUE(SameTree(back, *before)) << bad;
  }
}

}  // namespace
}  // namespace tarnwick::test
