#include "controls/file_view.h"

#include "controls/control_icons.h"
#include "controls/wait_cursor.h"
#include "machine/machine.h"
#include "shell/ansi_qstring.h"
#include "shell/machine_dir.h"

namespace tarnwick {

namespace {

constexpr int kImageRole = Qt::UserRole + 1;

}  // namespace

TFileView::TFileView(QWidget* parent) : QListWidget(parent) {
  setMovement(QListView::Static);
  setResizeMode(QListView::Adjust);
  setWordWrap(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  SetViewStyle(TViewStyle::vsIcon);
}

void TFileView::SetMachine(const Machine& machine) {
  machine_ = &machine;
}

void TFileView::SetViewStyle(TViewStyle style) {
  viewStyle_ = style;
  if (style == TViewStyle::vsIcon) {
    setViewMode(QListView::IconMode);
    setFlow(QListView::LeftToRight);
    setIconSize(QSize(32, 32));
    setGridSize(QSize());
    setSpacing(10);
  } else {
    setViewMode(QListView::ListMode);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setIconSize(QSize(16, 16));
    setSpacing(0);
    setGridSize(QSize(110, 18));
  }
  for (int row = 0; row < count(); ++row) ShowImage(item(row));
}

int TFileView::ImageIndex(const QListWidgetItem* item) {
  return item != nullptr ? item->data(kImageRole).toInt() : -1;
}

void TFileView::ShowImage(QListWidgetItem* item) const {
  const auto& images = viewStyle_ == TViewStyle::vsIcon ? largeImages_ : smallImages_;
  const int index = ImageIndex(item);
  item->setIcon(index >= 0 && index < static_cast<int>(images.size())
                    ? QIcon(images[static_cast<size_t>(index)])
                    : QIcon());
}

void TFileView::SetDirectory(std::string_view path) {
  clear();
  smallImages_.clear();
  largeImages_.clear();
  if (path.ends_with('\\')) path.remove_suffix(1);
  directory_ = std::string(path);
  if (machine_ == nullptr) return;
  if (!ExistingDirectory(*machine_, directory_)) return;
  const WaitCursor hourglass;
  for (const VolumeEntry& entry : machine_->List(directory_)) {
    if (entry.IsDirectory()) continue;
    const std::string file = directory_ + "\\" + entry.name;
    auto* item = new QListWidgetItem(FromAnsi(entry.name), this);
    if (QPixmap small = ShellFileIcon(*machine_, file, 16); !small.isNull()) {
      smallImages_.push_back(std::move(small));
    }
    int index = -1;
    if (QPixmap large = ShellFileIcon(*machine_, file, 32); !large.isNull()) {
      largeImages_.push_back(std::move(large));
      index = static_cast<int>(largeImages_.size()) - 1;
    }
    item->setData(kImageRole, index);
    ShowImage(item);
  }
}

}  // namespace tarnwick
