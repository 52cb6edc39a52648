#include "formats/recycle_bin.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>

#include "base/cp1252.h"
#include "base/win_time.h"
#include "machine/machine.h"
#include "support/fixtures.h"
#include "support/run_program.h"

namespace fs = std::filesystem;

// Runs once before the next rename that must not replace, with its target: a test makes the file
// another program could make between the bin's choice of a D-name and its move.
std::function<void(const fs::path&)> beforeNoReplaceRename;

// Takes the place of the C library's renameat2 in this program.
extern "C" int renameat2(int fromDir, const char* from, int toDir, const char* to,
                         unsigned flags) noexcept {
  if ((flags & RENAME_NOREPLACE) != 0 && beforeNoReplaceRename) {
    const fs::path target = toDir == AT_FDCWD
                                ? fs::path(to)
                                : fs::read_symlink("/proc/self/fd/" + std::to_string(toDir)) / to;
    std::exchange(beforeNoReplaceRename, nullptr)(target);
  }
  return static_cast<int>(syscall(SYS_renameat2, fromDir, from, toDir, to, flags));
}

namespace tarnwick::test {
namespace {

constexpr uint64_t kT1 = 125440173302500000;  // 1998-07-04 09:15:30.25 UTC
constexpr uint64_t kT2 = 125911583999999990;  // 1999-12-31 23:59:59.999999 UTC

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "recycle-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void WriteFile(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> ReadBytes(const fs::path& file) {
  const std::string text = ReadText(file);
  return {text.begin(), text.end()};
}

// An index file read from the host; a missing one is an empty bin.
RecycleIndex ReadRecycleIndex(const fs::path& file) {
  if (!fs::exists(file)) return {};
  return ParseRecycleIndex(ReadBytes(file));
}

// The bin of a drive kept in a host directory, reached by the host paths the tests make.
class HostBin {
 public:
  HostBin(const fs::path& drive, char letter)
      : machine_(MachineOver(drive, letter)), bin_(machine_, letter) {}

  void Recycle(const fs::path& item, uint64_t deletionTime = FileTimeNow()) {
    bin_.Recycle(machine_.WindowsPath(item).value_or("outside"), deletionTime);
  }
  fs::path IndexFile() const { return machine_.HostPath(bin_.IndexFile()).value_or(fs::path()); }

 private:
  static Machine MachineOver(const fs::path& drive, char letter) {
    const fs::path dir = drive.parent_path() / ("machine-" + std::string(1, letter));
    const std::string drivePath = std::string(1, letter) + ":\\";
    WriteFile(dir / "machine.ini", "[Machine]\nWindowsDirectory=" + drivePath +
                                       "WINDOWS\nProgramPath=" + drivePath + "TARNEX.EXE\n[Drive " +
                                       drivePath.substr(0, 1) +
                                       "]\nType=fixed\nPath=" + drive.string() + "\n");
    return Machine::Open(dir);
  }

  Machine machine_;
  RecycleBin bin_;
};

struct ToolRun {
  int status = -1;
  std::string out;
};

ToolRun RunRifiuti(const fs::path& index, const std::string& codepage) {
  const std::string command = "rifiuti2 -l " + codepage + " '" + index.string() + "' 2>&1";
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> buffer;
  for (size_t n; (n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
    run.out.append(buffer.data(), n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// The entry lines of rifiuti2's listing, after the column titles.
std::vector<std::string> Entries(const std::string& listing) {
  std::vector<std::string> lines;
  std::istringstream in(listing);
  bool body = false;
  for (std::string line; std::getline(in, line);) {
    if (body && !line.empty()) lines.push_back(line);
    if (line.starts_with("Index\t")) body = true;
  }
  return lines;
}

std::string UtcText(uint64_t filetime) {
  const time_t seconds = static_cast<time_t>(UnixSecondsFromFileTime(filetime));
  tm parts{};
  gmtime_r(&seconds, &parts);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

std::string Cp932ToUtf8(const std::string& ansi) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  std::string in = ansi;
  std::string out(ansi.size() * 4, '\0');
  char* src = in.data();
  char* dst = out.data();
  size_t srcLeft = in.size();
  size_t dstLeft = out.size();
  iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  iconv_close(cd);
  out.resize(out.size() - dstLeft);
  return out;
}

// A 280-byte Windows 95 index built byte by byte.
std::vector<uint8_t> Index(uint32_t version, uint32_t recordSize,
                           const std::vector<std::string>& paths) {
  std::vector<uint8_t> bytes(20, 0);
  bytes[0] = static_cast<uint8_t>(version);
  bytes[4] = static_cast<uint8_t>(paths.size());
  bytes[8] = static_cast<uint8_t>(paths.size());
  bytes[12] = static_cast<uint8_t>(recordSize);
  bytes[13] = static_cast<uint8_t>(recordSize >> 8);
  for (size_t i = 0; i < paths.size(); ++i) {
    const size_t at = bytes.size();
    bytes.resize(at + recordSize, 0);
    std::copy(paths[i].begin(), paths[i].end(), bytes.begin() + at);
    bytes[at + 0x104] = static_cast<uint8_t>(i);
    bytes[at + 0x108] = 2;
  }
  return bytes;
}

TEST(RecycleIndexReader, ReadsTheGenuineWindows95IndexAsRifiuti2Does) {
  const fs::path file = test::Fixture("recycled/INFO-95-ja-1");
  ASSERT_FIXTURE(file);
  const RecycleIndex index = ReadRecycleIndex(file);
  EXPECT_EQ(index.version, 0u);
  EXPECT_EQ(index.nextIndex, 16u);
  EXPECT_TRUE(index.damage.empty());
  ASSERT_EQ(index.liveCount, index.records.size());

  std::vector<std::string> ours;
  uint64_t total = 0;
  for (const RecycleRecord& record : index.records) {
    EXPECT_EQ(record.drive, 3u);  // D:
    EXPECT_FALSE(record.gone);
    total += record.size;
    ours.push_back(std::to_string(record.index) + "\t" + UtcText(record.deletionTime) +
                   "\tFALSE\t" + std::to_string(record.size) + "\t" + Cp932ToUtf8(record.path));
  }
  EXPECT_EQ(total, index.totalSize);
  EXPECT_EQ(ours, Entries(ReadText(file.string() + ".txt")));
}

TEST(RecycleIndexReader, SurvivesTruncationAnywhere) {
  const std::vector<uint8_t> whole = Index(0, 280, {"C:\\a.txt", "C:\\b.txt"});
  for (size_t length = 0; length <= whole.size(); ++length) {
    const std::span<const uint8_t> part(whole.data(), length);
    if (length < 20) {
      EXPECT_THROW(ParseRecycleIndex(part), RecycleBinError) << length;
      continue;
    }
    const RecycleIndex index = ParseRecycleIndex(part);
    EXPECT_EQ(index.records.size(), (length - 20) / 280);
    EXPECT_EQ(index.damage.empty(), (length - 20) % 280 == 0) << length;
  }
}

TEST(RecycleIndexReader, RefusesHeadersThatAreNoIndexAndListsDamage) {
  EXPECT_THROW(ParseRecycleIndex(Index(1, 280, {})), RecycleBinError);
  EXPECT_THROW(ParseRecycleIndex(Index(0, 800, {})), RecycleBinError);
  EXPECT_THROW(ParseRecycleIndex(Index(0, 0, {})), RecycleBinError);
  EXPECT_THROW(ParseRecycleIndex(Index(0, 0xFFFF, {})), RecycleBinError);

  std::vector<uint8_t> bytes = Index(4, 280, {"C:\\gone.txt", std::string(260, 'x'), "C:\\ok"});
  bytes[20] = 0;                     // first record restored: first byte cleared
  bytes[20 + 2 * 280 + 0x108] = 27;  // third record: no such drive
  const RecycleIndex index = ParseRecycleIndex(bytes);
  ASSERT_EQ(index.records.size(), 3u);
  EXPECT_TRUE(index.records[0].gone);
  EXPECT_EQ(index.records[0].path, "C:\\gone.txt");
  EXPECT_EQ(index.records[1].path, std::string(260, 'x'));
  EXPECT_EQ(index.damage.size(), 2u);
}

TEST(RecycleIndexReader, ReadsUnicodeRecordsAndTreatsAMissingFileAsAnEmptyBin) {
  std::vector<uint8_t> bytes = Index(5, 800, {"C:\\DOCUME~1\\x.txt"});
  const std::u16string wide = u"C:\\Documents\\\u00e9\u4e2d.txt";
  for (size_t i = 0; i < wide.size(); ++i) {
    bytes[20 + 0x118 + 2 * i] = static_cast<uint8_t>(wide[i]);
    bytes[20 + 0x118 + 2 * i + 1] = static_cast<uint8_t>(wide[i] >> 8);
  }
  const RecycleIndex index = ParseRecycleIndex(bytes);
  ASSERT_EQ(index.records.size(), 1u);
  EXPECT_EQ(index.records[0].unicodePath, wide);

  TempDir dir;
  EXPECT_TRUE(ReadRecycleIndex(dir.path() / "INFO").records.empty());
}

class RecycleBinTest : public ::testing::Test {
 protected:
  fs::path drive() const { return dir_.path() / "C"; }
  fs::path bin() const { return drive() / "RECYCLED"; }
  void SetUp() override { fs::create_directories(drive()); }

 private:
  TempDir dir_;
};

TEST_F(RecycleBinTest, RecyclesTreesFileByFileAsRifiuti2Lists) {
  WriteFile(drive() / "Mes documents" / "Résumé.txt", "12345");
  WriteFile(drive() / "Old Stuff" / "report.doc", "0123456789");
  WriteFile(drive() / "Old Stuff" / "Pictures" / "big.bmp", std::string(5000, 'b'));
  WriteFile(drive() / "Old Stuff" / "Pictures" / "empty.txt", "");
  fs::create_directories(drive() / "Old Stuff" / "Pictures" / "Empty folder");

  HostBin recycleBin(drive(), 'C');
  recycleBin.Recycle(drive() / "Mes documents" / "Résumé.txt", kT1);
  recycleBin.Recycle(drive() / "Old Stuff" / "Pictures/", kT2);

  EXPECT_FALSE(fs::exists(drive() / "Old Stuff" / "Pictures"));
  EXPECT_TRUE(fs::exists(drive() / "Old Stuff" / "report.doc"));
  EXPECT_EQ(ReadText(bin() / "Dc0.txt"), "12345");
  EXPECT_EQ(fs::file_size(bin() / "Dc1.bmp"), 5000u);
  EXPECT_EQ(fs::file_size(bin() / "Dc2.txt"), 0u);
  EXPECT_EQ(ReadText(bin() / "desktop.ini"),
            "[.ShellClassInfo]\r\nCLSID={645FF040-5081-101B-9F08-00AA002F954E}\r\n");
  const std::vector<uint8_t> info = ReadBytes(bin() / "INFO");
  ASSERT_EQ(info.size(), 860u);
  const std::vector<uint8_t> header(info.begin(), info.begin() + 20);
  EXPECT_EQ(header, (std::vector<uint8_t>{0, 0, 0,    0, 3, 0, 0, 0,    3, 0,
                                          0, 0, 0x18, 1, 0, 0, 0, 0x30, 0, 0}));

  const ToolRun run = RunRifiuti(bin() / "INFO", "CP1252");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(Entries(run.out), (std::vector<std::string>{
                                  "0\t1998-07-04 09:15:30\t4096\tC:\\Mes documents\\Résumé.txt",
                                  "1\t1999-12-31 23:59:59\t8192\tC:\\Old Stuff\\Pictures\\big.bmp",
                                  "2\t1999-12-31 23:59:59\t0\tC:\\Old Stuff\\Pictures\\empty.txt"}))
      << run.out;
}

TEST_F(RecycleBinTest, RestoringByHandFromTheIndexGivesBackTheFiles) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"Profiles/Anna/user.dat", "hive"},
      {"Profiles/Anna/Start Menu/Programs/Notepad.lnk", "link"},
      {"Profiles/Anna/README", "no extension"},
      {"Profiles/Anna/archive.tar.gz", "two dots"}};
  for (const auto& [name, text] : files) WriteFile(drive() / name, text);

  HostBin recycleBin(drive(), 'c');
  recycleBin.Recycle(drive() / "Profiles" / "Anna");
  EXPECT_FALSE(fs::exists(drive() / "Profiles" / "Anna"));
  EXPECT_TRUE(fs::exists(drive() / "Profiles"));

  RecycleIndex index = ReadRecycleIndex(recycleBin.IndexFile());
  ASSERT_EQ(index.records.size(), files.size());
  for (const RecycleRecord& record : index.records) {
    ASSERT_TRUE(record.path.starts_with("C:\\"));
    EXPECT_EQ(record.drive, 2u);
    fs::path original = drive();
    std::string rest = Cp1252ToUtf8(record.path.substr(3));
    for (size_t at; (at = rest.find('\\')) != std::string::npos;) {
      original /= rest.substr(0, at);
      rest.erase(0, at + 1);
    }
    original /= rest;
    const std::string name = original.filename().string();
    const size_t dot = name.rfind('.');
    const fs::path dfile = bin() / ("Dc" + std::to_string(record.index) +
                                    (dot == std::string::npos ? "" : name.substr(dot)));
    fs::create_directories(original.parent_path());
    fs::rename(dfile, original);
  }
  for (const auto& [name, text] : files) EXPECT_EQ(ReadText(drive() / name), text) << name;

  // Windows 95 drops the record of a restored file; the next deletion takes a fresh index.
  std::vector<uint8_t> bytes = ReadBytes(bin() / "INFO");
  bytes.resize(20 + 280);
  bytes[4] = 1;
  WriteFile(bin() / "INFO", std::string(bytes.begin(), bytes.end()));
  recycleBin.Recycle(drive() / files[0].first);
  index = ReadRecycleIndex(bin() / "INFO");
  ASSERT_EQ(index.records.size(), 2u);
  EXPECT_EQ(index.records[1].index, files.size());
  EXPECT_EQ(index.liveCount, 2u);
  EXPECT_EQ(index.nextIndex, files.size() + 1);
}

TEST_F(RecycleBinTest, AppendsToAnExistingIndexKeepingItsRecords) {
  const fs::path genuine = test::Fixture("recycled/INFO-95-ja-1");
  ASSERT_FIXTURE(genuine);
  const fs::path driveD = drive().parent_path() / "D";
  fs::create_directories(driveD / "Recycled");
  fs::copy_file(genuine, driveD / "Recycled" / "info");
  WriteFile(driveD / "My Documents" / "new.txt", std::string(40000, 'n'));

  HostBin recycleBin(driveD, 'D');
  EXPECT_EQ(recycleBin.IndexFile(), driveD / "Recycled" / "info");
  recycleBin.Recycle(driveD / "My Documents" / "new.txt", kT2);

  const std::vector<uint8_t> before = ReadBytes(genuine);
  const std::vector<uint8_t> after = ReadBytes(driveD / "Recycled" / "info");
  ASSERT_EQ(after.size(), before.size() + 280);
  EXPECT_TRUE(std::equal(before.begin() + 20, before.end(), after.begin() + 20));
  EXPECT_TRUE(fs::exists(driveD / "Recycled" / "Dd16.txt"));

  const RecycleIndex index = ReadRecycleIndex(driveD / "Recycled" / "info");
  EXPECT_EQ(index.liveCount, 12u);
  EXPECT_EQ(index.nextIndex, 17u);
  EXPECT_EQ(index.totalSize, 0x2C0000u + 40960u);

  const ToolRun run = RunRifiuti(driveD / "Recycled" / "info", "CP932");
  EXPECT_EQ(run.status, 0) << run.out;
  const std::vector<std::string> entries = Entries(run.out);
  ASSERT_EQ(entries.size(), 12u) << run.out;
  EXPECT_EQ(entries.back(), "16\t1999-12-31 23:59:59\t40960\tD:\\My Documents\\new.txt");
}

TEST_F(RecycleBinTest, RefusesBeforeMovingAnything) {
  // 259 bytes of path are accepted, 260 are refused.
  const std::string longName(259 - std::string("C:\\Long\\").size(), 'n');
  WriteFile(drive() / "Long" / longName, "fits");
  WriteFile(drive() / "Long" / (longName + "x"), "too long");
  HostBin recycleBin(drive(), 'C');
  EXPECT_THROW(recycleBin.Recycle(drive() / "Long"), RecycleBinError);
  EXPECT_TRUE(fs::exists(drive() / "Long" / longName));
  recycleBin.Recycle(drive() / "Long" / longName);
  EXPECT_EQ(ReadRecycleIndex(bin() / "INFO").records.at(0).path.size(), 259u);

  WriteFile(drive() / "Greek" / "a.txt", "a");
  WriteFile(drive() / "Greek" / "\u03b1.txt", "alpha");  // no code page 1252 form
  EXPECT_THROW(recycleBin.Recycle(drive() / "Greek"), RecycleBinError);
  EXPECT_TRUE(fs::exists(drive() / "Greek" / "a.txt"));

  WriteFile(drive() / "Kept" / "k.txt", "k");
  EXPECT_THROW(recycleBin.Recycle(bin()), RecycleBinError);
  EXPECT_THROW(recycleBin.Recycle(drive()), RecycleBinError);

  // A damaged index is never overwritten.
  std::vector<uint8_t> info = ReadBytes(bin() / "INFO");
  info.resize(info.size() - 1);
  WriteFile(bin() / "INFO", std::string(info.begin(), info.end()));
  try {
    recycleBin.Recycle(drive() / "Kept");
    ADD_FAILURE() << "a damaged index was used";
  } catch (const RecycleBinError& e) {
    EXPECT_NE(std::string(e.what()).find("damaged"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(fs::exists(drive() / "Kept" / "k.txt"));
  EXPECT_EQ(ReadBytes(bin() / "INFO"), info);
}

TEST_F(RecycleBinTest, NeverMovesOverAFileMadeMeanwhile) {
  WriteFile(drive() / "a.txt", "a");
  WriteFile(drive() / "b.txt", "b");
  HostBin recycleBin(drive(), 'C');
  recycleBin.Recycle(drive() / "a.txt");
  // Another program takes the name the bin chose for b.txt just before the move.
  beforeNoReplaceRename = [](const fs::path& to) { WriteFile(to, "other"); };
  recycleBin.Recycle(drive() / "b.txt");
  EXPECT_FALSE(beforeNoReplaceRename);
  EXPECT_EQ(ReadText(bin() / "Dc1.txt"), "other");
  EXPECT_EQ(ReadText(bin() / "Dc2.txt"), "b");
  const RecycleIndex index = ReadRecycleIndex(bin() / "INFO");
  ASSERT_EQ(index.records.size(), 2u);
  EXPECT_EQ(index.records[1].index, 2u);
  EXPECT_EQ(index.records[1].path, "C:\\b.txt");
  EXPECT_EQ(index.nextIndex, 3u);
}

// Counts the times a file of one directory gets new contents, renamed into place or written in
// place, from construction to the call of Count.
class WriteCounter {
 public:
  explicit WriteCounter(const fs::path& dir) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    inotify_add_watch(fd_, dir.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
  }
  ~WriteCounter() { close(fd_); }
  int Count(std::string_view name) const {
    int count = 0;
    alignas(inotify_event) char buffer[1 << 16];
    for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;) {
      for (const char* at = buffer; at < buffer + n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        if (event->len > 0 && name == event->name) ++count;
        at += sizeof(inotify_event) + event->len;
      }
    }
    return count;
  }

 private:
  int fd_;
};

TEST_F(RecycleBinTest, WritesTheIndexOnceForAWholeTree) {
  constexpr int kFiles = 3001;
  for (int i = 0; i < kFiles; ++i) {
    WriteFile(drive() / "Big" / ("file" + std::to_string(i) + ".txt"), "x");
  }
  WriteFile(drive() / "first.txt", "first");
  HostBin recycleBin(drive(), 'C');
  recycleBin.Recycle(drive() / "first.txt");

  const WriteCounter writes(bin());
  recycleBin.Recycle(drive() / "Big");
  EXPECT_EQ(writes.Count("INFO"), 1);
  EXPECT_FALSE(fs::exists(drive() / "Big"));

  const ToolRun run = RunRifiuti(bin() / "INFO", "CP1252");
  EXPECT_EQ(run.status, 0) << run.out;
  const std::vector<std::string> entries = Entries(run.out);
  ASSERT_EQ(entries.size(), kFiles + 1u);
  EXPECT_TRUE(entries.front().ends_with("\tC:\\first.txt")) << entries.front();
  EXPECT_TRUE(entries.back().starts_with(std::to_string(kFiles) + "\t")) << entries.back();
  EXPECT_TRUE(entries.back().ends_with("\tC:\\Big\\file999.txt")) << entries.back();
  EXPECT_EQ(ReadRecycleIndex(bin() / "INFO").liveCount, kFiles + 1u);
}

TEST_F(RecycleBinTest, ALinkSwappedInBeforeTheMoveTakesNothingFromOutside) {
  WriteFile(drive() / "Docs" / "a.txt", "inside");
  const fs::path outside = drive().parent_path() / "outside";
  WriteFile(outside / "a.txt", "outside");
  HostBin recycleBin(drive(), 'C');
  // Another program puts a link to a folder outside the drive in the folder's place.
  beforeNoReplaceRename = [&](const fs::path&) {
    fs::rename(drive() / "Docs", drive() / "Docs.real");
    fs::create_directory_symlink(outside, drive() / "Docs");
  };
  // The file leaves the folder that was checked; the link standing in the folder's place stays.
  EXPECT_THROW(recycleBin.Recycle(drive() / "Docs"), RecycleBinError);
  EXPECT_FALSE(beforeNoReplaceRename);
  EXPECT_TRUE(fs::is_symlink(drive() / "Docs"));
  EXPECT_EQ(ReadText(outside / "a.txt"), "outside");
  EXPECT_EQ(ReadText(bin() / "Dc0.txt"), "inside");
}

// Limits the size of files written during its lifetime, so that writing more fails with EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = signal(SIGXFSZ, SIG_IGN);
    rlimit tight = saved_;
    tight.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &tight);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  sighandler_t previous_;
};

TEST_F(RecycleBinTest, PutsTheFileBackWhenTheIndexCannotBeWritten) {
  WriteFile(drive() / "doc.txt", "text");
  fs::create_directories(bin());
  WriteFile(bin() / "desktop.ini", "");
  HostBin recycleBin(drive(), 'C');

  // The index (300 bytes) cannot be written, so its write fails after the rename.
  std::string error;
  {
    FileSizeLimit limit(200);
    try {
      recycleBin.Recycle(drive() / "doc.txt");
    } catch (const RecycleBinError& e) {
      error = e.what();
    }
  }

  EXPECT_NE(error.find("index could not be written"), std::string::npos) << error;
  EXPECT_NE(error.find("Nothing was moved"), std::string::npos) << error;
  EXPECT_EQ(ReadText(drive() / "doc.txt"), "text");
  EXPECT_FALSE(fs::exists(bin() / "Dc0.txt"));
  EXPECT_FALSE(fs::exists(bin() / "INFO"));

  // A tree whose one index write fails: every file is back in its folder.
  WriteFile(drive() / "Tree" / "a.txt", "a");
  WriteFile(drive() / "Tree" / "Sub" / "b.txt", "b");
  error.clear();
  {
    FileSizeLimit limit(200);
    try {
      recycleBin.Recycle(drive() / "Tree");
    } catch (const RecycleBinError& e) {
      error = e.what();
    }
  }
  EXPECT_NE(error.find("Nothing was moved"), std::string::npos) << error;
  EXPECT_EQ(ReadText(drive() / "Tree" / "a.txt"), "a");
  EXPECT_EQ(ReadText(drive() / "Tree" / "Sub" / "b.txt"), "b");
  EXPECT_FALSE(fs::exists(bin() / "INFO"));
}

// The bin of drive C kept in a FAT16 volume made by mkfs.fat and filled by mcopy: the files go
// into RECYCLED on the image, which fsck.fat finds clean and mtools and rifiuti2 read.
TEST_F(RecycleBinTest, RecyclesIntoTheBinOfAFat16Image) {
  const fs::path machineDir = drive().parent_path();
  const fs::path image = machineDir / "disk.img";
  const auto tool = [](std::vector<std::string> args) {
    const ProgramRun run = RunProgram(std::move(args));
    ASSERT_EQ(run.status, 0) << run.out << run.err;
  };
  tool({"mkfs.fat", "-F", "16", "-C", image.string(), "16384"});
  WriteFile(machineDir / "report.doc", "0123456789");
  WriteFile(machineDir / "big.bmp", std::string(5000, 'b'));
  WriteFile(machineDir / "empty.txt", "");
  const std::string volume = image.string();
  tool({"mmd", "-i", volume, "::/Old Stuff", "::/Old Stuff/Pictures"});
  tool({"mcopy", "-i", volume, (machineDir / "report.doc").string(), "::/Old Stuff/"});
  tool({"mcopy", "-i", volume, (machineDir / "big.bmp").string(),
        (machineDir / "empty.txt").string(), "::/Old Stuff/Pictures/"});
  WriteFile(machineDir / "machine.ini",
            "[Machine]\nWindowsDirectory=C:\\WINDOWS\n[Drive C]\nType=fixed\nImage=disk.img\n"
            "Partition=0\n");
  const std::vector<uint8_t> boot = ReadBytes(image);
  const uint32_t cluster = (boot[11] | (boot[12] << 8)) * boot[13];
  ASSERT_EQ(cluster, 2048u);
  {
    const Machine machine = Machine::Open(machineDir);
    RecycleBin bin(machine, 'C');
    bin.Recycle("c:\\OLDSTU~1\\report.doc", kT1);  // by alias and in another case
    bin.Recycle("C:\\Old Stuff\\Pictures\\", kT2);
    EXPECT_FALSE(machine.Stat("C:\\Old Stuff\\Pictures"));
    EXPECT_TRUE(machine.List("C:\\Old Stuff").empty());
    EXPECT_EQ(bin.IndexFile(), "C:\\RECYCLED\\INFO");
    EXPECT_EQ(machine.Stat("C:\\RECYCLED")->attributes,
              file_attr::kDirectory | file_attr::kHidden | file_attr::kSystem);
    EXPECT_EQ(machine.Stat("C:\\RECYCLED\\INFO")->attributes, file_attr::kHidden);
  }
  const ProgramRun fsck = RunProgram({"fsck.fat", "-n", volume});
  EXPECT_EQ(fsck.status, 0) << fsck.out << fsck.err;
  const ProgramRun listing = RunProgram({"mdir", "-a", "-i", volume, "::/RECYCLED"});
  for (const char* name : {"Dc0.DOC", "Dc1.BMP", "Dc2.TXT", "desktop.ini", "INFO"}) {
    EXPECT_NE(listing.out.find(name), std::string::npos) << name << "\n" << listing.out;
  }
  const fs::path info = machineDir / "INFO";
  tool({"mcopy", "-i", volume, "::/RECYCLED/INFO", info.string()});
  tool({"mcopy", "-i", volume, "::/RECYCLED/Dc1.BMP", (machineDir / "back.bmp").string()});
  EXPECT_EQ(ReadText(machineDir / "back.bmp"), std::string(5000, 'b'));
  // mcopy kept the lower-case names as bare 8.3 entries, which Windows 95 shows in capitals.
  const ToolRun run = RunRifiuti(info, "CP1252");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(Entries(run.out), (std::vector<std::string>{
                                  "0\t1998-07-04 09:15:30\t2048\tC:\\Old Stuff\\REPORT.DOC",
                                  "1\t1999-12-31 23:59:59\t6144\tC:\\Old Stuff\\Pictures\\BIG.BMP",
                                  "2\t1999-12-31 23:59:59\t0\tC:\\Old Stuff\\Pictures\\EMPTY.TXT"}))
      << run.out;
}

}  // namespace
}  // namespace tarnwick::test
