// The About box: the program's name, version, licence and where to report problems.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TAboutBox;
}

namespace tarnwick {

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutBox(QWidget* owner = nullptr);
  ~TAboutBox() override;

 private:
  std::unique_ptr<Ui::TAboutBox> ui_;
};

}  // namespace tarnwick
