// The new-user wizard's answers as text: add-user's options and import-users' columns.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "account/account.h"
#include "base/error.h"

namespace tarnwick {

class AccountShell;
class Machine;
class TUsers;

// A value an option or a column does not take. The text begins with "takes" and says what it
// takes, for the caller to put the option's or the column's name before it.
class OptionValueError : public Error {
 public:
  using Error::Error;
};

// The answers given, and the programs to allow as typed.
struct NewUserOptions {
  NewUserAnswers answers;
  std::vector<std::string> programs;
};

// The parts of a list separated by commas, each trimmed of blanks.
std::vector<std::string> SplitAtCommas(std::string_view text);

// A,C or a:,c: gives "AC". Throws OptionValueError.
std::string DriveLetters(const std::string& list);

// Switches on the restrictions of a list such as NoRun,NoFind, and RestrictRun (only the listed
// programs run). Throws OptionValueError.
void AddRestrictions(const std::string& list, NewUserAnswers& answers);

// A bare file name is allowed as it is. A program or shortcut named by its path is allowed by its
// file name and gets a shortcut when only listed programs may run, as Add Program answered Yes.
// Throws Error when the path names nothing usable.
AllowedAppEntry AllowedEntry(const Machine& machine, const std::string& program);

// Makes the account as the new-user wizard does and tells shell what could not be done. The
// answers are checked already; startup are the machine's start-up programs, which the wizard's
// list starts with.
void MakeAccount(TUsers& users, NewUserAnswers answers, const std::vector<std::string>& startup,
                 const std::vector<AllowedAppEntry>& programs, AccountShell& shell);

}  // namespace tarnwick
