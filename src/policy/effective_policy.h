// What Windows 95's policy download applies at one logon: the computer's entry (or Default
// Computer) merged into HKEY_LOCAL_MACHINE, then the user's entry, or else the user's groups from
// the lowest priority to the highest, or else Default User, merged into HKEY_CURRENT_USER, with
// the control codes evaluated against the machine's current values.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "base/error.h"
#include "policy/policy_entries.h"
#include "registry/reg_tree.h"
#include "registry/registry.h"

namespace tarnwick {

class PolicyStore;

// A logon that cannot be worked out or applied: no such user's profile, a registry file that
// cannot be read. The text says which.
class LogonError : public Error {
 public:
  using Error::Error;
};

struct LogonRequest {
  std::string user;
  std::vector<std::string> groups;  // the groups the user belongs to, any order
  std::string computer;             // empty: a computer without an entry of its own
};

// One change of the logon, in the order the download makes it.
struct LogonChange {
  enum class Kind { Set, Delete };
  Kind kind = Kind::Set;
  RootKey root = RootKey::CurrentUser;  // LocalMachine or CurrentUser
  std::string key;                      // below the root
  RegValue value;                       // Delete: the name only
};

struct EffectivePolicy {
  std::vector<PolicyEntry> applied;  // the entries merged, in order
  std::vector<LogonChange> changes;
};

// The logon's changes. The current values are SYSTEM.DAT's for HKEY_LOCAL_MACHINE and, for
// HKEY_CURRENT_USER, the user's profile user.dat (ProfileList's ProfileImagePath), or the
// machine's default user (HKEY_USERS\.DEFAULT, which a new profile copies) when there is none.
// In each key of an entry "**delvals." comes first and deletes every value the key holds at that
// moment; "**del.NAME" deletes NAME; "**soft.NAME" writes NAME only when the key lacks it; a value
// or key with another "**" code is skipped, with everything below such a key. The store must be
// loaded. Throws LogonError for an empty user name or one of .default, a name holding "\" or a
// control character, and when the user's user.dat cannot be read.
EffectivePolicy EffectivePolicyOf(PolicyStore& store, const LogonRequest& request);

// REGEDIT4 text: the header, then for each run of changes to one key a "[ROOT\key]" line
// (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER) and its lines, "name"=data or "name"=- for a
// deletion, in order. A key may come more than once. Throws Regedit4Error for a name holding a
// line break or zero, before writing anything.
void WriteEffectiveRegedit4(const EffectivePolicy& effective, std::ostream& out);

// Makes the logon's changes in the user's profile user.dat and in SYSTEM.DAT, as one commit of
// both files, for a machine whose own policy download is off. Returns what was applied. Throws
// LogonError, changing nothing, when the user has no profile or its user.dat cannot be attached,
// and when a change would land in the policy file's own key.
EffectivePolicy ApplyLogon(PolicyStore& store, const LogonRequest& request);

}  // namespace tarnwick
