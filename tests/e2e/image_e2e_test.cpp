// tarnwick-policy --image on disk images made by sfdisk, mkfs.fat, mcopy and qemu-img: raw FAT12,
// FAT16 and FAT32 partitions, a superfloppy, and VHD fixed, dynamic and differencing. What it
// wrote is judged by fsck.fat, mdir and mcopy, both registry readers, lnkinfo, qemu-img and
// vhdiinfo. The clock is frozen with faketime, so that a raw copy given the same commands must
// come out byte for byte equal (qemu-img compare). Then tarnwick --image driven by key presses.
#include <gtest/gtest.h>

#include <QThread>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/text.h"
#include "e2e/desktop.h"
#include "support/independent_readers.h"
#include "support/lnkinfo.h"
#include "support/policy_test_machine.h"
#include "support/run_program.h"
#include "support/temp_machine_dir.h"
#include "volume/disk_image.h"
#include "volume/image_tools.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kOffset = 2048 * 512;
constexpr char kKim[] = "Users\\Kim\\Software\\Microsoft\\Windows\\CurrentVersion\\";

struct ImageKind {
  const char* name;
  int fat;
  uint64_t size;
  const char* partitionType;  // empty: a superfloppy
  const char* vhd;            // empty: raw; fixed, dynamic or differencing
};

// The tools run with a frozen clock; ASan accepts the preloaded library.
ProgramRun Policy(const fs::path& image, std::vector<std::string> args) {
  args.insert(args.begin(),
              {"env", "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0", "faketime",
               "2026-12-01 10:00:00", TARNWICK_POLICY_PROGRAM, "--image", image.string()});
  return RunProgram(std::move(args));
}

std::optional<uint32_t> Dword(const ReaderOutput& out, std::string_view key,
                              std::string_view name) {
  const ExportedValue* value = FindExported(out, key, name);
  if (value == nullptr || value->type != kRegDword || value->data.size() != 4) return std::nullopt;
  return Get32(value->data, 0);
}

// tarnwick --image: the first start (Alice), then the new-user wizard making Kids with Alice's
// Programs folder copied and the desktop shortcuts, all by keys.
void MakeKidsByWizard(const XServer& x, const fs::path& image) {
  ProgramUnderTest program(x, image, QStringLiteral("--image"));
  // The start under the sanitizers on a busy machine may take longer than a window's usual wait.
  for (int entry = 0; entry < 2; ++entry) {
    const std::optional<QString> password =
        x.WaitForWindow(QStringLiteral("Tarnwick Password"), entry == 0 ? 60s : 15s);
    ASSERT_TRUE(password) << program.Output().toStdString();
    x.Type(*password, QStringLiteral("Secret1"));
    x.Keys(*password, {QStringLiteral("Return")});
    x.WaitUntilGone(*password);
  }
  QStringList windows;
  for (int wait = 0; wait < 100 && windows.size() < 2; ++wait) {
    QThread::msleep(100);
    windows = x.Windows(QStringLiteral("Tarnwick"));
  }
  ASSERT_GE(windows.size(), 2) << "no notice over the main window";
  QThread::msleep(300);
  x.Keys(windows.back(), {QStringLiteral("Return")});
  const std::optional<QString> welcome = x.WaitForWindow(QStringLiteral("Welcome Wizard"));
  ASSERT_TRUE(welcome) << program.Output().toStdString();
  x.Keys(*welcome, {QStringLiteral("Return")});
  x.Type(*welcome, QStringLiteral("Alice"));
  x.Keys(*welcome, {QStringLiteral("Return"), QStringLiteral("Return"), QStringLiteral("Return")});
  ASSERT_TRUE(x.WaitUntilGone(*welcome, 15s));

  const std::optional<QString> window = x.WaitForWindow(QStringLiteral("Tarnwick"));
  ASSERT_TRUE(window);
  x.Keys(*window, {QStringLiteral("ctrl+a")});
  const std::optional<QString> wizard = x.WaitForWindow(QStringLiteral("New User Wizard"));
  ASSERT_TRUE(wizard) << program.Output().toStdString();
  x.Type(*wizard, QStringLiteral("Kids"));
  // Name, icon, drives, restrictions and programs as they stand; the Program-folder page copies
  // the first user's (Alice's) folder; Finish on the summary.
  for (int page = 0; page < 6; ++page) x.Keys(*wizard, {QStringLiteral("Return")});
  x.Keys(*wizard, {QStringLiteral("Return")});
  ASSERT_TRUE(x.WaitUntilGone(*wizard, 15s));
  x.Keys(*window, {QStringLiteral("alt+t"), QStringLiteral("x")});
  ASSERT_EQ(program.WaitForExit(), 0) << program.Output().toStdString();
}

// What the wizard made, read from the raw disk's FAT volume at offset.
void JudgeKids(const fs::path& raw, uint64_t offset, const fs::path& dir) {
  const std::string drive = raw.string() + "@@" + std::to_string(offset);
  const ProgramRun fsck = CheckFat(raw, offset);
  EXPECT_EQ(fsck.status, 0) << fsck.out << fsck.err;
  // Alice, the first account, keeps the machine's own Start Menu; Kids got a copy of it.
  const ProgramRun alice =
      RunProgram({"mdir", "-/", "-b", "-i", drive, "::/WINDOWS/Start Menu/Programs"});
  const ProgramRun kids =
      RunProgram({"mdir", "-/", "-b", "-i", drive, "::/WINDOWS/Profiles/Kids/Start Menu/Programs"});
  ASSERT_EQ(kids.status, 0) << kids.err;
  std::string copied = kids.out;
  const std::string from = "/Profiles/Kids/Start Menu/";
  for (size_t at = 0; (at = copied.find(from, at)) != std::string::npos; at += 12) {
    copied.replace(at, from.size(), "/Start Menu/");
  }
  const auto sorted = [](const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  EXPECT_EQ(sorted(copied), sorted(alice.out));
  EXPECT_FALSE(alice.out.empty());

  const fs::path link = dir / "programs.lnk";
  Tool({"mcopy", "-n", "-i", drive, "::/WINDOWS/Profiles/Kids/Desktop/Kids' Programs.lnk",
        link.string()});
  EXPECT_EQ(LnkField(Lnkinfo(link), "Local path"),
            "C:\\WINDOWS\\Profiles\\Kids\\Start Menu\\Programs");
  const fs::path policy = dir / "Tarnex.pol";
  Tool({"mcopy", "-n", "-i", drive, "::/WINDOWS/Tarnex.pol", policy.string()});
  const ReaderOutput read = ReadWithParseWin32Registry(policy);
  ASSERT_TRUE(read.ok()) << read.diagnostics;
  EXPECT_NE(
      FindExported(
          read,
          "Users\\Kids\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
          "Programs"),
      nullptr);
}

class ImageE2eTest : public ::testing::TestWithParam<ImageKind> {
 protected:
  void SetUp() override {
    const ImageKind& kind = GetParam();
    offset_ = *kind.partitionType ? kOffset : 0;
    const ProgramRun demo =
        RunProgram({TARNWICK_POLICY_PROGRAM, "--machine", Path("demo").string(), "users"});
    ASSERT_EQ(demo.status, 0) << demo.err;
    const fs::path raw = Path("disk.img");
    if (*kind.partitionType) {
      MakePartitionedDisk(raw, kind.size,
                          std::string("start=2048, type=") + kind.partitionType + "\n");
    } else {
      Tool({"truncate", "-s", std::to_string(kind.size), raw.string()});
    }
    Tool({"mkfs.fat", "-F", std::to_string(kind.fat), "-n", "WIN95", "--offset",
          std::to_string(offset_ / 512), raw.string(),
          std::to_string((kind.size - offset_) / 1024)});
    std::vector<std::string> copy{"mcopy", "-s", "-i", Drive(raw)};
    for (const auto& entry : fs::directory_iterator(Path("demo") / "c")) {
      copy.push_back(entry.path().string());
    }
    copy.push_back("::/");
    Tool(copy);
    fs::copy_file(raw, Path("same.img"));

    const std::string vhd = kind.vhd;
    image_ = raw;
    if (vhd == "fixed" || vhd == "dynamic") {
      image_ = Path("disk.vhd");
      Tool({"qemu-img", "convert", "-f", "raw", "-O", "vpc", "-o", "subformat=" + vhd, raw.string(),
            image_.string()});
    } else if (vhd == "differencing") {
      Tool({"qemu-img", "convert", "-f", "raw", "-O", "vpc", raw.string(),
            Path("parent.vhd").string()});
      image_ = Path("child.vhd");
      MakeDifferencingChild(Path("parent.vhd"), image_);
      parentBytes_ = Bytes(Path("parent.vhd"));
    }
  }

  fs::path Path(const std::string& name) const { return dir_.Path() / name; }
  std::string Drive(const fs::path& raw) const {
    return raw.string() + "@@" + std::to_string(offset_);
  }

  // The image under test as a raw disk, for the tools that read raw FAT volumes only. qemu-img
  // reads a differencing VHD without its parent, so that one is read through its chain here.
  fs::path RawOfImage() {
    if (image_.extension() != ".vhd") return image_;
    const fs::path raw = Path("converted.img");
    if (parentBytes_.empty()) {
      Tool({"qemu-img", "convert", "-f", "vpc", "-O", "raw", image_.string(), raw.string()});
      return raw;
    }
    const auto disk = OpenDiskImage(image_, ImageFile::Mode::ReadOnly);
    std::vector<uint8_t> bytes(disk->Size());
    disk->Read(0, bytes);
    std::ofstream(raw, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return raw;
  }

  fs::path Extract(const fs::path& raw, const std::string& file) {
    const fs::path out = Path("out") / fs::path(file).filename();
    fs::create_directories(out.parent_path());
    fs::remove(out);
    Tool({"mcopy", "-n", "-i", Drive(raw), "::" + file, out.string()});
    return out;
  }

  void RunCommands(const fs::path& image) {
    const std::vector<std::vector<std::string>> commands{
        {"add-user", "Kim", "--restrict", "NoRun,NoFind,RestrictRun", "--hide-drives", "A",
         "--allow", "C:\\WINDOWS\\NOTEPAD.EXE"},
        {"add-user", "Lee", "--copy-programs", "Kim"},
        {"set", "Kim", "NoDesktop", "1"},
        {"allow", "Kim", "calc.exe"},
        {"activation", "on"},
    };
    for (const auto& command : commands) {
      const ProgramRun run = Policy(image, command);
      ASSERT_EQ(run.status, 0) << command[0] << ": " << run.out << run.err;
    }
  }

  test::TempMachineDir dir_;
  uint64_t offset_ = 0;
  fs::path image_;
  std::vector<uint8_t> parentBytes_;
};

TEST_P(ImageE2eTest, TheCommandLineWritesWhatTheReadersAccept) {
  ASSERT_NO_FATAL_FAILURE(RunCommands(image_));
  const fs::path raw = RawOfImage();
  const ProgramRun fsck = CheckFat(raw, offset_);
  EXPECT_EQ(fsck.status, 0) << fsck.out << fsck.err;

  // Long and short names as mdir lists them.
  const ProgramRun desktop =
      RunProgram({"mdir", "-i", Drive(raw), "::/WINDOWS/Profiles/Kim/Desktop"});
  ASSERT_EQ(desktop.status, 0) << desktop.err;
  EXPECT_NE(desktop.out.find("Kim's Programs.lnk"), std::string::npos) << desktop.out;
  EXPECT_NE(desktop.out.find("KIM'SP~1 LNK"), std::string::npos) << desktop.out;
  const ProgramRun programs = RunProgram(
      {"mdir", "-i", Drive(raw), "::/WINDOWS/PROFILES/LEE/STARTM~1/PROGRAMS/NOTEPAD.LNK"});
  EXPECT_EQ(programs.status, 0) << programs.out << programs.err;

  const ReaderOutput policy = ReadWithCregexport(Extract(raw, "/WINDOWS/Tarnex.pol"));
  ASSERT_TRUE(policy.ok()) << policy.diagnostics;
  const ReaderOutput policyPerl = ReadWithParseWin32Registry(Extract(raw, "/WINDOWS/Tarnex.pol"));
  ASSERT_TRUE(policyPerl.ok()) << policyPerl.diagnostics;
  const std::string explorer = std::string(kKim) + "Policies\\Explorer";
  for (const ReaderOutput* out : {&policy, &policyPerl}) {
    EXPECT_EQ(Dword(*out, explorer, "NoRun"), 1u);
    EXPECT_EQ(Dword(*out, explorer, "NoDesktop"), 1u);
    EXPECT_EQ(Dword(*out, explorer, "NoDrives"), 1u);
    EXPECT_EQ(Dword(*out, explorer, "RestrictRun"), 1u);
  }
  const ReaderOutput system = ReadWithParseWin32Registry(Extract(raw, "/WINDOWS/SYSTEM.DAT"));
  ASSERT_TRUE(system.ok()) << system.diagnostics;
  EXPECT_EQ(Dword(system, "System\\CurrentControlSet\\control\\Update", "UpdateMode"), 2u);
  for (const char* hive :
       {"/WINDOWS/USER.DAT", "/WINDOWS/Profiles/Kim/user.dat", "/WINDOWS/Profiles/Lee/USER.DAT"}) {
    const ReaderOutput out = ReadWithCregexport(Extract(raw, hive));
    EXPECT_TRUE(out.ok()) << hive << ": " << out.diagnostics;
  }

  const std::string link =
      Lnkinfo(Extract(raw, "/WINDOWS/Profiles/Kim/Desktop/Kim's Programs.lnk"));
  EXPECT_EQ(LnkField(link, "Local path"), "C:\\WINDOWS\\Profiles\\Kim\\Start Menu\\Programs");
  const std::string notepad =
      Lnkinfo(Extract(raw, "/WINDOWS/Profiles/Kim/Start Menu/Programs/NOTEPAD.lnk"));
  EXPECT_EQ(LnkField(notepad, "Local path"), "C:\\WINDOWS\\NOTEPAD.EXE");

  if (image_.extension() == ".vhd") {
    const ProgramRun info = RunProgram({"qemu-img", "info", "-f", "vpc", image_.string()});
    EXPECT_NE(info.out.find("file format: vpc"), std::string::npos) << info.out << info.err;
    const ProgramRun vhdi = RunProgram({"vhdiinfo", image_.string()});
    EXPECT_EQ(vhdi.status, 0) << vhdi.out << vhdi.err;
  }
  if (!parentBytes_.empty()) {
    EXPECT_TRUE(Bytes(Path("parent.vhd")) == parentBytes_);
  }

  // The same commands on a raw copy of the disk give the same disk.
  ASSERT_NO_FATAL_FAILURE(RunCommands(Path("same.img")));
  const bool vpc = image_.extension() == ".vhd" && parentBytes_.empty();
  const ProgramRun compare =
      RunProgram({"qemu-img", "compare", "-f", vpc ? "vpc" : "raw", "-F", "raw",
                  (vpc ? image_ : raw).string(), Path("same.img").string()});
  EXPECT_EQ(compare.status, 0) << compare.out << compare.err;
}

TEST_P(ImageE2eTest, TheWizardMakesAnAccountWithACopiedProgramsFolder) {
  XServer x;
  if (!x.Running()) GTEST_SKIP() << "no Xvfb";
  ASSERT_NO_FATAL_FAILURE(MakeKidsByWizard(x, image_));
  JudgeKids(RawOfImage(), offset_, dir_.Path());
  if (!parentBytes_.empty()) {
    EXPECT_TRUE(Bytes(Path("parent.vhd")) == parentBytes_);
  }
}

// A new image made by tarnwick itself; its FAT16 partition starts at sector 63, as FDISK puts it.
TEST(ImageProgramTest, TheWizardMakesAnAccountOnANewDemoImage) {
  XServer x;
  if (!x.Running()) GTEST_SKIP() << "no Xvfb";
  TempMachineDir dir;
  const fs::path image = dir.Path() / "win95.img";
  ASSERT_NO_FATAL_FAILURE(MakeKidsByWizard(x, image));
  JudgeKids(image, 32256, dir.Path());
}

INSTANTIATE_TEST_SUITE_P(Images, ImageE2eTest,
                         ::testing::Values(ImageKind{"Fat12", 12, 8 * kMiB, "1", ""},
                                           ImageKind{"Fat16", 16, 40 * kMiB, "6", ""},
                                           ImageKind{"Fat16Lba", 16, 40 * kMiB, "e", ""},
                                           ImageKind{"Fat32", 32, 80 * kMiB, "c", ""},
                                           ImageKind{"Superfloppy", 12, 2 * kMiB, "", ""},
                                           ImageKind{"VhdFixed", 16, 40 * kMiB, "6", "fixed"},
                                           ImageKind{"VhdDynamic", 16, 40 * kMiB, "6", "dynamic"},
                                           ImageKind{"VhdDifferencing", 16, 40 * kMiB, "6",
                                                     "differencing"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnwick::test
