#include "policy/password_store.h"

#include <vector>

#include "policy/policy_file.h"
#include "policy/scramble.h"
#include "registry/registry.h"

namespace tarnwick {

namespace {

constexpr std::string_view kConfigKey = "\\Config";
constexpr std::string_view kModeValue = "Mode";

void OpenConfig(RegistryAccessor& reg) {
  reg.SetRootKey(RootKey::LocalMachine);
  reg.OpenKey(HiveKeyName() + std::string(kConfigKey), true);
}

}  // namespace

std::string ReadStoredPassword() {
  RegistryAccessor reg(PolicyRegistry());
  OpenConfig(reg);
  const std::optional<RegValue> value = reg.ReadValue(kModeValue);
  if (value && value->type == kRegBinary) {
    return UnscrambleText(std::string(value->data.begin(), value->data.end()), kScrambleSeed);
  }
  return UnscrambleText(reg.ReadString(kModeValue), kScrambleSeed);
}

void StorePassword(std::string_view password) {
  const std::string scrambled = ScrambleText(password, kScrambleSeed);
  RegistryAccessor reg(PolicyRegistry());
  OpenConfig(reg);
  if (scrambled.find('\0') == std::string::npos) {
    reg.WriteString(kModeValue, scrambled);
  } else {
    reg.WriteBinaryData(kModeValue, std::vector<uint8_t>(scrambled.begin(), scrambled.end()));
  }
}

}  // namespace tarnwick
