// The restriction flags of an account: where each is stored, the values it writes, the
// restriction set alongside it and the restrictions its setter sets too.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace tarnwick {

class TUser;

enum class RestrictionId {
  NoRun,
  NoFind,
  NoDesktop,
  NoSetFolders,
  NoSetTaskbar,
  RestrictRun,
  NoPrinterChanges,
  DisableRegistryTools,
  NoDispSettingsPage,
  NoSystemPages,
  NoPasswordPages,
  NoNetSetup,
  NoDOS,
  NoRealMode,
  NoConfigure,
};

struct RestrictionInfo {
  RestrictionId id;
  std::string_view name;  // the property's name, as the command line takes it
  std::string_view key;   // below the user's key
  // REG_DWORD values written with the same 0 or 1, in this order; the first is the one read.
  std::span<const std::string_view> valueNames;
  // False for a restriction that is only ever set alongside another one: not listed on its own.
  bool shown = true;
  // Set to the same value wherever a person turns this restriction on or off.
  std::optional<RestrictionId> companion = std::nullopt;
  // Set to the same value by this restriction's setter, after its own values, in this order.
  std::span<const RestrictionId> cascade = {};
};

// Every restriction, in the order an account's policies are listed.
std::span<const RestrictionInfo> Restrictions();
const RestrictionInfo& GetRestriction(RestrictionId id);
// Letters a to z without regard to case; null when no restriction has that name.
const RestrictionInfo* FindRestriction(std::string_view name);

struct RestrictionSetting {
  RestrictionId id;
  bool on;
};

// Sets each restriction, followed by its companion, in the order given.
void ApplyRestrictions(TUser& user, std::span<const RestrictionSetting> settings);

}  // namespace tarnwick
