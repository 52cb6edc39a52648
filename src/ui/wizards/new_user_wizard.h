// The new-user wizard: seven pages of answers for a new account; Finish makes the account.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <memory>
#include <string>
#include <vector>

#include "account/account.h"

namespace Ui {
class TfrmWizard;
}

namespace tarnwick {

class Machine;
class TUsers;

class TfrmWizard : public QDialog {
  Q_OBJECT

 public:
  // iconFile: the icon last loaded with success on the icon page, as a Windows path. The caller
  // keeps it for as long as the program runs, so that a new wizard starts with the choice of the
  // one before; Finish sets it to the icon the new user got.
  TfrmWizard(QWidget* owner, TUsers& users, std::string& iconFile);
  ~TfrmWizard() override;

  // What Finish hands over, read from the controls; Windows text in code page 1252.
  NewUserAnswers Answers() const;

 protected:
  bool event(QEvent* event) override;

 private:
  void FormCreate();
  void FormActivate();
  void cmdNextClick();
  void cmdBackClick();
  void KeepFocusReachable(QWidget* before);
  void cmdHelpClick();
  void cmdFinishClick();
  void txtNameChange();
  void lstviewIconsChange();
  void lstviewIconsClick();
  void cmdBrowseIconClick();
  // Shows the icon file and makes it the choice; on failure warns and shows the earlier choice.
  void LoadUserIcon(const std::string& path);
  void btnAddApplicationClick();
  void btnRemoveApplicationClick();
  void lstviewUsersChange();
  // On the Program-folder page Next needs a user to copy from or share with, unless the folder
  // is to be empty.
  void UpdateStartMenuNext();
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
  bool activated_ = false;
};

}  // namespace tarnwick
