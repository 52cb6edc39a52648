// The properties of an account by name that are not restrictions, as the command line shows and
// sets them; the restrictions come from their own table.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "policy/user.h"

namespace tarnwick {

enum class PropertyKind { DriveMask, Text };

struct UserProperty {
  std::string_view name;
  PropertyKind kind;
  // The drive mask.
  int32_t (TUser::*getInteger)() const = nullptr;
  void (TUser::*setInteger)(int32_t) = nullptr;
  // Text properties.
  std::string (TUser::*getText)() const = nullptr;
  void (TUser::*setText)(std::string_view) = nullptr;
};

// In the order they are listed for a user, after the restrictions.
std::span<const UserProperty> UserProperties();
// Letters a to z without regard to case; null when there is no such property.
const UserProperty* FindUserProperty(std::string_view name);

}  // namespace tarnwick
