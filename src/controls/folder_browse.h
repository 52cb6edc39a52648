// The folder picker: a component that runs the dialog through the program's prompter, and the
// dialog itself, a tree of the machine's drives and folders.
#pragma once

#include <QDialog>
#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "shell/prompts.h"

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tarnwick {

class Machine;

enum class TBrowseRoot {
  idDesktop,
  idDesktopExpanded,
  idPrograms,
  idControlPanel,
  idPrinters,
  idPersonal,
  idFavorites,
  idStartup,
  idRecent,
  idSendTo,
  idRecycleBin,
  idStartMenu,
  idDesktopDirectory,
  idDrives,
  idNetwork,
  idNetHood,
  idFonts,
  idTemplates,
};

enum class TBrowseFlag { bfDirectoriesOnly, bfDomainOnly, bfAncestors, bfComputers, bfPrinters };
using TBrowseFlags = std::set<TBrowseFlag>;

// The shell's special-folder number of a root (CSIDL_DRIVES is 17).
int SpecialFolderNumber(TBrowseRoot root);
// The dialog's flag word: the OR of the flag bits of the options.
uint32_t BrowseFlagWord(const TBrowseFlags& options);

// Dialog flag bits.
inline constexpr uint32_t kReturnOnlyFsDirs = 0x0001;
inline constexpr uint32_t kDontGoBelowDomain = 0x0002;
inline constexpr uint32_t kReturnFsAncestors = 0x0008;
inline constexpr uint32_t kBrowseForComputer = 0x1000;
inline constexpr uint32_t kBrowseForPrinter = 0x2000;

class TFolderBrowseDlg : public QObject {
  Q_OBJECT

 public:
  explicit TFolderBrowseDlg(QObject* owner = nullptr);

  // The machine whose folders are offered (not owned; it must outlive the component).
  void SetMachine(const Machine& machine) { machine_ = &machine; }

  const QString& Title() const { return title_; }
  void SetTitle(const QString& title) { title_ = title; }
  TBrowseRoot Root() const { return root_; }
  void SetRoot(TBrowseRoot root) { root_ = root; }
  const TBrowseFlags& Options() const { return options_; }
  void SetOptions(const TBrowseFlags& options) { options_ = options; }
  // The path chosen by the last successful Execute; empty at first.
  const std::string& Directory() const { return directory_; }

  // Shows the picker. True when a folder was chosen; false when cancelled or when it cannot be
  // shown, and then Directory keeps its value.
  bool Execute();

 private:
  // The Windows path the tree starts from; empty for the machine's drives.
  std::string RootPath() const;

  const Machine* machine_ = nullptr;
  QString title_;
  TBrowseRoot root_ = TBrowseRoot::idDesktopExpanded;
  TBrowseFlags options_;
  std::string directory_;
};

// The "Browse for Folder" dialog: the request's title above a tree that starts at its root
// folder, or at My Computer with the machine's drives when the root is empty.
class FolderBrowseDialog : public QDialog {
  Q_OBJECT

 public:
  FolderBrowseDialog(const Machine& machine, const FolderPickerRequest& request,
                     QWidget* parent = nullptr);

  QTreeWidget* Tree() const { return tree_; }
  QPushButton* OkButton() const { return ok_; }
  // Selects the tree item of a Windows path, expanding its ancestors; false when it is not in
  // the tree.
  bool SelectPath(std::string_view path);
  // The chosen folder once the dialog was accepted.
  const std::optional<std::string>& Result() const { return result_; }

  void accept() override;

 private:
  QTreeWidgetItem* AddFolder(QTreeWidgetItem* parent, const std::string& path, const QString& text,
                             const QPixmap& image);
  void Expand(QTreeWidgetItem* item);
  void UpdateOk();
  void NewFolder();
  std::optional<std::string> Choice(const QTreeWidgetItem* item) const;

  const Machine& machine_;
  uint32_t flags_;
  QLabel* title_;
  QTreeWidget* tree_;
  QPushButton* ok_;
  std::optional<std::string> result_;
};

}  // namespace tarnwick
