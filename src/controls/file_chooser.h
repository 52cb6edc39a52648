// The Open dialog over the machine's drives: a folder's subfolders and the files that match
// a Windows filter, a typed name, and a chosen file that must exist.
#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shell/prompts.h"

class QComboBox;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace tarnwick {

class Machine;

struct WindowsFilter {
  QString description;
  std::vector<std::string> patterns;  // ANSI wildcards: "*.exe"
};

// "Icon files(*.ico)|*.ICO|All files|*.*": description and pattern list in turns, patterns
// separated by ";". A description without patterns is left out.
std::vector<WindowsFilter> ParseWindowsFilter(std::string_view filter);
// Windows wildcard matching without regard to case: "*" any run, "?" one character, and "*.*"
// every name, with or without an extension.
bool MatchesWildcard(std::string_view name, std::string_view pattern);

class FileChooserDialog : public QDialog {
  Q_OBJECT

 public:
  // Starts in the request's folder, else the program's own folder.
  FileChooserDialog(const Machine& machine, const FileChooserRequest& request,
                    QWidget* parent = nullptr);

  // The folder listed, a Windows path.
  const std::string& Folder() const { return folder_; }
  // Lists another folder; false (and nothing changes) when it is no existing directory.
  bool SetFolder(std::string_view folder);

  QListWidget* Files() const { return files_; }
  QLineEdit* FileName() const { return fileName_; }
  QComboBox* FileTypes() const { return types_; }
  QComboBox* LookIn() const { return lookIn_; }
  QPushButton* OpenButton() const { return open_; }
  // The Windows path of the chosen file once the dialog was accepted.
  const std::optional<std::string>& Result() const { return result_; }

  // Opens the folder current in the list when the list has the focus. Otherwise takes the typed
  // name: a folder is opened, a wildcard becomes the filter, an existing file is the result;
  // anything else is refused with the shell's message.
  void accept() override;

 private:
  void List();
  void FillLookIn();
  void Activated(QListWidgetItem* item);
  std::vector<std::string> Patterns() const;

  const Machine& machine_;
  std::vector<WindowsFilter> filters_;
  std::string folder_;
  std::string typedPattern_;
  QComboBox* lookIn_;
  QListWidget* files_;
  QLineEdit* fileName_;
  QComboBox* types_;
  QPushButton* open_;
  std::optional<std::string> result_;
};

}  // namespace tarnwick
