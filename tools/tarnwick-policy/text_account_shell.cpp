#include "text_account_shell.h"

#include <ostream>

#include "base/error.h"
#include "machine/cp1252.h"

namespace tarnwick {

// The Qt-free copy and delete of whole folders are still to come from the file operations
// core; until then the command line refuses what needs them.
void TextAccountShell::CopyFolder(const std::string& source, const std::string& /*destination*/) {
  static_cast<void>(machine_);
  throw Error("Copying " + Cp1252ToUtf8(source) + " is not yet possible from the command line");
}

void TextAccountShell::DeleteFolder(const std::string& folder) {
  throw Error("Deleting " + Cp1252ToUtf8(folder) + " is not yet possible from the command line");
}

void TextAccountShell::Tell(const std::string& text) {
  out_ << "tarnwick-policy: " << Cp1252ToUtf8(text) << '\n';
}

}  // namespace tarnwick
