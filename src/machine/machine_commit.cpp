#include "machine/machine_commit.h"

#include "base/cp1252.h"

namespace tarnwick {

void MachineCommit::StagedFolders::Add(std::filesystem::path dir) {
  dirs_.push_back(std::move(dir));
}

void MachineCommit::StagedFolders::Forget() const {
  for (const std::filesystem::path& dir : dirs_) names_.Changed(dir);
}

MachineCommit::MachineCommit(const Machine& machine)
    : machine_(machine), staged_(machine.HostNames()) {}

void MachineCommit::Stage(std::string_view windowsPath, std::span<const uint8_t> bytes,
                          ReadOnlyFiles readOnly) {
  VolumeLocation location;
  if (machine_.Locate(windowsPath, location) != PathStatus::Found) {
    throw FileWriteError(Cp1252ToUtf8(windowsPath) + ": not a path on a drive of the machine");
  }
  if (const auto host = machine_.LookUp(windowsPath, false); host.status == PathStatus::Found) {
    if (!host_) host_.emplace(machine_.Directory());
    staged_.Add(host.host.parent_path());
    const FolderChange change(machine_.HostNames(), host.host.parent_path());
    host_->Stage(host.host, bytes, readOnly);
  } else if (host.status == PathStatus::OnImage) {
    images_.push_back({location.volume, std::move(location.path),
                       std::vector<uint8_t>(bytes.begin(), bytes.end()), readOnly});
  } else {
    throw FileWriteError(Cp1252ToUtf8(windowsPath) +
                         ": the path leads outside its drive or to a link that points nowhere");
  }
}

void MachineCommit::Commit() {
  if (host_) {
    // Made or not, the renames changed the folders.
    const struct ForgetAfter {
      const StagedFolders& staged;
      ~ForgetAfter() { staged.Forget(); }
    } forget{staged_};
    host_->Commit();
  }
  for (const Pending& file : images_) file.volume->WriteFile(file.path, file.bytes, file.readOnly);
}

}  // namespace tarnwick
