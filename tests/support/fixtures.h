// Third-party sample files (genuine hives, Recycle Bin samples) kept outside the checkout, in the
// folder CMake's TARNWICK_FIXTURES_DIR names. A test that reads them skips when they are absent.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

namespace tarnwick::testing {

const std::filesystem::path& FixturesDir();
std::filesystem::path Fixture(const std::filesystem::path& relative);

}  // namespace tarnwick::testing

// Ends the running test as skipped when the fixture file or folder is absent.
#define SKIP_WITHOUT_FIXTURE(path)    \
  if (!std::filesystem::exists(path)) \
  GTEST_SKIP() << "fixtures not found in " << ::tarnwick::testing::FixturesDir()
