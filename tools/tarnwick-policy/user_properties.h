// The properties of an account by name, as the command line shows and sets them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "policy/user.h"

namespace tarnwick {

enum class PropertyKind { Flag, DriveMask, Text };

struct UserProperty {
  std::string_view name;
  PropertyKind kind;
  // Integer properties; getInteger is null for a property without a getter (NoSetTaskbar).
  int32_t (TUser::*getInteger)() const = nullptr;
  void (TUser::*setInteger)(int32_t) = nullptr;
  // Text properties.
  std::string (TUser::*getText)() const = nullptr;
  void (TUser::*setText)(std::string_view) = nullptr;
};

// In the order the policies are listed for a user.
std::span<const UserProperty> UserProperties();
// Letters a to z without regard to case; null when there is no such property.
const UserProperty* FindUserProperty(std::string_view name);

}  // namespace tarnwick
