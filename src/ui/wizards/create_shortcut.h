// The create-shortcut wizard: a program file on the machine, then the shortcut's name. It writes
// nothing; its caller makes the shortcut from the answers.
#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <string_view>

namespace Ui {
class TfrmCreateShortcut;
}

namespace tarnwick {

class Machine;
class PolicyStore;

// The name a shortcut to the file gets: its file name without extension, the first letter upper
// case.
std::string ShortcutNameFromPath(std::string_view path);

class TfrmCreateShortcut : public QDialog {
  Q_OBJECT

 public:
  // Shown when Next meets a command line, or Finish a name, that code page 1252 cannot hold.
  static constexpr const char* kCommandLineNotAnsi =
      "The command line holds a character that Windows 95 cannot store. Use letters, digits and "
      "signs of the Western European character set.";
  static constexpr const char* kNameNotAnsi =
      "The shortcut name holds a character that Windows 95 cannot store. Use letters, digits and "
      "signs of the Western European character set.";
  // Shown when Finish meets a name that no file name can hold.
  static constexpr const char* kNameForbidden =
      "A shortcut name cannot contain control characters or any of the following characters: "
      "\\ / : * ? \" < > |";

  TfrmCreateShortcut(QWidget* owner, const PolicyStore& store);
  ~TfrmCreateShortcut() override;

  // txtCommandLine and txtShortcutName exactly as typed, in code page 1252; empty when the text
  // holds a character that code page cannot hold, which Next and Finish refuse.
  std::string CommandLine() const;
  std::string ShortcutName() const;

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
  void btnBrowseClick();

  std::unique_ptr<Ui::TfrmCreateShortcut> ui_;
  const PolicyStore& store_;
  const Machine& machine_;
  bool activated_ = false;
};

}  // namespace tarnwick
