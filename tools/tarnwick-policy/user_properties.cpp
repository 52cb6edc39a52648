#include "user_properties.h"

#include <array>

#include "machine/win_path.h"

namespace tarnwick {

namespace {

constexpr UserProperty Flag(std::string_view name, int32_t (TUser::*get)() const,
                            void (TUser::*set)(int32_t)) {
  return {name, PropertyKind::Flag, get, set, nullptr, nullptr};
}

constexpr UserProperty Text(std::string_view name, std::string (TUser::*get)() const,
                            void (TUser::*set)(std::string_view)) {
  return {name, PropertyKind::Text, nullptr, nullptr, get, set};
}

const std::array kProperties = {
    Flag("NoRun", &TUser::NoRun, &TUser::SetNoRun),
    Flag("NoFind", &TUser::NoFind, &TUser::SetNoFind),
    Flag("NoDesktop", &TUser::NoDesktop, &TUser::SetNoDesktop),
    Flag("NoSetFolders", &TUser::NoSetFolders, &TUser::SetNoSetFolders),
    Flag("NoSetTaskbar", nullptr, &TUser::SetNoSetTaskbar),
    Flag("RestrictRun", &TUser::RestrictRun, &TUser::SetRestrictRun),
    Flag("NoPrinterChanges", &TUser::NoPrinterChanges, &TUser::SetNoPrinterChanges),
    Flag("DisableRegistryTools", &TUser::DisableRegistryTools, &TUser::SetDisableRegistryTools),
    Flag("NoDispSettingsPage", &TUser::NoDispSettingsPage, &TUser::SetNoDispSettingsPage),
    Flag("NoSystemPages", &TUser::NoSystemPages, &TUser::SetNoSystemPages),
    Flag("NoPasswordPages", &TUser::NoPasswordPages, &TUser::SetNoPasswordPages),
    Flag("NoNetSetup", &TUser::NoNetSetup, &TUser::SetNoNetSetup),
    Flag("NoDOS", &TUser::NoDOS, &TUser::SetNoDOS),
    Flag("NoRealMode", &TUser::NoRealMode, &TUser::SetNoRealMode),
    Flag("NoConfigure", &TUser::NoConfigure, &TUser::SetNoConfigure),
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
