// The account core's copies, deletes and messages done with the shell's dialogs, owned by a
// window.
#pragma once

#include <string>

#include "account/account_shell.h"

class QWidget;

namespace tarnwick {

class Machine;

class WindowAccountShell : public AccountShell {
 public:
  // The machine must outlive the object; owner parents every dialog.
  WindowAccountShell(const Machine& machine, QWidget* owner) : machine_(machine), owner_(owner) {}

  void CopyFolder(const std::string& source, const std::string& destination) override;
  void DeleteFolder(const std::string& folder) override;
  void Tell(const std::string& text) override;

 private:
  const Machine& machine_;
  QWidget* owner_;
};

}  // namespace tarnwick
