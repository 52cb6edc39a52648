#include "controls/folder_browse.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>

#include "controls/look.h"
#include "machine/host_dir.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "shell/ansi_qstring.h"
#include "shell/error_box.h"
#include "shell/machine_dir.h"

namespace tarnwick {

namespace {

constexpr int kPathRole = Qt::UserRole + 1;  // Windows path; absent for My Computer
constexpr int kReadRole = Qt::UserRole + 2;  // true once the folder's subfolders are listed

std::string Join(const std::string& folder, const std::string& name) {
  return AddTrailingBackslash(folder) + name;
}

}  // namespace

FolderBrowseDialog::FolderBrowseDialog(const Machine& machine, const FolderPickerRequest& request,
                                       QWidget* parent)
    : QDialog(parent), machine_(machine), flags_(request.flags) {
  setWindowTitle(QStringLiteral("Browse for Folder"));
  setFixedSize(312, 300);
  title_ = new QLabel(request.title, this);
  title_->setWordWrap(true);
  title_->setMinimumHeight(28);
  title_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  tree_ = new QTreeWidget(this);
  tree_->setHeaderHidden(true);
  tree_->setIndentation(19);
  tree_->setIconSize(QSize(16, 16));
  ShowCutTextsAsToolTips(*tree_);
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  for (QPushButton* button : {ok_, cancel}) button->setFixedSize(75, 23);

  auto* buttons = new QHBoxLayout;
  if (request.newFolderButton) {
    auto* newFolder = new QPushButton(QStringLiteral("&New Folder"), this);
    newFolder->setFixedSize(90, 23);
    ConnectShowingErrors(newFolder, &QPushButton::clicked, this, &FolderBrowseDialog::NewFolder);
    buttons->addWidget(newFolder);
    setTabOrder(tree_, newFolder);
    setTabOrder(newFolder, ok_);
  }
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(11, 11, 11, 11);
  layout->addWidget(title_);
  layout->addWidget(tree_, 1);
  layout->addLayout(buttons);

  ConnectShowingErrors(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  ConnectShowingErrors(tree_, &QTreeWidget::itemExpanded, this, &FolderBrowseDialog::Expand);
  ConnectShowingErrors(tree_, &QTreeWidget::currentItemChanged, this,
                       &FolderBrowseDialog::UpdateOk);

  QTreeWidgetItem* top = nullptr;
  if (!request.root.empty() && ExistingDirectory(machine_, request.root)) {
    std::string root = request.root;
    if (root.size() > 3 && root.ends_with('\\')) root.pop_back();
    top = AddFolder(nullptr, root, FromAnsi(ExtractFileName(root)), SmallImage(0));
  } else {
    top = new QTreeWidgetItem(QStringList(QStringLiteral("My Computer")));
    top->setIcon(0, NodeIcon(TransparentBitmap(QStringLiteral("COMPUTER"))));
    tree_->addTopLevelItem(top);
    for (const DriveInfo& drive : machine_.Drives()) {
      AddFolder(top, DriveRoot(drive), DriveDisplayName(drive), DriveBitmap(drive.type));
    }
    top->setData(0, kReadRole, true);
  }
  top->setExpanded(true);
  tree_->setCurrentItem(top);
  if (!request.directory.empty()) SelectPath(request.directory);
  UpdateOk();
}

QTreeWidgetItem* FolderBrowseDialog::AddFolder(QTreeWidgetItem* parent, const std::string& path,
                                               const QString& text, const QPixmap& image) {
  auto* item = new QTreeWidgetItem(QStringList(text));
  item->setIcon(0, NodeIcon(image));
  item->setData(0, kPathRole, QByteArray::fromStdString(path));
  const std::vector<VolumeEntry> entries = machine_.List(path);
  const bool hasFolders = std::any_of(entries.begin(), entries.end(),
                                      [](const VolumeEntry& entry) { return entry.IsDirectory(); });
  item->setChildIndicatorPolicy(hasFolders ? QTreeWidgetItem::ShowIndicator
                                           : QTreeWidgetItem::DontShowIndicatorWhenChildless);
  if (parent != nullptr) {
    parent->addChild(item);
  } else {
    tree_->addTopLevelItem(item);
  }
  return item;
}

void FolderBrowseDialog::Expand(QTreeWidgetItem* item) {
  if (item->data(0, kReadRole).toBool()) return;
  item->setData(0, kReadRole, true);
  const std::string path = item->data(0, kPathRole).toByteArray().toStdString();
  std::vector<VolumeEntry> entries = machine_.List(path);
  std::erase_if(entries, [](const VolumeEntry& entry) { return !entry.IsDirectory(); });
  std::sort(entries.begin(), entries.end(), [](const VolumeEntry& a, const VolumeEntry& b) {
    return UpperAscii(a.name) < UpperAscii(b.name);
  });
  for (const VolumeEntry& entry : entries) {
    AddFolder(item, Join(path, entry.name), FromAnsi(entry.name), SmallImage(0));
  }
}

std::optional<std::string> FolderBrowseDialog::Choice(const QTreeWidgetItem* item) const {
  if (item == nullptr) return std::nullopt;
  if ((flags_ & (kBrowseForComputer | kBrowseForPrinter)) != 0) return std::nullopt;
  const QVariant path = item->data(0, kPathRole);
  if (!path.isValid()) {
    // My Computer holds no folder of its own; without the file-system-only flag the shell
    // answers with its name.
    if ((flags_ & kReturnOnlyFsDirs) != 0) return std::nullopt;
    return ToAnsi(item->text(0));
  }
  const std::string windowsPath = path.toByteArray().toStdString();
  if (!ExistingDirectory(machine_, windowsPath)) return std::nullopt;
  return windowsPath;
}

void FolderBrowseDialog::UpdateOk() {
  ok_->setEnabled(Choice(tree_->currentItem()).has_value());
}

bool FolderBrowseDialog::SelectPath(std::string_view path) {
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = tree_->topLevelItem(i);
    while (item != nullptr) {
      const std::string itemPath = item->data(0, kPathRole).toByteArray().toStdString();
      if (!itemPath.empty() &&
          EqualsIgnoreCase(AddTrailingBackslash(itemPath), AddTrailingBackslash(path))) {
        tree_->setCurrentItem(item);
        return true;
      }
      item->setExpanded(true);
      QTreeWidgetItem* next = nullptr;
      for (int c = 0; c < item->childCount() && next == nullptr; ++c) {
        const std::string childPath =
            AddTrailingBackslash(item->child(c)->data(0, kPathRole).toByteArray().toStdString());
        if (UpperAscii(AddTrailingBackslash(path)).starts_with(UpperAscii(childPath))) {
          next = item->child(c);
        }
      }
      item = next;
    }
  }
  return false;
}

void FolderBrowseDialog::NewFolder() {
  QTreeWidgetItem* item = tree_->currentItem();
  const std::optional<std::string> folder = Choice(item);
  if (!folder || !ExistingDirectory(machine_, *folder)) return;
  // Names compare without regard to case, as on the machine's disk.
  const auto taken = [&](const std::string& candidate) {
    return machine_.Stat(Join(*folder, candidate)).has_value();
  };
  std::string name = "New Folder";
  for (int n = 2; taken(name); ++n) name = "New Folder (" + std::to_string(n) + ")";
  bool made = false;
  try {
    made = machine_.MakeDirectory(Join(*folder, name));
  } catch (const FileWriteError&) {
    made = false;
  }
  if (!made) {
    ShowMessage(this, MessageKind::Error,
                QStringLiteral("Unable to create the folder '%1'.").arg(FromAnsi(name)));
    return;
  }
  // A folder not read yet lists the new folder as it expands.
  const bool read = item->data(0, kReadRole).toBool();
  item->setExpanded(true);
  const std::string path = Join(*folder, name);
  QTreeWidgetItem* added = nullptr;
  for (int i = 0; i < item->childCount() && !read && added == nullptr; ++i) {
    if (item->child(i)->data(0, kPathRole).toByteArray().toStdString() == path) {
      added = item->child(i);
    }
  }
  if (added == nullptr) added = AddFolder(item, path, FromAnsi(name), SmallImage(0));
  tree_->setCurrentItem(added);
}

void FolderBrowseDialog::accept() {
  result_ = Choice(tree_->currentItem());
  if (result_) QDialog::accept();
}

}  // namespace tarnwick
