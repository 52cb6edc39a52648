// The password prompt at start: one masked edit box, OK and Cancel.
#pragma once

#include <QDialog>
#include <memory>

class QLabel;
class QLineEdit;

namespace Ui {
class TfrmPassword;
}

namespace tarnwick {

class TfrmPassword : public QDialog {
  Q_OBJECT

 public:
  // Centred on the screen, with only the system menu in its fixed border.
  explicit TfrmPassword(QWidget* owner);
  ~TfrmPassword() override;

  QLabel& Label1() const;
  QLineEdit& txtPassword() const;

 private:
  std::unique_ptr<Ui::TfrmPassword> ui_;
};

}  // namespace tarnwick
