// Windows paths through a self-referring symbolic link, and INI files of many sections or keys:
// the time per item stays the same as the input grows.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "../tests/support/temp_machine_dir.h"
#include "machine/ini_file.h"
#include "machine/machine.h"
#include "machine/short_name.h"

namespace tarnwick {
namespace {

// Drive C with depth nested folders D, a link "self" to the innermost one and the file
// WIN.INI in it.
class SelfLinkMachine {
 public:
  explicit SelfLinkMachine(int64_t depth) : depth_(depth) {
    std::string folder = "c";
    for (int64_t i = 0; i < depth; ++i) folder += "/D";
    dir_.WriteFile("machine.ini", "[Drive C]\nType=fixed\nPath=c\n");
    dir_.WriteFile(folder + "/WIN.INI", "");
    std::filesystem::create_directory_symlink(".", dir_.Path() / folder / "self");
    machine_ = Machine::Open(dir_.Path());
  }
  const Machine& Get() const { return machine_; }

  // C:\D\...\D\self\...\self\WIN.INI with count components in all.
  std::string PathOf(int64_t count) const {
    std::string path = "C:";
    for (int64_t i = 0; i < depth_; ++i) path += "\\D";
    for (int64_t i = depth_ + 1; i < count; ++i) path += "\\self";
    return path + "\\WIN.INI";
  }

 private:
  int64_t depth_;
  test::TempMachineDir dir_;
  Machine machine_;
};

void BM_HostPathThroughSelfLink(benchmark::State& state) {
  const SelfLinkMachine machine(state.range(1));
  const std::string path = machine.PathOf(state.range(0));
  for (auto _ : state) {
    if (!machine.Get().HostPath(path)) state.SkipWithError("not found");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_HostPathThroughSelfLink)
    ->ArgsProduct({{250, 1000}, {0, 100}})
    ->ArgNames({"components", "depth"})
    ->Unit(benchmark::kMillisecond);

void BM_LocateMachinePathThroughSelfLink(benchmark::State& state) {
  const SelfLinkMachine machine(state.range(1));
  const std::string path = machine.PathOf(state.range(0));
  for (auto _ : state) {
    if (!LocateMachinePath(machine.Get(), path)) state.SkipWithError("not found");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LocateMachinePathThroughSelfLink)
    ->ArgsProduct({{250, 1000}, {0, 100}})
    ->ArgNames({"components", "depth"})
    ->Unit(benchmark::kMillisecond);

void BM_ParseIniSections(benchmark::State& state) {
  std::string text;
  for (int64_t i = 0; i < state.range(0); ++i) text += "[S" + std::to_string(i) + "]\nK=V\n";
  for (auto _ : state) benchmark::DoNotOptimize(IniFile::Parse(text, "bench.ini"));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseIniSections)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_ParseIniKeys(benchmark::State& state) {
  std::string text = "[S]\n";
  for (int64_t i = 0; i < state.range(0); ++i) text += "K" + std::to_string(i) + "=V\n";
  for (auto _ : state) benchmark::DoNotOptimize(IniFile::Parse(text, "bench.ini"));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseIniKeys)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnwick

BENCHMARK_MAIN();
