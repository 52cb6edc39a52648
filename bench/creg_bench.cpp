// Reading and writing a registry file of 5,000 keys and 20,000 values; adding many sibling keys;
// decoding a file 200,000 keys deep.
// "creg_bench --write-hive=FILE" only writes that file, for timing other readers on it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "../tests/registry/creg_test_trees.h"
#include "registry/creg_file.h"

namespace tarnwick {
namespace {

const RegNode& Tree() {
  static const std::unique_ptr<RegNode> tree = test::LargeTree();
  return *tree;
}

void Describe(benchmark::State& state, size_t bytes) {
  state.counters["keys"] = static_cast<double>(Tree().KeyCount() - 1);
  state.counters["values"] = static_cast<double>(test::ValueCount(Tree()));
  state.counters["file_bytes"] = static_cast<double>(bytes);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_EncodeRegistryFile(benchmark::State& state) {
  size_t size = 0;
  for (auto _ : state) {
    std::vector<uint8_t> bytes = EncodeRegistryFile(Tree(), "SYSTEM.DAT");
    size = bytes.size();
    benchmark::DoNotOptimize(bytes.data());
  }
  Describe(state, size);
}
BENCHMARK(BM_EncodeRegistryFile)->Unit(benchmark::kMillisecond);

void BM_DecodeRegistryFile(benchmark::State& state) {
  const std::vector<uint8_t> bytes = EncodeRegistryFile(Tree(), "SYSTEM.DAT");
  for (auto _ : state) benchmark::DoNotOptimize(DecodeRegistryFile(bytes, "SYSTEM.DAT"));
  Describe(state, bytes.size());
}
BENCHMARK(BM_DecodeRegistryFile)->Unit(benchmark::kMillisecond);

// Keys added one by one under one parent, as an import adds them: each addition looks up the name.
void BM_AddSiblingKeys(benchmark::State& state) {
  const auto count = static_cast<size_t>(state.range(0));
  std::vector<std::string> names;
  for (size_t i = 0; i < count; ++i) names.push_back("Key " + std::to_string(i));
  for (auto _ : state) {
    RegNode root;
    for (const std::string& name : names) root.AddSubkey(name);
    benchmark::DoNotOptimize(root.subkeys.size());
  }
  state.counters["keys"] = static_cast<double>(count);
}
BENCHMARK(BM_AddSiblingKeys)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Decoding and freeing a chain of 200,000 nested keys.
void BM_DecodeDeepFile(benchmark::State& state) {
  const std::vector<uint8_t> bytes = EncodeRegistryFile(*test::DeepTree(200000), "USER.DAT");
  for (auto _ : state) benchmark::DoNotOptimize(DecodeRegistryFile(bytes, "USER.DAT"));
  state.counters["file_bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_DecodeDeepFile)->Unit(benchmark::kMillisecond);

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/creg-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot create a directory");
    path_ = pattern;
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Encoding plus the atomic replace with its two flushes to disk.
void BM_WriteRegistryFile(benchmark::State& state) {
  TempDir dir;
  std::filesystem::path file = dir.path() / "SYSTEM.DAT";
  for (auto _ : state) WriteRegistryFile(file, Tree());
  Describe(state, std::filesystem::file_size(file));
}
BENCHMARK(BM_WriteRegistryFile)->Unit(benchmark::kMillisecond);

void BM_ReadRegistryFile(benchmark::State& state) {
  TempDir dir;
  std::filesystem::path file = dir.path() / "SYSTEM.DAT";
  WriteRegistryFile(file, Tree());
  for (auto _ : state) benchmark::DoNotOptimize(ReadRegistryFile(file));
  Describe(state, std::filesystem::file_size(file));
}
BENCHMARK(BM_ReadRegistryFile)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnwick

int main(int argc, char** argv) {
  constexpr const char* kWriteHive = "--write-hive=";
  if (argc == 2 && std::strncmp(argv[1], kWriteHive, std::strlen(kWriteHive)) == 0) {
    tarnwick::WriteRegistryFile(argv[1] + std::strlen(kWriteHive), tarnwick::Tree());
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
