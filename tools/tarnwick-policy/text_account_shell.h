// The account core's copies, deletes and messages for the command line: questions read from
// standard input, everything else written as text.
#pragma once

#include <iosfwd>
#include <string>

#include "account/account_shell.h"

namespace tarnwick {

class Machine;

class TextAccountShell : public AccountShell {
 public:
  // Questions, failures and messages go to out (UTF-8), answers come from standard input; the
  // machine must outlive the object.
  TextAccountShell(const Machine& machine, std::ostream& out) : machine_(machine), out_(out) {}

  void CopyFolder(const std::string& source, const std::string& destination) override;
  void DeleteFolder(const std::string& folder) override;
  void Tell(const std::string& text) override;

 private:
  const Machine& machine_;
  std::ostream& out_;
};

}  // namespace tarnwick
