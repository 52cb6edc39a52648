// The main window: the list of users on the left, the selected user's settings on the pages
// to the right. Every change on a page is written at once through the user's record.
#pragma once

#include <QMainWindow>
#include <QPixmap>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "policy/activation.h"
#include "policy/policy_template.h"
#include "shell/single_instance.h"

namespace Ui {
class TfrmMain;
}

class QTreeWidgetItem;

namespace tarnwick {

class Machine;
class PolicyStore;
class SessionEnd;
class TUser;
class TUsers;

class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  // Builds the window on the store; in a later copy of the program SingleInstance1 ends this
  // copy, and store is null there.
  TfrmMain(TInstanceDetector& detector, PolicyStore* store);
  ~TfrmMain() override;

  // A later copy of the program: main returns 0 without calling FormCreate.
  bool EndsThisCopy() const { return SingleInstance1.EndsThisCopy(); }

  // The first-start set-up the start runs on an empty user list; false ends the start. Without
  // one, the start goes on with the empty list.
  using FirstStart = std::function<bool(QWidget* owner, TUsers& users)>;
  void SetFirstStart(FirstStart firstStart) { firstStart_ = std::move(firstStart); }
  // The policy templates the Policies window offers.
  void SetTemplates(std::vector<PolicyTemplate> templates) { templates_ = std::move(templates); }

  // Start-up: shows the window, asks the password, loads the policy file and the users, runs
  // the first-start set-up on an empty list and selects the first user.
  void FormCreate();
  bool CloseRequested() const { return CloseRequested_; }
  // The start ended on an error (shown in the error box), not on a wrong password or Cancel.
  bool StartFailed() const { return StartFailed_; }

  PolicyStore& Store() const { return *store_; }
  TUsers& Users() const { return *Users_; }
  TUser* CurrentUser() const { return CurrentUser_; }
  bool EditingBlocked() const;

  void ClearData();
  void LoadUserData();
  void RefreshUserList();
  void RefreshFolderView();
  void GetUserIcon();
  void ShowActivationState(ActivationState state);

  void imgOnOffClick();
  void NewUserWizard1Click();
  void RemoveUser1Click();
  void Exit1Click();
  void HelpTopics1Click();
  void AboutTarnwick1Click();
  void TarnwickPassword1Click();
  void Policies1Click();
  void btnAddApplicationClick();
  void btnRemoveApplicationClick();
  void btnBrowseDirClick();
  void btnExploreCustomFolderClick();
  void btnAddShortcutClick();
  void btnAddFolderClick();
  void btnRemoveItemClick();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The folder a folders-page command works in, and the node to read anew afterwards.
  struct Target {
    std::string path;
    QTreeWidgetItem* node;
  };
  std::optional<Target> TargetDirectory(const QString& noSelection, bool fileToFolder);
  bool TargetExists(const std::string& path);
  void SetChosenFolder(const std::string& path);
  void ConnectSwitches();
  void lvUsersChange();
  // The pages take edits only while they show a user.
  void SetPagesEnabled(bool enabled);
  void lstHideDrivesClick();
  void chkRestrictAppsClick();
  void comboFoldersClick();
  void Timer1Timer();
  void EndSession();
  void FormClose();
  void ClearAppList();
  void FillAppList();
  void ShowDrives(int32_t mask);
  QString SelectedCaption() const;
  const Machine& GetMachine() const;

  std::unique_ptr<Ui::TfrmMain> ui_;
  TSingleInstance SingleInstance1;
  std::unique_ptr<SessionEnd> sessionEnd_;
  PolicyStore* store_;
  std::unique_ptr<TUsers> Users_;
  std::string newUserIcon_;  // the new-user wizard's icon choice, kept from one run to the next
  TUser* CurrentUser_ = nullptr;
  bool Clearing_ = false;
  bool CloseRequested_ = false;
  bool StartFailed_ = false;
  FirstStart firstStart_;
  std::vector<PolicyTemplate> templates_;
  bool starting_ = false;
  bool closed_ = false;
  QTimer Timer1;
  std::vector<QPixmap> LargeUsers_;
};

}  // namespace tarnwick
