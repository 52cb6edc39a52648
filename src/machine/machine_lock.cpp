#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "machine/file_commit.h"
#include "machine/machine.h"
#include "machine/win_path.h"

namespace tarnwick {

namespace {

int Flock(int fd, int operation) {
  int result = 0;
  do {
    result = ::flock(fd, operation);
  } while (result != 0 && errno == EINTR);
  return result;
}

// A machine opened on a disk image has no directory of its own: the image is its directory, and
// the image's exclusive lock, held while its volume is open, is the machine's lock.
bool IsImageMachine(const Machine& machine) {
  return std::ranges::any_of(
      machine.Drives(), [&](const DriveInfo& drive) { return drive.image == machine.Directory(); });
}

// Under the lock nobody else writes: a commit that a kill interrupted is finished, and the
// temporary files of registry files that a kill left are removed. Both happen on host directories
// only; a file on an image is replaced in place, leaving nothing to finish.
void RecoverFiles(const Machine& machine) {
  // What it renames and removes changes folders that the machine's look-ups may have read.
  struct ForgetNames {
    const Machine& machine;
    ~ForgetNames() { machine.HostNames().Clear(); }
  } const forget{machine};
  if (!IsImageMachine(machine)) {
    try {
      CompleteFileCommit(machine.Directory());
    } catch (const FileWriteError& e) {
      throw MachineError(std::string("An unfinished change cannot be completed: ") + e.what());
    }
    const std::string records[] = {kCommitRecordName};
    RemoveTemporaryFiles(machine.Directory(), records);
  }
  const std::string windows = AddTrailingBackslash(machine.WindowsDirectory());
  const std::string registryFiles[] = {"SYSTEM.DAT", "USER.DAT", "SYSTEM.DA0", "USER.DA0",
                                       "Tarnex.pol"};
  if (const auto dir = machine.HostPath(windows)) RemoveTemporaryFiles(*dir, registryFiles);
  const std::string profileFiles[] = {"user.dat"};
  // Profiles lie in the Windows directory's Profiles, or on a lab in each home's .profiles.
  const auto removeInProfiles = [&](const std::filesystem::path& profiles,
                                    const std::filesystem::path& below) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(profiles, ec), end; !ec && it != end;
         it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec)) {
        RemoveTemporaryFiles(it->path() / below, profileFiles);
      }
    }
  };
  if (const auto profiles = machine.HostPath(windows + "Profiles")) removeInProfiles(*profiles, {});
  if (const std::optional<LabSettings>& lab = machine.Lab()) {
    const std::string policyFiles[] = {std::string(kPolicyFileName)};
    const std::string policyFile = LabPolicyFilePath(*lab);
    if (const auto netlogon = machine.HostPath(ExtractFilePath(policyFile))) {
      RemoveTemporaryFiles(*netlogon, policyFiles);
    }
    const std::string home = LabProfileDirectory(*lab, "");
    if (const auto homes = machine.HostPath(ExtractFilePath(home))) {
      removeInProfiles(*homes, ExtractFileName(home));
    }
  }
}

}  // namespace

std::optional<MachineLock> MachineLock::TryAcquire(const Machine& machine) {
  if (IsImageMachine(machine)) {
    MachineLock lock{UniqueFd()};
    lock.LockDrives(machine);
    RecoverFiles(machine);
    return lock;
  }
  const std::filesystem::path file = machine.Directory() / "tarnwick.lock";
  UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!fd.Valid() && errno == ELOOP) {
    throw MachineError(file.string() +
                       ": the lock file is a symbolic link; remove it so that Tarnwick can lock "
                       "the machine");
  }
  if (!fd.Valid()) throw MachineError(file.string() + ": " + std::strerror(errno));
  if (Flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return std::nullopt;
    throw MachineError(file.string() + ": " + std::strerror(errno));
  }
  MachineLock lock(std::move(fd));
  lock.LockDrives(machine);
  RecoverFiles(machine);
  return lock;
}

void MachineLock::LockDrives(const Machine& machine) {
  std::set<std::pair<dev_t, ino_t>> locked;
  for (const DriveInfo& drive : machine.Drives()) {
    // An image drive is locked by its volume, which holds the image exclusively while open.
    if (drive.type != DriveType::Fixed || drive.hostDir.empty()) continue;
    UniqueFd dir(::open(drive.hostDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const std::string name = std::string(1, drive.letter) + ": (" + drive.hostDir.string() + ")";
    if (!dir.Valid()) {
      if (errno == ENOENT) continue;  // nothing there to write
      throw MachineError("Drive " + name + " cannot be locked: " + std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(dir.Get(), &info) != 0) {
      throw MachineError("Drive " + name + " cannot be locked: " + std::strerror(errno));
    }
    if (!locked.insert({info.st_dev, info.st_ino}).second) continue;  // another letter, one disk
    if (Flock(dir.Get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) {
        throw MachineError("Drive " + name +
                           " is in use by another Tarnwick program; close it and try again");
      }
      throw MachineError("Drive " + name + " cannot be locked: " + std::strerror(errno));
    }
    drives_.push_back(std::move(dir));
  }
}

}  // namespace tarnwick
