// The wizard of the first start: a greeting, the administrator's own name and icon. It writes
// nothing; its caller makes the account from the answers.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <optional>
#include <string>

namespace Ui {
class TfrmWelcomeWizard;
}

namespace tarnwick {

class Machine;

class TfrmWelcomeWizard : public QDialog {
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
  void cmdNextClick();
  void cmdBackClick();
  void KeepFocusReachable(QWidget* before);
  void cmdHelpClick();
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
