// The dialog of the menu command that changes the program password: the old password and the
// new one twice, all masked.
#pragma once

#include <QDialog>
#include <memory>

class QLineEdit;

namespace Ui {
class TfrmChangePassword;
}

namespace tarnwick {

class TfrmChangePassword : public QDialog {
  Q_OBJECT

 public:
  // A fixed dialog border without border icons; Escape still cancels.
  explicit TfrmChangePassword(QWidget* owner);
  ~TfrmChangePassword() override;

  QLineEdit& txtOld() const;
  QLineEdit& txtNew() const;
  QLineEdit& txtConfirmNew() const;

 private:
  std::unique_ptr<Ui::TfrmChangePassword> ui_;
};

}  // namespace tarnwick
