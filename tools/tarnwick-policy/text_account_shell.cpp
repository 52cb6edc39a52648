#include "text_account_shell.h"

#include <exception>
#include <iostream>
#include <ostream>

#include "base/cp1252.h"
#include "operations/file_operations.h"
#include "operations/text_prompter.h"

namespace tarnwick {

// A copy or delete that fails is reported, and the account is made or removed all the same, as
// the windows do it.
void TextAccountShell::CopyFolder(const std::string& source, const std::string& destination) {
  TextPrompter prompter(std::cin, out_);
  try {
    if (CopyDirectoryTree(machine_, source, destination, prompter) == OperationResult::Cancelled) {
      out_ << "tarnwick-policy: the copy of " << Cp1252ToUtf8(source) << " was cancelled\n";
    }
  } catch (const std::exception& e) {
    out_ << "tarnwick-policy: " << e.what() << '\n';
  }
}

void TextAccountShell::DeleteFolder(const std::string& folder) {
  try {
    DeleteDirectoryTree(machine_, folder);
  } catch (const std::exception& e) {
    out_ << "tarnwick-policy: " << e.what() << '\n';
  }
}

void TextAccountShell::Tell(const std::string& text) {
  out_ << "tarnwick-policy: " << Cp1252ToUtf8(text) << '\n';
}

}  // namespace tarnwick
