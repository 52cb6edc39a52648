// Windows paths on a machine with hostile symbolic links: a mapped host path never leaves the
// drive the path names, and a located path's long and short forms lead back to the same file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_machine.h"
#include "machine/short_name.h"

namespace {

using namespace tarnwick;
namespace fs = std::filesystem;

// The drive a Windows path names: its letter, or the remote name it starts with.
const DriveInfo* NamedDrive(const Machine& machine, std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  if (path.starts_with("\\\\")) return machine.FindDrive('N');
  return path.size() >= 2 && path[1] == ':' ? machine.FindDrive(path[0]) : nullptr;
}

// Inside the drive as written and as the host resolves it, through no dangling link.
void CheckInside(const fs::path& host, const fs::path& drive) {
  fuzz::Check(fuzz::IsWithin(host.lexically_normal(), drive), "the host path lies in the drive");
  // A name too long for the host cannot exist there: resolving it fails, and nothing leaves.
  std::error_code ec;
  const fs::path resolved = fs::weakly_canonical(host, ec);
  fuzz::Check(ec || fuzz::IsWithin(resolved, drive), "the resolved host path lies in the drive");
  fs::path prefix;
  for (const fs::path& part : host) {
    prefix /= part;
    if (!fs::is_symlink(fs::symlink_status(prefix, ec))) continue;
    const fs::path target = fs::canonical(prefix, ec);
    fuzz::Check(!ec && fuzz::IsWithin(target, drive),
                "a link on the way resolves inside the drive");
  }
}

fs::path Resolved(const fs::path& host) {
  std::error_code ec;
  return fs::weakly_canonical(host, ec);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::FuzzMachine fixture;
  const Machine& machine = fixture.Get();
  const std::string path(reinterpret_cast<const char*>(data), size);

  const DriveInfo* drive = NamedDrive(machine, path);
  if (const auto host = machine.HostPath(path)) {
    fuzz::Check(drive != nullptr && drive->HasMedium(), "only a drive with medium maps");
    CheckInside(*host, drive->hostDir);
  }
  // The folder held for a write is inside the drive too.
  try {
    const HeldPath held = machine.Hold(path);
    fuzz::Check(drive != nullptr && drive->HasMedium(), "only a drive with medium is held");
    if (held.dir.Valid()) {
      const fs::path folder = fs::read_symlink("/proc/self/fd/" + std::to_string(held.dir.Get()));
      fuzz::Check(fuzz::IsWithin(folder, drive->hostDir), "a held folder lies in the drive");
    }
  } catch (const MachineError&) {
    // Not a path on the machine, or a drive's root: nothing is held.
  }
  const auto located = LocateMachinePath(machine, path);
  if (!located) return 0;
  fuzz::Check(drive != nullptr && drive->HasMedium(), "only a drive with medium locates");
  CheckInside(located->HostPath(), drive->hostDir);
  for (const auto& component : located->components) CheckInside(component.hostPath, drive->hostDir);
  const fs::path file = Resolved(located->HostPath());
  for (const std::string& form : {located->LongPath(), located->ShortPath()}) {
    const auto again = LocateMachinePath(machine, form);
    fuzz::Check(again && Resolved(again->HostPath()) == file,
                "the long and short paths locate the same file");
    const auto host = machine.HostPath(form);
    if (!host || Resolved(*host) != file) {
      std::fprintf(stderr, "%s does not map back\n", form.c_str());
      fuzz::Fail("the long and short paths map to the same file");
    }
  }
  return 0;
}
