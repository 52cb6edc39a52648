#include "entry_commands.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <set>
#include <string_view>

#include "base/cp1252.h"
#include "base/text.h"
#include "commands.h"
#include "policy/effective_policy.h"
#include "policy/policy_entries.h"
#include "policy/policy_settings.h"
#include "policy/policy_store.h"
#include "policy/policy_templates.h"
#include "policy/users.h"

namespace tarnwick {

namespace {

const std::set<std::string, std::less<>>& EntryCommands() {
  static const std::set<std::string, std::less<>> commands = {
      "policies",       "policy",       "groups",          "add-group", "remove-group",
      "group-priority", "add-computer", "remove-computer", "effective", "apply-logon"};
  return commands;
}

std::string Quoted(std::string_view text) {
  return "\"" + Cp1252ToUtf8(text) + "\"";
}

PolicyEntry ParseEntryArgument(const std::string& text) {
  try {
    return ParseEntry(text);
  } catch (const PolicyEntryError& e) {
    throw UsageError(e.what());
  }
}

std::optional<PolicyState> ParseState(std::string_view text) {
  if (text == "on") return PolicyState::On;
  if (text == "off") return PolicyState::Off;
  if (text == "unset") return PolicyState::Unset;
  return std::nullopt;
}

std::string_view StateText(PolicyState state) {
  switch (state) {
    case PolicyState::On:
      return "on";
    case PolicyState::Off:
      return "off";
    case PolicyState::Unset:
      break;
  }
  return "unset";
}

// The name as stored among names, letters a to z without regard to case, or nothing.
std::optional<std::string> FindName(const std::vector<std::string>& names, std::string_view name) {
  const auto it = std::find_if(names.begin(), names.end(), [&](const std::string& each) {
    return EqualsIgnoreCase(each, name);
  });
  if (it == names.end()) return std::nullopt;
  return *it;
}

// The entry as ENTRY names it, its name as stored. A user is an account, a group or a computer
// one the file has; Default User and Default Computer always exist.
PolicyEntry ExistingEntry(PolicyStore& store, const std::string& text) {
  PolicyEntry entry = ParseEntry(text);
  if (entry.kind != PolicyEntry::Kind::Group && EqualsIgnoreCase(entry.name, kDefaultEntryName)) {
    entry.name = kDefaultEntryName;
    return entry;
  }
  switch (entry.kind) {
    case PolicyEntry::Kind::User: {
      const TUsers users(store);
      const TUser* user = users.FindUser(entry.name);
      if (user == nullptr) throw Error("There is no user named " + Cp1252ToUtf8(entry.name));
      entry.name = user->Name();
      break;
    }
    case PolicyEntry::Kind::Group: {
      std::vector<std::string> groups = Groups(store);
      std::ranges::copy(GroupsOutsidePriority(store), std::back_inserter(groups));
      const std::optional<std::string> group = FindName(groups, entry.name);
      if (!group) throw Error("There is no group named " + Cp1252ToUtf8(entry.name));
      entry.name = *group;
      break;
    }
    case PolicyEntry::Kind::Computer: {
      const std::optional<std::string> computer = FindName(Computers(store), entry.name);
      if (!computer) throw Error("There is no computer named " + Cp1252ToUtf8(entry.name));
      entry.name = *computer;
      break;
    }
  }
  return entry;
}

std::string_view ClassText(PolicyClass cls) {
  return cls == PolicyClass::User ? "user" : "computer";
}

const Policy& ExistingPolicy(const std::vector<PolicyTemplate>& templates, PolicyClass cls,
                             const std::string& path) {
  if (const Policy* policy = FindPolicy(templates, cls, path)) return *policy;
  const PolicyClass other = cls == PolicyClass::User ? PolicyClass::Machine : PolicyClass::User;
  if (FindPolicy(templates, other, path) != nullptr) {
    throw Error(Quoted(path) + " is a " + std::string(ClassText(other)) + " policy; a " +
                std::string(ClassText(cls)) + " entry does not take it");
  }
  throw Error("There is no " + std::string(ClassText(cls)) + " policy " + Quoted(path) +
              " in the templates; 'policies ENTRY' lists them");
}

std::string PartNames(const Policy& policy) {
  std::string names;
  for (const PolicyPart& part : policy.parts) {
    if (part.type == PartType::Text) continue;
    names += (names.empty() ? "" : ", ") + Quoted(part.name);
  }
  return names;
}

// The part PART=VALUE names: the longest part name followed by '=' that the argument starts with,
// letters a to z without regard to case, so that a name may hold '=' itself.
const PolicyPart* PartOf(const Policy& policy, std::string_view argument) {
  const PolicyPart* found = nullptr;
  for (const PolicyPart& part : policy.parts) {
    const size_t size = part.name.size();
    if (argument.size() > size && argument[size] == '=' &&
        EqualsIgnoreCase(argument.substr(0, size), part.name) &&
        (found == nullptr || found->name.size() < size)) {
      found = &part;
    }
  }
  return found;
}

std::string ItemName(const Policy& policy, const PolicyPart& part, const std::string& value) {
  std::string names;
  for (const PolicyItem& item : part.items) {
    if (EqualsIgnoreCase(item.name, value)) return item.name;
    names += (names.empty() ? "" : ", ") + Quoted(item.name);
  }
  throw Error(Quoted(value) + " is not an item of the part " + Quoted(part.name) + " of " +
              Quoted(policy.name) + "; its items are " + names);
}

// The setting the command line gives: parts not named keep their current or default value. A
// list box part named once or more takes exactly the entries given (PART= gives none).
PolicySetting SettingOf(PolicyStore& store, const PolicyEntry& entry, const Policy& policy,
                        PolicyState state, const std::vector<std::string>& partArgs) {
  PolicySetting setting;
  setting.state = state;
  if (state != PolicyState::On) return setting;
  setting.parts = ReadPolicySetting(store, entry, policy).parts;
  std::set<std::string> given;
  for (const std::string& argument : partArgs) {
    const PolicyPart* part = PartOf(policy, argument);
    if (part == nullptr) {
      const std::string name = argument.substr(0, argument.find('='));
      const std::string names = PartNames(policy);
      throw Error(
          Quoted(policy.name) + " has no part named " + Quoted(name) +
          (names.empty() ? "; it has no parts that take a value" : "; its parts are " + names));
    }
    const std::string value = argument.substr(part->name.size() + 1);
    PartValue& partValue = setting.parts[part->name];
    const bool first = given.insert(part->name).second;
    switch (part->type) {
      case PartType::Text:
        throw Error("The part " + Quoted(part->name) + " of " + Quoted(policy.name) +
                    " is a text and takes no value");
      case PartType::ListBox:
        if (first) partValue = {};
        if (value.empty()) break;
        if (part->explicitValue) {
          const size_t equals = value.find('=');
          if (equals == std::string::npos || equals == 0) {
            throw Error("The part " + Quoted(part->name) + " of " + Quoted(policy.name) +
                        " takes entries as NAME=VALUE, not " + Quoted(value));
          }
          partValue.list.emplace_back(value.substr(0, equals), value.substr(equals + 1));
        } else {
          partValue.list.emplace_back(std::string(), value);
        }
        break;
      case PartType::DropDownList:
      case PartType::CheckBox:
      case PartType::EditText:
      case PartType::Numeric:
      case PartType::ComboBox:
        if (!first) {
          throw Error("The part " + Quoted(part->name) + " of " + Quoted(policy.name) +
                      " is given twice");
        }
        partValue = {part->type == PartType::DropDownList ? ItemName(policy, *part, value) : value,
                     {}};
        break;
    }
  }
  return setting;
}

// effective and apply-logon: the user, the groups the user belongs to and the computer.
struct LogonLine {
  std::string user;
  std::vector<std::string> groups;
  std::optional<std::string> computer;
};

LogonRequest RequestOf(const LogonLine& line) {
  return {line.user, line.groups, line.computer.value_or(std::string())};
}

LogonLine ParseLogon(const std::string& command, const std::vector<std::string>& args) {
  if (args[0].starts_with("-")) throw UsageError(command + " takes the user's name first");
  LogonLine line{args[0], {}, std::nullopt};
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option != "--group" && option != "--computer") {
      throw UsageError("unknown option '" + Cp1252ToUtf8(option) + "' for " + command);
    }
    if (i + 1 == args.size()) throw UsageError(option + " needs a name");
    const std::string& name = args[++i];
    if (option == "--group") {
      line.groups.push_back(name);
    } else if (line.computer) {
      throw UsageError("--computer is given once");
    } else {
      line.computer = name;
    }
  }
  return line;
}

void Policies(PolicyStore& store, const std::vector<PolicyTemplate>& templates,
              const std::string& entryText, std::ostream& out) {
  const PolicyEntry entry = ExistingEntry(store, entryText);
  for (const PolicyRef& ref : ListPolicies(templates, ClassOf(entry))) {
    out << StateText(ReadPolicySetting(store, entry, *ref.policy).state) << '\t' << ref.path
        << '\n';
  }
}

void SetPolicy(PolicyStore& store, const std::vector<PolicyTemplate>& templates,
               const std::vector<std::string>& args) {
  const PolicyEntry entry = ExistingEntry(store, args[0]);
  const Policy& policy = ExistingPolicy(templates, ClassOf(entry), args[1]);
  const PolicyState state = *ParseState(args[2]);
  const std::vector<std::string> partArgs(args.begin() + 3, args.end());
  WritePolicySetting(store, entry, policy, SettingOf(store, entry, policy, state, partArgs));
}

}  // namespace

bool IsEntryCommand(const std::string& command) {
  return EntryCommands().contains(command);
}

bool UsesTemplates(const std::string& command) {
  return command == "policies" || command == "policy";
}

void CheckEntryCommand(const std::string& command, const std::vector<std::string>& args) {
  if (command == "policies" || command == "policy") ParseEntryArgument(args[0]);
  if (command == "effective" || command == "apply-logon") ParseLogon(command, args);
  if (command != "policy") return;
  if (!ParseState(args[2])) {
    throw UsageError("policy takes on, off or unset, not '" + Cp1252ToUtf8(args[2]) + "'");
  }
  for (size_t i = 3; i < args.size(); ++i) {
    if (args[2] != "on") throw UsageError("part values are given only with on");
    if (args[i].find('=') == std::string::npos) {
      throw UsageError("a part value is PART=VALUE, not '" + Cp1252ToUtf8(args[i]) + "'");
    }
  }
}

void RunEntryCommand(PolicyStore& store, const std::vector<PolicyTemplate>& templates,
                     const std::string& command, const std::vector<std::string>& args,
                     std::ostream& out) {
  if (command == "policies") {
    Policies(store, templates, args[0], out);
  } else if (command == "policy") {
    SetPolicy(store, templates, args);
  } else if (command == "groups") {
    for (const std::string& group : Groups(store)) out << group << '\n';
    for (const std::string& group : GroupsOutsidePriority(store)) {
      out << group << "\t(not in the priority list: never applied)\n";
    }
  } else if (command == "add-group") {
    AddGroup(store, args[0]);
  } else if (command == "remove-group") {
    RemoveGroup(store, args[0]);
  } else if (command == "group-priority") {
    SetGroupPriority(store, args);
  } else if (command == "add-computer") {
    AddComputer(store, args[0]);
  } else if (command == "remove-computer") {
    RemoveComputer(store, args[0]);
  } else if (command == "effective") {
    WriteEffectiveRegedit4(EffectivePolicyOf(store, RequestOf(ParseLogon(command, args))), out);
  } else if (command == "apply-logon") {
    for (const PolicyEntry& entry :
         ApplyLogon(store, RequestOf(ParseLogon(command, args))).applied) {
      out << EntryText(entry) << '\n';
    }
  }
}

}  // namespace tarnwick
