// The entries of the policy file besides the accounts: Default User, computers and Default
// Computer, and user groups with their priority list, where Windows 95's policy download looks
// for them below the policy file's key.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"

namespace tarnwick {

class PolicyStore;

// An entry named wrongly (ENTRY text, a missing group or computer). The text says which.
class PolicyEntryError : public Error {
 public:
  using Error::Error;
};

// One entry of the policy file. name ".default" is Default User or Default Computer.
struct PolicyEntry {
  enum class Kind { User, Computer, Group };
  Kind kind = Kind::User;
  std::string name;  // code page 1252

  bool operator==(const PolicyEntry&) const = default;
};

inline constexpr std::string_view kDefaultEntryName = ".default";

// "user:NAME", "user:.default", "computer:NAME", "computer:.default", "group:NAME". Throws
// PolicyEntryError for any other text.
PolicyEntry ParseEntry(std::string_view text);
std::string EntryText(const PolicyEntry& entry);

// The entry's key below HKEY_LOCAL_MACHINE while the file is attached: HIVE\Users\NAME,
// HIVE\Computers\NAME, HIVE\UserGroups\NAME.
std::string EntryKeyPath(const PolicyStore& store, const PolicyEntry& entry);

// Groups, highest priority first, as GroupData\UserGroups\Priority lists them ("1" the highest),
// each name once. Only these are applied at a logon.
std::vector<std::string> Groups(PolicyStore& store);
// Groups with a key below UserGroups but no place in the priority list (a file made elsewhere):
// never applied until SetGroupPriority names them.
std::vector<std::string> GroupsOutsidePriority(PolicyStore& store);
// Adds the group's key and puts it last (lowest) in the priority list. Throws PolicyEntryError
// when a group of that name (letters a to z without regard to case) exists.
void AddGroup(PolicyStore& store, std::string_view name);
// Removes the group's key and its place in the list, the list closed up. Throws when neither is
// there.
void RemoveGroup(PolicyStore& store, std::string_view name);
// Rewrites the priority list, highest first: every listed group once, and any of
// GroupsOutsidePriority. Other values of the Priority key stay.
void SetGroupPriority(PolicyStore& store, const std::vector<std::string>& highestFirst);

// Computers with an entry of their own, without .default, in stored order.
std::vector<std::string> Computers(PolicyStore& store);
// Throws PolicyEntryError for .default, a taken name (adding) or a missing one (removing).
void AddComputer(PolicyStore& store, std::string_view name);
void RemoveComputer(PolicyStore& store, std::string_view name);

}  // namespace tarnwick
