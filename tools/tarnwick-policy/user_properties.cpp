#include "user_properties.h"

#include <array>

#include "machine/win_path.h"

namespace tarnwick {

namespace {

constexpr UserProperty Text(std::string_view name, std::string (TUser::*get)() const,
                            void (TUser::*set)(std::string_view)) {
  return {name, PropertyKind::Text, nullptr, nullptr, get, set};
}

const std::array kProperties = {
    UserProperty{"NoDrives", PropertyKind::DriveMask, &TUser::NoDrives, &TUser::SetNoDrives,
                 nullptr, nullptr},
    Text("ProgramsFolder", &TUser::ProgramsFolder, &TUser::SetProgramsFolder),
    Text("StartMenuFolder", &TUser::StartMenuFolder, &TUser::SetStartMenuFolder),
    Text("DesktopFolder", &TUser::DesktopFolder, &TUser::SetDesktopFolder),
    Text("FavoritesFolder", &TUser::FavoritesFolder, &TUser::SetFavoritesFolder),
    Text("RecentFolder", &TUser::RecentFolder, &TUser::SetRecentFolder),
    Text("UserIcon", &TUser::UserIcon, &TUser::SetUserIcon),
};

}  // namespace

std::span<const UserProperty> UserProperties() {
  return kProperties;
}

const UserProperty* FindUserProperty(std::string_view name) {
  for (const UserProperty& property : kProperties) {
    if (EqualsIgnoreCase(property.name, name)) return &property;
  }
  return nullptr;
}

}  // namespace tarnwick
