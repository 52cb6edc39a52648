#include "shell/shell_links.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>

#include "formats/shell_link.h"
#include "machine/machine.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

std::string Lnkinfo(const fs::path& file, int& status) {
  std::string quoted = "'";
  for (char c : file.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  std::string output;
  FILE* pipe = ::popen(("lnkinfo " + quoted + " 2>&1").c_str(), "r");
  char buffer[4096];
  size_t n = 0;
  while (pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    output.append(buffer, n);
  }
  status = pipe != nullptr ? ::pclose(pipe) : -1;
  return output;
}

// True when lnkinfo printed the line "<tabs>field<tabs>: value".
bool Has(const std::string& output, const std::string& field, const std::string& value) {
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(start, end - start);
    const size_t name = line.find_first_not_of('\t');
    const size_t colon = line.find(": ");
    if (name != std::string::npos && colon != std::string::npos &&
        line.compare(name, field.size(), field) == 0 &&
        line.find_first_not_of('\t', name + field.size()) == colon &&
        line.substr(colon + 2) == value) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

std::vector<uint8_t> ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ShellLinks : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tarnwick-links-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    c_ = dir_ / "c";
    for (const char* folder : {"WINDOWS/Profiles/Kids/Start Menu/Programs", "WINDOWS/Desktop",
                               "WINDOWS/Start Menu/Programs/Accessories", "TARNEX/UserIcon"}) {
      fs::create_directories(c_ / folder);
    }
    Write("WINDOWS/NOTEPAD.EXE", std::string(34304, 'n'));
    Write("Program Files/Accessories/WORDPAD.EXE", "wordpad");
    Write("TARNEX/UserIcon/kid.ico", "icon");
    std::ofstream(dir_ / "machine.ini") << "[Machine]\nWindowsDirectory=C:\\WINDOWS\n"
                                        << "ProgramPath=C:\\TARNEX\\TARNEX.EXE\n"
                                        << "[Drive C]\nType=fixed\nPath=c\nLabel=WIN95\n"
                                        << "Serial=2A1B-07C4\n";
    machine_.emplace(Machine::Open(dir_));
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Write(const fs::path& relative, const std::string& text) {
    fs::create_directories((c_ / relative).parent_path());
    std::ofstream(c_ / relative, std::ios::binary) << text;
  }
  std::string Resolve(const std::string& link) {
    return ResolveShellLink(*machine_, link).value_or("");
  }

  fs::path dir_;
  fs::path c_;
  std::optional<Machine> machine_;
};

TEST_F(ShellLinks, LnkinfoShowsEveryKindOfLinkWeWrite) {
  const std::string accessories = "C:\\WINDOWS\\Start Menu\\Programs\\Accessories\\";
  ASSERT_NO_THROW(CreateShellLink(*machine_, "C:\\WINDOWS\\NOTEPAD.EXE",
                                  accessories + "Notepad.lnk", "NOTEPAD", ""));
  ASSERT_NO_THROW(CreateShellLink(*machine_, "c:\\program files\\accessories\\wordpad.exe",
                                  accessories + "WordPad.lnk", "WORDPAD",
                                  "C:\\TARNEX\\UserIcon\\kid.ico"));
  ASSERT_NO_THROW(CreateShellLink(*machine_, "C:\\WINDOWS\\Profiles\\Kids\\Start Menu\\Programs",
                                  "C:\\WINDOWS\\Desktop\\Kids' Programs.lnk",
                                  "Shortcut to Kids' Programs", "C:\\TARNEX\\UserIcon\\kid.ico"));

  const fs::path menu = c_ / "WINDOWS/Start Menu/Programs/Accessories";
  int status = -1;
  std::string out = Lnkinfo(menu / "Notepad.lnk", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_TRUE(Has(out, "Local path", "C:\\WINDOWS\\NOTEPAD.EXE")) << out;
  EXPECT_TRUE(Has(out, "Description", "NOTEPAD")) << out;
  EXPECT_TRUE(Has(out, "File size", "34304 bytes")) << out;
  EXPECT_TRUE(Has(out, "Drive serial number", "0x2a1b07c4")) << out;
  EXPECT_EQ(out.find("Relative path"), std::string::npos) << out;
  EXPECT_EQ(out.find("Icon location"), std::string::npos) << out;

  out = Lnkinfo(menu / "WordPad.lnk", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_TRUE(Has(out, "Local path", "C:\\Program Files\\Accessories\\WORDPAD.EXE")) << out;
  EXPECT_TRUE(Has(out, "Icon location", "C:\\TARNEX\\UserIcon\\kid.ico")) << out;
  EXPECT_TRUE(Has(out, "Icon index", "0")) << out;
  EXPECT_TRUE(Has(out, "Volume label", "WIN95")) << out;

  out = Lnkinfo(c_ / "WINDOWS/Desktop/Kids' Programs.lnk", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_TRUE(Has(out, "Local path", "C:\\WINDOWS\\Profiles\\Kids\\Start Menu\\Programs")) << out;
  EXPECT_TRUE(Has(out, "Description", "Shortcut to Kids' Programs")) << out;
  EXPECT_TRUE(Has(out, "File size", "0 bytes")) << out;
  EXPECT_NE(out.find("(FILE_ATTRIBUTE_DIRECTORY)"), std::string::npos) << out;
  EXPECT_TRUE(Has(out, "Icon location", "C:\\TARNEX\\UserIcon\\kid.ico")) << out;

  // Link flags as Windows 95 writes them: item list, link info, description, icon location.
  EXPECT_EQ(ReadBytes(menu / "Notepad.lnk").at(0x14), 0x07);
  EXPECT_EQ(ReadBytes(menu / "WordPad.lnk").at(0x14), 0x47);
  EXPECT_EQ(ReadBytes(c_ / "WINDOWS/Desktop/Kids' Programs.lnk").at(0x14), 0x47);

  const ShellLink folder = ReadShellLinkFile(c_ / "WINDOWS/Desktop/Kids' Programs.lnk");
  ASSERT_EQ(folder.idListEntries.size(), 5u);
  EXPECT_EQ(folder.idListEntries[1].shortName, "PROFILES");
  EXPECT_EQ(folder.idListEntries[3].shortName, "STARTM~1");
  EXPECT_EQ(folder.showCommand, 1u);
  EXPECT_EQ(folder.hotKey, 0);
}

TEST_F(ShellLinks, ResolveGivesTheShortPath) {
  ASSERT_NO_THROW(CreateShellLink(*machine_, "C:\\Program Files\\Accessories\\WORDPAD.EXE",
                                  "C:\\WINDOWS\\Desktop\\WordPad.lnk", "WordPad", ""));
  EXPECT_EQ(Resolve("C:\\WINDOWS\\Desktop\\WordPad.lnk"), "C:\\PROGRA~1\\ACCESS~1\\WORDPAD.EXE");
  EXPECT_EQ(Resolve("c:\\windows\\desktop\\wordpad.LNK"), "C:\\PROGRA~1\\ACCESS~1\\WORDPAD.EXE");

  ASSERT_NO_THROW(CreateShellLink(*machine_, "C:\\WINDOWS\\Profiles\\Kids\\Start Menu\\Programs",
                                  "C:\\WINDOWS\\Desktop\\Kids.lnk", "Kids", ""));
  EXPECT_EQ(Resolve("C:\\WINDOWS\\Desktop\\Kids.lnk"),
            "C:\\WINDOWS\\PROFILES\\KIDS\\STARTM~1\\PROGRAMS");
  // A link to a link is a link to that file, not to its target.
  ASSERT_NO_THROW(CreateShellLink(*machine_, "C:\\WINDOWS\\Desktop\\WordPad.lnk",
                                  "C:\\WINDOWS\\Desktop\\Again.lnk", "", ""));
  EXPECT_EQ(Resolve("C:\\WINDOWS\\Desktop\\Again.lnk"), "C:\\WINDOWS\\DESKTOP\\WORDPAD.LNK");
}

TEST_F(ShellLinks, ResolveFallsBackToTheRelativePath) {
  Write("Apps/Tool Box/TOOL.EXE", "tool");
  ASSERT_NO_THROW(
      CreateShellLink(*machine_, "C:\\Apps\\Tool Box\\TOOL.EXE", "C:\\Apps\\Tool.lnk", "Tool", ""));
  // Later Windows also record the target's path from the link's folder.
  std::vector<uint8_t> bytes = ReadBytes(c_ / "Apps/Tool.lnk");
  ASSERT_EQ(bytes.at(0x14), 0x07);
  bytes[0x14] |= 0x08;
  const std::string relative = ".\\Tool Box\\TOOL.EXE";
  std::vector<uint8_t> counted = {static_cast<uint8_t>(relative.size()), 0};
  counted.insert(counted.end(), relative.begin(), relative.end());
  bytes.insert(bytes.end() - 4, counted.begin(), counted.end());  // after the description
  std::ofstream(c_ / "Apps/Tool.lnk", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  EXPECT_EQ(Resolve("C:\\Apps\\Tool.lnk"), "C:\\APPS\\TOOLBO~1\\TOOL.EXE");

  fs::rename(c_ / "Apps", c_ / "Moved Apps");
  EXPECT_EQ(Resolve("C:\\Moved Apps\\Tool.lnk"), "C:\\MOVEDA~1\\TOOLBO~1\\TOOL.EXE");
  fs::remove(c_ / "Moved Apps/Tool Box/TOOL.EXE");
  EXPECT_EQ(Resolve("C:\\Moved Apps\\Tool.lnk"), "");
}

TEST_F(ShellLinks, ReplacesAnExistingLink) {
  const std::string link = "C:\\WINDOWS\\Desktop\\Editor.lnk";
  ASSERT_NO_THROW(CreateShellLink(*machine_, "C:\\WINDOWS\\NOTEPAD.EXE", link, "Editor", ""));
  ASSERT_NO_THROW(CreateShellLink(*machine_, "C:\\Program Files\\Accessories\\WORDPAD.EXE", link,
                                  "Editor", ""));
  EXPECT_EQ(Resolve(link), "C:\\PROGRA~1\\ACCESS~1\\WORDPAD.EXE");
}

TEST_F(ShellLinks, FailuresWriteNothing) {
  const fs::path desktop = c_ / "WINDOWS/Desktop";
  try {
    CreateShellLink(*machine_, "C:\\WINDOWS\\MISSING.EXE", "C:\\WINDOWS\\Desktop\\Missing.lnk",
                    "Missing", "");
    ADD_FAILURE() << "written";
  } catch (const ShellLinkWriteError& e) {
    EXPECT_STREQ(e.what(),
                 "The shortcut C:\\WINDOWS\\Desktop\\Missing.lnk cannot be written: its target "
                 "C:\\WINDOWS\\MISSING.EXE does not exist.");
  }
  EXPECT_THROW(CreateShellLink(*machine_, "C:\\WINDOWS\\NOTEPAD.EXE",
                               "C:\\WINDOWS\\No Folder\\Notepad.lnk", "Notepad", ""),
               Error);
  EXPECT_THROW(CreateShellLink(*machine_, "C:\\WINDOWS\\NOTEPAD.EXE",
                               "C:\\WINDOWS\\Desktop\\" + std::string(250, 'x') + ".lnk", "", ""),
               Error);
  EXPECT_THROW(
      CreateShellLink(*machine_, "C:\\WINDOWS\\NOTEPAD.EXE", "C:\\WINDOWS\\Desktop", "", ""),
      Error);
  EXPECT_THROW(CreateShellLink(*machine_, "C:\\WINDOWS\\NOTEPAD.EXE", "C:\\WINDOWS\\Desktop\\N.lnk",
                               std::string(260, 'd'), ""),
               Error);
  EXPECT_TRUE(fs::is_empty(desktop));
}

TEST_F(ShellLinks, ResolveFailsWithAnEmptyPath) {
  EXPECT_EQ(Resolve("C:\\WINDOWS\\Desktop\\Nothing.lnk"), "");
  EXPECT_EQ(Resolve("C:\\WINDOWS\\NOTEPAD.EXE"), "");  // not a link
  ASSERT_NO_THROW(CreateShellLink(*machine_, "C:\\WINDOWS\\NOTEPAD.EXE",
                                  "C:\\WINDOWS\\Desktop\\N.lnk", "N", ""));
  fs::resize_file(c_ / "WINDOWS/Desktop/N.lnk", 120);
  EXPECT_EQ(Resolve("C:\\WINDOWS\\Desktop\\N.lnk"), "");
}

}  // namespace
}  // namespace tarnwick
