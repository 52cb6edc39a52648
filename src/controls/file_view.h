// The files of one directory of the machine as icons.
#pragma once

#include <QListWidget>
#include <QPixmap>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

class Machine;

enum class TViewStyle { vsIcon, vsSmallIcon };

class TFileView : public QListWidget {
  Q_OBJECT

 public:
  // Large icons; captions cannot be edited in place.
  explicit TFileView(QWidget* parent = nullptr);

  // The machine whose files are shown (not owned; it must outlive the view).
  void SetMachine(const Machine& machine);

  // The Windows path written last, without a trailing "\", also when it names no directory.
  const std::string& Directory() const { return directory_; }
  // Lists the directory's files, subdirectories left out, in the file system's order.
  void SetDirectory(std::string_view path);

  TViewStyle ViewStyle() const { return viewStyle_; }
  void SetViewStyle(TViewStyle style);

  // An item's index in the large-image list (-1 when the file had no large icon). In the
  // small-icon style the same index picks the small image.
  static int ImageIndex(const QListWidgetItem* item);
  const std::vector<QPixmap>& SmallImages() const { return smallImages_; }
  const std::vector<QPixmap>& LargeImages() const { return largeImages_; }

 private:
  void ShowImage(QListWidgetItem* item) const;

  const Machine* machine_ = nullptr;
  std::string directory_;
  TViewStyle viewStyle_ = TViewStyle::vsIcon;
  std::vector<QPixmap> smallImages_;
  std::vector<QPixmap> largeImages_;
};

}  // namespace tarnwick
