// Thirteen policy writes for one user of a policy file of 1,000 users (what selecting a user may
// write), each written to the file at once or all in one write batch.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "../tests/support/temp_machine_dir.h"
#include "demo/demo_machine.h"
#include "machine/machine.h"
#include "policy/policy_store.h"
#include "policy/user.h"
#include "registry/registry.h"

namespace tarnwick {
namespace {

constexpr int kUsers = 1000;

using Setter = void (TUser::*)(int32_t);
constexpr std::array<Setter, 12> kFlags = {&TUser::SetNoRun,
                                           &TUser::SetNoFind,
                                           &TUser::SetNoDesktop,
                                           &TUser::SetNoSetFolders,
                                           &TUser::SetNoSetTaskbar,
                                           &TUser::SetRestrictRun,
                                           &TUser::SetDisableRegistryTools,
                                           &TUser::SetNoDispSettingsPage,
                                           &TUser::SetNoNetSetup,
                                           &TUser::SetNoDOS,
                                           &TUser::SetNoRealMode,
                                           &TUser::SetNoDrives};

// Every user's policies: the twelve flags, the other switches and the folders.
void FillUser(TUser& user, int32_t v) {
  for (Setter set : kFlags) (user.*set)(v);
  user.SetNoPrinterChanges(v);
  user.SetNoSystemPages(v);
  user.SetNoPasswordPages(v);
  user.SetNoConfigure(v);
  const std::string profile = "C:\\WINDOWS\\Profiles\\" + user.Name();
  user.SetProgramsFolder(profile + "\\Start Menu\\Programs");
  user.SetStartMenuFolder(profile + "\\Start Menu");
  user.SetDesktopFolder(profile + "\\Desktop");
  user.SetFavoritesFolder(profile + "\\Favorites");
  user.SetRecentFolder(profile + "\\Recent");
  user.SetUserIcon("C:\\TARNEX\\UserIcon\\user.ico");
}

// A demo machine whose attached policy file holds kUsers users.
class ThousandUsers {
 public:
  ThousandUsers()
      : machine_(OpenOrCreateMachine(dir_.Path() / "machine")),
        registry_(std::make_unique<Registry>(machine_)),
        store_(*registry_) {
    {
      RegistryWriteBatch batch(*registry_);
      store_.LoadPolicyFile();
      for (int i = 0; i < kUsers; ++i) {
        TUser user(store_, "user" + std::to_string(i));
        FillUser(user, 0);
      }
      store_.UnloadPolicyFile();
      batch.Finish();
    }
    store_.LoadPolicyFile();
  }
  ~ThousandUsers() { store_.UnloadPolicyFile(); }

  Registry& GetRegistry() { return *registry_; }
  PolicyStore& Store() { return store_; }
  std::uintmax_t PolicyFileSize() const {
    return std::filesystem::file_size(*machine_.HostPath(store_.PolicyFilePath()));
  }

 private:
  TempMachineDir dir_;
  Machine machine_;
  std::unique_ptr<Registry> registry_;
  PolicyStore store_;
};

// The thirteen writes, a change each time.
void ThirteenWrites(TUser& user, int32_t& v) {
  v ^= 1;
  for (Setter set : kFlags) (user.*set)(v);
  user.SetUserIcon(v ? "C:\\TARNEX\\UserIcon\\a.ico" : "C:\\TARNEX\\UserIcon\\b.ico");
}

void BM_ThirteenWritesEachAtOnce(benchmark::State& state) {
  ThousandUsers machine;
  TUser user(machine.Store(), "user500");
  int32_t v = 0;
  for (auto _ : state) ThirteenWrites(user, v);
  state.counters["policy_file_bytes"] = static_cast<double>(machine.PolicyFileSize());
}
BENCHMARK(BM_ThirteenWritesEachAtOnce)->Unit(benchmark::kMillisecond);

void BM_ThirteenWritesInOneBatch(benchmark::State& state) {
  ThousandUsers machine;
  TUser user(machine.Store(), "user500");
  int32_t v = 0;
  for (auto _ : state) {
    RegistryWriteBatch batch(machine.GetRegistry());
    ThirteenWrites(user, v);
    batch.Finish();
  }
  state.counters["policy_file_bytes"] = static_cast<double>(machine.PolicyFileSize());
}
BENCHMARK(BM_ThirteenWritesInOneBatch)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnwick

BENCHMARK_MAIN();
