// A template policy's setting in one entry of the policy file: its state and its parts' values,
// read from and written to the entry's key as Windows 95's policy editor writes them, with the
// policy download's control codes (**del., **delvals., **soft.).
#pragma once

#include <map>
#include <string>
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

// Reads the policy's setting in the entry: On when its value holds VALUEON (or, for a policy
// with parts only, when its parts' values are present), Off when it holds VALUEOFF or the
// deletion marker, Unset when nothing of it is there.
PolicySetting ReadPolicySetting(PolicyStore& store, const PolicyEntry& entry, const Policy& policy);

// Writes the setting: On writes the policy's values, its action list and its parts' values
// (a list part first "**delvals." unless ADDITIVE); Off writes the off values or deletion
// markers; Unset removes everything the policy would write from the entry. Every part value is
// checked first: PolicyValueError, nothing written.
void WritePolicySetting(PolicyStore& store, const PolicyEntry& entry, const Policy& policy,
                        const PolicySetting& setting);

}  // namespace tarnwick
