#include "support/policy_test_machine.h"

#include <fstream>

#include "demo/demo_machine.h"
#include "machine/win_path.h"

namespace tarnwick::testing {

PolicyMachine::PolicyMachine(std::string_view extraIni) {
  const std::filesystem::path dir = temp_.Path() / "machine";
  machine_ = std::make_unique<Machine>(OpenOrCreateMachine(dir));
  if (!extraIni.empty()) {
    std::ofstream(dir / "machine.ini", std::ios::app) << extraIni;
    machine_ = std::make_unique<Machine>(Machine::Open(dir));
  }
  registry_ = std::make_unique<Registry>(*machine_);
  store_.emplace(*registry_);
}

PolicyMachine::~PolicyMachine() = default;

std::filesystem::path PolicyMachine::Host(std::string_view windowsPath) const {
  return machine_->HostPath(windowsPath).value();
}

std::filesystem::path PolicyMachine::PolicyFile() const {
  return Host("C:\\WINDOWS\\Tarnex.pol");
}
std::filesystem::path PolicyMachine::SystemDat() const {
  return Host("C:\\WINDOWS\\SYSTEM.DAT");
}

void PolicyMachine::Restart() {
  store_.reset();
  registry_.reset();
  registry_ = std::make_unique<Registry>(*machine_);
  store_.emplace(*registry_);
}

void PolicyMachine::ReopenStore(PolicyAccess access) {
  store_.reset();
  store_.emplace(*registry_, access);
}

std::optional<RegValue> PolicyMachine::Value(std::string_view keyPath, std::string_view name) {
  RegistryAccessor reg(*registry_);
  reg.SetRootKey(RootKey::LocalMachine);
  if (!reg.OpenKey(keyPath, false)) return std::nullopt;
  return reg.ReadValue(name);
}

void PolicyMachine::Put(std::string_view keyPath, std::string_view name, uint32_t type,
                        const std::vector<uint8_t>& data) {
  RegistryAccessor reg(*registry_);
  reg.SetRootKey(RootKey::LocalMachine);
  reg.OpenKey(keyPath, true);
  reg.WriteValue(name, type, data);
}

bool PolicyMachine::KeyExists(std::string_view keyPath) {
  RegistryAccessor reg(*registry_);
  reg.SetRootKey(RootKey::LocalMachine);
  return reg.KeyExists(keyPath);
}

const ExportedValue* FindExported(const ReaderOutput& output, std::string_view keyPath,
                                  std::string_view name) {
  for (const ExportedKey& key : output.keys) {
    if (!EqualsIgnoreCase(key.path, keyPath)) continue;
    for (const ExportedValue& value : key.values) {
      if (EqualsIgnoreCase(value.name, name)) return &value;
    }
  }
  return nullptr;
}

bool HasExportedKey(const ReaderOutput& output, std::string_view keyPath) {
  for (const ExportedKey& key : output.keys) {
    if (EqualsIgnoreCase(key.path, keyPath)) return true;
  }
  return false;
}

std::vector<uint8_t> Dword(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

std::vector<uint8_t> Sz(std::string_view text) {
  std::vector<uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  return data;
}

std::string SzText(const std::vector<uint8_t>& data) {
  return std::string(data.begin(), data.end());
}

}  // namespace tarnwick::testing
