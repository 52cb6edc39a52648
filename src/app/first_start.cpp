#include "app/first_start.h"

#include <QDialog>
#include <optional>
#include <string>

#include "account/account.h"
#include "controls/wait_cursor.h"
#include "machine/machine.h"
#include "policy/activation.h"
#include "policy/policy_store.h"
#include "policy/restrictions.h"
#include "policy/users.h"
#include "shell/prompts.h"
#include "ui/wizards/welcome_wizard.h"

namespace tarnwick {

bool FirstStartSetup(QWidget* owner, TUsers& users) {
  std::string name;
  std::string iconFile;
  {
    TfrmWelcomeWizard wizard(owner, users.Store().GetMachine());
    if (RunDialog(wizard) != QDialog::Accepted) {
      if (!users.Store().GetMachine().Lab()) TurnActivationOff(users.Store());
      return false;
    }
    const std::optional<std::string> typed = wizard.UserName();
    if (!typed) throw AccountError(TfrmWelcomeWizard::kNameNotAnsi);
    name = *typed;
    iconFile = wizard.IconFile();
  }
  const WaitCursor hourglass;
  CreateFirstAccount(users, name, iconFile);
  return true;
}

}  // namespace tarnwick
