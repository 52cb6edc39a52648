#include "policy/password_store.h"

#include <vector>

#include "policy/policy_store.h"
#include "policy/scramble.h"
#include "registry/registry.h"

namespace tarnwick {

namespace {

constexpr std::string_view kConfigKey = "\\Config";
constexpr std::string_view kModeValue = "Mode";

void OpenConfig(const PolicyStore& store, RegistryAccessor& reg) {
  reg.SetRootKey(RootKey::LocalMachine);
  reg.OpenKey(store.HiveKeyName() + std::string(kConfigKey), true);
}

}  // namespace

std::string ReadStoredPassword(const PolicyStore& store) {
  RegistryAccessor reg(store.GetRegistry());
  OpenConfig(store, reg);
  const std::optional<RegValue> value = reg.ReadValue(kModeValue);
  if (value && value->type == kRegBinary) {
    return UnscrambleText(std::string(value->data.begin(), value->data.end()), kScrambleSeed);
  }
  return UnscrambleText(reg.ReadString(kModeValue), kScrambleSeed);
}

void StorePassword(const PolicyStore& store, std::string_view password) {
  const RegValue value = StoredPasswordValue(password);
  RegistryAccessor reg(store.GetRegistry());
  OpenConfig(store, reg);
  reg.WriteValue(value.name, value.type, value.data);
}

RegValue StoredPasswordValue(std::string_view password) {
  const std::string scrambled = ScrambleText(password, kScrambleSeed);
  const bool text = scrambled.find('\0') == std::string::npos;
  return {std::string(kModeValue), text ? kRegSz : kRegBinary,
          std::vector<uint8_t>(scrambled.begin(), scrambled.end())};
}

}  // namespace tarnwick
