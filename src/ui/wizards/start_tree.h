// The Start-menu picker: a Programs folder chosen from the machine's default one and the users'
// ones, shown as a tree in which the administrator picks one file.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <string>

namespace Ui {
class TfrmStartTree;
}

namespace tarnwick {

class Machine;
class TUsers;

class TfrmStartTree : public QDialog {
  Q_OBJECT

 public:
  // The result of cmdBrowse.
  static constexpr int kBrowseResult = 100;

  // The users must outlive the dialog.
  TfrmStartTree(QWidget* owner, const TUsers& users);
  ~TfrmStartTree() override;

  // The Windows path of the file accepted with OK; empty before.
  const std::string& SelectedPath() const { return selectedPath_; }

  // Callers set the prompt above the tree, the caption and the third button's text.
  void SetPrompt(const QString& text);
  void SetBrowseText(const QString& text);

 private:
  void FormCreate();
  void lstUsersClick();
  void cmdOKClick();
  void cmdHelpClick();

  std::unique_ptr<Ui::TfrmStartTree> ui_;
  const Machine& machine_;
  const TUsers& users_;
  std::string systemPrograms_;  // the machine's default Programs folder
  std::string selectedPath_;
};

}  // namespace tarnwick
