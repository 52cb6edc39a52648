// The new-user wizard: seven pages of answers for a new account; Finish makes the account.
#pragma once

#include <QPixmap>
#include <memory>
#include <string>
#include <vector>

#include "account/account.h"
#include "ui/wizards/wizard_frame.h"

namespace Ui {
class TfrmWizard;
}

namespace tarnwick {

class Machine;
class TUsers;

class TfrmWizard : public WizardFrame {
  Q_OBJECT

 public:
  // iconFile: the icon last loaded with success on the icon page, as a Windows path. The caller
  // keeps it for as long as the program runs, so that a new wizard starts with the choice of the
  // one before; Finish sets it to the icon the new user got.
  TfrmWizard(QWidget* owner, TUsers& users, std::string& iconFile);
  ~TfrmWizard() override;

  // What Finish hands over, read from the controls; Windows text in code page 1252.
  NewUserAnswers Answers() const;

 private:
  void FormCreate();
  void FormActivate() override;
  // The name page refuses a name the account store would refuse.
  bool LeavePage(QWidget* page) override;
  // The Program-folder page when only listed applications may run: the folder is then built from
  // the allowed list.
  bool Skipped(QWidget* page) const override;
  // Next needs a name on the name page, and on the Program-folder page a user to copy from or
  // share with unless the folder is to be empty.
  bool NextAllowed(QWidget* page) const override;
  void PageShown(QWidget* page, bool forward) override;
  void cmdFinishClick() override;
  void lstviewIconsChange();
  void lstviewIconsClick();
  void cmdBrowseIconClick();
  // Shows the icon file and makes it the choice; on failure warns and shows the earlier choice.
  void LoadUserIcon(const std::string& path);
  void btnAddApplicationClick();
  void btnRemoveApplicationClick();
  void lstviewUsersChange();
  void BuildSummary();
  void FillUserList();
  // The machine's start-up programs, last value first, as entries without a TAllowedApp.
  void AddStartupPrograms();
  void AddApplicationEntry(AllowedAppEntry entry);
  void ShowDecorations();

  std::unique_ptr<Ui::TfrmWizard> ui_;
  TUsers& users_;
  std::string& iconFile_;
  const Machine& machine_;
  const std::string programFolder_;  // the program's folder with its final backslash
  // One entry per row of lstAllowedApplications.
  std::vector<AllowedAppEntry> apps_;
  std::vector<QPixmap> SmallUsers;
};

}  // namespace tarnwick
