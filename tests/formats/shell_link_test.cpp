#include "formats/shell_link.h"
#include "formats/shell_link_resolve.h"
#include "formats/shell_link_write.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "machine/machine.h"
#include "support/image_machine.h"
#include "support/lnkinfo.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes Hex(std::string_view hex) {
  Bytes bytes;
  std::string digits;
  for (char c : hex) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits.push_back(c);
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

void Add(Bytes& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
}
void Add16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Add32(Bytes& out, uint32_t v) {
  Add16(out, static_cast<uint16_t>(v));
  Add16(out, static_cast<uint16_t>(v >> 16));
}
void AddWide(Bytes& out, std::u16string_view text) {
  for (char16_t c : text) Add16(out, c);
}
void Set32(Bytes& bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Set16(Bytes& bytes, size_t at, uint16_t v) {
  bytes[at] = static_cast<uint8_t>(v);
  bytes[at + 1] = static_cast<uint8_t>(v >> 8);
}

Bytes Header(uint32_t flags) {
  Bytes out = Hex("4c000000 0114020000000000c000000000000046");
  Add32(out, flags);
  out.resize(0x4C, 0);
  Set32(out, 0x3C, 1);
  return out;
}

const Bytes kMyComputerItem = Hex("1400 1f50 e04fd020ea3a6910a2d808002b30309d");

// Windows XP layout: 8.3 name, then a version 3 extension block with the long name.
Bytes XpFileEntry(uint8_t type, std::string_view shortName, std::u16string_view longName) {
  Bytes item = {0, 0, type, 0};
  Add32(item, 0);
  Add32(item, 0x4E401EEB);
  Add16(item, type == 0x31 ? 0x10 : 0x20);
  Add(item, shortName);
  item.push_back(0);
  if (item.size() % 2 != 0) item.push_back(0);
  const size_t block = item.size();
  Add16(item, static_cast<uint16_t>(20 + (longName.size() + 1) * 2 + 2));
  Add16(item, 3);
  Add32(item, 0xBEEF0004);
  Add32(item, 0x4E401EEB);
  Add32(item, 0x4E401EEB);
  Add16(item, 0x14);
  Add16(item, 0);
  AddWide(item, longName);
  Add16(item, 0);
  Add16(item, static_cast<uint16_t>(block));
  Set16(item, 0, static_cast<uint16_t>(item.size()));
  return item;
}

// A link as later Windows write it: Unicode strings, XP items, link info with Unicode paths,
// extra data blocks. extraStart receives the offset of the extra data.
Bytes UnicodeLink(size_t* extraStart = nullptr) {
  Bytes out = Header(0xFF);
  Bytes items = kMyComputerItem;
  Add(items, std::string("\x19\x00\x2f"
                         "C:\\",
                         6));
  items.resize(items.size() + 19, 0);
  const Bytes dir = XpFileEntry(0x31, "PROGRA~1", u"Program Files");
  const Bytes file = XpFileEntry(0x32, "CAFNOT~1.TXT", u"Caf\u00e9 Notes.txt");
  items.insert(items.end(), dir.begin(), dir.end());
  items.insert(items.end(), file.begin(), file.end());
  Add16(items, 0);
  Add16(out, static_cast<uint16_t>(items.size()));
  out.insert(out.end(), items.begin(), items.end());

  // Link info: header 0x24, an ANSI path that differs from the preferred Unicode one.
  Bytes info(0x24, 0);
  Set32(info, 4, 0x24);
  Set32(info, 8, 1);
  Set32(info, 0x0C, static_cast<uint32_t>(info.size()));
  Add32(info, 0x15);
  Add32(info, 3);
  Add32(info, 0x12345678);
  Add32(info, 0x10);
  Add(info, std::string("DATA", 5));
  Set32(info, 0x10, static_cast<uint32_t>(info.size()));
  Add(info, std::string("C:\\PROGRA~1\\CAFNOT~1.TXT", 25));
  Set32(info, 0x18, static_cast<uint32_t>(info.size()));
  info.push_back(0);
  if (info.size() % 2 != 0) info.push_back(0);
  Set32(info, 0x1C, static_cast<uint32_t>(info.size()));
  AddWide(info, std::u16string(u"C:\\Program Files\\Caf\u00e9 Notes.txt") + u'\0');
  Set32(info, 0x20, static_cast<uint32_t>(info.size()));
  Add16(info, 0);
  Set32(info, 0, static_cast<uint32_t>(info.size()));
  out.insert(out.end(), info.begin(), info.end());

  for (std::u16string_view text :
       {std::u16string_view(u"Notes \u00e0 la caf\u00e9 \u4e2d"),
        std::u16string_view(u".\\Caf\u00e9 Notes.txt"), std::u16string_view(u"C:\\Program Files"),
        std::u16string_view(u"/quiet"), std::u16string_view(u"%SystemRoot%\\notes.ico")}) {
    Add16(out, static_cast<uint16_t>(text.size()));
    AddWide(out, text);
  }
  if (extraStart != nullptr) *extraStart = out.size();
  Add32(out, 0x0C);  // console code page block
  Add32(out, 0xA0000004);
  Add32(out, 1252);
  Add32(out, 0);
  return out;
}

// A target on a network share, reached through the common network relative link.
Bytes NetworkLink() {
  Bytes out = Header(0x06);
  Bytes net;
  Add32(net, 0);
  Add32(net, 0x2);
  Add32(net, 0x14);
  Add32(net, 0);
  Add32(net, 0x00020000);
  Add(net, std::string("\\\\SERVER\\APPS", 14));
  Set32(net, 0, static_cast<uint32_t>(net.size()));
  Bytes info(0x1C, 0);
  Set32(info, 4, 0x1C);
  Set32(info, 8, 0x2);
  Set32(info, 0x0C, 0xDEADBEEF);  // flag clear: never followed
  Set32(info, 0x10, 0xDEADBEEF);
  Set32(info, 0x14, 0x1C);
  info.insert(info.end(), net.begin(), net.end());
  Set32(info, 0x18, static_cast<uint32_t>(info.size()));
  Add(info, std::string("TOOLS\\TOOL.EXE", 15));
  Set32(info, 0, static_cast<uint32_t>(info.size()));
  out.insert(out.end(), info.begin(), info.end());
  Add16(out, 4);
  Add(out, "Tool");
  Add32(out, 0);
  return out;
}

// The Windows 95-style NOTEPAD.lnk of the format notes, byte for byte.
const Bytes kNotepadLink = Hex(R"(
  4c000000 0114020000000000c000000000000046 07000000 20000000
  005413b0734fba01 005413b0734fba01 005413b0734fba01
  00860000 00000000 01000000 0000 0000 00000000 00000000
  6100
  1400 1f 50 e04fd020ea3a6910a2d808002b30309d
  1900 23 433a5c 0000000000000000000000000000000000 0000
  1700 31 00 00000000 eb1e 404e 1000 57494e444f575300 00
  1b00 32 00 00860000 eb1e 404e 2000 4e4f54455041442e45584500 00
  0000
  45000000 1c000000 01000000 1c000000 2d000000 00000000 44000000
  11000000 03000000 4d3c2b1a 10000000 00
  433a5c57494e444f57535c4e4f54455041442e45584500 00
  0700 4e4f5445504144
  00000000)");

NewShellLink NotepadLink() {
  NewShellLink link;
  link.target.drive = 'C';
  link.target.volume = {3, 0x1A2B3C4D, ""};
  link.target.entries = {{"WINDOWS", "", true, 0, 0x1EEB, 0x4E40, 0x10},
                         {"NOTEPAD.EXE", "", false, 34304, 0x1EEB, 0x4E40, 0x20}};
  link.target.attributes = 0x20;
  link.target.creationTime = link.target.accessTime = link.target.writeTime = 0x01BA4F73B0135400;
  link.target.fileSize = 34304;
  link.description = "NOTEPAD";
  return link;
}

// Runs lnkinfo on bytes written to a file; returns its output, exit status in status.
std::string LnkInfo(const Bytes& bytes, int& status) {
  const fs::path file =
      fs::temp_directory_path() / ("tarnwick-lnkinfo-" + std::to_string(::getpid()) + ".lnk");
  {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  std::string output;
  FILE* pipe = ::popen(("lnkinfo '" + file.string() + "' 2>&1").c_str(), "r");
  char buffer[4096];
  size_t n = 0;
  while (pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    output.append(buffer, n);
  }
  status = pipe != nullptr ? ::pclose(pipe) : -1;
  fs::remove(file);
  return output;
}

TEST(ShellLinkEncode, WritesTheWindows95LayoutByteForByte) {
  EXPECT_EQ(EncodeShellLink(NotepadLink()), kNotepadLink);
}

TEST(ShellLinkEncode, FlagsFollowTheOptionalStrings) {
  NewShellLink link = NotepadLink();
  link.description.clear();
  EXPECT_EQ(EncodeShellLink(link)[0x14], 0x03);
  link.description = "WordPad";
  link.iconLocation = "C:\\TARNEX\\UserIcon\\kid.ico";
  const Bytes bytes = EncodeShellLink(link);
  EXPECT_EQ(bytes[0x14], 0x47);
  EXPECT_EQ(bytes[0x38], 0);  // icon index 0
  const ShellLink read = DecodeShellLink(bytes);
  EXPECT_EQ(read.description, "WordPad");
  EXPECT_EQ(read.relativePath, "");
  EXPECT_EQ(read.IconPath(), "C:\\TARNEX\\UserIcon\\kid.ico");
}

TEST(ShellLinkEncode, RefusesWhatWindowsCouldNotStore) {
  NewShellLink link = NotepadLink();
  link.description = std::string(260, 'x');
  EXPECT_THROW(EncodeShellLink(link), ShellLinkEncodeError);
  link = NotepadLink();
  link.target.entries.push_back({std::string(250, 'A'), "", false, 0, 0, 0, 0x20});
  EXPECT_THROW(EncodeShellLink(link), ShellLinkEncodeError);
  link = NotepadLink();
  link.iconLocation = std::string("a\0b", 3);
  EXPECT_THROW(EncodeShellLink(link), ShellLinkEncodeError);
}

TEST(ShellLinkEncode, TheLongestTargetRoundTripsAndALongerOneIsRefused) {
  NewShellLink link = NotepadLink();
  link.target.entries.assign(128, {"A", "", true, 0, 0x1EEB, 0x4E40, 0x10});
  link.target.entries.front().longName = "AA";
  link.target.entries.back().directory = false;
  const std::string path = link.target.LongPath();
  ASSERT_EQ(path.size(), kMaxShellPath - 1);
  const Bytes bytes = EncodeShellLink(link);
  const ShellLink read = DecodeShellLink(bytes);
  EXPECT_EQ(read.idListEntries.size(), 128u);
  EXPECT_EQ(read.idListPath, path);
  EXPECT_EQ(read.TargetPath(), path);
  int status = 0;
  const std::string out = LnkInfo(bytes, status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Local path\t\t\t: " + path), std::string::npos) << out;

  link.target.entries.front().longName = "AAA";
  try {
    EncodeShellLink(link);
    ADD_FAILURE() << "a 260-character target was written";
  } catch (const ShellLinkEncodeError& e) {
    EXPECT_NE(std::string(e.what()).find("260 characters, at most 259"), std::string::npos)
        << e.what();
  }
}

TEST(ShellLinkEncode, LnkinfoShowsTargetDescriptionAndAliases) {
  NewShellLink link;
  link.target.volume = {3, 0x2A1B07C4, "WIN95"};
  link.target.entries = {{"Program Files", "PROGRA~1", true, 0, 0x1EEB, 0x4E40, 0x10},
                         {"Accessories", "ACCESS~1", true, 0, 0x1EEB, 0x4E40, 0x10},
                         {"WORDPAD.EXE", "", false, 1000, 0x1EEB, 0x4E40, 0x20}};
  link.description = "WORDPAD";
  link.iconLocation = "C:\\TARNEX\\UserIcon\\kid.ico";
  int status = 0;
  const std::string out = LnkInfo(EncodeShellLink(link), status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Local path\t\t\t: C:\\Program Files\\Accessories\\WORDPAD.EXE"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Volume label\t\t\t: WIN95"), std::string::npos) << out;
  EXPECT_NE(out.find("Description\t\t\t: WORDPAD"), std::string::npos) << out;
  EXPECT_NE(out.find("Icon location\t\t\t: C:\\TARNEX\\UserIcon\\kid.ico"), std::string::npos)
      << out;

  const ShellLink read = DecodeShellLink(EncodeShellLink(link));
  ASSERT_EQ(read.idListEntries.size(), 3u);
  EXPECT_EQ(read.idListEntries[0].shortName, "PROGRA~1");
  EXPECT_EQ(read.idListEntries[1].shortName, "ACCESS~1");
  EXPECT_EQ(read.idListEntries[2].shortName, "");
  EXPECT_EQ(read.idListPath, "C:\\Program Files\\Accessories\\WORDPAD.EXE");
  EXPECT_EQ(read.volume->serial, 0x2A1B07C4u);
}

TEST(ShellLinkEncode, ANetworkTargetRecordsTheShareTheDeviceAndThePathBelow) {
  NewShellLink link = NotepadLink();
  link.target.drive = 'N';
  link.target.volume = {4, 0, ""};
  link.target.networkName = "\\\\SERVER\\APPS";
  const Bytes bytes = EncodeShellLink(link);
  // Link info: flags 2 (network only), the network link at 0x1C, the suffix after its 0x25
  // bytes.
  const size_t info = 0x4E + static_cast<size_t>(bytes[0x4C] | bytes[0x4D] << 8);
  EXPECT_EQ(Bytes(bytes.begin() + info + 8, bytes.begin() + info + 28),
            Hex("02000000 00000000 00000000 1c000000 41000000"));
  int status = 0;
  const std::string out = LnkInfo(bytes, status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Network path\t\t\t: \\\\SERVER\\APPS\\WINDOWS\\NOTEPAD.EXE"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("Local path"), std::string::npos) << out;
  const ShellLink read = DecodeShellLink(bytes);
  EXPECT_EQ(read.TargetPath(), "\\\\SERVER\\APPS\\WINDOWS\\NOTEPAD.EXE");
  EXPECT_EQ(read.idListPath, "N:\\WINDOWS\\NOTEPAD.EXE");
  EXPECT_FALSE(read.volume);
}

TEST(ShellLinkDecode, ReadsUnicodeLinksWithXpItems) {
  const Bytes bytes = UnicodeLink();
  int status = 0;
  const std::string out = LnkInfo(bytes, status);
  ASSERT_EQ(status, 0) << out;  // the hand-made link is a valid one
  EXPECT_NE(out.find("C:\\Program Files\\Caf\u00e9 Notes.txt"), std::string::npos) << out;

  const ShellLink link = DecodeShellLink(bytes);
  EXPECT_EQ(link.TargetPath(), "C:\\Program Files\\Caf\xE9 Notes.txt");
  EXPECT_EQ(link.idListPath, "C:\\Program Files\\Caf\xE9 Notes.txt");
  ASSERT_EQ(link.idListEntries.size(), 2u);
  EXPECT_EQ(link.idListEntries[0].shortName, "PROGRA~1");
  EXPECT_TRUE(link.idListEntries[0].directory);
  EXPECT_EQ(link.idListEntries[1].shortName, "CAFNOT~1.TXT");
  EXPECT_EQ(link.volume->label, "DATA");
  EXPECT_EQ(link.description, "Notes \xE0 la caf\xE9 ?");
  EXPECT_EQ(link.relativePath, ".\\Caf\xE9 Notes.txt");
  EXPECT_EQ(link.workingDirectory, "C:\\Program Files");
  EXPECT_EQ(link.arguments, "/quiet");
  EXPECT_EQ(link.iconLocation, "%SystemRoot%\\notes.ico");
}

TEST(ShellLinkDecode, ReadsNetworkTargetsAndIgnoresOffsetsWhoseFlagIsClear) {
  const ShellLink link = DecodeShellLink(NetworkLink());
  EXPECT_EQ(link.TargetPath(), "\\\\SERVER\\APPS\\TOOLS\\TOOL.EXE");
  EXPECT_FALSE(link.volume.has_value());
  EXPECT_EQ(link.description, "Tool");
}

TEST(ShellLinkDecode, AcceptsMinimalLinks) {
  EXPECT_EQ(DecodeShellLink(Header(0)).TargetPath(), "");
  // No terminal block, no TerminalID in the item list.
  Bytes bytes = kNotepadLink;
  bytes.resize(bytes.size() - 4);
  EXPECT_EQ(DecodeShellLink(bytes).TargetPath(), "C:\\WINDOWS\\NOTEPAD.EXE");
  Bytes items = Header(kLinkHasIdList);
  Add16(items, static_cast<uint16_t>(kMyComputerItem.size()));
  items.insert(items.end(), kMyComputerItem.begin(), kMyComputerItem.end());
  EXPECT_FALSE(DecodeShellLink(items).idListPath.has_value());
}

TEST(ShellLinkDecode, EnvironmentBlockAndForceNoLinkInfo) {
  Bytes bytes = Header(kLinkHasExpString);
  Add32(bytes, 0x314);
  Add32(bytes, 0xA0000001);
  Bytes ansi(260, 0);
  const std::string target = "%windir%\\NOTEPAD.EXE";
  std::copy(target.begin(), target.end(), ansi.begin());
  bytes.insert(bytes.end(), ansi.begin(), ansi.end());
  bytes.resize(bytes.size() + 520, 0);
  Add32(bytes, 0);
  const ShellLink link = DecodeShellLink(bytes);
  EXPECT_EQ(link.environmentTarget, target);
  EXPECT_EQ(link.TargetPath(), "");

  Bytes forced = kNotepadLink;
  Set32(forced, 0x14, 0x107);
  EXPECT_EQ(DecodeShellLink(forced).TargetPath(), "C:\\WINDOWS\\NOTEPAD.EXE");  // the item list
  EXPECT_FALSE(DecodeShellLink(forced).linkInfoPath->empty());
}

// Every truncation is an error, except where extra data blocks may start.
void ExpectTruncationsFail(const Bytes& bytes, size_t extraStart) {
  for (size_t n = 0; n < bytes.size(); ++n) {
    const Bytes cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n));
    try {
      DecodeShellLink(cut);
      EXPECT_GE(n, extraStart) << "truncated at " << n;
    } catch (const ShellLinkError& e) {
      EXPECT_LE(e.Offset(), n);
    }
  }
}

TEST(ShellLinkDamage, TruncatedAnywhere) {
  ExpectTruncationsFail(kNotepadLink, kNotepadLink.size() - 4);
  size_t extra = 0;
  const Bytes unicode = UnicodeLink(&extra);
  ExpectTruncationsFail(unicode, extra);
  const Bytes network = NetworkLink();
  ExpectTruncationsFail(network, network.size() - 4);
}

TEST(ShellLinkDamage, SizesAndOffsetsOutOfRange) {
  // Offsets into kNotepadLink: item list at 0x4C, link info at 0xAF, strings at 0xF4.
  const std::vector<std::pair<size_t, uint32_t>> faults32 = {
      {0x00, 0x4D}, {0xAF, 0x1B}, {0xAF, 0x1000},     {0xB3, 0x20},  {0xB3, 0x46}, {0xBB, 0x1000},
      {0xBB, 0x10}, {0xBF, 0x45}, {0xBF, 0xFFFFFFFF}, {0xC7, 0x45},  {0xCB, 0x10}, {0xCB, 0x40},
      {0xD7, 0x11}, {0xD7, 0x14}, {0xFD, 5},          {0xFD, 0x100},
  };
  for (const auto& [at, value] : faults32) {
    Bytes bytes = kNotepadLink;
    Set32(bytes, at, value);
    EXPECT_THROW(DecodeShellLink(bytes), ShellLinkError) << "u32 at " << at << " = " << value;
  }
  const std::vector<std::pair<size_t, uint16_t>> faults16 = {
      {0x4C, 0xFFFF}, {0x4C, 0x60}, {0x4E, 1}, {0x4E, 0x70}, {0x7B, 0x0D}, {0xF4, 0x200},
  };
  for (const auto& [at, value] : faults16) {
    Bytes bytes = kNotepadLink;
    Set16(bytes, at, value);
    EXPECT_THROW(DecodeShellLink(bytes), ShellLinkError) << "u16 at " << at << " = " << value;
  }
  Bytes unterminated = kNotepadLink;
  unterminated[0xAB] = 'X';  // the NUL after "NOTEPAD.EXE" in the item list ...
  unterminated[0xAC] = 'X';  // ... and the empty alias
  EXPECT_THROW(DecodeShellLink(unterminated), ShellLinkError);
  Bytes stray = kNotepadLink;
  stray.resize(stray.size() - 2);
  EXPECT_THROW(DecodeShellLink(stray), ShellLinkError);  // 1-3 bytes where a block size belongs
}

TEST(ShellLinkDamage, RandomCorruptionOnlyEverGivesShellLinkErrors) {
  std::mt19937 random(1995);
  const std::vector<Bytes> samples = {kNotepadLink, UnicodeLink(), NetworkLink()};
  for (int round = 0; round < 6000; ++round) {
    Bytes bytes = samples[round % samples.size()];
    const int flips = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < flips; ++i) {
      bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
    }
    try {
      DecodeShellLink(bytes);
    } catch (const ShellLinkError&) {
    }
  }
}

TEST(ShellLinkResolve, ResolvesLinksOtherSystemsWrote) {
  std::string pattern = (fs::temp_directory_path() / "tarnwick-resolve-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  for (const char* folder : {"c/WINDOWS", "c/Program Files", "n/TOOLS"}) {
    fs::create_directories(dir / folder);
  }
  for (const char* file :
       {"c/WINDOWS/NOTEPAD.EXE", "c/Program Files/Caf\u00e9 Notes.txt", "n/TOOLS/TOOL.EXE"}) {
    std::ofstream(dir / file) << "x";
  }
  std::ofstream(dir / "machine.ini")
      << "[Drive C]\nType=fixed\nPath=c\n"
      << "[Drive N]\nType=remote\nPath=n\nRemoteName=\\\\SERVER\\APPS\n";
  const Machine machine = Machine::Open(dir);
  const auto place = [&](const char* name, const Bytes& bytes) {
    std::ofstream out(dir / "c" / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return std::string("C:\\") + name;
  };
  EXPECT_EQ(ResolveShellLinkFile(machine, place("unicode.lnk", UnicodeLink())),
            "C:\\PROGRA~1\\CAF\xC9NO~1.TXT");
  EXPECT_EQ(ResolveShellLinkFile(machine, place("network.lnk", NetworkLink())),
            "\\\\SERVER\\APPS\\TOOLS\\TOOL.EXE");

  Bytes environment = Header(kLinkHasExpString);
  Add32(environment, 0x314);
  Add32(environment, 0xA0000001);
  environment.resize(environment.size() + 260, 0);
  AddWide(environment, u"%WINDIR%\\notepad.exe");
  environment.resize(8 + 0x4C + 0x314, 0);
  Add32(environment, 0);
  EXPECT_EQ(ResolveShellLinkFile(machine, place("environment.lnk", environment)),
            "C:\\WINDOWS\\NOTEPAD.EXE");

  // A recorded path longer than MAX_PATH names no file, even where its short form would fit.
  const auto relative = [&](int depth) {
    std::string path = ".";
    fs::path host = dir / "c";
    for (int i = 0; i < depth; ++i) {
      path += "\\Long folder name";
      host /= "Long folder name";
    }
    fs::create_directories(host);
    std::ofstream(host / "file.txt") << "x";
    Bytes link = Header(kLinkHasRelativePath);
    path += "\\file.txt";
    Add16(link, static_cast<uint16_t>(path.size()));
    Add(link, path);
    Add32(link, 0);
    return link;
  };
  EXPECT_EQ(ResolveShellLinkFile(machine, place("deep.lnk", relative(3))),
            "C:\\LONGFO~1\\LONGFO~1\\LONGFO~1\\FILE.TXT");
  EXPECT_EQ(ResolveShellLinkFile(machine, place("deeper.lnk", relative(16))), "");
  fs::remove_all(dir);
}

// Shortcuts on a FAT16 image record the names, aliases, sizes and attributes its directory entries
// keep; lnkinfo reads them as mcopy extracts them, and they resolve to the aliases mtools knows.
TEST(ShellLinkOnImage, WritesReadsAndResolvesLinksOnAFatImage) {
  const ImageMachine image(16, {{"Program Files/Accessories/WORDPAD.EXE", std::string(1000, 'W')},
                                {"Program Files/Accessories/Read Me First.txt", "read me"},
                                {"WINDOWS/Desktop/", ""}});
  {
    const Machine machine = image.Open();
    WriteShellLinkFile(machine, "c:\\progra~1\\accessories\\wordpad.exe",
                       "C:\\WINDOWS\\DESKTOP\\WordPad Shortcut.lnk", "WordPad",
                       "C:\\WINDOWS\\wordpad.ico");
    WriteShellLinkFile(machine, "C:\\Program Files\\Accessories\\Read Me First.txt",
                       "C:\\WINDOWS\\Desktop\\Notes.lnk", "", "");
    WriteShellLinkFile(machine, "C:\\Program Files", "C:\\WINDOWS\\Desktop\\Programs.lnk", "", "");
    EXPECT_THROW(WriteShellLinkFile(machine, "C:\\Program Files\\Missing.exe",
                                    "C:\\WINDOWS\\Desktop\\Missing.lnk", "", ""),
                 ShellLinkWriteError);
    EXPECT_THROW(WriteShellLinkFile(machine, "C:\\Program Files", "C:\\WINDOWS\\Desktop", "", ""),
                 ShellLinkWriteError);
    EXPECT_FALSE(machine.Stat("C:\\WINDOWS\\Desktop\\Missing.lnk"));

    const ShellLink link = ReadShellLinkFile(machine, "C:\\WINDOWS\\DESKTOP\\WORDPA~1.LNK");
    ASSERT_EQ(link.idListEntries.size(), 3u);
    EXPECT_EQ(link.idListEntries[0].longName, "Program Files");
    EXPECT_EQ(link.idListEntries[0].shortName, "PROGRA~1");
    EXPECT_EQ(link.idListEntries[0].attributes, 0x10);
    EXPECT_EQ(link.idListEntries[1].shortName, "ACCESS~1");
    EXPECT_EQ(link.idListEntries[2].longName, "WORDPAD.EXE");
    EXPECT_EQ(link.idListEntries[2].shortName, "");
    EXPECT_EQ(link.idListEntries[2].size, 1000u);
    EXPECT_EQ(link.idListEntries[2].attributes, 0x20);
    EXPECT_EQ(link.fileSize, 1000u);
    EXPECT_EQ(link.volume->serial, 0x2A1B07C4u);
    EXPECT_EQ(ResolveShellLinkFile(machine, "c:\\windows\\desktop\\WordPad Shortcut.lnk"),
              "C:\\PROGRA~1\\ACCESS~1\\WORDPAD.EXE");
    EXPECT_EQ(ResolveShellLinkFile(machine, "C:\\WINDOWS\\Desktop\\Notes.lnk"),
              "C:\\PROGRA~1\\ACCESS~1\\README~1.TXT");
    EXPECT_EQ(ResolveShellLinkFile(machine, "C:\\WINDOWS\\Desktop\\Programs.lnk"), "C:\\PROGRA~1");
  }
  const std::string out = Lnkinfo(image.Extract("/WINDOWS/Desktop/WordPad Shortcut.lnk"));
  EXPECT_EQ(LnkField(out, "Local path"), "C:\\Program Files\\Accessories\\WORDPAD.EXE") << out;
  EXPECT_EQ(LnkField(out, "Volume label"), "WIN95") << out;
  EXPECT_EQ(LnkField(out, "Description"), "WordPad") << out;
  EXPECT_EQ(LnkField(out, "Icon location"), "C:\\WINDOWS\\wordpad.ico") << out;
  EXPECT_EQ(LnkField(Lnkinfo(image.Extract("/WINDOWS/Desktop/Programs.lnk")), "Local path"),
            "C:\\Program Files");
  EXPECT_EQ(LnkField(Lnkinfo(image.Extract("/WINDOWS/DESKTOP/NOTES.LNK")), "Local path"),
            "C:\\Program Files\\Accessories\\Read Me First.txt");
  image.ExpectClean();
}

}  // namespace
}  // namespace tarnwick::test
