#include "support/fixtures.h"

namespace tarnwick::test {

const std::filesystem::path& FixturesDir() {
  static const std::filesystem::path dir = TARNWICK_FIXTURES_DIR;
  return dir;
}

std::filesystem::path Fixture(const std::filesystem::path& relative) {
  return FixturesDir() / relative;
}

}  // namespace tarnwick::test
