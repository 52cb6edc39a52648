#include "controls/folder_view.h"

#include "controls/control_icons.h"
#include "controls/look.h"
#include "controls/wait_cursor.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "shell/ansi_qstring.h"
#include "shell/error_box.h"
#include "shell/machine_dir.h"

namespace tarnwick {

namespace {

constexpr int kImageRole = Qt::UserRole + 1;
constexpr int kNameRole = Qt::UserRole + 2;

}  // namespace

TFolderView::TFolderView(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(1);
  setHeaderHidden(true);
  setIndentation(19);
  setIconSize(QSize(16, 16));
  setUniformRowHeights(true);
  ShowCutTextsAsToolTips(*this);
  LoadBaseImages();
  ConnectShowingErrors(this, &QTreeWidget::itemExpanded, this, &TFolderView::Expanding);
}

void TFolderView::SetMachine(const Machine& machine) {
  machine_ = &machine;
}

void TFolderView::LoadBaseImages() {
  images_.clear();
  for (int i = 0; i < 3; ++i) images_.push_back(SmallImage(i));
}

void TFolderView::Clear() {
  clear();
  LoadBaseImages();
}

QPixmap TFolderView::Image(int index) const {
  if (index < 0 || index >= ImageCount()) return {};
  return images_[static_cast<size_t>(index)];
}

int TFolderView::ImageIndex(const QTreeWidgetItem* node) {
  return node != nullptr ? node->data(0, kImageRole).toInt() : -1;
}

QTreeWidgetItem* TFolderView::NewNode(const std::string& name, int image) {
  auto* node = new QTreeWidgetItem(QStringList(FromAnsi(name)));
  node->setData(0, kImageRole, image);
  node->setData(0, kNameRole, QByteArray::fromStdString(name));
  node->setIcon(0, NodeIcon(Image(image)));
  if (!readOnly_) node->setFlags(node->flags() | Qt::ItemIsEditable);
  node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
  return node;
}

void TFolderView::SetRootFolder(std::string_view path) {
  Clear();
  if (machine_ == nullptr || !ExistingDirectory(*machine_, path)) return;
  const WaitCursor hourglass;
  if (path.ends_with('\\')) path.remove_suffix(1);
  rootFolder_ = std::string(path);
  QTreeWidgetItem* root = NewNode(ExtractFileName(rootFolder_), kFolderImage);
  addTopLevelItem(root);
  ListFolder(root, rootFolder_, false);
  for (int i = 0; i < root->childCount(); ++i) {
    if (IsFolder(root->child(i))) Probe(root->child(i));
  }
  root->setExpanded(true);
  setCurrentItem(root);
}

void TFolderView::ListFolder(QTreeWidgetItem* parent, const std::string& folder, bool probe) {
  for (const VolumeEntry& entry : machine_->List(folder)) {
    if (entry.IsDirectory()) {
      QTreeWidgetItem* node = NewNode(entry.name, kFolderImage);
      parent->insertChild(0, node);
      if (probe) Probe(node);
      continue;
    }
    int image = kProgramImage;
    if (const QPixmap icon = ShellFileIcon(*machine_, folder + "\\" + entry.name, 16);
        !icon.isNull()) {
      images_.push_back(icon);
      image = ImageCount() - 1;
    }
    parent->addChild(NewNode(entry.name, image));
  }
}

void TFolderView::Probe(QTreeWidgetItem* node) {
  if (!machine_->List(GetNodePath(node)).empty()) {
    node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  }
}

void TFolderView::Expanding(QTreeWidgetItem* node) {
  if (node->childCount() > 0 || machine_ == nullptr) return;
  const WaitCursor hourglass;
  ListFolder(node, GetNodePath(node), true);
}

void TFolderView::RefreshNode(QTreeWidgetItem* node) {
  node->setExpanded(false);
  qDeleteAll(node->takeChildren());
  node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  node->setExpanded(true);
}

std::string TFolderView::GetNodePath(const QTreeWidgetItem* node) const {
  if (node == nullptr || node->parent() == nullptr) return rootFolder_;
  std::string relative;
  for (const QTreeWidgetItem* n = node; n->parent() != nullptr; n = n->parent()) {
    const std::string name =
        ToAnsi(n->text(0)).value_or(n->data(0, kNameRole).toByteArray().toStdString());
    relative = relative.empty() ? name : name + "\\" + relative;
  }
  return rootFolder_ + "\\" + relative;
}

}  // namespace tarnwick
