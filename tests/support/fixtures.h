// Third-party sample files (genuine hives, Recycle Bin samples) kept outside the checkout, in the
// folder CMake's TARNWICK_FIXTURES_DIR names. A test whose sample is absent fails.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

namespace tarnwick::test {

const std::filesystem::path& FixturesDir();
std::filesystem::path Fixture(const std::filesystem::path& relative);

}  // namespace tarnwick::test

// Ends the running test as failed when the fixture file or folder is absent.
#define ASSERT_FIXTURE(path)                 \
  ASSERT_TRUE(std::filesystem::exists(path)) \
      << (path) << " not found; TARNWICK_FIXTURES_DIR is " << ::tarnwick::test::FixturesDir()
