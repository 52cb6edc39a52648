#include "registry/creg_file.h"

#include "base/cp1252.h"
#include "base/file_io.h"
#include "machine/atomic_file.h"
#include "machine/machine.h"

namespace tarnwick {

std::unique_ptr<RegNode> ReadRegistryFile(const std::filesystem::path& file) {
  std::vector<uint8_t> bytes;
  try {
    bytes = ReadWholeFile(file, kMaxRegistryFileSize);
  } catch (const FileReadError& e) {
    throw RegistryFileError(e.what());
  }
  return DecodeRegistryFile(bytes, file.string());
}

std::vector<uint8_t> ReadRegistryBytes(const Machine& machine, std::string_view windowsPath) {
  try {
    return machine.ReadFile(windowsPath, kMaxRegistryFileSize);
  } catch (const FileReadError& e) {
    throw RegistryFileError(e.what());
  }
}

std::unique_ptr<RegNode> ReadRegistryFile(const Machine& machine, std::string_view windowsPath) {
  return DecodeRegistryFile(ReadRegistryBytes(machine, windowsPath), Cp1252ToUtf8(windowsPath));
}

void WriteRegistryFile(const std::filesystem::path& file, const RegNode& root,
                       ReadOnlyFiles readOnly) {
  std::vector<uint8_t> bytes = EncodeRegistryFile(root, file.string());
  try {
    WriteFileAtomically(file, bytes, readOnly);
  } catch (const FileWriteError& e) {
    throw RegistryFileError(e.what());
  }
}

}  // namespace tarnwick
