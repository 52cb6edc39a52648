// The folder picker: a dialog with a tree of the machine's drives and folders.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>

#include "shell/prompts.h"

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tarnwick {

class Machine;

// Dialog flag bits.
inline constexpr uint32_t kReturnOnlyFsDirs = 0x0001;
inline constexpr uint32_t kBrowseForComputer = 0x1000;
inline constexpr uint32_t kBrowseForPrinter = 0x2000;

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
