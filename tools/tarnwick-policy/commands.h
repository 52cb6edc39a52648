// The commands of tarnwick-policy, run on the attached policy file.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "base/error.h"
#include "policy/policy_template.h"

namespace tarnwick {

class AccountShell;
class PolicyStore;

// A command line that names no command or gives a command the wrong arguments.
class UsageError : public Error {
 public:
  using Error::Error;
};

// Checks the command's name and argument count before anything is opened. Throws UsageError.
void CheckCommand(const std::string& command, const std::vector<std::string>& args);

// Whether a checked command only reads: users, show, activation without an argument, policies,
// groups and effective. Such a command changes no file.
bool IsReadingCommand(const std::string& command, const std::vector<std::string>& args);

// Runs a checked command; arguments and output are code page 1252, but import-users' file is a
// host path as given. Errors are exceptions with UTF-8 texts. templates are those policies and
// policy offer. Folders are copied and deleted through shell, which also hears what add-user and
// import-users tell and what they could not do. newFolders gets the folders (Windows paths, in
// the order made) that import-users made and a failure of the command is to remove.
void RunCommand(PolicyStore& store, const std::vector<PolicyTemplate>& templates,
                const std::string& command, const std::vector<std::string>& args, std::ostream& out,
                AccountShell& shell, std::vector<std::string>& newFolders);

}  // namespace tarnwick
