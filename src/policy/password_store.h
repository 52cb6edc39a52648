// The program password as the policy file keeps it: value "Mode" of HiveKeyName\Config.
#pragma once

#include <string>
#include <string_view>

#include "registry/reg_tree.h"

namespace tarnwick {

class PolicyStore;

// The stored password, unscrambled and not trimmed; empty when none is set. Reads the value the
// way it was stored: REG_SZ up to its first zero byte, REG_BINARY whole.
std::string ReadStoredPassword(const PolicyStore& store);
// Stores the scrambled password as REG_SZ, or as REG_BINARY with its length when a scrambled byte
// is 0 (a REG_SZ would end there and the password would be lost).
void StorePassword(const PolicyStore& store, std::string_view password);
// The value StorePassword writes as "Mode", for a policy file made without a store.
RegValue StoredPasswordValue(std::string_view password);

}  // namespace tarnwick
