// Test helper: reads a Windows 95 registry file with two independent readers, libcreg's
// `cregexport` and Perl's Parse::Win32Registry, and turns their output into one comparable form.
//
// Typical use:
//   ReaderOutput creg = ReadWithCregexport(file);
//   ASSERT_TRUE(creg.ok()) << creg.diagnostics;
//   EXPECT_EQ(creg.keys, ExportTree(*root));
//
// Names and paths are UTF-8, decoded from code page 1252 as both readers decode them (the five
// undefined bytes become U+FFFD). The root key has the empty path; other paths join names with
// "\". Data is the raw bytes the reader reports. Limits of the cregexport text: a value named
// "(default)" reads as the unnamed value, and names holding line breaks cannot be told apart.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "registry/reg_tree.h"

namespace tarnwick::test {

struct ExportedValue {
  std::string name;
  uint32_t type = 0;
  std::vector<uint8_t> data = {};
  bool operator==(const ExportedValue&) const = default;
};

struct ExportedKey {
  std::string path;
  std::vector<ExportedValue> values = {};
  bool operator==(const ExportedKey&) const = default;
};

struct ReaderOutput {
  int exitStatus = -1;
  std::string diagnostics;        // the reader's stderr, plus our own parse complaints
  std::vector<ExportedKey> keys;  // pre-order, in the order the reader enumerates them
  // Exit status 0 and nothing on stderr: the reader accepted the file without a warning.
  bool ok() const { return exitStatus == 0 && diagnostics.empty(); }
};

ReaderOutput ReadWithCregexport(const std::filesystem::path& file);
ReaderOutput ReadWithParseWin32Registry(const std::filesystem::path& file);

// The same form built from our own tree, names decoded from code page 1252.
std::vector<ExportedKey> ExportTree(const RegNode& root);

// Empty when equal, else a description of the first difference, for failure messages.
std::string FirstDifference(const std::vector<ExportedKey>& got,
                            const std::vector<ExportedKey>& expected);

// Readable gtest failure output.
void PrintTo(const ExportedValue& value, std::ostream* out);
void PrintTo(const ExportedKey& key, std::ostream* out);

}  // namespace tarnwick::test
