// Creating one account from the new-user wizard's answers on a machine of 1,000 users, as the
// Finish click does it: one event, so one write batch and one write of each changed file.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <filesystem>
#include <string>

#include "../tests/support/temp_machine_dir.h"
#include "account/account.h"
#include "demo/demo_machine.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/scripted_prompter.h"
#include "ui/window_account_shell.h"

namespace tarnwick {
namespace {

constexpr int kUsers = 1000;

void BM_CreateNewUser(benchmark::State& state) {
  const test::TempMachineDir temp;
  const Machine machine = OpenOrCreateMachine(temp.Path() / "machine");
  Registry registry(machine);
  PolicyStore store(registry);
  ScriptedPrompter prompter;
  const PrompterGuard guard(prompter);
  {
    RegistryWriteBatch batch(registry);
    {
      const AttachedPolicyFile file{store};
      TUsers users{store};
      for (int i = 0; i < kUsers; ++i) {
        TUser& user = users.AddUser("User" + std::to_string(i));
        user.SetNoRun(1);
        user.SetNoConfigure(1);
      }
    }
    batch.Finish();
  }

  const AttachedPolicyFile file{store};
  TUsers users{store};
  NewUserAnswers answers;
  answers.folderChoice = ProgramFolderChoice::Empty;
  answers.restrictions = {"NoRun"};
  answers.hiddenDrives = "AD";
  answers.apps = {{"NOTEPAD.EXE", TAllowedApp{"C:\\WINDOWS\\NOTEPAD.EXE", true}}};
  WindowAccountShell shell(machine, nullptr);
  int created = 0;
  for (auto _ : state) {
    answers.name = "New user " + std::to_string(created++);
    RegistryWriteBatch batch(registry);
    CreateAccount(users, answers, shell);
    batch.Finish();
  }
  if (!prompter.Records().empty()) state.SkipWithError("a message was shown");
  state.counters["users"] = static_cast<double>(users.Count());
}
BENCHMARK(BM_CreateNewUser)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnwick

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
