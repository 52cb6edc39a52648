#include "commands.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <map>

#include "account/account.h"
#include "account/account_shell.h"
#include "account/machine_settings.h"
#include "base/cp1252.h"
#include "base/text.h"
#include "entry_commands.h"
#include "import_users.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "new_user_options.h"
#include "policy/activation.h"
#include "policy/policy_store.h"
#include "policy/restrictions.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "user_properties.h"

namespace tarnwick {

namespace {

constexpr size_t kAnyNumber = std::numeric_limits<size_t>::max();

// Argument counts by command, options included.
const std::map<std::string, std::pair<size_t, size_t>>& Arities() {
  static const std::map<std::string, std::pair<size_t, size_t>> arities = {
      {"users", {0, 0}},
      {"show", {1, 1}},
      {"set", {3, 3}},
      {"allow", {2, 2}},
      {"disallow", {2, 2}},
      {"add-user", {1, kAnyNumber}},
      {"import-users", {1, 1}},
      {"remove-user", {1, 2}},
      {"activation", {0, 1}},
      {"policies", {1, 1}},
      {"policy", {3, kAnyNumber}},
      {"groups", {0, 0}},
      {"add-group", {1, 1}},
      {"remove-group", {1, 1}},
      {"group-priority", {1, kAnyNumber}},
      {"add-computer", {1, 1}},
      {"remove-computer", {1, 1}},
      {"effective", {1, kAnyNumber}},
      {"apply-logon", {1, kAnyNumber}},
  };
  return arities;
}

// What value gives, an OptionValueError becoming a UsageError that names the option.
template <typename Value>
auto OptionValue(const std::string& option, Value value) {
  try {
    return value();
  } catch (const OptionValueError& e) {
    throw UsageError(option + " " + e.what());
  }
}

// Throws UsageError for options add-user does not know or that lack their value.
NewUserOptions ParseAddUser(const std::vector<std::string>& args) {
  NewUserOptions line;
  NewUserAnswers& answers = line.answers;
  if (args[0].starts_with("-")) throw UsageError("add-user takes the user's name first");
  answers.name = args[0];
  answers.folderChoice = ProgramFolderChoice::Empty;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& option = args[i];
    const auto value = [&]() -> const std::string& {
      if (i + 1 == args.size()) throw UsageError(option + " needs a value");
      return args[++i];
    };
    if (option == "--icon") {
      answers.iconFile = value();
    } else if (option == "--copy-programs" || option == "--share-programs") {
      if (answers.sourceUser) {
        throw UsageError("--copy-programs and --share-programs are given once, and not both");
      }
      answers.folderChoice =
          option == "--copy-programs" ? ProgramFolderChoice::Copy : ProgramFolderChoice::Share;
      answers.sourceUser = value();
    } else if (option == "--no-desktop-shortcuts") {
      answers.createShortcut = false;
    } else if (option == "--hide-drives") {
      answers.hiddenDrives += OptionValue(option, [&] { return DriveLetters(value()); });
    } else if (option == "--restrict") {
      OptionValue(option, [&] { AddRestrictions(value(), answers); });
    } else if (option == "--allow") {
      const size_t before = line.programs.size();
      while (i + 1 < args.size() && !args[i + 1].starts_with("--")) {
        line.programs.push_back(args[++i]);
      }
      if (line.programs.size() == before) throw UsageError("--allow needs a program");
    } else {
      throw UsageError("unknown option '" + Cp1252ToUtf8(option) + "' for add-user");
    }
  }
  return line;
}

TUser& ExistingUser(const TUsers& users, const std::string& name) {
  TUser* user = users.FindUser(name);
  if (user == nullptr) throw Error("There is no user named " + Cp1252ToUtf8(name));
  return *user;
}

int32_t ParseFlag(const RestrictionInfo& restriction, const std::string& text) {
  if (text != "0" && text != "1") {
    throw Error(std::string(restriction.name) + " takes 0 or 1, not \"" + Cp1252ToUtf8(text) +
                "\"");
  }
  return text == "1" ? 1 : 0;
}

int32_t ParseDriveMask(const std::string& text) {
  int32_t mask = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), mask);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || mask < 0 ||
      mask >= (1 << 26)) {
    throw Error(
        "NoDrives takes a drive mask from 0 to 67108863 (bit 0 drive A, bit 2 "
        "drive C), not \"" +
        Cp1252ToUtf8(text) + "\"");
  }
  return mask;
}

// Empty, or a full Windows path: a drive letter, ":\", or a UNC name \\SERVER\SHARE.
void CheckWindowsPath(const UserProperty& property, const std::string& text) {
  const char drive = UpperAscii(text.empty() ? '\0' : text[0]);
  const bool drivePath =
      text.size() >= 3 && drive >= 'A' && drive <= 'Z' && text[1] == ':' && text[2] == '\\';
  const bool uncPath = text.size() >= 5 && text.starts_with("\\\\") &&
                       text.find('\\', 2) != std::string::npos && text.find('\\', 2) > 2;
  if (!text.empty() && !drivePath && !uncPath) {
    throw Error(std::string(property.name) +
                " takes a full Windows path such as C:\\WINDOWS\\Start Menu, not \"" +
                Cp1252ToUtf8(text) + "\"");
  }
}

// The new-user wizard's answers: its list starts with the machine's start-up programs.
void AddUser(TUsers& users, const NewUserOptions& line, AccountShell& shell) {
  const Machine& machine = users.Store().GetMachine();
  NewUserAnswers answers = line.answers;
  if (!answers.iconFile.empty() && !ExistingFile(machine, answers.iconFile)) {
    throw Error("There is no icon file " + Cp1252ToUtf8(answers.iconFile) + " on the machine");
  }
  if (answers.sourceUser) answers.sourceUser = ExistingUser(users, *answers.sourceUser).Name();
  std::vector<AllowedAppEntry> programs;
  for (const std::string& program : line.programs) {
    programs.push_back(AllowedEntry(machine, program));
  }
  MakeAccount(users, std::move(answers), StartupPrograms(users.Store().GetRegistry()), programs,
              shell);
}

// The entries of a folder, sorted without regard to case, folders ending in "\".
std::vector<std::string> FolderEntries(const Machine& machine, const std::string& folder) {
  std::vector<std::string> entries;
  for (const VolumeEntry& entry : machine.List(folder)) {
    entries.push_back(entry.IsDirectory() ? entry.name + '\\' : entry.name);
  }
  std::sort(entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
    return UpperAscii(a) < UpperAscii(b);
  });
  return entries;
}

void Show(TUser& user, std::ostream& out) {
  const Machine& machine = user.Store().GetMachine();
  out << "Name=" << user.Name() << '\n';
  for (const RestrictionInfo& restriction : Restrictions()) {
    if (!restriction.shown) continue;
    out << restriction.name << '=' << static_cast<uint32_t>(user.Restriction(restriction.id))
        << '\n';
  }
  for (const UserProperty& property : UserProperties()) {
    if (property.getText != nullptr) {
      out << property.name << '=' << (user.*property.getText)() << '\n';
    } else {
      out << property.name << '=' << static_cast<uint32_t>((user.*property.getInteger)()) << '\n';
    }
  }
  std::vector<AllowedApp> apps;
  for (const AllowedApp& app : user.GetAllowedApps(apps)) {
    out << "AllowedApp." << app.entry.ValueName << '=' << app.text << '\n';
  }
  out << "ProfilePath=" << user.ProfilePath() << '\n';
  // The drive list shows the machine's drives, the hidden ones selected.
  const auto mask = static_cast<uint32_t>(user.NoDrives());
  std::string hidden;
  for (const DriveInfo& drive : machine.Drives()) {
    if ((mask >> (drive.letter - 'A') & 1) == 0) continue;
    hidden += (hidden.empty() ? "" : ",") + std::string(1, drive.letter) + ":";
  }
  out << "HiddenDrives=" << hidden << '\n';
  const std::pair<const char*, std::string> folders[] = {
      {"ProgramsFolder", user.ProgramsFolder()},
      {"StartMenuFolder", user.StartMenuFolder()},
      {"DesktopFolder", user.DesktopFolder()},
      {"FavoritesFolder", user.FavoritesFolder()},
      {"RecentFolder", user.RecentFolder()}};
  for (const auto& [name, folder] : folders) {
    for (const std::string& entry : FolderEntries(machine, folder)) {
      out << name << ".Entry=" << entry << '\n';
    }
  }
  out << "Activation=" << (ReadActivationState(user.Store()) == ActivationState::On ? "on" : "off")
      << '\n';
}

void Set(TUser& user, const std::string& propertyName, const std::string& value) {
  if (const RestrictionInfo* restriction = FindRestriction(propertyName)) {
    user.SetRestriction(restriction->id, ParseFlag(*restriction, value));
    return;
  }
  const UserProperty* property = FindUserProperty(propertyName);
  if (property == nullptr) throw Error("There is no property named " + Cp1252ToUtf8(propertyName));
  switch (property->kind) {
    case PropertyKind::DriveMask:
      (user.*property->setInteger)(ParseDriveMask(value));
      break;
    case PropertyKind::Text:
      CheckWindowsPath(*property, value);
      (user.*property->setText)(value);
      break;
  }
}

void Activation(PolicyStore& store, const std::vector<std::string>& args, std::ostream& out) {
  if (args.empty()) {
    switch (ReadActivationState(store)) {
      case ActivationState::On:
        out << "on\n";
        break;
      case ActivationState::Off:
        out << "off\n";
        break;
      case ActivationState::OtherPolicyFile:
        out << "off (user profiles are on, but the policy download uses another file)\n";
        break;
    }
  } else if (args[0] == "on") {
    TurnActivationOn(store);
  } else {
    TurnActivationOff(store);
  }
}

}  // namespace

void CheckCommand(const std::string& command, const std::vector<std::string>& args) {
  const auto it = Arities().find(command);
  if (it == Arities().end()) throw UsageError("unknown command '" + command + "'");
  const auto [least, most] = it->second;
  if (args.size() < least || args.size() > most) {
    throw UsageError("wrong number of arguments for '" + command + "'");
  }
  if (command == "add-user") ParseAddUser(args);
  if (command == "remove-user" && args.size() == 2 && args[1] != "--delete-profile") {
    throw UsageError("remove-user takes --delete-profile, not '" + Cp1252ToUtf8(args[1]) + "'");
  }
  if (command == "activation" && !args.empty() && args[0] != "on" && args[0] != "off") {
    throw UsageError("activation takes on or off, not '" + Cp1252ToUtf8(args[0]) + "'");
  }
  if (IsEntryCommand(command)) CheckEntryCommand(command, args);
}

bool IsReadingCommand(const std::string& command, const std::vector<std::string>& args) {
  return command == "users" || command == "show" || (command == "activation" && args.empty()) ||
         command == "policies" || command == "groups" || command == "effective";
}

void RunCommand(PolicyStore& store, const std::vector<PolicyTemplate>& templates,
                const std::string& command, const std::vector<std::string>& args, std::ostream& out,
                AccountShell& shell, std::vector<std::string>& newFolders) {
  if (command == "activation") return Activation(store, args, out);
  if (IsEntryCommand(command)) return RunEntryCommand(store, templates, command, args, out);
  TUsers users(store);
  if (command == "users") {
    for (size_t i = 0; i < users.Count(); ++i) out << users[i].Name() << '\n';
  } else if (command == "show") {
    Show(ExistingUser(users, args[0]), out);
  } else if (command == "set") {
    Set(ExistingUser(users, args[0]), args[1], args[2]);
  } else if (command == "allow") {
    ExistingUser(users, args[0]).AddAllowedApp(args[1]);
  } else if (command == "disallow") {
    if (!ExistingUser(users, args[0]).RemoveAllowedApp(args[1])) {
      throw Error(Cp1252ToUtf8(args[1]) + " is not an allowed program of " + Cp1252ToUtf8(args[0]));
    }
  } else if (command == "add-user") {
    AddUser(users, ParseAddUser(args), shell);
  } else if (command == "import-users") {
    ImportUsers(users, args[0], out, shell, newFolders);
  } else if (command == "remove-user") {
    const std::string name = ExistingUser(users, args[0]).Name();
    if (!RemoveAccount(users, name, args.size() == 2, shell)) {
      out << "The user had no profile entry; its policies are removed.\n";
    }
  }
}

}  // namespace tarnwick
