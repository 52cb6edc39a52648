#include "policy/policy_settings.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

#include "base/cp1252.h"
#include "base/text.h"
#include "policy/policy_store.h"
#include "registry/registry.h"
#include "registry/registry_limits.h"

namespace tarnwick {

namespace {

// A marker's data, as a blank text.
const std::vector<uint8_t> kMarkerData{' '};

std::string Utf8(std::string_view ansi) {
  return "\"" + Cp1252ToUtf8(ansi) + "\"";
}

std::vector<uint8_t> DwordData(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

std::vector<uint8_t> TextData(std::string_view text) {
  return {text.begin(), text.end()};
}

// The key of a policy, part or action below the entry's key.
std::string JoinKey(const std::string& entryKey, std::string_view relative) {
  if (relative.empty()) return entryKey;
  return entryKey + "\\" + std::string(relative);
}

// The changes one write makes to the entry, in order; checked whole before any is made.
class Plan {
 public:
  explicit Plan(std::string entryKey) : entryKey_(std::move(entryKey)) {}

  std::string Key(std::string_view relative) const { return JoinKey(entryKey_, relative); }

  // Writes the value, dropping the markers of its name.
  void Set(const std::string& key, std::string_view name, uint32_t type,
           std::vector<uint8_t> data) {
    Drop(key, std::string(kDelCode) + std::string(name));
    Drop(key, std::string(kSoftCode) + std::string(name));
    ops_.push_back({Op::Kind::Set, key, std::string(name), type, std::move(data)});
  }
  void Set(const std::string& key, std::string_view name, const PolicyValue& value) {
    switch (value.kind) {
      case PolicyValue::Kind::Number:
        Set(key, name, kRegDword, DwordData(value.number));
        break;
      case PolicyValue::Kind::Text:
        Set(key, name, kRegSz, TextData(value.text));
        break;
      case PolicyValue::Kind::Delete:
        MarkDeleted(key, name);
        break;
    }
  }
  // The value goes, and "**del." tells the download to delete it.
  void MarkDeleted(const std::string& key, std::string_view name) {
    Remove(key, name);
    ops_.push_back(
        {Op::Kind::Set, key, std::string(kDelCode) + std::string(name), kRegSz, kMarkerData});
  }
  // The value and its markers go.
  void Remove(const std::string& key, std::string_view name) {
    Drop(key, std::string(name));
    Drop(key, std::string(kDelCode) + std::string(name));
    Drop(key, std::string(kSoftCode) + std::string(name));
  }
  void ClearValues(const std::string& key) { ops_.push_back({Op::Kind::Clear, key, {}, 0, {}}); }
  void Actions(const std::string& ownKey, const std::vector<PolicyAction>& actions) {
    for (const PolicyAction& action : actions) {
      Set(action.key.empty() ? ownKey : Key(action.key), action.valueName, action.value);
    }
  }
  void RemoveActions(const std::string& ownKey, const std::vector<PolicyAction>& actions) {
    for (const PolicyAction& action : actions) {
      Remove(action.key.empty() ? ownKey : Key(action.key), action.valueName);
    }
  }

  // Checks every write against the registry's limits on a copy of each key, then makes them all
  // in one write batch.
  void Apply(PolicyStore& store, const std::string& policyName) const {
    std::vector<std::pair<std::string, RegNode>> copies;
    RegistryAccessor reg(store.GetRegistry());
    reg.SetRootKey(RootKey::LocalMachine);
    for (const Op& op : ops_) {
      auto it = std::find_if(copies.begin(), copies.end(),
                             [&](const auto& c) { return EqualsIgnoreCase(c.first, op.key); });
      if (it == copies.end()) {
        RegNode copy;
        if (reg.OpenKey(op.key, false)) {
          for (const std::string& name : reg.GetValueNames()) {
            if (std::optional<RegValue> value = reg.ReadValue(name)) {
              copy.values.push_back(std::move(*value));
            }
          }
        }
        copies.emplace_back(op.key, std::move(copy));
        it = copies.end() - 1;
      }
      RegNode& copy = it->second;
      switch (op.kind) {
        case Op::Kind::Set: {
          const std::string misfit = ValueMisfit(copy, op.name, op.type, op.data.size());
          if (!misfit.empty()) throw PolicyValueError(Utf8(policyName) + ": " + misfit);
          copy.SetValue(op.name, op.type, op.data);
          break;
        }
        case Op::Kind::Drop:
          copy.RemoveValue(op.name);
          break;
        case Op::Kind::Clear:
          copy.values.clear();
          break;
      }
    }
    reg.CloseKey();

    RegistryWriteBatch batch(store.GetRegistry());
    for (const Op& op : ops_) {
      if (op.kind == Op::Kind::Set) {
        reg.OpenKey(op.key, true);
        reg.WriteValue(op.name, op.type, op.data);
      } else if (reg.OpenKey(op.key, false)) {
        if (op.kind == Op::Kind::Drop) {
          reg.DeleteValue(op.name);
        } else {
          for (const std::string& name : reg.GetValueNames()) reg.DeleteValue(name);
        }
      }
    }
    reg.CloseKey();
    batch.Finish();
  }

 private:
  struct Op {
    enum class Kind { Set, Drop, Clear };
    Kind kind;
    std::string key;
    std::string name;
    uint32_t type;
    std::vector<uint8_t> data;
  };

  void Drop(const std::string& key, std::string name) {
    ops_.push_back({Op::Kind::Drop, key, std::move(name), 0, {}});
  }

  std::string entryKey_;
  std::vector<Op> ops_;
};

PolicyValue DefaultOn(const std::optional<PolicyValue>& on) {
  return on.value_or(PolicyValue{PolicyValue::Kind::Number, 1, {}});
}
PolicyValue DefaultOff(const std::optional<PolicyValue>& off) {
  return off.value_or(PolicyValue{PolicyValue::Kind::Number, 0, {}});
}

// Parts by their names as shown; a value for a name no part has is refused.
const PartValue* GivenValue(const PolicySetting& setting, const PolicyPart& part) {
  const auto it = setting.parts.find(part.name);
  return it == setting.parts.end() ? nullptr : &it->second;
}

void CheckPartNames(const Policy& policy, const PolicySetting& setting) {
  for (const auto& given : setting.parts) {
    const std::string& name = given.first;
    const bool known = std::any_of(policy.parts.begin(), policy.parts.end(),
                                   [&](const PolicyPart& p) { return p.name == name; });
    if (!known) {
      throw PolicyValueError(Utf8(policy.name) + " has no part " + Utf8(name));
    }
  }
}

[[noreturn]] void Refuse(const Policy& policy, const PolicyPart& part, const std::string& why) {
  throw PolicyValueError(Utf8(policy.name) + ", " + Utf8(part.name) + ": " + why);
}

void CheckText(const Policy& policy, const PolicyPart& part, std::string_view text) {
  if (FindControlCharacter(text) != std::string_view::npos) {
    Refuse(policy, part, "the text cannot hold a control character such as a line break");
  }
}

// Decimal digits within the part's range; empty when not given.
std::optional<uint32_t> ParseNumber(const Policy& policy, const PolicyPart& part,
                                    std::string_view text) {
  if (text.empty()) return std::nullopt;
  uint32_t number = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, number);
  if (ec != std::errc() || ptr != end || !std::isdigit(static_cast<unsigned char>(text[0]))) {
    Refuse(policy, part, Utf8(text) + " is not a whole number");
  }
  if (number < part.min || number > part.max) {
    Refuse(policy, part,
           "the number must be from " + std::to_string(part.min) + " to " +
               std::to_string(part.max) + ", not " + std::string(text));
  }
  return number;
}

// The value names and data a list part writes, in order.
std::vector<std::pair<std::string, std::string>> ListValues(const Policy& policy,
                                                            const PolicyPart& part,
                                                            const PartValue* given) {
  std::vector<std::pair<std::string, std::string>> values;
  if (given == nullptr) return values;
  for (const auto& [name, data] : given->list) {
    CheckText(policy, part, data);
    std::string valueName;
    if (part.explicitValue) {
      if (name.empty()) Refuse(policy, part, "every entry of the list needs a value name");
      if (name.starts_with("**")) Refuse(policy, part, "a value name cannot begin with **");
      if (!IsValidValueName(name) || FindControlCharacter(name) != std::string::npos) {
        Refuse(policy, part, Utf8(name) + " cannot be a value name");
      }
      for (const auto& [earlier, unused] : values) {
        if (EqualsIgnoreCase(earlier, name)) Refuse(policy, part, Utf8(name) + " is named twice");
      }
      valueName = name;
    } else if (part.valuePrefix) {
      valueName = *part.valuePrefix + std::to_string(values.size() + 1);
    } else {
      if (data.empty() || data.starts_with("**") || !IsValidValueName(data)) {
        Refuse(policy, part, Utf8(data) + " cannot name its own value");
      }
      for (const auto& [earlier, unused] : values) {
        if (EqualsIgnoreCase(earlier, data)) Refuse(policy, part, Utf8(data) + " is listed twice");
      }
      valueName = data;
    }
    values.emplace_back(std::move(valueName), data);
  }
  return values;
}

// The part's writes for a policy that is on.
void PlanPartOn(const Policy& policy, const PolicyPart& part, const PartValue* given, Plan& plan) {
  const std::string key = plan.Key(part.key);
  switch (part.type) {
    case PartType::Text:
      return;
    case PartType::CheckBox: {
      bool checked = part.defaultChecked;
      if (given != nullptr) {
        if (given->text != "1" && given->text != "0") {
          Refuse(policy, part, "a check box is 1 (checked) or 0, not " + Utf8(given->text));
        }
        checked = given->text == "1";
      }
      if (checked) {
        plan.Set(key, part.valueName, DefaultOn(part.valueOn));
        plan.Actions(key, part.actionsOn);
      } else {
        plan.Set(key, part.valueName, DefaultOff(part.valueOff));
        plan.Actions(key, part.actionsOff);
      }
      return;
    }
    case PartType::EditText:
    case PartType::ComboBox: {
      const std::string text = given != nullptr ? given->text : part.defaultText;
      CheckText(policy, part, text);
      if (text.empty() && part.required) Refuse(policy, part, "a text is required");
      if (part.maxLength != 0 && text.size() > part.maxLength) {
        Refuse(policy, part,
               "the text is longer than " + std::to_string(part.maxLength) + " characters");
      }
      plan.Set(key, part.valueName, part.expandable ? kRegExpandSz : kRegSz, TextData(text));
      return;
    }
    case PartType::Numeric: {
      std::optional<uint32_t> number =
          given != nullptr ? ParseNumber(policy, part, given->text) : part.defaultNumber;
      if (!number) {
        if (part.required) Refuse(policy, part, "a number is required");
        plan.MarkDeleted(key, part.valueName);
        return;
      }
      if (part.txtConvert) {
        plan.Set(key, part.valueName, kRegSz, TextData(std::to_string(*number)));
      } else {
        plan.Set(key, part.valueName, kRegDword, DwordData(*number));
      }
      return;
    }
    case PartType::DropDownList: {
      const std::string name = given != nullptr ? given->text : std::string();
      if (name.empty()) {
        if (part.required) Refuse(policy, part, "a choice is required");
        plan.MarkDeleted(key, part.valueName);
        return;
      }
      const auto item = std::find_if(part.items.begin(), part.items.end(),
                                     [&](const PolicyItem& i) { return i.name == name; });
      if (item == part.items.end()) Refuse(policy, part, Utf8(name) + " is not one of the choices");
      plan.Set(key, part.valueName, item->value);
      plan.Actions(key, item->actions);
      return;
    }
    case PartType::ListBox: {
      const auto values = ListValues(policy, part, given);
      plan.ClearValues(key);
      if (!part.additive) {
        plan.Set(key, kDelValsCode, kRegSz, kMarkerData);
      }
      for (const auto& [name, data] : values) {
        plan.Set(key, name, part.expandable ? kRegExpandSz : kRegSz, TextData(data));
      }
      return;
    }
  }
}

void PlanPartOff(const PolicyPart& part, Plan& plan) {
  const std::string key = plan.Key(part.key);
  switch (part.type) {
    case PartType::Text:
      return;
    case PartType::ListBox:
      plan.ClearValues(key);
      plan.Set(key, kDelValsCode, kRegSz, kMarkerData);
      return;
    default:
      plan.MarkDeleted(key, part.valueName);
      return;
  }
}

void PlanPartUnset(const PolicyPart& part, Plan& plan) {
  const std::string key = plan.Key(part.key);
  switch (part.type) {
    case PartType::Text:
      return;
    case PartType::ListBox:
      plan.ClearValues(key);
      return;
    default:
      plan.Remove(key, part.valueName);
      plan.RemoveActions(key, part.actionsOn);
      plan.RemoveActions(key, part.actionsOff);
      for (const PolicyItem& item : part.items) plan.RemoveActions(key, item.actions);
      return;
  }
}

// Reads values of the entry's keys.
class EntryReader {
 public:
  EntryReader(PolicyStore& store, std::string entryKey)
      : reg_(store.GetRegistry()), entryKey_(std::move(entryKey)) {
    reg_.SetRootKey(RootKey::LocalMachine);
  }

  std::string Key(std::string_view relative) const { return JoinKey(entryKey_, relative); }

  std::optional<RegValue> Value(const std::string& key, std::string_view name) {
    if (!Open(key)) return std::nullopt;
    return reg_.ReadValue(name);
  }
  std::vector<RegValue> Values(const std::string& key) {
    std::vector<RegValue> values;
    if (!Open(key)) return values;
    for (const std::string& name : reg_.GetValueNames()) {
      if (std::optional<RegValue> value = reg_.ReadValue(name)) values.push_back(*value);
    }
    return values;
  }

  // What is stored for the name: its value, a deletion for the "**del." marker, or nothing.
  std::optional<PolicyValue> Stored(const std::string& key, std::string_view name) {
    if (const std::optional<RegValue> value = Value(key, name)) return Decode(*value);
    if (Value(key, std::string(kDelCode) + std::string(name))) {
      return PolicyValue{PolicyValue::Kind::Delete, 0, {}};
    }
    return std::nullopt;
  }

  static std::optional<PolicyValue> Decode(const RegValue& value) {
    if (value.type == kRegDword && value.data.size() == 4) {
      return PolicyValue{PolicyValue::Kind::Number,
                         static_cast<uint32_t>(value.data[0] | value.data[1] << 8 |
                                               value.data[2] << 16 | value.data[3] << 24),
                         {}};
    }
    if (value.type == kRegSz || value.type == kRegExpandSz) {
      std::string text(value.data.begin(), value.data.end());
      text.resize(std::min(text.size(), text.find('\0')));
      return PolicyValue{PolicyValue::Kind::Text, 0, std::move(text)};
    }
    return std::nullopt;
  }

 private:
  bool Open(const std::string& key) {
    if (key != open_) {
      opened_ = reg_.OpenKey(key, false);
      open_ = key;
    }
    return opened_;
  }

  RegistryAccessor reg_;
  std::string entryKey_;
  std::string open_;
  bool opened_ = false;
};

bool IsControlCode(std::string_view name) {
  return name.starts_with("**");
}

// The part's value as stored, or its default.
std::optional<PartValue> ReadPart(EntryReader& reader, const PolicyPart& part) {
  const std::string key = reader.Key(part.key);
  PartValue value;
  switch (part.type) {
    case PartType::Text:
      return std::nullopt;
    case PartType::CheckBox: {
      const std::optional<PolicyValue> stored = reader.Stored(key, part.valueName);
      if (!stored) {
        value.text = part.defaultChecked ? "1" : "0";
        return value;
      }
      value.text = *stored == DefaultOn(part.valueOn) ? "1" : "0";
      return value;
    }
    case PartType::EditText:
    case PartType::ComboBox: {
      const std::optional<PolicyValue> stored = reader.Stored(key, part.valueName);
      value.text =
          stored && stored->kind == PolicyValue::Kind::Text ? stored->text : part.defaultText;
      return value;
    }
    case PartType::Numeric: {
      const std::optional<PolicyValue> stored = reader.Stored(key, part.valueName);
      if (stored && stored->kind == PolicyValue::Kind::Number) {
        value.text = std::to_string(stored->number);
      } else if (stored && stored->kind == PolicyValue::Kind::Text) {
        value.text = stored->text;
      } else if (part.defaultNumber) {
        value.text = std::to_string(*part.defaultNumber);
      }
      return value;
    }
    case PartType::DropDownList: {
      const std::optional<PolicyValue> stored = reader.Stored(key, part.valueName);
      for (const PolicyItem& item : part.items) {
        if (stored && *stored == item.value) {
          value.text = item.name;
          break;
        }
      }
      return value;
    }
    case PartType::ListBox: {
      std::vector<std::pair<unsigned, std::string>> numbered;
      for (const RegValue& stored : reader.Values(key)) {
        if (IsControlCode(stored.name)) continue;
        const std::optional<PolicyValue> text = EntryReader::Decode(stored);
        if (!text || text->kind != PolicyValue::Kind::Text) continue;
        if (part.explicitValue) {
          value.list.emplace_back(stored.name, text->text);
          continue;
        }
        if (!part.valuePrefix) {
          value.list.emplace_back(std::string(), text->text);
          continue;
        }
        // Numbered values in number order, as they were written.
        const std::string_view name = stored.name;
        const std::string& prefix = *part.valuePrefix;
        if (!EqualsIgnoreCase(name.substr(0, prefix.size()), prefix)) continue;
        const std::string_view digits = name.substr(prefix.size());
        unsigned number = 0;
        const auto [ptr, ec] =
            std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (ec != std::errc() || ptr != digits.data() + digits.size()) continue;
        numbered.emplace_back(number, text->text);
      }
      std::stable_sort(numbered.begin(), numbered.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      for (auto& [number, text] : numbered) value.list.emplace_back(std::string(), std::move(text));
      return value;
    }
  }
  return std::nullopt;
}

// Whether the part has a value of its own stored (not a marker).
bool PartStored(EntryReader& reader, const PolicyPart& part) {
  const std::string key = reader.Key(part.key);
  switch (part.type) {
    case PartType::Text:
      return false;
    case PartType::ListBox: {
      const std::vector<RegValue> values = reader.Values(key);
      return std::any_of(values.begin(), values.end(),
                         [](const RegValue& v) { return !IsControlCode(v.name); });
    }
    default:
      return reader.Value(key, part.valueName).has_value();
  }
}

bool PartMarked(EntryReader& reader, const PolicyPart& part) {
  const std::string key = reader.Key(part.key);
  switch (part.type) {
    case PartType::Text:
      return false;
    case PartType::ListBox:
      return reader.Value(key, kDelValsCode).has_value();
    default:
      return reader.Value(key, std::string(kDelCode) + part.valueName).has_value();
  }
}

bool ActionsStored(EntryReader& reader, const std::string& ownKey,
                   const std::vector<PolicyAction>& actions) {
  if (actions.empty()) return false;
  return std::all_of(actions.begin(), actions.end(), [&](const PolicyAction& action) {
    const std::string key = action.key.empty() ? ownKey : reader.Key(action.key);
    return reader.Stored(key, action.valueName) == action.value;
  });
}

PolicyState ReadState(EntryReader& reader, const Policy& policy) {
  const std::string key = reader.Key(policy.key);
  if (!policy.valueName.empty()) {
    const std::optional<PolicyValue> stored = reader.Stored(key, policy.valueName);
    if (!stored) {
      // A value of a type the policy never writes is not its setting either way: off.
      return reader.Value(key, policy.valueName) ? PolicyState::Off : PolicyState::Unset;
    }
    if (*stored == DefaultOn(policy.valueOn)) return PolicyState::On;
    // The off value, the deletion marker, or data the policy does not write (such as the 0 a
    // page writes for a restriction switched off).
    return PolicyState::Off;
  }
  if (std::any_of(policy.parts.begin(), policy.parts.end(),
                  [&](const PolicyPart& part) { return PartStored(reader, part); }) ||
      ActionsStored(reader, key, policy.actionsOn)) {
    return PolicyState::On;
  }
  if (std::any_of(policy.parts.begin(), policy.parts.end(),
                  [&](const PolicyPart& part) { return PartMarked(reader, part); }) ||
      ActionsStored(reader, key, policy.actionsOff)) {
    return PolicyState::Off;
  }
  return PolicyState::Unset;
}

}  // namespace

PolicySetting ReadPolicySetting(PolicyStore& store, const PolicyEntry& entry,
                                const Policy& policy) {
  EntryReader reader(store, EntryKeyPath(store, entry));
  PolicySetting setting;
  setting.state = ReadState(reader, policy);
  if (setting.state != PolicyState::On) return setting;
  for (const PolicyPart& part : policy.parts) {
    if (std::optional<PartValue> value = ReadPart(reader, part)) {
      setting.parts.emplace(part.name, std::move(*value));
    }
  }
  return setting;
}

void WritePolicySetting(PolicyStore& store, const PolicyEntry& entry, const Policy& policy,
                        const PolicySetting& setting) {
  Plan plan(EntryKeyPath(store, entry));
  const std::string key = plan.Key(policy.key);
  // Whatever the state, nothing of an earlier setting is left behind.
  if (!policy.valueName.empty()) plan.Remove(key, policy.valueName);
  plan.RemoveActions(key, policy.actionsOn);
  plan.RemoveActions(key, policy.actionsOff);
  for (const PolicyPart& part : policy.parts) PlanPartUnset(part, plan);

  switch (setting.state) {
    case PolicyState::Unset:
      break;
    case PolicyState::On:
      CheckPartNames(policy, setting);
      if (!policy.valueName.empty()) plan.Set(key, policy.valueName, DefaultOn(policy.valueOn));
      plan.Actions(key, policy.actionsOn);
      for (const PolicyPart& part : policy.parts) {
        PlanPartOn(policy, part, GivenValue(setting, part), plan);
      }
      break;
    case PolicyState::Off:
      if (!policy.valueName.empty()) {
        if (policy.valueOff) {
          plan.Set(key, policy.valueName, *policy.valueOff);
        } else {
          plan.MarkDeleted(key, policy.valueName);
        }
      }
      plan.Actions(key, policy.actionsOff);
      for (const PolicyPart& part : policy.parts) PlanPartOff(part, plan);
      break;
  }
  plan.Apply(store, policy.name);
}

}  // namespace tarnwick
