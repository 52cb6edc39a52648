#include "ui/window_account_shell.h"

#include "shell/ansi_qstring.h"
#include "shell/file_operations.h"
#include "shell/prompts.h"

namespace tarnwick {

// The shell's tree routines report their own failures in message boxes.
void WindowAccountShell::CopyFolder(const std::string& source, const std::string& destination) {
  CopyDirectoryTree(machine_, source, destination, owner_);
}

void WindowAccountShell::DeleteFolder(const std::string& folder) {
  DeleteDirectoryTree(machine_, folder, owner_);
}

void WindowAccountShell::Tell(const std::string& text) {
  ShowMessage(owner_, MessageKind::Plain, FromAnsi(text));
}

}  // namespace tarnwick
