#include "ui/wizards/program_files.h"

#include "policy/policy_store.h"
#include "registry/registry.h"
#include "shell/machine_dir.h"

namespace tarnwick {

namespace {

constexpr std::string_view kCurrentVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";

}  // namespace

std::string ProgramFilesFolder(const PolicyStore& store) {
  RegistryAccessor reg(store.GetRegistry());
  reg.SetRootKey(RootKey::LocalMachine);
  reg.OpenKey(kCurrentVersionKey, false);
  std::string folder = reg.ReadString("ProgramFilesDir");
  if (folder.empty() || !ExistingDirectory(store.GetMachine(), folder)) return {};
  return folder;
}

}  // namespace tarnwick
