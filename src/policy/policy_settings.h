// A template policy's setting in one entry of the policy file: its state and its parts' values,
// read from and written to the entry's key as Windows 95's policy editor writes them, with the
// policy download's control codes (**del., **delvals., **soft.).
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/error.h"
#include "policy/policy_entries.h"
#include "policy/policy_template.h"

namespace tarnwick {

class PolicyStore;

// A part value out of range, missing where required, or not one of a list's items; nothing has
// been written. The text names the policy and the part.
class PolicyValueError : public Error {
 public:
  using Error::Error;
};

// The policy download's control codes, prefixed to a value name. A marker value's data is a
// REG_SZ " ".
inline constexpr std::string_view kDelCode = "**del.";          // delete the value NAME
inline constexpr std::string_view kDelValsCode = "**delvals.";  // delete all values first
inline constexpr std::string_view kSoftCode = "**soft.";        // write NAME only when absent

enum class PolicyState { On, Off, Unset };

// A part's value, by type: CheckBox "1" or "0"; EditText, ComboBox the text; Numeric decimal
// digits; DropDownList the item's name as shown. ListBox: entries, each a value name and data
// (the value name empty unless the part has EXPLICITVALUE).
struct PartValue {
  std::string text;
  std::vector<std::pair<std::string, std::string>> list;

  bool operator==(const PartValue&) const = default;
};

// By part name as shown.
using PartValues = std::map<std::string, PartValue>;

struct PolicySetting {
  PolicyState state = PolicyState::Unset;
  PartValues parts;  // for On; parts without a stored value hold their defaults
};

// Reads the policy's setting in the entry. A policy with a value: On when it holds VALUEON, Off
// when it holds VALUEOFF, the deletion marker or any other data (a page writes 0 where the on
// value is 1), Unset when neither value nor marker is there. A policy of parts only: On when a
// part's value or the action list ON is stored, Off when only markers or ACTIONLISTOFF are.
// For On, every part's value (its default where none is stored) except Text parts'.
PolicySetting ReadPolicySetting(PolicyStore& store, const PolicyEntry& entry, const Policy& policy);

// Writes the setting, first removing everything the policy, its parts and action lists could
// have written (values and their markers; a list part's key is emptied of values).
// On: the policy's value and ACTIONLISTON, each part's value (CheckBox VALUEON/VALUEOFF with its
// action list, EditText/ComboBox REG_SZ or REG_EXPAND_SZ, Numeric REG_DWORD or with TXTCONVERT
// REG_SZ decimal text, DropDownList its item's value and action list, ListBox "**delvals."
// unless ADDITIVE then its entries named PREFIX1, PREFIX2, ... or, with EXPLICITVALUE, as given).
// A part without a given value takes its default; an empty optional Numeric or DropDownList is
// deleted by marker. Off: VALUEOFF, else the value's "**del." marker, ACTIONLISTOFF, each part's
// "**del." marker, a list part's "**delvals.". Unset: nothing more.
// Every part value and every write is checked first (range, REQUIRED, MAXLEN, items, control
// characters, the registry's limits): PolicyValueError naming the policy and the part, and
// nothing is written. All writes are one write batch.
void WritePolicySetting(PolicyStore& store, const PolicyEntry& entry, const Policy& policy,
                        const PolicySetting& setting);

}  // namespace tarnwick
