#include "commands.h"

#include <charconv>
#include <cstdint>
#include <map>

#include "machine/cp1252.h"
#include "machine/win_path.h"
#include "policy/activation.h"
#include "policy/users.h"
#include "user_properties.h"

namespace tarnwick {

namespace {

// Argument counts by command.
const std::map<std::string, std::pair<size_t, size_t>>& Arities() {
  static const std::map<std::string, std::pair<size_t, size_t>> arities = {
      {"users", {0, 0}},    {"show", {1, 1}},     {"set", {3, 3}},         {"allow", {2, 2}},
      {"disallow", {2, 2}}, {"add-user", {1, 1}}, {"remove-user", {1, 1}}, {"activation", {0, 1}},
  };
  return arities;
}

TUser& ExistingUser(const TUsers& users, const std::string& name) {
  TUser* user = users.FindUser(name);
  if (user == nullptr) throw Error("There is no user named " + Cp1252ToUtf8(name));
  return *user;
}

int32_t ParseFlag(const UserProperty& property, const std::string& text) {
  if (text != "0" && text != "1") {
    throw Error(std::string(property.name) + " takes 0 or 1, not \"" + Cp1252ToUtf8(text) + "\"");
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

void Show(TUser& user, std::ostream& out) {
  for (const UserProperty& property : UserProperties()) {
    if (property.getText != nullptr) {
      out << property.name << '=' << (user.*property.getText)() << '\n';
    } else if (property.getInteger != nullptr) {
      // A REG_DWORD is unsigned, as regedit shows it: a mask of every drive is 4294967295.
      out << property.name << '=' << static_cast<uint32_t>((user.*property.getInteger)()) << '\n';
    }
  }
  std::vector<AllowedApp> apps;
  for (const AllowedApp& app : user.GetAllowedApps(apps)) {
    out << "AllowedApp." << app.entry.ValueName << '=' << app.text << '\n';
  }
  out << "ProfilePath=" << user.ProfilePath() << '\n';
}

void Set(TUser& user, const std::string& propertyName, const std::string& value) {
  const UserProperty* property = FindUserProperty(propertyName);
  if (property == nullptr) throw Error("There is no property named " + Cp1252ToUtf8(propertyName));
  switch (property->kind) {
    case PropertyKind::Flag:
      (user.*property->setInteger)(ParseFlag(*property, value));
      break;
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
  if (command == "activation" && !args.empty() && args[0] != "on" && args[0] != "off") {
    throw UsageError("activation takes on or off, not '" + Cp1252ToUtf8(args[0]) + "'");
  }
}

bool IsReadingCommand(const std::string& command, const std::vector<std::string>& args) {
  return command == "users" || command == "show" || (command == "activation" && args.empty());
}

void RunCommand(PolicyStore& store, const std::string& command,
                const std::vector<std::string>& args, std::ostream& out) {
  if (command == "activation") return Activation(store, args, out);
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
    users.AddUser(args[0]);
  } else if (command == "remove-user") {
    const std::string name = ExistingUser(users, args[0]).Name();
    if (!users.RemoveUser(name)) {
      out << "The user had no profile entry; its policies are removed.\n";
    }
  }
}

}  // namespace tarnwick
