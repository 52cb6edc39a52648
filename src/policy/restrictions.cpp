#include "policy/restrictions.h"

#include <array>

#include "base/text.h"
#include "policy/policy_keys.h"
#include "policy/user.h"

namespace tarnwick {

namespace {

using Id = RestrictionId;
using Names = std::string_view[];

constexpr Names kNoRun = {"NoRun"};
constexpr Names kNoFind = {"NoFind"};
constexpr Names kNoDesktop = {"NoDesktop"};
constexpr Names kNoSetFolders = {"NoSetFolders"};
constexpr Names kNoSetTaskbar = {"NoSetTaskbar"};
constexpr Names kRestrictRun = {"RestrictRun"};
constexpr Names kNoPrinterChanges = {"NoAddPrinter", "NoDeletePrinter"};
constexpr Names kDisableRegistryTools = {"DisableRegistryTools"};
constexpr Names kNoDispSettingsPage = {"NoDispSettingsPage"};
constexpr Names kNoSystemPages = {"NoDevMgrPage", "NoFileSysPage", "NoVirtMemPage"};
constexpr Names kNoPasswordPages = {"NoProfilePage", "NoAdminPage"};
constexpr Names kNoNetSetup = {"NoNetSetup"};
constexpr Names kNoDOS = {"Disabled"};
constexpr Names kNoRealMode = {"NoRealMode"};
constexpr Names kNoConfigure = {"NoConfigure"};

// The Control Panel restrictions, which NoConfigure switches as a group.
constexpr RestrictionId kControlPanel[] = {Id::NoDispSettingsPage, Id::NoPrinterChanges,
                                           Id::NoSystemPages, Id::NoNetSetup, Id::NoPasswordPages};

// Indexed by RestrictionId.
constexpr std::array<RestrictionInfo, 15> kRestrictions = {{
    {Id::NoRun, "NoRun", kExplorerKey, kNoRun},
    {Id::NoFind, "NoFind", kExplorerKey, kNoFind},
    {Id::NoDesktop, "NoDesktop", kExplorerKey, kNoDesktop},
    {Id::NoSetFolders, "NoSetFolders", kExplorerKey, kNoSetFolders, true, Id::NoSetTaskbar},
    {Id::NoSetTaskbar, "NoSetTaskbar", kExplorerKey, kNoSetTaskbar, false},
    {Id::RestrictRun, "RestrictRun", kExplorerKey, kRestrictRun},
    {Id::NoPrinterChanges, "NoPrinterChanges", kExplorerKey, kNoPrinterChanges},
    {Id::DisableRegistryTools, "DisableRegistryTools", kSystemKey, kDisableRegistryTools},
    {Id::NoDispSettingsPage, "NoDispSettingsPage", kSystemKey, kNoDispSettingsPage},
    {Id::NoSystemPages, "NoSystemPages", kSystemKey, kNoSystemPages},
    {Id::NoPasswordPages, "NoPasswordPages", kSystemKey, kNoPasswordPages},
    {Id::NoNetSetup, "NoNetSetup", kNetworkKey, kNoNetSetup},
    {Id::NoDOS, "NoDOS", kWinOldAppKey, kNoDOS},
    {Id::NoRealMode, "NoRealMode", kWinOldAppKey, kNoRealMode},
    {Id::NoConfigure, "NoConfigure", kPreferencesKey, kNoConfigure, true, std::nullopt,
     kControlPanel},
}};

constexpr bool IndexedById() {
  for (size_t i = 0; i < kRestrictions.size(); ++i) {
    if (static_cast<size_t>(kRestrictions[i].id) != i) return false;
  }
  return true;
}
static_assert(IndexedById());

}  // namespace

std::span<const RestrictionInfo> Restrictions() {
  return kRestrictions;
}

const RestrictionInfo& GetRestriction(RestrictionId id) {
  return kRestrictions[static_cast<size_t>(id)];
}

const RestrictionInfo* FindRestriction(std::string_view name) {
  for (const RestrictionInfo& restriction : kRestrictions) {
    if (EqualsIgnoreCase(restriction.name, name)) return &restriction;
  }
  return nullptr;
}

void ApplyRestrictions(TUser& user, std::span<const RestrictionSetting> settings) {
  for (const RestrictionSetting& setting : settings) {
    const int32_t v = setting.on ? 1 : 0;
    user.SetRestriction(setting.id, v);
    if (const auto companion = GetRestriction(setting.id).companion) {
      user.SetRestriction(*companion, v);
    }
  }
}

}  // namespace tarnwick
