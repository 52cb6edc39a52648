// What a logon applies, on a policy file of 1,000 users and 50 groups: a user without an entry
// in every group (the groups' merge, the longest), and a user with an entry of their own.
#include <benchmark/benchmark.h>

#include <memory>
#include <sstream>
#include <string>

#include "../tests/support/temp_machine_dir.h"
#include "demo/demo_machine.h"
#include "machine/machine.h"
#include "policy/effective_policy.h"
#include "policy/policy_store.h"
#include "registry/registry.h"

namespace tarnwick {
namespace {

constexpr int kUsers = 1000;
constexpr int kGroups = 50;

constexpr std::string_view kExplorer =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr std::string_view kFolders =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// An entry as the main window's pages and a template's policies leave it: a dozen flags, the
// folders, and a list with its "**delvals." marker.
void FillEntry(RegistryAccessor& reg, const std::string& key, int n) {
  reg.OpenKey(key + std::string(kExplorer), true);
  for (const char* flag :
       {"NoRun", "NoFind", "NoDesktop", "NoSetFolders", "NoSetTaskbar", "RestrictRun",
        "NoAddPrinter", "NoDeletePrinter", "NoDrives", "NoNetHood", "NoClose", "NoSaveSettings"}) {
    reg.WriteInteger(flag, n % 2);
  }
  reg.WriteString("**del.NoStartBanner", " ");
  reg.OpenKey(key + std::string(kExplorer) + "\\RestrictRun", true);
  reg.WriteString("**delvals.", " ");
  for (int i = 1; i <= 5; ++i) reg.WriteString(std::to_string(i), "prog" + std::to_string(i));
  reg.OpenKey(key + std::string(kFolders), true);
  for (const char* folder : {"Programs", "Start Menu", "Desktop", "Favorites", "Recent"}) {
    reg.WriteString(folder, "C:\\WINDOWS\\Profiles\\u" + std::to_string(n) + "\\" + folder);
  }
}

class PolicyFileOfThousandUsers {
 public:
  PolicyFileOfThousandUsers()
      : machine_(OpenOrCreateMachine(dir_.Path() / "machine")),
        registry_(std::make_unique<Registry>(machine_)),
        store_(*registry_) {
    {
      RegistryWriteBatch batch(*registry_);
      store_.LoadPolicyFile();
      RegistryAccessor reg(*registry_);
      reg.SetRootKey(RootKey::LocalMachine);
      const std::string hive = store_.HiveKeyName();
      FillEntry(reg, hive + "\\Users\\.default", 0);
      FillEntry(reg, hive + "\\Computers\\.default", 1);
      for (int i = 0; i < kUsers; ++i)
        FillEntry(reg, hive + "\\Users\\user" + std::to_string(i), i);
      for (int i = 0; i < kGroups; ++i) {
        FillEntry(reg, hive + "\\UserGroups\\group" + std::to_string(i), i);
        reg.OpenKey(hive + "\\GroupData\\UserGroups\\Priority", true);
        reg.WriteString(std::to_string(i + 1), "group" + std::to_string(i));
      }
      reg.CloseKey();
      store_.UnloadPolicyFile();
      batch.Finish();
    }
    store_.LoadPolicyFile();
  }
  ~PolicyFileOfThousandUsers() { store_.UnloadPolicyFile(); }

  PolicyStore& Store() { return store_; }

 private:
  test::TempMachineDir dir_;
  Machine machine_;
  std::unique_ptr<Registry> registry_;
  PolicyStore store_;
};

void Effective(benchmark::State& state, const LogonRequest& request) {
  PolicyFileOfThousandUsers file;
  size_t changes = 0;
  for (auto _ : state) {
    std::ostringstream out;
    const EffectivePolicy effective = EffectivePolicyOf(file.Store(), request);
    WriteEffectiveRegedit4(effective, out);
    changes = effective.changes.size();
    benchmark::DoNotOptimize(out);
  }
  state.counters["changes"] = static_cast<double>(changes);
}

void BM_EffectiveInFiftyGroups(benchmark::State& state) {
  LogonRequest request{"nobody", {}, "PC1"};
  for (int i = 0; i < kGroups; ++i) request.groups.push_back("group" + std::to_string(i));
  Effective(state, request);
}
BENCHMARK(BM_EffectiveInFiftyGroups)->Unit(benchmark::kMillisecond);

void BM_EffectiveOfAUserWithAnEntry(benchmark::State& state) {
  Effective(state, {"user500", {"group1", "group2"}, ""});
}
BENCHMARK(BM_EffectiveOfAUserWithAnEntry)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnwick

BENCHMARK_MAIN();
