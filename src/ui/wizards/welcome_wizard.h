// The wizard of the first start: a greeting, the administrator's own name and icon. It writes
// nothing; its caller makes the account from the answers.
#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "ui/wizards/wizard_frame.h"

namespace Ui {
class TfrmWelcomeWizard;
}

namespace tarnwick {

class Machine;

class TfrmWelcomeWizard : public WizardFrame {
  Q_OBJECT

 public:
  // Shown when Next meets a name that code page 1252 cannot hold.
  static constexpr const char* kNameNotAnsi =
      "The user name holds a character that Windows 95 cannot store. Use letters, digits and "
      "signs of the Western European character set.";

  TfrmWelcomeWizard(QWidget* owner, const Machine& machine);
  ~TfrmWelcomeWizard() override;

  // txtName exactly as typed, in code page 1252; empty when it holds a character that code page
  // cannot hold.
  std::optional<std::string> UserName() const;
  // The Windows path of the icon loaded last with success; empty when none was.
  const std::string& IconFile() const { return iconFile_; }

 private:
  void FormCreate();
  // The name page refuses a blank name and one the account store would refuse.
  bool LeavePage(QWidget* page) override;
  // Next onto the name page puts the focus in the name box.
  void PageShown(QWidget* page, bool forward) override;
  void cmdBrowseIconClick();
  void lstviewIconsChange();
  // Shows the icon file and makes it the choice; on failure warns and shows the earlier choice.
  void LoadUserIcon(const std::string& path);

  std::unique_ptr<Ui::TfrmWelcomeWizard> ui_;
  const Machine& machine_;
  std::string userIconFolder_;
  std::string iconFile_;
};

}  // namespace tarnwick
