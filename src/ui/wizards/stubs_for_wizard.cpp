// STUB, to be deleted at merge: stands in for the account creation and the allowed-application
// choice until their own files land.
#include "ui/wizards/choose_allowed_application.h"
#include "ui/wizards/new_user_creation.h"

namespace tarnwick {

void CreateNewUser(const NewUserAnswers&, TUsers&, QWidget*) {}

void CreateAllowedAppShortcuts(const std::vector<AllowedAppEntry>&, const std::string&) {}

std::optional<AllowedApplicationChoice> ChooseAllowedApplication(QWidget*, const TUsers&) {
  return std::nullopt;
}

}  // namespace tarnwick
