#include "base/data_home.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace tarnwick {

std::optional<std::filesystem::path> DataHome() {
  namespace fs = std::filesystem;
  if (const char* xdg = std::getenv("XDG_DATA_HOME");
      xdg != nullptr && fs::path(xdg).is_absolute()) {
    return fs::path(xdg);
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return fs::path(home) / ".local" / "share";
  }
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    return fs::path(pw->pw_dir) / ".local" / "share";
  }
  return std::nullopt;
}

}  // namespace tarnwick
