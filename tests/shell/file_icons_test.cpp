#include "shell/file_icons.h"
#include "demo/demo_machine.h"

#include <gtest/gtest.h>

#include <QImage>
#include <fstream>
#include <iterator>

#include "demo/project_icons.h"
#include "formats/ico_file.h"
#include "formats/pe_test_builder.h"
#include "formats/shell_link_write.h"
#include "machine/machine.h"
#include "registry/registry.h"
#include "support/run_program.h"
#include "support/temp_machine_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

RgbaImage Solid(int side, uint32_t argb) {
  return RgbaImage{side, side, std::vector<uint32_t>(static_cast<size_t>(side) * side, argb)};
}

QImage Image(const QPixmap& pixmap) {
  return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}
QRgb Centre(const QPixmap& pixmap) {
  const QImage image = Image(pixmap);
  return image.pixel(image.width() / 2, image.height() / 2);
}

QImage StockImage(StockIcon icon, int size) {
  const auto picture = LoadIconPicture(StockIconFile(icon), size);
  QImage image(size, size, QImage::Format_ARGB32);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) image.setPixel(x, y, picture->pixels.At(x, y));
  }
  return image;
}

// An executable whose icon groups are the given icon files, numbered 1, 7, 9 ...
std::vector<uint8_t> Executable(const std::vector<std::vector<uint8_t>>& icons) {
  std::vector<pe_test::Resource> images, groups;
  uint16_t id = 1;
  uint16_t groupId = 1;
  for (const auto& ico : icons) {
    pe_test::AddIcon(images, groups, ico, groupId, id);
    id = static_cast<uint16_t>(id + ico[4]);
    groupId = static_cast<uint16_t>(groupId == 1 ? 7 : groupId + 2);
  }
  images.insert(images.end(), groups.begin(), groups.end());
  return pe_test::BuildPe(pe_test::BuildRsrc(images));
}

class FileIconsTest : public ::testing::Test {
 protected:
  void Write(const std::string& relative, const std::vector<uint8_t>& bytes) {
    const fs::path file = temp_.Path() / "m" / "c" / relative;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  void Write(const std::string& relative, std::string_view text) {
    Write(relative, std::vector<uint8_t>(text.begin(), text.end()));
  }

  TempMachineDir temp_;
  Machine machine_ = OpenOrCreateMachine(temp_.Path() / "m");
  const std::vector<uint8_t> red_ = EncodeIco({Solid(32, 0xFFFF0000), Solid(16, 0xFF800000)});
  const std::vector<uint8_t> green_ = EncodeIco({Solid(16, 0xFF008000), Solid(32, 0xFF00FF00)});
  const std::vector<uint8_t> blue_ = EncodeIco({Solid(32, 0xFF0000FF)});
};

TEST_F(FileIconsTest, IconFilesGiveTheirOwnImages) {
  Write("ICONS/red.ico", red_);
  Write("ICONS/green.ico", green_);
  Write("ICONS/blue.ico", blue_);
  struct Case {
    const char* path;
    QRgb large;
    QRgb small;
  };
  for (const Case c : {Case{"C:\\ICONS\\red.ico", 0xFFFF0000, 0xFF800000},
                       Case{"c:\\icons\\GREEN.ICO", 0xFF00FF00, 0xFF008000},
                       Case{"C:\\ICONS\\blue.ico", 0xFF0000FF, 0xFF0000FF}}) {
    SCOPED_TRACE(c.path);
    QPixmap large, small;
    GetLargeFileIcon(machine_, c.path, large);
    GetSmallFileIcon(machine_, c.path, small);
    ASSERT_EQ(large.size(), QSize(32, 32));
    ASSERT_EQ(small.size(), QSize(16, 16));  // blue's only image scaled down
    EXPECT_EQ(Centre(large), c.large);
    EXPECT_EQ(Centre(small), c.small);
  }
}

TEST_F(FileIconsTest, MissingPathLeavesTheIconAsItWas) {
  QPixmap icon(5, 5);
  icon.fill(Qt::red);
  for (const char* path : {"C:\\NOWHERE.ICO", "C:\\NO\\WHERE", "A:\\X.ICO", "Q:\\X", ""}) {
    GetLargeFileIcon(machine_, path, icon);
    GetSmallFileIcon(machine_, path, icon);
    EXPECT_EQ(icon.size(), QSize(5, 5)) << path;
  }
  QPixmap empty;
  GetLargeFileIcon(machine_, "C:\\NOWHERE.ICO", empty);
  EXPECT_TRUE(empty.isNull());
}

TEST_F(FileIconsTest, GenericPicturesWhenThereIsNothingBetter) {
  Write("README.TXT", "hello");
  Write("NOTEPAD.EXE", "Placeholder, no Windows program");
  Write("TOOLS/GO.BAT", "@echo off");
  std::vector<uint8_t> dos(512, 0);
  dos[0] = 'M';
  dos[1] = 'Z';
  dos[0x18] = 0x1C;  // an MS-DOS relocation table: no new header
  dos[0x3C] = 0xFF;
  dos[0x3D] = 0xFF;
  Write("TOOLS/DOSPROG.EXE", dos);
  Write("TOOLS/NOICONS.EXE", pe_test::BuildPe(pe_test::BuildRsrc({})));
  fs::create_directories(temp_.Path() / "m" / "c" / "ICONS");
  struct Case {
    const char* path;
    StockIcon stock;
  };
  for (const Case c :
       {Case{"C:\\ICONS", StockIcon::Folder}, Case{"C:\\", StockIcon::Folder},
        Case{"C:\\README.TXT", StockIcon::Document}, Case{"C:\\NOTEPAD.EXE", StockIcon::Program},
        Case{"C:\\TOOLS\\GO.BAT", StockIcon::Program},
        Case{"C:\\TOOLS\\DOSPROG.EXE", StockIcon::Program},
        Case{"C:\\TOOLS\\NOICONS.EXE", StockIcon::Program}}) {
    for (int size : {16, 32}) {
      EXPECT_EQ(Image(FileIcon(machine_, c.path, size)), StockImage(c.stock, size))
          << c.path << " " << size;
    }
  }
}

TEST_F(FileIconsTest, DamagedFilesGiveNoIcon) {
  fs::create_directories(temp_.Path() / "m" / "c" / "LINKS");
  Write("APPS/APP.EXE", Executable({green_}));
  ASSERT_NO_THROW(WriteShellLinkFile(machine_, "C:\\APPS\\APP.EXE", "C:\\LINKS\\App.lnk", "App",
                                     "C:\\ICONS\\red.ico"));
  const fs::path c = temp_.Path() / "m" / "c";
  const auto read = [](const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  };
  const std::vector<uint8_t> link = read(c / "LINKS" / "App.lnk");
  // The image comes last, so that every cut damages something the lookup reads.
  std::vector<pe_test::Resource> icons, groups;
  pe_test::AddIcon(icons, groups, green_, uint16_t{1}, 1);
  const std::vector<uint8_t> exe = pe_test::BuildPe(pe_test::BuildRsrc({groups[0], icons[0]}));

  const auto expectNone = [&](const char* path, const std::vector<uint8_t>& bytes) {
    Write(std::string("BAD/") + path, bytes);
    QPixmap icon(5, 5);
    GetLargeFileIcon(machine_, std::string("C:\\BAD\\") + path, icon);
    GetSmallFileIcon(machine_, std::string("C:\\BAD\\") + path, icon);
    EXPECT_EQ(icon.size(), QSize(5, 5)) << path << " of " << bytes.size() << " bytes";
  };
  Write("BAD/whole.exe", exe);
  ASSERT_FALSE(FileIcon(machine_, "C:\\BAD\\whole.exe", 32).isNull());
  ASSERT_FALSE(FileIcon(machine_, "C:\\LINKS\\App.lnk", 32).isNull());
  const auto cut = [](const std::vector<uint8_t>& bytes, size_t n) {
    return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n));
  };
  for (size_t n = 0; n < red_.size(); n += n < 200 ? 1 : 61) expectNone("cut.ico", cut(red_, n));
  // Two bytes make "MZ"; shorter files are no Windows program and get the generic picture.
  for (size_t n = 2; n < exe.size(); n += n < 700 ? 1 : 37) expectNone("cut.exe", cut(exe, n));
  // A link may end where its terminal block would start.
  for (size_t n = 0; n < link.size(); ++n) {
    if (n != link.size() - 4) expectNone("cut.lnk", cut(link, n));
  }

  // Offsets and sizes out of range.
  auto ico = red_;
  pe_test::Set32(ico, 6 + 12, 0xFFFFFFF0);  // first image's offset
  expectNone("offset.ico", ico);
  ico = red_;
  pe_test::Set32(ico, 6 + 8, 0x7FFFFFFF);  // first image's size
  expectNone("size.ico", ico);
  auto bad = exe;
  pe_test::Set32(bad, 0x3C, 0xFFFFFFF0);  // e_lfanew
  expectNone("lfanew.exe", bad);
  bad = exe;
  pe_test::Set32(bad, pe_test::kOptional + 0x70, 0x7FFFF000);  // resource directory RVA
  expectNone("rva.exe", bad);
  auto badLink = link;
  pe_test::Set16(badLink, 0x4C, 0xFFFF);  // item list size
  expectNone("items.lnk", badLink);

  // An icon location naming a damaged file falls back to the target's icon.
  Write("ICONS/red.ico", std::string("\0\0\1\0", 4));
  EXPECT_EQ(Image(FileIcon(machine_, "C:\\LINKS\\App.lnk", 32)).pixel(24, 14), 0xFF00FF00u);
}

TEST_F(FileIconsTest, ExecutablesAndDllsShowTheirFirstGroup) {
  const auto exe = Executable({green_, red_, blue_});
  Write("APPS/APP.EXE", exe);
  Write("APPS/LIB.DLL", exe);
  EXPECT_EQ(Centre(FileIcon(machine_, "C:\\APPS\\APP.EXE", 32)), 0xFF00FF00u);
  EXPECT_EQ(Centre(FileIcon(machine_, "C:\\APPS\\APP.EXE", 16)), 0xFF008000u);
  EXPECT_EQ(Centre(FileIcon(machine_, "C:\\APPS\\LIB.DLL", 32)), 0xFF00FF00u);
  EXPECT_EQ(Centre(IconAtLocation(machine_, "C:\\APPS\\LIB.DLL", 1, 32)), 0xFFFF0000u);
  EXPECT_EQ(Centre(IconAtLocation(machine_, "C:\\APPS\\APP.EXE", -9, 16)), 0xFF0000FFu);
  EXPECT_TRUE(IconAtLocation(machine_, "C:\\APPS\\APP.EXE", 3, 32).isNull());
  EXPECT_TRUE(IconAtLocation(machine_, "C:\\APPS\\APP.EXE", -2, 32).isNull());
  Write("ICONS/red.ico", red_);
  EXPECT_FALSE(IconAtLocation(machine_, "C:\\ICONS\\red.ico", 0, 32).isNull());
  EXPECT_TRUE(IconAtLocation(machine_, "C:\\ICONS\\red.ico", 1, 32).isNull());
}

TEST_F(FileIconsTest, ShortcutsShowTheirIconWithTheArrow) {
  Write("APPS/APP.EXE", Executable({green_}));
  Write("ICONS/red.ico", red_);
  fs::create_directories(temp_.Path() / "m" / "c" / "LINKS");
  ASSERT_NO_THROW(
      WriteShellLinkFile(machine_, "C:\\APPS\\APP.EXE", "C:\\LINKS\\App.lnk", "App", ""));
  ASSERT_NO_THROW(WriteShellLinkFile(machine_, "C:\\APPS\\APP.EXE", "C:\\LINKS\\Red.lnk", "Red",
                                     "C:\\ICONS\\red.ico"));
  ASSERT_NO_THROW(WriteShellLinkFile(machine_, "C:\\APPS", "C:\\LINKS\\Apps.lnk", "", ""));
  const QImage arrow32 = StockImage(StockIcon::LinkOverlay, 32);
  const QImage folder32 = StockImage(StockIcon::Folder, 32);
  struct Case {
    const char* path;
    QRgb topRight;  // the picture under the arrow
  };
  for (const Case c :
       {Case{"C:\\LINKS\\App.lnk", 0xFF00FF00}, Case{"C:\\LINKS\\Red.lnk", 0xFFFF0000},
        Case{"C:\\LINKS\\Apps.lnk", folder32.pixel(24, 14)}}) {
    SCOPED_TRACE(c.path);
    const QImage icon = Image(FileIcon(machine_, c.path, 32));
    ASSERT_EQ(icon.size(), QSize(32, 32));
    EXPECT_EQ(icon.pixel(24, 14), c.topRight);
    for (int y = 21; y < 32; ++y) {
      for (int x = 0; x < 11; ++x) {
        if (qAlpha(arrow32.pixel(x, y)) == 255) {
          ASSERT_EQ(icon.pixel(x, y), arrow32.pixel(x, y));
        }
      }
    }
    EXPECT_EQ(FileIcon(machine_, c.path, 16).size(), QSize(16, 16));
  }
  // The target gone: the picture its name suggests.
  fs::remove(temp_.Path() / "m" / "c" / "APPS" / "APP.EXE");
  EXPECT_EQ(Image(FileIcon(machine_, "C:\\LINKS\\App.lnk", 32)).pixel(24, 14),
            StockImage(StockIcon::Program, 32).pixel(24, 14));
}

// On a FAT12 image made by mkfs.fat and filled by mcopy, icons come from the image's files.
TEST_F(FileIconsTest, IconsOfFilesOnADiskImage) {
  const fs::path dir = temp_.Path() / "image";
  const fs::path image = dir / "c.img";
  fs::create_directories(dir / "ICONS");
  const auto write = [](const fs::path& file, const std::vector<uint8_t>& bytes) {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  };
  write(dir / "ICONS" / "Red Icon.ico", red_);
  write(dir / "ICONS" / "APP.EXE", Executable({green_}));
  // A shortcut made on a host drive with the same paths, copied onto the image.
  Write("ICONS/APP.EXE", Executable({green_}));
  Write("ICONS/Red Icon.ico", red_);
  ASSERT_NO_THROW(WriteShellLinkFile(machine_, "C:\\ICONS\\APP.EXE", "C:\\App.lnk", "App",
                                     "C:\\ICONS\\Red Icon.ico"));
  for (std::vector<std::string> command :
       {std::vector<std::string>{"mkfs.fat", "-C", image.string(), "1440"},
        {"mcopy", "-s", "-i", image.string(), (dir / "ICONS").string(),
         (temp_.Path() / "m" / "c" / "App.lnk").string(), "::/"}}) {
    const ProgramRun run = RunProgram(command);
    ASSERT_EQ(run.status, 0) << run.err;
  }
  std::ofstream(dir / "machine.ini") << "[Drive C]\nType=fixed\nImage=c.img\nPartition=0\n";
  const Machine onImage = Machine::Open(dir);
  EXPECT_EQ(Centre(FileIcon(onImage, "C:\\ICONS\\Red Icon.ico", 32)), 0xFFFF0000u);
  EXPECT_EQ(Centre(FileIcon(onImage, "C:\\ICONS\\REDICO~1.ICO", 16)), 0xFF800000u);
  EXPECT_EQ(Centre(FileIcon(onImage, "C:\\ICONS\\APP.EXE", 32)), 0xFF00FF00u);
  EXPECT_EQ(Image(FileIcon(onImage, "C:\\ICONS", 32)), StockImage(StockIcon::Folder, 32));
  EXPECT_EQ(Image(FileIcon(onImage, "C:\\App.lnk", 32)).pixel(24, 14), 0xFFFF0000u);
  EXPECT_TRUE(FileIcon(onImage, "C:\\ICONS\\missing.ico", 32).isNull());
}

TEST_F(FileIconsTest, FileClassesOfTheRegistry) {
  Write("APPS/APP.EXE", Executable({blue_}));
  Write("ICONS/green.ico", green_);
  Write("ICONS/red.ico", red_);
  Write("NOTES.TXT", "text");
  Write("LETTER.DOC", "doc");
  Write("DATA.XYZ", "?");
  Registry registry(machine_);
  auto set = [&](const std::string& key, const std::string& value) {
    RegistryAccessor reg(registry);
    reg.SetRootKey(RootKey::LocalMachine);
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Classes\\" + key, true));
    reg.WriteString("", value);
  };
  set(".txt", "txtfile");
  set("txtfile\\DefaultIcon", "C:\\ICONS\\green.ico,0");
  set(".doc", "docfile");
  set("docfile\\shell\\open\\command", "\"C:\\APPS\\APP.EXE\" %1");
  set(".ico", "icofile");
  set("icofile\\DefaultIcon", "%1");
  set(".xyz", "xyzfile");
  set("xyzfile\\DefaultIcon", "C:\\MISSING.DLL,2");
  EXPECT_EQ(Centre(FileIcon(machine_, "C:\\NOTES.TXT", 32, &registry)), 0xFF00FF00u);
  EXPECT_EQ(Centre(FileIcon(machine_, "C:\\LETTER.DOC", 32, &registry)), 0xFF0000FFu);
  EXPECT_EQ(Centre(FileIcon(machine_, "C:\\ICONS\\red.ico", 32, &registry)), 0xFFFF0000u);
  EXPECT_EQ(Image(FileIcon(machine_, "C:\\DATA.XYZ", 32, &registry)),
            StockImage(StockIcon::Document, 32));
  EXPECT_EQ(Image(FileIcon(machine_, "C:\\NOTES.TXT", 32)), StockImage(StockIcon::Document, 32));
}

}  // namespace
}  // namespace tarnwick::test
