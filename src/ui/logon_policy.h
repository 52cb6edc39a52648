// What a logon applies: for one user, the groups the user belongs to and the computer logged on
// at chosen in small fields, the changes Windows 95's policy download makes, as REGEDIT4 text.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class TfrmLogonPolicy;
}

namespace tarnwick {

class PolicyStore;

class TfrmLogonPolicy : public QDialog {
  Q_OBJECT

 public:
  // The store's policy file must be loaded; user is the account's name (code page 1252).
  TfrmLogonPolicy(QWidget* owner, PolicyStore& store, std::string user);
  ~TfrmLogonPolicy() override;

  // Computes the text again from the fields.
  void Refresh();

 private:
  std::unique_ptr<Ui::TfrmLogonPolicy> ui_;
  PolicyStore& store_;
  std::string user_;
};

}  // namespace tarnwick
