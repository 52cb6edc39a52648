#include "lab.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <sstream>
#include <system_error>

#include "base/file_io.h"
#include "base/text.h"
#include "demo/project_icons.h"
#include "machine/atomic_file.h"
#include "machine/ini_file.h"
#include "machine/machine.h"
#include "policy/password_store.h"
#include "registry/creg_file.h"
#include "registry/reg_tree.h"
#include "registry/regedit4.h"
#include "registry/registry.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

// The keys the join writes, below HKEY_LOCAL_MACHINE.
constexpr std::string_view kLogonKey = "Network\\Logon";
constexpr std::string_view kUpdateKey = "System\\CurrentControlSet\\control\\Update";
constexpr std::string_view kProviderKey =
    "System\\CurrentControlSet\\Services\\MSNP32\\NetworkProvider";

std::vector<uint8_t> Dword(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

std::vector<uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

RegNode& AddPath(RegNode& root, std::string_view path) {
  RegNode* node = &root;
  for (size_t start = 0;;) {
    const size_t end = path.find('\\', start);
    node = &node->AddSubkey(path.substr(start, end - start));
    if (end == std::string_view::npos) return *node;
    start = end + 1;
  }
}

std::string ErrnoText() {
  return std::strerror(errno);
}

bool IsEmptyDirectory(const fs::path& dir) {
  std::error_code ec;
  return fs::is_directory(dir, ec) && fs::is_empty(dir, ec) && !ec;
}

// A folder made under a temporary name beside its place and renamed into place by Commit;
// removed again unless it was committed.
class StagedFolder {
 public:
  explicit StagedFolder(fs::path target) : target_(std::move(target)) {
    const fs::path parent = target_.parent_path();
    std::error_code ec;
    if (!fs::is_directory(parent, ec)) {
      throw LabError(parent.string() + ": no such folder");
    }
    std::string pattern = (parent / ("." + target_.filename().string() + ".new-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw LabError(parent.string() + ": cannot make a folder there: " + ErrnoText());
    }
    temp_ = pattern;
  }
  ~StagedFolder() {
    std::error_code ec;
    if (!placed_) fs::remove_all(temp_, ec);
  }
  StagedFolder(const StagedFolder&) = delete;
  StagedFolder& operator=(const StagedFolder&) = delete;

  const fs::path& Temp() const { return temp_; }
  const fs::path& Target() const { return target_; }

  // Renames the folder into place, over nothing or an empty folder.
  void Commit() {
    std::error_code ec;
    hadEmpty_ = IsEmptyDirectory(target_);
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
      throw LabError(target_.string() + ": cannot put the new folder in place: " + ErrnoText());
    }
    placed_ = true;
  }
  // Takes a committed folder back out of its place, for a later step that failed.
  void Undo() {
    if (!placed_) return;
    std::error_code ec;
    if (::rename(target_.c_str(), temp_.c_str()) == 0) {
      placed_ = false;
      if (hadEmpty_) fs::create_directory(target_, ec);
    }
  }

 private:
  fs::path target_;
  fs::path temp_;
  bool placed_ = false;
  bool hadEmpty_ = false;
};

void WriteText(const fs::path& file, std::string_view text) {
  const std::vector<uint8_t> bytes = Bytes(text);
  WriteFileAtomically(file, bytes);
}

// An absolute form without links or a trailing separator, so that parent_path is the folder
// above and atomic writes, which follow no link, can reach it.
fs::path Normal(const fs::path& path) {
  std::error_code ec;
  fs::path normal = fs::weakly_canonical(fs::absolute(path), ec);
  if (ec) normal = fs::absolute(path).lexically_normal();
  if (!normal.has_filename() && normal != normal.root_path()) normal = normal.parent_path();
  return normal;
}

void CheckFreePlace(const fs::path& place, const std::string& what) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(place, ec);
  if (!fs::exists(status)) return;
  if (!fs::is_directory(status)) throw LabError(place.string() + ": is not a folder");
  if (!IsEmptyDirectory(place)) {
    throw LabError(place.string() + ": is not empty; a new lab's " + what +
                   " must be a new or an "
                   "empty folder");
  }
}

std::string SmbPath(const fs::path& path) {
  const std::string text = path.string();
  if (text.find('%') != std::string::npos || FindControlCharacter(text) != std::string::npos ||
      text != Trim(text)) {
    throw LabError(text +
                   ": smb.conf cannot hold this path (a \"%\", a control character or a "
                   "blank at either end)");
  }
  return text;
}

}  // namespace

std::vector<uint8_t> NewPolicyFile(const std::optional<std::string>& password) {
  RegNode root;
  root.AddSubkey("Users").AddSubkey(".default");
  // Default Computer keeps the download automatic: the policy file itself could switch a client
  // to manual mode otherwise left in place.
  AddPath(root, "Computers\\.default\\" + std::string(kUpdateKey))
      .SetValue("UpdateMode", kRegDword, Dword(1));
  RegNode& config = root.AddSubkey("Config");
  if (password && !password->empty()) {
    RegValue mode = StoredPasswordValue(*password);
    config.SetValue(mode.name, mode.type, std::move(mode.data));
  }
  return EncodeRegistryFile(root, std::string(kPolicyFileName));
}

std::string LogonScript(const LabSettings& settings) {
  return "@ECHO OFF\r\n"
         "REM Logon script of the domain " +
         settings.domain + ", served by \\\\" + settings.server +
         "\\NETLOGON.\r\n"
         "REM Windows 95 downloads CONFIG.POL and the user's profile by itself; nothing more\r\n"
         "REM is needed here. Commands added below run on every client at logon.\r\n";
}

void InitLab(const fs::path& dir, const LabSettings& settings,
             const std::optional<std::string>& password) {
  for (const auto& [what, name] :
       {std::pair{"domain", &settings.domain}, std::pair{"server", &settings.server}}) {
    const std::string problem = NetbiosNameProblem(*name);
    if (!problem.empty()) throw LabError(std::string("the ") + what + " name " + problem);
  }
  if (EqualsIgnoreCase(settings.domain, settings.server)) {
    throw LabError("the domain and the server need different names");
  }
  for (const auto& [what, folder] :
       {std::pair{"netlogon", &settings.netlogon}, std::pair{"homes", &settings.homes}}) {
    const std::string problem = LabFolderProblem(*folder);
    if (!problem.empty()) throw LabError(std::string("the ") + what + " folder " + problem);
  }
  const fs::path labDir = Normal(dir);
  std::error_code ec;
  if (fs::exists(labDir / kLabFile, ec)) throw LabError(labDir.string() + ": holds a lab already");
  CheckFreePlace(labDir, "directory");
  const fs::path netlogon = LabFolder(labDir, settings.netlogon);
  const fs::path homes = LabFolder(labDir, settings.homes);
  if (netlogon == homes) throw LabError("the netlogon and homes folders must differ");
  if (netlogon == labDir || homes == labDir) {
    throw LabError("the netlogon and homes folders must not be the lab directory itself");
  }

  StagedFolder lab(labDir);
  std::vector<std::unique_ptr<StagedFolder>> outside;  // absolute folders elsewhere
  // Where a folder is made: inside the staged lab, or staged beside its own place.
  auto stage = [&](const fs::path& folder, const std::string& what) -> fs::path {
    const fs::path relative = folder.lexically_relative(labDir);
    if (!relative.empty() && *relative.begin() != "..") {
      const fs::path inside = lab.Temp() / relative;
      fs::create_directories(inside, ec);
      if (ec) throw LabError(inside.string() + ": cannot make the folder: " + ec.message());
      return inside;
    }
    CheckFreePlace(folder, what + " folder");
    outside.push_back(std::make_unique<StagedFolder>(folder));
    return outside.back()->Temp();
  };
  const fs::path netlogonStage = stage(netlogon, "netlogon");
  const fs::path homesStage = stage(homes, "homes");

  IniFile ini;
  IniSection& section = ini.AddSection(kLabSection);
  section.Set("Domain", settings.domain);
  section.Set("Server", settings.server);
  section.Set("Netlogon", settings.netlogon);
  section.Set("Homes", settings.homes);
  WriteText(lab.Temp() / kLabFile, ini.Format());
  WriteFileAtomically(netlogonStage / kPolicyFileName, NewPolicyFile(password));
  WriteText(netlogonStage / kLogonScriptName, LogonScript(settings));
  // Samba serves the folders to everyone; only their owners write into the homes below.
  for (const fs::path& folder : {lab.Temp(), netlogonStage, homesStage}) {
    fs::permissions(folder,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    ec);
  }

  std::vector<StagedFolder*> order;
  for (auto& folder : outside) order.push_back(folder.get());
  order.push_back(&lab);  // lab.ini last: a directory holding it is a whole lab
  size_t done = 0;
  try {
    for (; done < order.size(); ++done) order[done]->Commit();
  } catch (const LabError&) {
    while (done > 0) order[--done]->Undo();
    throw;
  }
}

std::string SmbConfLines(const fs::path& dir, const LabSettings& settings) {
  const fs::path netlogon = LabFolder(dir, settings.netlogon);
  const fs::path homes = LabFolder(dir, settings.homes);
  const fs::path policyFile = netlogon / kPolicyFileName;
  std::error_code ec;
  if (!fs::exists(policyFile, ec)) {
    throw LabError(policyFile.string() + ": the lab's policy file is missing");
  }
  ReadRegistryFile(policyFile);  // a damaged file is refused here, not served to the clients
  if (!fs::is_directory(homes, ec))
    throw LabError(homes.string() + ": the homes folder is missing");
  std::ostringstream out;
  out << "# Samba settings of the Tarnwick lab " << Normal(dir).string() << ": the domain "
      << settings.domain << " served by " << settings.server << " to Windows 95 clients.\n"
      << "# Save them as a file and name it at the end of smb.conf's [global] section:\n"
      << "#   include = /etc/samba/tarnwick-lab.conf\n"
      << "# then remove smb.conf's own [netlogon] and [homes] sections.\n"
      << "[global]\n"
      << "\tworkgroup = " << settings.domain << "\n"
      << "\tnetbios name = " << settings.server << "\n"
      << "\tserver role = classic primary domain controller\n"
      << "\tdomain logons = yes\n"
      << "\tserver min protocol = LANMAN1\n"
      << "\tlanman auth = yes\n"
      << "\tntlm auth = ntlmv1-permitted\n"
      << "\tlogon home = \\\\%L\\%U\\.profiles\n"
      << "\tlogon script = " << kLogonScriptName << "\n"
      << "\tpreserve case = yes\n"
      << "\tshort preserve case = yes\n"
      << "\tcase sensitive = no\n"
      << "\tidmap config * : backend = tdb\n"
      << "\tidmap config * : range = 1000000-1999999\n"
      << "\n"
      << "[netlogon]\n"
      << "\tpath = " << SmbPath(netlogon) << "\n"
      << "\tread only = yes\n"
      << "\tbrowseable = no\n"
      << "\n"
      << "[homes]\n"
      << "\tpath = " << SmbPath(homes) << "/%u\n"
      << "\tread only = no\n"
      << "\tbrowseable = no\n"
      << "\tvalid users = %S\n";
  return out.str();
}

std::string JoinText(const LabSettings& settings) {
  RegNode logon;
  logon.SetValue("UserProfiles", kRegDword, Dword(1));
  RegNode update;
  update.SetValue("UpdateMode", kRegDword, Dword(1));
  RegNode provider;
  provider.SetValue("AuthenticatingAgent", kRegSz, Bytes(settings.domain));
  const std::string root = "HKEY_LOCAL_MACHINE\\";
  std::ostringstream out;
  ExportRegedit4({{logon, root + std::string(kLogonKey)},
                  {update, root + std::string(kUpdateKey)},
                  {provider, root + std::string(kProviderKey)}},
                 out);
  return out.str();
}

void JoinMachine(const Machine& machine, const LabSettings& settings) {
  const std::string text = JoinText(settings);
  const std::optional<MachineLock> lock = MachineLock::TryAcquire(machine);
  if (!lock) {
    throw LabError("Tarnwick is running on the machine in " + machine.Directory().string() +
                   "; close it and try again");
  }
  // The icons the lab's shortcuts and policies name lie in the program's folder on the server's
  // C:; the client gets its own copies at the same paths.
  InstallProgramIcons(machine);
  Registry registry(machine);
  RegistryWriteBatch batch(registry);  // SYSTEM.DAT written once, after its backup
  registry.ChangeFileTrees([&](RegNode& system, RegNode&) {
    ImportRegedit4(text, {{"HKEY_LOCAL_MACHINE", system}});
  });
  batch.Finish();
}

}  // namespace tarnwick
