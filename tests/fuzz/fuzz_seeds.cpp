// Writes the seed corpus of every harness, made by our own writers: fuzz_seeds DIR writes
// DIR/<harness>/seed-N files.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "fat/fat_volume.h"
#include "formats/ico_file.h"
#include "formats/pe_test_builder.h"
#include "formats/recycle_bin.h"
#include "formats/shell_link.h"
#include "fuzz/fuzz_fat.h"
#include "fuzz/fuzz_machine.h"
#include "machine/ini_file.h"
#include "machine/machine.h"
#include "machine/short_name.h"
#include "policy/tarnwick_adm.h"
#include "registry/creg_file.h"
#include "registry/regedit4.h"
#include "volume/disk_image.h"
#include "volume/vhd.h"

namespace {

using namespace tarnwick;
namespace fs = std::filesystem;

class SeedWriter {
 public:
  SeedWriter(const fs::path& root, const std::string& harness) : dir_(root / harness) {
    fs::create_directories(dir_);
  }
  void Add(const std::string& bytes) { Add(std::vector<uint8_t>(bytes.begin(), bytes.end())); }
  void Add(const std::vector<uint8_t>& bytes) {
    std::ofstream out(dir_ / ("seed-" + std::to_string(count_++)), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write a seed in " + dir_.string());
  }

 private:
  fs::path dir_;
  int count_ = 0;
};

std::vector<uint8_t> Bytes(std::string_view text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<std::unique_ptr<RegNode>> Trees() {
  std::vector<std::unique_ptr<RegNode>> trees;
  trees.push_back(std::make_unique<RegNode>());
  auto small = std::make_unique<RegNode>();
  RegNode& software = small->AddSubkey("Software");
  software.SetValue("", kRegSz, Bytes("Demo"));
  software.SetValue("NoRun", kRegDword, {1, 0, 0, 0});
  software.AddSubkey("Empty");
  trees.push_back(std::move(small));
  auto mixed = std::make_unique<RegNode>();
  RegNode& policies = mixed->AddSubkey("Software").AddSubkey("Microsoft").AddSubkey("Windows");
  policies.SetValue("Caf\xE9 \x80uro", kRegSz, Bytes(std::string("\xC4rger\0", 6)));
  policies.SetValue("Path", kRegExpandSz, Bytes(std::string("%windir%\\x\0", 11)));
  policies.SetValue("Blob", kRegBinary, {0, 1, 2, 0xFF, 0x80});
  policies.SetValue("List", kRegMultiSz, Bytes(std::string("one\0two\0\0", 9)));
  policies.SetValue("Odd \"quoted\\name\"", 0x80000005, {1, 2, 3});
  policies.SetValue("Nothing", kRegNone, {});
  policies.SetValue("Big", kRegDwordBigEndian, {0x12, 0x34, 0x56, 0x78});
  for (int i = 0; i < 12; ++i) {
    mixed->AddSubkey("Key " + std::to_string(i)).SetValue("", kRegSz, Bytes(std::to_string(i)));
  }
  trees.push_back(std::move(mixed));
  return trees;
}

void RegistrySeeds(const fs::path& root) {
  SeedWriter creg(root, "creg");
  SeedWriter regedit4(root, "regedit4");
  for (const auto& tree : Trees()) {
    creg.Add(EncodeRegistryFile(*tree, "seed.dat"));
    std::ostringstream text;
    ExportRegedit4(*tree, text);
    regedit4.Add(text.str());
  }
  regedit4.Add(
      "REGEDIT4\r\n\r\n[-Software\\Microsoft]\r\n[a]\r\n\"x\"=-\r\n@=hex(2):41,\\\r\n  00\r\n");
}

ShellLinkEntry Entry(const std::string& longName, const std::string& shortName, bool directory) {
  return {longName,
          shortName,
          directory,
          directory ? 0u : 34304u,
          0x1EEB,
          0x4E40,
          static_cast<uint16_t>(directory ? 0x10 : 0x20)};
}

void ShellLinkSeeds(const fs::path& root) {
  SeedWriter seeds(root, "shell_link");
  NewShellLink link;
  link.target.volume = {3, 0x1A2B3C4D, "SYSTEM"};
  link.target.entries = {Entry("WINDOWS", "", true), Entry("NOTEPAD.EXE", "", false)};
  link.target.creationTime = link.target.accessTime = link.target.writeTime = 0x01BA4F73B0135400;
  link.target.fileSize = 34304;
  link.description = "NOTEPAD";
  seeds.Add(EncodeShellLink(link));
  link.target.drive = 'D';
  link.target.volume = {5, 0, "CD"};
  link.target.entries = {Entry("Program Files", "PROGRA~1", true),
                         Entry("Caf\xE9 Men\xFA.txt", "CAFMEN~1.TXT", false)};
  link.description.clear();
  link.iconLocation = "C:\\WINDOWS\\SYSTEM\\SHELL32.DLL";
  seeds.Add(EncodeShellLink(link));
  link.target.entries.clear();
  seeds.Add(EncodeShellLink(link));
}

RgbaImage Image(int side, int colours, bool partialAlpha) {
  RgbaImage image{side, side, {}};
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      uint32_t alpha = (x + y) % 5 == 0 ? 0 : partialAlpha ? 0x80 : 0xFF;
      uint32_t rgb = static_cast<uint32_t>((x * 7 + y * 13) % colours) * 0x010307;
      image.pixels.push_back(alpha << 24 | (rgb & 0xFFFFFF));
    }
  }
  return image;
}

void IconSeeds(const fs::path& root) {
  SeedWriter ico(root, "ico");
  const std::vector<uint8_t> small = EncodeIco({Image(16, 8, false)});
  const std::vector<uint8_t> several =
      EncodeIco({Image(32, 200, false), Image(16, 1000, false), Image(8, 4, true)});
  ico.Add(small);
  ico.Add(several);

  using namespace test::pe_test;
  SeedWriter pe(root, "pe_icons");
  std::vector<Resource> icons;
  std::vector<Resource> groups;
  AddIcon(icons, groups, several, std::u16string(u"MAINICON"), 1);
  AddIcon(icons, groups, small, uint16_t{7}, 10);
  std::vector<Resource> all = groups;
  all.insert(all.end(), icons.begin(), icons.end());
  pe.Add(BuildPe(BuildRsrc(all)));
  pe.Add(BuildPe(BuildRsrc(all), true));
  pe.Add(BuildPe({}));
}

void RecycleSeeds(const fs::path& root) {
  SeedWriter seeds(root, "recycle_info");
  test::TempMachineDir dir;
  dir.WriteFile("machine.ini",
                "[Machine]\nWindowsDirectory=C:\\WINDOWS\n[Drive C]\nType=fixed\nPath=c\n");
  dir.WriteFile("c/Mes documents/R\xC3\xA9sum\xC3\xA9.txt", "text");
  dir.WriteFile("c/Old Stuff/Pictures/a.bmp", "BM");
  dir.WriteFile("c/Old Stuff/Pictures/b.bmp", "BM");
  const Machine machine = Machine::Open(dir.Path());
  RecycleBin bin(machine, 'C');
  bin.Recycle("C:\\Mes documents\\R\xE9sum\xE9.txt", 125440173302500000);
  seeds.Add(machine.ReadFile(bin.IndexFile(), 1 << 20));
  bin.Recycle("C:\\Old Stuff", 125911583999999990);
  seeds.Add(machine.ReadFile(bin.IndexFile(), 1 << 20));
}

void MachineSeeds(const fs::path& root) {
  SeedWriter ini(root, "machine_ini");
  IniFile machine;
  IniSection& section = machine.AddSection("Machine");
  section.Set("WindowsDirectory", "C:\\WINDOWS");
  section.Set("ProgramPath", "C:\\TARNEX\\TARNEX.EXE");
  IniSection& c = machine.AddSection("Drive C");
  c.Set("Type", "fixed");
  c.Set("Path", "c");
  c.Set("Label", "SYSTEM");
  c.Set("Serial", "1A2B-3C4D");
  IniSection& d = machine.AddSection("Drive D");
  d.Set("Type", "remote");
  d.Set("Path", "d");
  d.Set("RemoteName", "\\\\SERVER\\SHARE");
  machine.AddSection("Drive A").Set("Type", "removable");
  ini.Add(machine.Format());
  machine.AddSection("Drive E").Set("Type", "cdrom");
  ini.Add(machine.Format());

  SeedWriter paths(root, "win_path");
  const fuzz::FuzzMachine fixture;
  for (const std::string& path : fuzz::FuzzMachine::SeedPaths()) {
    paths.Add(path);
    if (const auto located = LocateMachinePath(fixture.Get(), path)) {
      paths.Add(located->LongPath());
      paths.Add(located->ShortPath());
    }
  }
}

void PutEntry(std::vector<uint8_t>& sector, size_t base, int index, uint8_t type, uint32_t start,
              uint32_t count) {
  const size_t at = base + 446 + 16 * static_cast<size_t>(index);
  sector[at + 4] = type;
  Put32(sector, at + 8, start);
  Put32(sector, at + 12, count);
}

void PutBe(std::vector<uint8_t>& bytes, size_t at, uint64_t value, int size) {
  for (int i = 0; i < size; ++i) {
    bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * (size - 1 - i)));
  }
}

std::vector<uint8_t> VhdFooterBytes(uint64_t size, uint32_t type, uint64_t dataOffset) {
  std::vector<uint8_t> footer(512);
  std::copy_n("conectix", 8, footer.begin());
  PutBe(footer, 8, 2, 4);
  PutBe(footer, 12, 0x00010000, 4);
  PutBe(footer, 16, dataOffset, 8);
  PutBe(footer, 40, size, 8);
  PutBe(footer, 48, size, 8);
  PutBe(footer, 60, type, 4);
  footer[68] = 0x42;
  PutBe(footer, 64, VhdChecksum(footer, 64), 4);
  return footer;
}

void VolumeSeeds(const fs::path& root) {
  SeedWriter tables(root, "partition_table");
  // A primary FAT16 partition and an extended one with two logical partitions.
  std::vector<uint8_t> disk(96 * 512);
  PutEntry(disk, 0, 0, 0x06, 2, 18);
  PutEntry(disk, 0, 1, 0x0F, 32, 64);
  PutEntry(disk, 32 * 512, 0, 0x0B, 2, 16);
  PutEntry(disk, 32 * 512, 1, 0x05, 18, 20);
  PutEntry(disk, 50 * 512, 0, 0x0E, 2, 18);
  for (const size_t sector : {0, 32, 50}) {
    disk[sector * 512 + 510] = 0x55;
    disk[sector * 512 + 511] = 0xAA;
  }
  tables.Add(disk);
  std::vector<uint8_t> floppy(8 * 512);
  const std::vector<uint8_t> boot{0xEB, 0x3C, 0x90, 'M',  'S',  'D',  'O',  'S', '5',
                                  '.',  '0',  0x00, 0x02, 0x01, 0x01, 0x00, 0x02};
  std::copy(boot.begin(), boot.end(), floppy.begin());
  floppy[510] = 0x55;
  floppy[511] = 0xAA;
  tables.Add(floppy);

  SeedWriter vhds(root, "vhd");
  std::vector<uint8_t> fixed(8 * 512, 0x11);
  const auto fixedFooter = VhdFooterBytes(fixed.size(), 2, ~uint64_t{0});
  fixed.insert(fixed.end(), fixedFooter.begin(), fixedFooter.end());
  vhds.Add(fixed);

  // A dynamic disk of four 4 KB blocks, one of them written.
  const auto footer = VhdFooterBytes(16384, 3, 512);
  std::vector<uint8_t> header(1024);
  std::copy_n("cxsparse", 8, header.begin());
  PutBe(header, 8, ~uint64_t{0}, 8);
  PutBe(header, 16, 1536, 8);
  PutBe(header, 24, 0x00010000, 4);
  PutBe(header, 28, 4, 4);
  PutBe(header, 32, 4096, 4);
  PutBe(header, 36, VhdChecksum(header, 36), 4);
  std::vector<uint8_t> dynamic(footer);
  dynamic.insert(dynamic.end(), header.begin(), header.end());
  dynamic.resize(2048, 0xFF);
  dynamic.insert(dynamic.end(), footer.begin(), footer.end());
  vhds.Add(dynamic);
  const fs::path file = root / "vhd-seed.tmp";
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(dynamic.data()),
             static_cast<std::streamsize>(dynamic.size()));
  {
    auto device = OpenDiskImage(file, ImageFile::Mode::ReadWrite);
    const std::vector<uint8_t> data(700, 0x5A);
    device->Write(4000, data);
  }
  std::ifstream written(file, std::ios::binary);
  vhds.Add(std::vector<uint8_t>(std::istreambuf_iterator<char>(written), {}));
  fs::remove(file);
}

// FAT12 volumes written by FatVolume: long and short names, a subdirectory, a file of clusters.
void FatSeeds(const fs::path& root) {
  SeedWriter seeds(root, "fat");
  fuzz::MemoryDevice device(fuzz::EmptyFat12());
  seeds.Add(device.Bytes());
  FatVolume volume(device, "seed.img");
  const std::string text(1500, 'x');
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  volume.MakeDirectory("Program Files", 1700000000);
  volume.WriteFile("Program Files\\A rather long file name.txt", bytes, 1700000000);
  volume.WriteFile("AUTOEXEC.BAT", bytes.first(10), 1700000000);
  seeds.Add(device.Bytes());
  volume.Rename("AUTOEXEC.BAT", "Autoexec Renamed.bat");
  volume.Remove("Program Files\\A rather long file name.txt");
  seeds.Add(device.Bytes());
}

// Tarnwick's own template and the tests' hand-written ones.
void TemplateSeeds(const fs::path& root) {
  SeedWriter seeds(root, "template");
  seeds.Add(std::string(TarnwickTemplateText()));
  for (const char* name : {"structure.adm", "parts.adm"}) {
    std::ifstream in(fs::path(TARNWICK_TEST_DATA_DIR) / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) throw std::runtime_error(std::string("cannot read the template seed ") + name);
    seeds.Add(text.str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
    return 2;
  }
  try {
    RegistrySeeds(argv[1]);
    ShellLinkSeeds(argv[1]);
    IconSeeds(argv[1]);
    RecycleSeeds(argv[1]);
    MachineSeeds(argv[1]);
    VolumeSeeds(argv[1]);
    FatSeeds(argv[1]);
    TemplateSeeds(argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fuzz_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
