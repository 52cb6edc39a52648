// tarnwick-policy import-users with a class list of 1,000 rows on a fresh demo machine, the whole
// command as an administrator runs it: checks, accounts, folders, shortcuts and the writes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "../tests/support/temp_machine_dir.h"
#include "demo/demo_machine.h"

namespace tarnwick {
namespace {

constexpr int kRows = 1000;

int RunTool(const std::filesystem::path& machine, const std::string& command,
            const std::string& argument) {
  const pid_t child = fork();
  if (child == 0) {
    // What it prints (a line for each account's group) is not part of the measure.
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    const std::string dir = machine.string();
    execl(TARNWICK_POLICY_PROGRAM, "tarnwick-policy", "--machine", dir.c_str(), command.c_str(),
          argument.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A class list as a school has one: distinct first names, a group, restrictions, a program.
std::string ClassList() {
  std::string text = "name,group,hide-drives,restrict,allow\n";
  const char* syllables[] = {"ka", "lo", "mi", "ne", "ru", "sa", "ti", "vo", "ya", "ze", "bi"};
  for (int i = 0; i < kRows; ++i) {
    std::string name =
        std::string(syllables[i % 11]) + syllables[i / 11 % 11] + syllables[i / 121 % 11];
    name.front() = static_cast<char>(name.front() - 'a' + 'A');
    text += name + ",Pupils,A,\"NoRun,NoFind\",calc.exe\n";
  }
  return text;
}

// One run: the machine it changes is made once.
void BM_ImportUsers(benchmark::State& state) {
  const test::TempMachineDir temp;
  const std::filesystem::path dir = temp.Path() / "machine";
  OpenOrCreateMachine(dir);
  const std::filesystem::path csv = temp.Path() / "class.csv";
  std::ofstream(csv) << ClassList();
  if (RunTool(dir, "add-group", "Pupils") != 0) state.SkipWithError("add-group failed");
  for (auto _ : state) {
    if (RunTool(dir, "import-users", csv.string()) != 0) state.SkipWithError("import failed");
  }
  state.counters["rows"] = kRows;
}
BENCHMARK(BM_ImportUsers)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace tarnwick

BENCHMARK_MAIN();
