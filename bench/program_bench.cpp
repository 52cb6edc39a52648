// The program on a machine of 1,000 users and a Windows-sized tree of 5,000 files, kept in a host
// directory and in a 2 GB FAT16 disk image: from process start to the first user shown (the
// password typed through the prompter), selecting a user with a click, and the peak memory.
// --write-machines DIR makes the two machines in DIR/directory and DIR/image and stops, for
// timing the command-line tools on them (bench/image_bench.sh).
#include <benchmark/benchmark.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "../tests/support/temp_machine_dir.h"
#include "base/file_io.h"
#include "controls/look.h"
#include "demo/demo_machine.h"
#include "policy/password_store.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/error_box.h"
#include "shell/scripted_prompter.h"
#include "shell/single_instance.h"
#include "ui/main_window.h"

namespace tarnwick {
namespace {

constexpr int kUsers = 1000;
constexpr int kTreeFolders = 50;
constexpr int kTreeFiles = 100;  // in each folder
constexpr uint64_t kImageBytes = 2000ull * 1024 * 1024;
constexpr uint64_t kPartitionStart = 2048;  // sectors

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "program_bench: failed: %s\n", command.c_str());
    std::exit(1);
  }
}

int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// A demo machine with the password "secret", kUsers users, each with two switches on that
// loading writes again (NoRun, and NoConfigure with its five companions), and kTreeFolders folders
// of kTreeFiles files of 1 to 64 KB below C:\WINDOWS\SYSTEM.
void WriteDirectoryMachine(const std::filesystem::path& machineDir) {
  const Machine machine = OpenOrCreateMachine(machineDir);
  {
    Registry registry(machine);
    PolicyStore store(registry);
    RegistryWriteBatch batch(registry);
    {
      AttachedPolicyFile file{store};
      StorePassword(store, "secret");
      TUsers users{store};
      for (int i = 0; i < kUsers; ++i) {
        TUser& user = users.AddUser("User" + std::to_string(i));
        user.SetNoRun(1);
        user.SetNoConfigure(1);
      }
    }
    batch.Finish();
  }
  const std::vector<uint8_t> bytes(64 * 1024, 0x5A);
  for (int folder = 0; folder < kTreeFolders; ++folder) {
    const std::string dir = "C:\\WINDOWS\\SYSTEM\\Folder " + std::to_string(folder);
    machine.MakeDirectory(dir);
    for (int file = 0; file < kTreeFiles; ++file) {
      const size_t size = 1024 * (1 + static_cast<size_t>(folder * kTreeFiles + file) % 64);
      machine.WriteFile(dir + "\\File " + std::to_string(file) + ".dll",
                        std::span(bytes).first(size));
    }
  }
}

// The same drive C copied by mcopy onto a FAT16 partition of a sparse 2 GB image made by sfdisk
// and mkfs.fat, under a machine.ini that names the image.
void WriteImageMachine(const std::filesystem::path& directory,
                       const std::filesystem::path& imageDir) {
  std::filesystem::create_directories(imageDir);
  const std::string image = (imageDir / "c.img").string();
  Run("truncate -s " + std::to_string(kImageBytes) + " '" + image + "'");
  Run("echo 'start=" + std::to_string(kPartitionStart) + ", type=6' | sfdisk -q '" + image + "'");
  Run("mkfs.fat -F 16 -n SYSTEM --offset " + std::to_string(kPartitionStart) + " '" + image + "' " +
      std::to_string(kImageBytes / 1024 - kPartitionStart / 2) + " >/dev/null");
  Run("cd '" + (directory / "c").string() + "' && mcopy -s -i '" + image + "@@" +
      std::to_string(kPartitionStart * 512) + "' ./* ::/");
  std::FILE* ini = std::fopen((imageDir / "machine.ini").c_str(), "w");
  std::fputs(
      "[Machine]\nWindowsDirectory=C:\\WINDOWS\nProgramPath=C:\\TARNEX\\TARNEX.EXE\n"
      "[Drive C]\nType=fixed\nImage=c.img\n",
      ini);
  std::fclose(ini);
}

// The directory machine and the image machine, made once.
std::filesystem::path MachineDir(bool image) {
  static test::TempMachineDir temp;
  static const bool made =
      (WriteDirectoryMachine(temp.Path() / "directory"),
       WriteImageMachine(temp.Path() / "directory", temp.Path() / "image"), true);
  return made && image ? temp.Path() / "image" : temp.Path() / "directory";
}

ScriptedPrompter::DialogScript TypePassword() {
  return [](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("txtPassword"))->setText(QStringLiteral("secret"));
    return int{QDialog::Accepted};
  };
}

// The child process: the program's start, timed from the parent's clock reading before exec.
int StartOnce(const char* machineDir, int64_t startedNs) {
  int argc = 1;
  char name[] = "program_bench";
  char* argv[] = {name, nullptr};
  TarnwickApplication app(argc, argv);
  ApplyLook(app);
  const Machine machine = Machine::Open(machineDir);
  TInstanceDetector detector(machine);
  Registry registry(machine);
  PolicyStore store(registry);
  app.SetRegistry(&registry);
  ScriptedPrompter prompter;
  const PrompterGuard guard(prompter);
  prompter.Queue(TypePassword());
  TfrmMain window(detector, &store);
  {
    RegistryWriteBatch batch(registry);
    window.FormCreate();
  }
  const int64_t shownNs = MonotonicNs();
  if (window.CurrentUser() == nullptr) return 2;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%lld %ld\n", static_cast<long long>(shownNs - startedNs), usage.ru_maxrss);
  window.close();
  return 0;
}

// Argument 0: the host directory; 1: the disk image.
void BM_ProcessStartToFirstUserShown(benchmark::State& state) {
  const std::string dir = MachineDir(state.range(0) == 1).string();
  int64_t peakKb = 0;
  for (auto _ : state) {
    int fds[2];
    if (pipe(fds) != 0) state.SkipWithError("pipe");
    const std::string started = std::to_string(MonotonicNs());
    const pid_t child = fork();
    if (child == 0) {
      dup2(fds[1], STDOUT_FILENO);
      close(fds[0]);
      execl("/proc/self/exe", "program_bench", "--start-once", dir.c_str(), started.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    char line[64] = {};
    const ssize_t got = read(fds[0], line, sizeof line - 1);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    long long ns = 0;
    long kb = 0;
    if (got <= 0 || std::sscanf(line, "%lld %ld", &ns, &kb) != 2 || status != 0) {
      state.SkipWithError("the start failed");
      break;
    }
    state.SetIterationTime(static_cast<double>(ns) / 1e9);
    peakKb = std::max<int64_t>(peakKb, kb);
  }
  state.counters["peak_MB"] = static_cast<double>(peakKb) / 1024.0;
}
BENCHMARK(BM_ProcessStartToFirstUserShown)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Selecting another user with a mouse click: one event, so one write of the policy file.
void BM_SelectUser(benchmark::State& state) {
  const Machine machine = Machine::Open(MachineDir(false));
  TInstanceDetector detector(machine);
  Registry registry(machine);
  PolicyStore store(registry);
  auto& app = static_cast<TarnwickApplication&>(*QApplication::instance());
  app.SetRegistry(&registry);
  ScriptedPrompter prompter;
  const PrompterGuard guard(prompter);
  prompter.Queue(TypePassword());
  TfrmMain window(detector, &store);
  window.FormCreate();
  auto* users = window.findChild<QListWidget*>(QStringLiteral("lvUsers"));
  const std::filesystem::path policyDir = *machine.HostPath(machine.WindowsDirectory());
  const UniqueFd watch(inotify_init1(IN_NONBLOCK));
  inotify_add_watch(watch.Get(), policyDir.c_str(), IN_MOVED_TO);
  int64_t writes = 0;
  int row = 0;
  for (auto _ : state) {
    row = row == 1 ? 2 : 1;
    QListWidgetItem* item = users->item(row);
    QTest::mouseClick(users->viewport(), Qt::LeftButton, {}, users->visualItemRect(item).center());
    state.PauseTiming();
    char events[4096];
    for (ssize_t got; (got = read(watch.Get(), events, sizeof events)) > 0;) {
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        if (event->len > 0 && std::strcmp(event->name, "Tarnex.pol") == 0) ++writes;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    state.ResumeTiming();
  }
  state.counters["policy_writes_per_selection"] =
      static_cast<double>(writes) / static_cast<double>(state.iterations());
  window.close();
  app.SetRegistry(nullptr);
}
BENCHMARK(BM_SelectUser)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnwick

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--start-once") == 0) {
    return tarnwick::StartOnce(argv[2], std::stoll(argv[3]));
  }
  if (argc == 3 && std::strcmp(argv[1], "--write-machines") == 0) {
    const std::filesystem::path dir = argv[2];
    tarnwick::WriteDirectoryMachine(dir / "directory");
    tarnwick::WriteImageMachine(dir / "directory", dir / "image");
    return 0;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  tarnwick::TarnwickApplication app(argc, argv);
  tarnwick::ApplyLook(app);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
