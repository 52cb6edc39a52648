// A policy template (.adm, the template language Windows 95's policy editor reads): the classes,
// categories and policies it offers and the parts of each policy. Names and registry paths are
// code page 1252 as in the template, with [strings] references already resolved.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"

namespace tarnwick {

// A template that cannot be read. The text names the file and the line ("FILE(LINE): ...").
class TemplateError : public Error {
 public:
  using Error::Error;
};

// What a policy, a part or an item writes under a value name: a REG_DWORD, a REG_SZ, or the
// deletion of the value.
struct PolicyValue {
  enum class Kind { Number, Text, Delete };
  Kind kind = Kind::Number;
  uint32_t number = 0;
  std::string text;

  bool operator==(const PolicyValue&) const = default;
};

// One write of an action list. An empty key is the key of the policy or part it belongs to.
struct PolicyAction {
  std::string key;
  std::string valueName;
  PolicyValue value;
};

// An entry of a drop-down list: its name as shown, the value it writes and its action list.
struct PolicyItem {
  std::string name;
  PolicyValue value;
  std::vector<PolicyAction> actions;
};

enum class PartType { CheckBox, Text, EditText, Numeric, ComboBox, DropDownList, ListBox };

// A part of a policy. Which fields count depends on the type.
struct PolicyPart {
  PartType type = PartType::Text;
  std::string name;       // as shown
  std::string key;        // the part's KEYNAME, else the policy's, else the category's
  std::string valueName;  // empty for Text and ListBox

  // CheckBox: VALUEON/VALUEOFF (absent: 1 and 0 as REG_DWORD), DEFCHECKED, ACTIONLISTON/OFF.
  std::optional<PolicyValue> valueOn;
  std::optional<PolicyValue> valueOff;
  bool defaultChecked = false;
  std::vector<PolicyAction> actionsOn;
  std::vector<PolicyAction> actionsOff;

  // EditText and ComboBox.
  std::string defaultText;
  uint32_t maxLength = 0;   // 0: no limit given
  bool expandable = false;  // EXPANDABLETEXT: written as REG_EXPAND_SZ
  bool oemConvert = false;
  std::vector<std::string> suggestions;  // ComboBox SUGGESTIONS

  // EditText, ComboBox, Numeric, DropDownList: REQUIRED.
  bool required = false;

  // Numeric.
  std::optional<uint32_t> defaultNumber;
  uint32_t min = 0;
  uint32_t max = 9999;
  uint32_t spin = 1;
  bool txtConvert = false;  // TXTCONVERT: written as REG_SZ decimal text

  // DropDownList.
  std::vector<PolicyItem> items;
  bool noSort = false;

  // ListBox.
  // VALUEPREFIX: values named prefix1, prefix2, ...; without it each value is named by its data.
  std::optional<std::string> valuePrefix;
  bool additive = false;       // ADDITIVE: no "delete all values" marker before the items
  bool explicitValue = false;  // EXPLICITVALUE: the administrator names each value

  size_t line = 0;
};

struct Policy {
  std::string name;                     // as shown
  std::string key;                      // the policy's KEYNAME, else the category's
  std::string valueName;                // empty when the policy itself writes no value
  std::optional<PolicyValue> valueOn;   // absent: REG_DWORD 1
  std::optional<PolicyValue> valueOff;  // absent: the value is deleted
  std::vector<PolicyAction> actionsOn;
  std::vector<PolicyAction> actionsOff;
  std::vector<PolicyPart> parts;
  std::string file;  // the template it came from
  size_t line = 0;
};

struct PolicyCategory {
  std::string name;  // as shown
  std::string key;
  std::vector<PolicyCategory> categories;
  std::vector<Policy> policies;
};

enum class PolicyClass { Machine, User };

struct PolicyTemplate {
  std::string file;
  std::vector<PolicyCategory> machine;  // CLASS MACHINE
  std::vector<PolicyCategory> user;     // CLASS USER
};

}  // namespace tarnwick
