// Test helpers: a fresh demo machine with a policy store on it, and look-ups in
// what the independent readers report.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "machine/machine.h"
#include "policy/policy_store.h"
#include "registry/registry.h"
#include "support/independent_readers.h"
#include "support/temp_machine_dir.h"

namespace tarnwick::testing {

class PolicyMachine {
 public:
  // extraIni: sections appended to the demo machine's machine.ini, such as another drive.
  explicit PolicyMachine(std::string_view extraIni = {});
  ~PolicyMachine();
  PolicyMachine(const PolicyMachine&) = delete;
  PolicyMachine& operator=(const PolicyMachine&) = delete;

  Registry& GetRegistry() { return *registry_; }
  PolicyStore& Store() { return *store_; }
  const Machine& GetMachine() const { return *machine_; }
  // The host path of a Windows path on the machine.
  std::filesystem::path Host(std::string_view windowsPath) const;
  std::filesystem::path PolicyFile() const;
  std::filesystem::path SystemDat() const;
  // Ends this run's registry and starts a new one with a new store at the same place, as the
  // next run of the program would.
  void Restart();
  // A new store on the same registry.
  void ReopenStore(PolicyAccess access);

  // Direct access below HKEY_LOCAL_MACHINE, bypassing the store.
  std::optional<RegValue> Value(std::string_view keyPath, std::string_view name);
  void Put(std::string_view keyPath, std::string_view name, uint32_t type,
           const std::vector<uint8_t>& data);
  bool KeyExists(std::string_view keyPath);

 private:
  TempMachineDir temp_;
  std::unique_ptr<Machine> machine_;
  std::unique_ptr<Registry> registry_;
  // Made again in place by Restart, so that records made on the store before stay usable.
  std::optional<PolicyStore> store_;
};

// The value in a reader's output; key paths compare without regard to case.
const ExportedValue* FindExported(const ReaderOutput& output, std::string_view keyPath,
                                  std::string_view name);
bool HasExportedKey(const ReaderOutput& output, std::string_view keyPath);

std::vector<uint8_t> Dword(uint32_t v);
std::vector<uint8_t> Sz(std::string_view text);  // with its terminating zero
// REG_SZ data as text; a closing zero, which Windows 95 does not store, shows as '\0'.
std::string SzText(const std::vector<uint8_t>& data);

}  // namespace tarnwick::testing
