#include "ui/change_password_form.h"

#include "ui_change_password_form.h"

namespace tarnwick {

TfrmChangePassword::TfrmChangePassword(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint),
      ui_(std::make_unique<Ui::TfrmChangePassword>()) {
  ui_->setupUi(this);
}

TfrmChangePassword::~TfrmChangePassword() = default;

QLineEdit& TfrmChangePassword::txtOld() const {
  return *ui_->txtOld;
}

QLineEdit& TfrmChangePassword::txtNew() const {
  return *ui_->txtNew;
}

QLineEdit& TfrmChangePassword::txtConfirmNew() const {
  return *ui_->txtConfirmNew;
}

}  // namespace tarnwick
