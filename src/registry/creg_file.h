// The Windows 95 registry file format ("CREG"): SYSTEM.DAT, USER.DAT, user.dat, *.pol.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "machine/atomic_file.h"
#include "registry/reg_tree.h"

namespace tarnwick {

class Machine;

// A file that is damaged, cannot be read or written, or a tree beyond Windows 95's limits.
// The text names the file and what is wrong.
class RegistryFileError : public Error {
 public:
  using Error::Error;
};

// Far above any real hive (Windows 95's are a few megabytes); refusing larger files keeps a wrong
// path from turning into a huge allocation.
inline constexpr size_t kMaxRegistryFileSize = 256 << 20;

// fileName is only used in error texts.
std::unique_ptr<RegNode> DecodeRegistryFile(std::span<const uint8_t> bytes,
                                            const std::string& fileName);
std::vector<uint8_t> EncodeRegistryFile(const RegNode& root, const std::string& fileName);

std::unique_ptr<RegNode> ReadRegistryFile(const std::filesystem::path& file);
// A registry file on the machine by its Windows path, on whichever volume keeps it; errors name
// the Windows path.
std::vector<uint8_t> ReadRegistryBytes(const Machine& machine, std::string_view windowsPath);
std::unique_ptr<RegNode> ReadRegistryFile(const Machine& machine, std::string_view windowsPath);
// Atomic replace: a temporary file in the same directory, flushed, renamed over the old one.
void WriteRegistryFile(const std::filesystem::path& file, const RegNode& root,
                       ReadOnlyFiles readOnly = ReadOnlyFiles::Refuse);

}  // namespace tarnwick
