#include "ui/password_form.h"

#include <QScreen>

#include "ui_password_form.h"

namespace tarnwick {

TfrmPassword::TfrmPassword(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::TfrmPassword>()) {
  ui_->setupUi(this);
  move(screen()->availableGeometry().center() - rect().center());
}

TfrmPassword::~TfrmPassword() = default;

QLabel& TfrmPassword::Label1() const {
  return *ui_->Label1;
}

QLineEdit& TfrmPassword::txtPassword() const {
  return *ui_->txtPassword;
}

}  // namespace tarnwick
