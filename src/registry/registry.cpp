#include "registry/registry.h"

#include <algorithm>
#include <filesystem>
#include <span>
#include <system_error>
#include <utility>

#include "base/byte_reader.h"
#include "base/cp1252.h"
#include "machine/machine.h"
#include "machine/machine_commit.h"
#include "machine/win_path.h"
#include "registry/creg_file.h"
#include "registry/registry_impl.h"
#include "registry/registry_limits.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

// The key below which HKEY_USERS keeps the default user, and HKEY_CURRENT_USER's tree.
constexpr std::string_view kDefaultUser = ".DEFAULT";

std::string JoinPath(const std::vector<std::string>& names) {
  std::string path;
  for (const std::string& name : names) {
    if (!path.empty()) path += '\\';
    path += name;
  }
  return path;
}

// Whether the path leads to a place on a drive: not to no drive, nor outside one or through a
// link that points nowhere.
bool Reachable(const Machine& machine, std::string_view windowsPath) {
  const PathStatus status = machine.LookUp(windowsPath).status;
  return status == PathStatus::Found || status == PathStatus::OnImage;
}

// Whether something has the file's name: a file or a folder, or on a host directory anything else
// (a device, a socket), which reading then refuses naming it.
bool Occupied(const Machine& machine, std::string_view windowsPath) {
  if (machine.Stat(windowsPath)) return true;
  const PathLookup host = machine.LookUp(windowsPath);
  std::error_code ec;
  return host.status == PathStatus::Found &&
         fs::symlink_status(host.host, ec).type() != fs::file_type::not_found;
}

// The names of the path's components as the volume keeps them: an existing entry's own name
// whatever case or alias the path gives, a missing one's as given.
std::vector<std::string> EntryNames(const DriveVolume& volume, const VolumePath& path) {
  std::vector<std::string> names;
  VolumePath prefix;
  bool found = true;
  for (const std::string& name : path) {
    prefix.push_back(name);
    std::optional<VolumeEntry> entry = found ? volume.Stat(prefix) : std::nullopt;
    found = entry.has_value();
    names.push_back(found ? std::move(entry->name) : name);
  }
  return names;
}

// A file that we could have written ourselves: one that reads but cannot be written again (a name
// the writer refuses) never replaces a backup.
// A file fit to be the backup: it decodes and encodes again, and its data blocks tile it to its
// end, as Windows writes it (bytes after the last block are forgiven when reading, not kept).
bool ReadsCleanly(std::span<const uint8_t> bytes, const std::string& fileName) {
  try {
    EncodeRegistryFile(*DecodeRegistryFile(bytes, fileName), fileName);
  } catch (const RegistryFileError&) {
    return false;
  }
  const ByteReader file(bytes);
  size_t end = file.U32At(0x08);
  for (uint16_t block = file.U16At(0x10); block > 0; --block) end += file.U32At(end + 4);
  return end == bytes.size();
}

}  // namespace

// ---- Registry::Impl ----

Registry::Impl::Impl(const Machine& machine)
    : machine_(machine),
      system_(OpenMachineFile("SYSTEM.DAT", "SYSTEM.DA0")),
      user_(OpenMachineFile("USER.DAT", "USER.DA0")) {}

Registry::Impl::Hive Registry::Impl::OpenMachineFile(const std::string& fileName,
                                                     const std::string& backupName) const {
  const std::string dir = AddTrailingBackslash(machine_.WindowsDirectory());
  Hive hive;
  hive.windowsPath = dir + fileName;
  const PathStatus file = machine_.LookUp(hive.windowsPath).status;
  // A link at the backup's place is replaced, never written through.
  const PathStatus backup = machine_.LookUp(dir + backupName, false).status;
  if (file == PathStatus::Unreachable || backup == PathStatus::Unreachable) {
    throw RegistryFileError(Cp1252ToUtf8(hive.windowsPath) +
                            ": it or its backup is reached through a symbolic link leading "
                            "outside its drive or to nothing");
  }
  if (!Reachable(machine_, hive.windowsPath)) {
    throw RegistryFileError(Cp1252ToUtf8(hive.windowsPath) +
                            ": the Windows directory is not on a drive");
  }
  hive.backupPath = dir + backupName;
  if (Occupied(machine_, hive.windowsPath)) {
    hive.original = ReadRegistryBytes(machine_, hive.windowsPath);
    hive.root = DecodeRegistryFile(hive.original, Cp1252ToUtf8(hive.windowsPath));
  } else {
    hive.root = std::make_unique<RegNode>();
  }
  return hive;
}

Registry::Impl::Hive* Registry::Impl::RootHive(RootKey root) {
  return root == RootKey::LocalMachine ? &system_ : &user_;
}

Registry::Impl::Mount* Registry::Impl::FindMount(RootKey root, std::string_view name) {
  for (Mount& mount : mounts_) {
    if (mount.root == root && EqualsIgnoreCase(mount.name, name)) return &mount;
  }
  return nullptr;
}

std::optional<Registry::Impl::Location> Registry::Impl::Locate(RootKey root, std::string_view path,
                                                               bool create) {
  const std::vector<std::string> names = SplitWindowsPath(path);
  Location at{RootHive(root), RootHive(root)->root.get(), false};
  size_t i = 0;
  if (root == RootKey::CurrentUser) {
    RegNode* defaultUser = at.node->FindSubkey(kDefaultUser);
    if (!defaultUser) {
      if (!create) return std::nullopt;
      defaultUser = &at.node->AddSubkey(kDefaultUser);
      at.hive->dirty = at.created = true;
    }
    at.node = defaultUser;
  } else if (!names.empty()) {
    if (Mount* mount = FindMount(root, names[0])) {
      at = {&mount->hive, mount->hive.root.get(), false};
      i = 1;
    }
  }
  for (; i < names.size(); ++i) {
    RegNode* next = at.node->FindSubkey(names[i]);
    if (!next) {
      if (!create || !IsValidKeyName(names[i])) return std::nullopt;
      next = &at.node->AddSubkey(names[i]);
      at.hive->dirty = at.created = true;
    }
    at.node = next;
  }
  return at;
}

std::vector<std::string> Registry::Impl::SubkeyNames(RootKey root, std::string_view path) {
  std::vector<std::string> names;
  std::optional<Location> at = Locate(root, path, false);
  if (!at) return names;
  for (const auto& subkey : at->node->subkeys) names.push_back(subkey->name);
  if (root != RootKey::CurrentUser && SplitWindowsPath(path).empty()) {
    for (const Mount& mount : mounts_) {
      if (mount.root == root) names.push_back(mount.name);
    }
  }
  return names;
}

bool Registry::Impl::DeleteKey(RootKey root, std::string_view path) {
  std::vector<std::string> names = SplitWindowsPath(path);
  if (names.empty()) return false;
  // An attached hive's key is its file: deleting it would empty the file. Detach it instead.
  if (root != RootKey::CurrentUser && names.size() == 1 && FindMount(root, names[0])) return false;
  const std::string name = names.back();
  names.pop_back();
  std::optional<Location> parent = Locate(root, JoinPath(names), false);
  if (!parent || !parent->node->RemoveSubkey(name)) return false;
  parent->hive->dirty = true;
  return Save(*parent->hive);
}

// Two Windows paths name one file as the machine resolves them: on host directories by the
// host's own identity, so that a link or two letters of one directory meet too; on an image by the
// volume and the entries found, which a name in another case or its 8.3 alias finds as well.
Registry::Impl::ResolvedPath Registry::Impl::Resolve(std::string_view windowsPath) const {
  ResolvedPath resolved;
  VolumeLocation location;
  if (machine_.Locate(windowsPath, location) != PathStatus::Found) return resolved;
  resolved.volume = location.volume;
  resolved.host = location.volume->HostPath(location.path);
  if (!resolved.host) resolved.entries = EntryNames(*location.volume, location.path);
  return resolved;
}

bool Registry::Impl::IsFileOf(const Hive& hive, const ResolvedPath& file, bool fileExists) const {
  if (file.volume == nullptr) return false;
  if (!hive.resolved || hive.resolved->volume == nullptr) hive.resolved = Resolve(hive.windowsPath);
  const ResolvedPath& own = *hive.resolved;
  if (own.volume == nullptr) return false;
  if (own.host || file.host) {
    if (!own.host || !file.host) return false;
    if (*own.host == *file.host) return true;
    // Only an existing file can be another name of the hive's.
    std::error_code ec;
    return fileExists && fs::equivalent(*own.host, *file.host, ec);
  }
  return own.volume == file.volume &&
         std::ranges::equal(own.entries, file.entries, EqualsIgnoreCaseCp1252);
}

namespace {

bool HostFileExists(const std::optional<fs::path>& host) {
  std::error_code ec;
  return host && fs::symlink_status(*host, ec).type() != fs::file_type::not_found;
}

}  // namespace

bool Registry::Impl::IsInUse(std::string_view windowsFile) const {
  const ResolvedPath file = Resolve(windowsFile);
  const bool exists = HostFileExists(file.host);
  auto same = [&](const Hive& hive) { return IsFileOf(hive, file, exists); };
  if (same(system_) || same(user_)) return true;
  for (const Mount& mount : mounts_) {
    if (same(mount.hive)) return true;
  }
  return std::ranges::any_of(unattached_, same);
}

std::list<Registry::Impl::Hive>::iterator Registry::Impl::FindUnattached(
    std::string_view windowsFile) {
  const ResolvedPath file = Resolve(windowsFile);
  const bool exists = HostFileExists(file.host);
  return std::ranges::find_if(unattached_,
                              [&](const Hive& hive) { return IsFileOf(hive, file, exists); });
}

bool Registry::Impl::FileExists(std::string_view windowsFile) const {
  if (!Reachable(machine_, windowsFile)) return false;
  if (Occupied(machine_, windowsFile)) return true;
  const ResolvedPath file = Resolve(windowsFile);
  return std::ranges::any_of(unattached_,
                             [&](const Hive& hive) { return IsFileOf(hive, file, false); });
}

bool Registry::Impl::LoadKey(RootKey root, std::string_view key, std::string_view windowsFile) {
  if (root == RootKey::CurrentUser) return false;
  const std::vector<std::string> names = SplitWindowsPath(key);
  if (names.size() != 1 || !IsValidKeyName(names[0]) || Locate(root, key, false)) return false;
  if (!Reachable(machine_, windowsFile)) return false;
  // A file the open batch has yet to write is taken as it will be.
  if (const auto waiting = FindUnattached(windowsFile); waiting != unattached_.end()) {
    mounts_.push_back({root, names[0], std::move(*waiting)});
    unattached_.erase(waiting);
    return true;
  }
  if (!Occupied(machine_, windowsFile) || IsInUse(windowsFile)) return false;
  Mount mount{root, names[0], {}};
  mount.hive.windowsPath = std::string(windowsFile);
  try {
    mount.hive.root = ReadRegistryFile(machine_, windowsFile);
  } catch (const RegistryFileError&) {
    return false;
  }
  mounts_.push_back(std::move(mount));
  return true;
}

bool Registry::Impl::UnLoadKey(RootKey root, std::string_view key) {
  const std::vector<std::string> names = SplitWindowsPath(key);
  Mount* mount = names.size() == 1 ? FindMount(root, names[0]) : nullptr;
  if (!mount) return false;
  if (mount->hive.dirty && InBatch()) {
    // Written with the batch's other files, as one.
    mount->hive.batched = true;
    unattached_.push_back(std::move(mount->hive));
  } else if (mount->hive.dirty) {
    try {
      Commit({&mount->hive});
    } catch (const RegistryFileError&) {
      return false;  // stays attached: its changes are not lost
    }
  }
  mounts_.remove_if([&](const Mount& m) { return &m == mount; });
  return true;
}

bool Registry::Impl::SaveKey(RootKey root, std::string_view key, std::string_view windowsFile) {
  std::optional<Location> at = Locate(root, key, false);
  // A file's root holds no values: a key with values cannot be saved without losing them.
  if (!at || !at->node->values.empty()) return false;
  if (!Reachable(machine_, windowsFile) || Occupied(machine_, windowsFile) ||
      IsInUse(windowsFile)) {
    return false;
  }
  Hive hive;
  hive.windowsPath = std::string(windowsFile);
  hive.root = at->node->Clone();
  hive.root->name.clear();
  hive.root->storedHash.reset();
  hive.dirty = true;
  try {
    if (!InBatch()) {
      Commit({&hive});
      return true;
    }
    EncodeRegistryFile(*hive.root, Cp1252ToUtf8(windowsFile));  // fails now, not at the batch's end
  } catch (const RegistryFileError& e) {
    lastWriteError_ = e.what();
    return false;
  }
  hive.batched = true;
  unattached_.push_back(std::move(hive));
  return true;
}

void Registry::Impl::Commit(const std::vector<Hive*>& hives) {
  std::vector<std::vector<uint8_t>> encoded;
  try {
    for (const Hive* hive : hives) {
      encoded.push_back(EncodeRegistryFile(*hive->root, Cp1252ToUtf8(hive->windowsPath)));
    }
  } catch (const RegistryFileError& e) {
    lastWriteError_ = e.what();
    throw;
  }
  try {
    MachineCommit commit(machine_);
    for (size_t i = 0; i < hives.size(); ++i) {
      const Hive& hive = *hives[i];
      if (hive.backupPath && !hive.backedUp && !hive.original.empty() &&
          ReadsCleanly(hive.original, Cp1252ToUtf8(hive.windowsPath))) {
        commit.Stage(*hive.backupPath, hive.original, ReadOnlyFiles::Replace);
      }
      // Windows keeps its registry files read-only and writes them all the same.
      commit.Stage(hive.windowsPath, encoded[i],
                   hive.backupPath ? ReadOnlyFiles::Replace : ReadOnlyFiles::Refuse);
    }
    commit.Commit();
  } catch (const FileWriteError& e) {
    lastWriteError_ = e.what();
    throw RegistryFileError(e.what());
  }
  for (Hive* hive : hives) {
    hive->dirty = false;
    if (hive->backupPath) {
      hive->backedUp = true;
      hive->original = {};
    }
  }
  unattached_.remove_if([](const Hive& hive) { return !hive.dirty; });
}

bool Registry::Impl::Save(Hive& hive) {
  if (!hive.dirty) return true;
  if (InBatch()) {
    hive.batched = true;
    return true;
  }
  try {
    Commit({&hive});
  } catch (const RegistryFileError&) {
    return false;
  }
  return true;
}

template <typename Visit>
void Registry::Impl::ForEachHive(Visit visit) {
  visit(system_);
  visit(user_);
  for (Mount& mount : mounts_) visit(mount.hive);
  for (Hive& hive : unattached_) visit(hive);
}

template <typename Select>
void Registry::Impl::WriteEach(Select take) {
  std::vector<Hive*> hives;
  ForEachHive([&](Hive& hive) {
    if (take(hive) && hive.dirty) hives.push_back(&hive);
  });
  if (!hives.empty()) Commit(hives);
}

void Registry::Impl::Flush() {
  WriteEach([](const Hive&) { return true; });
}

void Registry::Impl::DiscardChanges() {
  unattached_.clear();
  ForEachHive([this](Hive& hive) {
    if (!hive.dirty) return;
    hive.root = Occupied(machine_, hive.windowsPath) ? ReadRegistryFile(machine_, hive.windowsPath)
                                                     : std::make_unique<RegNode>();
    hive.dirty = hive.batched = false;
  });
}

// Only the files changed in this batch: one whose write failed before is not tried at every end
// of a batch (an action that changed nothing), but again once it changes, or at a flush.
void Registry::Impl::CloseBatch() {
  if (--batchDepth_ > 0) return;
  WriteBatched();
}

void Registry::Impl::WriteBatched() {
  WriteEach([](Hive& hive) { return std::exchange(hive.batched, false); });
}

void Registry::Impl::LeaveToBatch() {
  ForEachHive([](Hive& hive) { hive.batched = hive.batched || hive.dirty; });
}

// ---- Registry ----

Registry::Registry(const Machine& machine) : impl_(std::make_unique<Impl>(machine)) {}

Registry::~Registry() {
  try {
    impl_->Flush();
  } catch (const RegistryFileError&) {
    // Nothing left to report to: every accessor has flushed its own changes or reported failing.
  }
}

const Machine& Registry::GetMachine() const {
  return impl_->GetMachine();
}

const std::string& Registry::LastWriteError() const {
  return impl_->LastWriteError();
}

void Registry::Flush() {
  impl_->Flush();
}

void Registry::WritePending() {
  impl_->WriteBatched();
}

void Registry::DiscardChanges() {
  impl_->DiscardChanges();
}

bool Registry::FileExists(std::string_view windowsFile) const {
  return impl_->FileExists(windowsFile);
}

const RegNode& Registry::FileTree(RootKey root) const {
  return *impl_->Locate(root == RootKey::LocalMachine ? root : RootKey::Users, "", false)->node;
}

void Registry::ChangeFileTrees(const std::function<void(RegNode& system, RegNode& user)>& change) {
  Impl::Hive& system = *impl_->Locate(RootKey::LocalMachine, "", false)->hive;
  Impl::Hive& user = *impl_->Locate(RootKey::Users, "", false)->hive;
  std::unique_ptr<RegNode> newSystem = system.root->Clone();
  std::unique_ptr<RegNode> newUser = user.root->Clone();
  change(*newSystem, *newUser);
  for (auto [hive, tree] : {std::pair{&system, &newSystem}, std::pair{&user, &newUser}}) {
    if (SameTree(*hive->root, **tree)) continue;
    hive->root = std::move(*tree);
    hive->dirty = true;
    if (impl_->InBatch()) hive->batched = true;
  }
  if (!impl_->InBatch()) impl_->Flush();
}

// ---- RegistryWriteBatch ----

RegistryWriteBatch::RegistryWriteBatch(Registry& registry) : registry_(registry) {
  registry_.GetImpl().OpenBatch();
}

RegistryWriteBatch::~RegistryWriteBatch() {
  try {
    Finish();
  } catch (const RegistryFileError&) {
    // Unreported by design: the changes stay in memory and the next flush writes them.
  }
}

void RegistryWriteBatch::Finish() {
  if (!std::exchange(open_, false)) return;
  registry_.GetImpl().CloseBatch();
}

// ---- RegistryAccessor ----

namespace {

[[noreturn]] void FailToSet(std::string_view name, const std::string& why) {
  throw RegistryError("Failed to set data for '" + Cp1252ToUtf8(name) + "': " + why);
}

}  // namespace

RegistryAccessor::RegistryAccessor(Registry& registry) : registry_(registry) {}

RegistryAccessor::~RegistryAccessor() {
  CloseKey();
}

void RegistryAccessor::SetRootKey(RootKey root) {
  CloseKey();
  root_ = root;
}

bool RegistryAccessor::OpenKey(std::string_view path, bool canCreate) {
  CloseKey();
  std::optional<Registry::Impl::Location> at = registry_.GetImpl().Locate(root_, path, canCreate);
  if (!at || (at->created && !registry_.GetImpl().Save(*at->hive))) return false;
  path_ = JoinPath(SplitWindowsPath(path));
  open_ = true;
  return true;
}

// Changes are written when made, or when the write batch ends: closing writes nothing.
void RegistryAccessor::CloseKey() {
  open_ = false;
  path_.clear();
}

void RegistryAccessor::CreateKey(std::string_view path) {
  std::optional<Registry::Impl::Location> at = registry_.GetImpl().Locate(root_, path, true);
  // Also an existing key whose file could not be written before is not there for good yet.
  if (!at || !registry_.GetImpl().Save(*at->hive)) {
    throw RegistryError("Failed to create key " + Cp1252ToUtf8(path));
  }
}

bool RegistryAccessor::KeyExists(std::string_view path) {
  return registry_.GetImpl().Locate(root_, path, false).has_value();
}

bool RegistryAccessor::DeleteKey(std::string_view path) {
  return registry_.GetImpl().DeleteKey(root_, path);
}

namespace {

// The open key, looked up afresh: another accessor may have deleted it meanwhile.
const RegNode* OpenNode(Registry& registry, RootKey root, bool open, const std::string& path) {
  if (!open) return nullptr;
  std::optional<Registry::Impl::Location> at = registry.GetImpl().Locate(root, path, false);
  return at ? at->node : nullptr;
}

}  // namespace

int32_t RegistryAccessor::ReadInteger(std::string_view name) const {
  std::optional<RegValue> value = ReadValue(name);
  if (!value || value->data.empty()) return 0;
  if (value->data.size() > 4) {
    throw RegistryError("Failed to get data for '" + Cp1252ToUtf8(name) + "'");
  }
  if (value->type != kRegDword) {
    throw RegistryError("Invalid data type for '" + Cp1252ToUtf8(name) + "'");
  }
  uint32_t number = 0;
  for (size_t i = 0; i < value->data.size(); ++i) number |= uint32_t{value->data[i]} << (8 * i);
  return static_cast<int32_t>(number);
}

std::string RegistryAccessor::ReadString(std::string_view name) const {
  std::optional<RegValue> value = ReadValue(name);
  if (!value || value->data.empty()) return {};
  if (value->type != kRegSz && value->type != kRegExpandSz) {
    throw RegistryError("Invalid data type for '" + Cp1252ToUtf8(name) + "'");
  }
  std::string text(value->data.begin(), value->data.end());
  return text.substr(0, text.find('\0'));
}

std::optional<RegValue> RegistryAccessor::ReadValue(std::string_view name) const {
  const RegNode* node = OpenNode(registry_, root_, open_, path_);
  const RegValue* value = node ? node->FindValue(name) : nullptr;
  if (!value) return std::nullopt;
  return *value;
}

void RegistryAccessor::WriteInteger(std::string_view name, int32_t value) {
  const auto number = static_cast<uint32_t>(value);
  WriteValue(name, kRegDword,
             {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
              static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)});
}

// Windows 95 stores REG_SZ text without its closing zero.
void RegistryAccessor::WriteString(std::string_view name, std::string_view value) {
  WriteValue(name, kRegSz, std::vector<uint8_t>(value.begin(), value.end()));
}

void RegistryAccessor::WriteBinaryData(std::string_view name, const std::vector<uint8_t>& data) {
  WriteValue(name, kRegBinary, data);
}

void RegistryAccessor::WriteValue(std::string_view name, uint32_t type,
                                  const std::vector<uint8_t>& data) {
  if (!open_) FailToSet(name, "no key is open");
  std::optional<Registry::Impl::Location> at = registry_.GetImpl().Locate(root_, path_, false);
  if (!at) FailToSet(name, "the key does not exist");
  // A file's root has no record to hold values.
  if (at->node == at->hive->root.get()) FailToSet(name, "the root of a file holds no values");
  if (std::string why = ValueMisfit(*at->node, name, type, data.size()); !why.empty()) {
    FailToSet(name, why);
  }
  at->node->SetValue(name, type, data);
  at->hive->dirty = true;
  if (!registry_.GetImpl().Save(*at->hive)) FailToSet(name, registry_.GetImpl().LastWriteError());
}

bool RegistryAccessor::DeleteValue(std::string_view name) {
  if (!open_) return false;
  std::optional<Registry::Impl::Location> at = registry_.GetImpl().Locate(root_, path_, false);
  if (!at || !at->node->RemoveValue(name)) return false;
  at->hive->dirty = true;
  return registry_.GetImpl().Save(*at->hive);
}

std::vector<std::string> RegistryAccessor::GetKeyNames() const {
  if (!open_) return {};
  return registry_.GetImpl().SubkeyNames(root_, path_);
}

std::vector<std::string> RegistryAccessor::GetValueNames() const {
  std::vector<std::string> names;
  if (const RegNode* node = OpenNode(registry_, root_, open_, path_)) {
    for (const RegValue& value : node->values) names.push_back(value.name);
  }
  return names;
}

bool RegistryAccessor::LoadKey(std::string_view key, std::string_view windowsFile) {
  return registry_.GetImpl().LoadKey(root_, key, windowsFile);
}

bool RegistryAccessor::UnLoadKey(std::string_view key) {
  return registry_.GetImpl().UnLoadKey(root_, key);
}

bool RegistryAccessor::SaveKey(std::string_view key, std::string_view windowsFile) {
  return registry_.GetImpl().SaveKey(root_, key, windowsFile);
}

bool RegistryAccessor::FlushKey() {
  if (!open_) return false;
  if (registry_.GetImpl().InBatch()) {
    registry_.GetImpl().LeaveToBatch();
    return true;
  }
  try {
    registry_.Flush();
  } catch (const RegistryFileError&) {
    return false;
  }
  return true;
}

}  // namespace tarnwick
