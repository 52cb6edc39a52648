#include "controls/file_chooser.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <algorithm>

#include "controls/look.h"
#include "controls/wait_cursor.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "shell/ansi_qstring.h"
#include "shell/error_box.h"
#include "shell/machine_dir.h"

namespace tarnwick {

namespace {

constexpr int kFolderRole = Qt::UserRole + 1;  // true for a folder item
constexpr int kPathRole = Qt::UserRole + 2;    // the Look-in entry's Windows path

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    const size_t end = text.find(separator, start);
    parts.emplace_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

bool IsAbsolute(std::string_view path) {
  return path.starts_with('\\') || (path.size() >= 2 && path[1] == ':');
}

std::string Join(std::string_view folder, std::string_view name) {
  return AddTrailingBackslash(folder) + std::string(name);
}

bool LessIgnoringCase(const VolumeEntry& a, const VolumeEntry& b) {
  return UpperAscii(a.name) < UpperAscii(b.name);
}

}  // namespace

std::vector<WindowsFilter> ParseWindowsFilter(std::string_view filter) {
  std::vector<WindowsFilter> filters;
  const std::vector<std::string> parts = Split(filter, '|');
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    WindowsFilter entry{FromAnsi(parts[i]), {}};
    for (const std::string& pattern : Split(parts[i + 1], ';')) {
      if (std::string trimmed(Trim(pattern)); !trimmed.empty()) {
        entry.patterns.push_back(std::move(trimmed));
      }
    }
    if (!entry.patterns.empty()) filters.push_back(std::move(entry));
  }
  return filters;
}

bool MatchesWildcard(std::string_view name, std::string_view pattern) {
  if (pattern == "*.*") return true;
  // Iterative matching with backtracking to the last "*".
  size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() &&
        (pattern[p] == '?' || UpperAscii(pattern[p]) == UpperAscii(name[n]))) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

FileChooserDialog::FileChooserDialog(const Machine& machine, const FileChooserRequest& request,
                                     QWidget* parent)
    : QDialog(parent), machine_(machine), filters_(ParseWindowsFilter(request.filter)) {
  setWindowTitle(request.title.isEmpty() ? QStringLiteral("Open") : request.title);
  setFixedSize(426, 266);

  lookIn_ = new QComboBox(this);
  lookIn_->setIconSize(QSize(16, 16));
  auto* up = new QToolButton(this);
  up->setIcon(QIcon(TransparentBitmap(QStringLiteral("UPFOLDER"))));
  up->setToolTip(QStringLiteral("Up One Level"));
  up->setFixedSize(23, 22);
  up->setFocusPolicy(Qt::NoFocus);  // a toolbar button, no tab stop
  files_ = new QListWidget(this);
  files_->setViewMode(QListView::ListMode);
  files_->setFlow(QListView::TopToBottom);
  files_->setWrapping(true);
  files_->setResizeMode(QListView::Adjust);
  files_->setIconSize(QSize(16, 16));
  fileName_ = new QLineEdit(FromAnsi(request.fileName), this);
  types_ = new QComboBox(this);
  for (const WindowsFilter& filter : filters_) types_->addItem(filter.description);
  open_ = new QPushButton(QStringLiteral("&Open"), this);
  open_->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  for (QPushButton* button : {open_, cancel}) button->setFixedSize(75, 23);

  auto* lookInLabel = new QLabel(QStringLiteral("Look &in:"), this);
  lookInLabel->setBuddy(lookIn_);
  auto* nameLabel = new QLabel(QStringLiteral("File &name:"), this);
  nameLabel->setBuddy(fileName_);
  auto* typeLabel = new QLabel(QStringLiteral("Files of &type:"), this);
  typeLabel->setBuddy(types_);

  auto* top = new QHBoxLayout;
  top->addWidget(lookInLabel);
  top->addWidget(lookIn_, 1);
  top->addWidget(up);
  top->addSpacing(120);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(8, 8, 8, 8);
  grid->addLayout(top, 0, 0, 1, 3);
  grid->addWidget(files_, 1, 0, 1, 3);
  grid->addWidget(nameLabel, 2, 0);
  grid->addWidget(fileName_, 2, 1);
  grid->addWidget(open_, 2, 2);
  grid->addWidget(typeLabel, 3, 0);
  grid->addWidget(types_, 3, 1);
  grid->addWidget(cancel, 3, 2);
  grid->setColumnStretch(1, 1);

  ConnectShowingErrors(open_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  ConnectShowingErrors(up, &QToolButton::clicked, this, [this] {
    if (folder_.size() > 3) SetFolder(ExtractFilePath(folder_));
  });
  ConnectShowingErrors(types_, &QComboBox::currentIndexChanged, this, [this] {
    typedPattern_.clear();
    List();
  });
  ConnectShowingErrors(lookIn_, &QComboBox::activated, this, [this](int index) {
    const std::string path = lookIn_->itemData(index, kPathRole).toByteArray().toStdString();
    if (!SetFolder(path)) {
      ShowMessage(
          this, MessageKind::Error,
          QStringLiteral("%1 is not accessible.\n\nThe device is not ready.").arg(FromAnsi(path)));
      FillLookIn();
    }
  });
  ConnectShowingErrors(files_, &QListWidget::itemDoubleClicked, this,
                       &FileChooserDialog::Activated);
  ConnectShowingErrors(files_, &QListWidget::currentItemChanged, this,
                       [this](QListWidgetItem* item) {
                         if (item != nullptr && !item->data(kFolderRole).toBool())
                           fileName_->setText(item->text());
                       });

  fileName_->setFocus();
  if (!SetFolder(request.initialFolder) && !SetFolder(ExtractFilePath(machine.ProgramPath()))) {
    for (const DriveInfo& drive : machine.Drives()) {
      if (SetFolder(DriveRoot(drive))) break;
    }
  }
}

bool FileChooserDialog::SetFolder(std::string_view folder) {
  if (!ExistingDirectory(machine_, folder)) return false;
  std::string path(folder);
  if (path.size() > 3 && path.ends_with('\\')) path.pop_back();
  if (path.size() == 2) path += '\\';
  folder_ = std::move(path);
  FillLookIn();
  List();
  return true;
}

std::vector<std::string> FileChooserDialog::Patterns() const {
  if (!typedPattern_.empty()) return Split(typedPattern_, ';');
  const int index = types_->currentIndex();
  if (index < 0 || index >= static_cast<int>(filters_.size())) return {"*.*"};
  return filters_[static_cast<size_t>(index)].patterns;
}

void FileChooserDialog::List() {
  files_->clear();
  if (!ExistingDirectory(machine_, folder_)) return;
  const WaitCursor hourglass;
  std::vector<VolumeEntry> entries = machine_.List(folder_);
  std::stable_sort(entries.begin(), entries.end(), LessIgnoringCase);
  const std::vector<std::string> patterns = Patterns();
  for (bool folders : {true, false}) {
    for (const VolumeEntry& entry : entries) {
      if (entry.IsDirectory() != folders) continue;
      if (!folders && std::none_of(patterns.begin(), patterns.end(), [&](const std::string& p) {
            return MatchesWildcard(entry.name, p);
          })) {
        continue;
      }
      auto* item = new QListWidgetItem(FromAnsi(entry.name), files_);
      item->setData(kFolderRole, folders);
      item->setIcon(QIcon(SmallImage(folders ? 0 : 2)));
    }
  }
}

void FileChooserDialog::FillLookIn() {
  const QSignalBlocker blocker(lookIn_);
  lookIn_->clear();
  const std::vector<std::string> components = SplitWindowsPath(folder_);
  for (const DriveInfo& drive : machine_.Drives()) {
    const std::string root = DriveRoot(drive);
    lookIn_->addItem(QIcon(DriveBitmap(drive.type)), DriveDisplayName(drive));
    lookIn_->setItemData(lookIn_->count() - 1, QByteArray::fromStdString(root), kPathRole);
    if (!EqualsIgnoreCase(folder_.substr(0, 3), root)) {
      continue;
    }
    lookIn_->setCurrentIndex(lookIn_->count() - 1);
    std::string path = root;
    for (size_t i = 1; i < components.size(); ++i) {
      path = Join(path, components[i]);
      lookIn_->addItem(QIcon(SmallImage(0)), QString(static_cast<int>(i) * 2, QLatin1Char(' ')) +
                                                 FromAnsi(components[i]));
      lookIn_->setItemData(lookIn_->count() - 1, QByteArray::fromStdString(path), kPathRole);
      lookIn_->setCurrentIndex(lookIn_->count() - 1);
    }
  }
}

void FileChooserDialog::Activated(QListWidgetItem* item) {
  const std::optional<std::string> name = ToAnsi(item->text());
  if (!name) return;
  if (item->data(kFolderRole).toBool()) {
    SetFolder(Join(folder_, *name));
    return;
  }
  fileName_->setText(item->text());
  accept();
}

void FileChooserDialog::accept() {
  // Enter in the list opens the folder that has the focus there.
  if (QListWidgetItem* current = files_->currentItem();
      files_->hasFocus() && current != nullptr && current->data(kFolderRole).toBool()) {
    Activated(current);
    return;
  }
  const QString text = fileName_->text().trimmed();
  if (text.isEmpty()) return;
  const std::optional<std::string> typed = ToAnsi(text);
  if (!typed) {
    ShowMessage(this, MessageKind::Warning,
                QStringLiteral("%1\nThe file name holds a character that Windows 95 cannot use.")
                    .arg(text));
    return;
  }
  if (typed->find_first_of("*?") != std::string::npos) {
    typedPattern_ = *typed;
    List();
    return;
  }
  std::string path = IsAbsolute(*typed) ? *typed : Join(folder_, *typed);
  if (path.starts_with('\\') && !path.starts_with("\\\\")) path = folder_.substr(0, 2) + path;
  if (SetFolder(path)) {
    fileName_->clear();
    return;
  }
  if (!ExistingFile(machine_, path)) {
    ShowMessage(this, MessageKind::Warning,
                QStringLiteral("%1\nFile not found.\nPlease verify the correct filename was given.")
                    .arg(FromAnsi(path)));
    return;
  }
  // A host directory gives the names as they are on disk.
  const std::optional<std::filesystem::path> host = machine_.HostPath(path);
  result_ = host ? machine_.WindowsPath(*host).value_or(path) : path;
  QDialog::accept();
}

}  // namespace tarnwick
