#include "registry/creg_file.h"

#include <system_error>

#include "base/file_io.h"
#include "machine/atomic_file.h"

namespace tarnwick {
namespace {

// Far above any real hive (Windows 95's are a few megabytes); refusing larger files keeps a wrong
// path from turning into a huge allocation.
constexpr size_t kMaxFileSize = 256 << 20;

}  // namespace

std::unique_ptr<RegNode> ReadRegistryFile(const std::filesystem::path& file) {
  std::vector<uint8_t> bytes;
  try {
    bytes = ReadWholeFile(file, kMaxFileSize);
  } catch (const FileReadError& e) {
    throw RegistryFileError(e.what());
  }
  return DecodeRegistryFile(bytes, file.string());
}

void WriteRegistryFile(const std::filesystem::path& file, const RegNode& root) {
  std::vector<uint8_t> bytes = EncodeRegistryFile(root, file.string());
  try {
    WriteFileAtomically(file, bytes);
  } catch (const std::system_error& e) {
    throw RegistryFileError(e.what());
  }
}

}  // namespace tarnwick
