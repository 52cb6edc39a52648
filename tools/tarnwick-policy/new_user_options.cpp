#include "new_user_options.h"

#include <optional>

#include "account/account_shell.h"
#include "account/allowed_program.h"
#include "base/cp1252.h"
#include "base/text.h"
#include "machine/machine.h"

namespace tarnwick {

namespace {

constexpr std::string_view kRestrictRun = "RestrictRun";

}  // namespace

std::vector<std::string> SplitAtCommas(std::string_view text) {
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    const size_t comma = text.find(',', start);
    parts.emplace_back(Trim(text.substr(start, comma - start)));
    if (comma == std::string_view::npos) return parts;
    start = comma + 1;
  }
}

std::string DriveLetters(const std::string& list) {
  std::string letters;
  for (const std::string& drive : SplitAtCommas(list)) {
    const char letter = drive.empty() ? '\0' : UpperAscii(drive[0]);
    if (letter < 'A' || letter > 'Z' || drive.size() > 2 ||
        (drive.size() == 2 && drive[1] != ':')) {
      throw OptionValueError("takes drive letters such as A,C, not '" + Cp1252ToUtf8(drive) + "'");
    }
    letters += letter;
  }
  return letters;
}

void AddRestrictions(const std::string& list, NewUserAnswers& answers) {
  for (const std::string& name : SplitAtCommas(list)) {
    if (EqualsIgnoreCase(name, kRestrictRun)) {
      answers.runListed = true;
    } else if (const std::optional<std::string_view> known = FindNewUserRestriction(name)) {
      answers.restrictions.emplace_back(*known);
    } else {
      std::string names(kRestrictRun);
      for (std::string_view each : NewUserRestrictions()) names += ", " + std::string(each);
      throw OptionValueError("takes " + names + "; not '" + Cp1252ToUtf8(name) + "'");
    }
  }
}

AllowedAppEntry AllowedEntry(const Machine& machine, const std::string& program) {
  if (program.find_first_of("\\/:") == std::string::npos) {
    if (Trim(program).empty()) throw Error("An allowed program needs a file name such as calc.exe");
    return {program, std::nullopt};
  }
  if (!ExistingFile(machine, program)) {
    throw Error("There is no program or shortcut " + Cp1252ToUtf8(program) + " on the machine");
  }
  const std::optional<AllowedProgram> found = AllowedProgramOf(machine, program);
  if (!found) {
    throw Error("The shortcut " + Cp1252ToUtf8(program) +
                " is damaged or its target cannot be found");
  }
  return {found->fileName, TAllowedApp{found->path, true}};
}

void MakeAccount(TUsers& users, NewUserAnswers answers, const std::vector<std::string>& startup,
                 const std::vector<AllowedAppEntry>& programs, AccountShell& shell) {
  for (const std::string& program : startup) answers.apps.push_back({program, std::nullopt});
  answers.apps.insert(answers.apps.end(), programs.begin(), programs.end());
  const CreatedAccount created = CreateAccount(users, answers, shell);
  if (!created.problems.empty()) shell.Tell(created.ProblemsText());
}

}  // namespace tarnwick
