// A tree of one directory of the machine and everything below it, filled as folders expand.
// Image index 0 or 1 marks a folder node, 2 and up a file node.
#pragma once

#include <QPixmap>
#include <QTreeWidget>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

class Machine;

class TFolderView : public QTreeWidget {
  Q_OBJECT

 public:
  static constexpr int kFolderImage = 0;
  static constexpr int kFolderProgramImage = 1;
  static constexpr int kProgramImage = 2;

  explicit TFolderView(QWidget* parent = nullptr);

  // The machine whose folders are shown (not owned; it must outlive the view).
  void SetMachine(const Machine& machine);

  // The Windows path of the directory shown, without a trailing "\" ("C:" for a drive's root).
  const std::string& RootFolder() const { return rootFolder_; }
  // Rebuilds the tree. A path that names no existing directory leaves the view empty and
  // RootFolder unchanged.
  void SetRootFolder(std::string_view path);
  // Removes all nodes and every image but the three base images.
  void Clear();
  // The Windows path of the file or folder a node stands for.
  std::string GetNodePath(const QTreeWidgetItem* node) const;
  // Reads a folder node anew: collapses it, deletes its children, gives it an expand button and
  // expands it again.
  void RefreshNode(QTreeWidgetItem* node);

  // When read-only, node texts cannot be edited in place.
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  bool ReadOnly() const { return readOnly_; }

  static int ImageIndex(const QTreeWidgetItem* node);
  static bool IsFolder(const QTreeWidgetItem* node) { return ImageIndex(node) < kProgramImage; }
  int ImageCount() const { return static_cast<int>(images_.size()); }
  QPixmap Image(int index) const;

 private:
  void Expanding(QTreeWidgetItem* node);
  void ListFolder(QTreeWidgetItem* parent, const std::string& folder, bool probe);
  void Probe(QTreeWidgetItem* node);
  QTreeWidgetItem* NewNode(const std::string& name, int image);
  void LoadBaseImages();

  const Machine* machine_ = nullptr;
  std::string rootFolder_;
  bool readOnly_ = false;
  std::vector<QPixmap> images_;
};

}  // namespace tarnwick
