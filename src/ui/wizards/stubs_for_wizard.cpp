// STUB, to be deleted at merge: stands in for the account creation and the allowed-application
// choice until their own files land.
#include "ui/wizards/choose_allowed_application.h"
#include "ui/wizards/new_user_creation.h"

#include "base/text.h"
#include "policy/users.h"

namespace tarnwick {

// Only the first step: adding the user, which refuses a taken name.
void CreateNewUser(const NewUserAnswers& answers, TUsers& users, QWidget*) {
  users.AddUser(Trim(answers.name));
}

void CreateAllowedAppShortcuts(const std::vector<AllowedAppEntry>&, const std::string&) {}

std::optional<AllowedApplicationChoice> ChooseAllowedApplication(QWidget*, const TUsers&) {
  return std::nullopt;
}

}  // namespace tarnwick
