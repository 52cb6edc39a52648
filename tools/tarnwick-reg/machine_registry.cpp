#include "machine_registry.h"

#include <string>
#include <vector>

#include "base/cp1252.h"
#include "base/error.h"
#include "base/text.h"
#include "registry/regedit4.h"

namespace tarnwick {

namespace {

// Where each root key regedit names lives in the machine's files.
struct RootKeyPlace {
  std::string_view name;
  RootKey file;  // LocalMachine: SYSTEM.DAT, Users: USER.DAT
  std::string_view under;
};

constexpr RootKeyPlace kRootKeys[] = {
    {"HKEY_LOCAL_MACHINE", RootKey::LocalMachine, ""},
    {"HKEY_USERS", RootKey::Users, ""},
    {"HKEY_CURRENT_USER", RootKey::Users, ".Default"},
    {"HKEY_CLASSES_ROOT", RootKey::LocalMachine, "SOFTWARE\\Classes"},
};

[[noreturn]] void FailKey(std::string_view key, const std::string& reason) {
  throw Error("[" + Cp1252ToUtf8(key) + "]: " + reason);
}

const RegNode* FindPath(const RegNode& from, std::string_view path, std::string* storedPath) {
  const RegNode* node = &from;
  while (node && !path.empty()) {
    const size_t end = path.find('\\');
    node = node->FindSubkey(path.substr(0, end));
    if (node && storedPath) *storedPath += "\\" + node->name;
    path = end == std::string_view::npos ? std::string_view() : path.substr(end + 1);
  }
  return node;
}

}  // namespace

void ExportMachineRegistry(const Registry& registry, std::string_view key, std::ostream& out) {
  if (key.empty()) {
    ExportRegedit4({{registry.FileTree(RootKey::LocalMachine), "HKEY_LOCAL_MACHINE"},
                    {registry.FileTree(RootKey::Users), "HKEY_USERS"}},
                   out);
    return;
  }
  const size_t split = key.find('\\');
  const std::string_view rootName = key.substr(0, split);
  const std::string_view rest =
      split == std::string_view::npos ? std::string_view() : key.substr(split + 1);
  for (const RootKeyPlace& root : kRootKeys) {
    if (!EqualsIgnoreCase(rootName, root.name)) continue;
    const RegNode* base = FindPath(registry.FileTree(root.file), root.under, nullptr);
    std::string path(root.name);
    const RegNode* node = base ? FindPath(*base, rest, &path) : nullptr;
    if (!node) FailKey(key, "no such key");
    ExportRegedit4(*node, out, path);
    return;
  }
  FailKey(key,
          "a key path must begin with HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_USER or "
          "HKEY_CLASSES_ROOT");
}

void ImportMachineRegistry(Registry& registry, std::string_view text) {
  registry.ChangeFileTrees([&](RegNode& system, RegNode& user) {
    std::vector<Regedit4Target> targets;
    for (const RootKeyPlace& root : kRootKeys) {
      targets.push_back({std::string(root.name), root.file == RootKey::LocalMachine ? system : user,
                         std::string(root.under)});
    }
    ImportRegedit4(text, targets);
  });
}

}  // namespace tarnwick
