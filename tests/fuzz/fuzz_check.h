// What the harnesses share: failing a property loudly, and the path containment test.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace tarnwick::fuzz {

// A broken property is a finding: libFuzzer keeps the input when the process aborts.
[[noreturn]] inline void Fail(const char* property) {
  std::fprintf(stderr, "broken property: %s\n", property);
  std::abort();
}

inline void Check(bool holds, const char* property) {
  if (!holds) Fail(property);
}

// Whether path is root or lies below it, comparing whole components.
inline bool IsWithin(const std::filesystem::path& path, const std::filesystem::path& root) {
  return std::mismatch(root.begin(), root.end(), path.begin(), path.end()).first == root.end();
}

}  // namespace tarnwick::fuzz
