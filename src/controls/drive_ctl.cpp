#include "controls/drive_ctl.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <optional>
#include <string>

#include "base/cp1252.h"
#include "controls/look.h"
#include "machine/machine.h"
#include "machine/win_path.h"

namespace tarnwick {

namespace {

constexpr int kBitmapRole = Qt::UserRole + 1;
constexpr int kBitmapHeight = 11;

bool IsUpper(char c) {
  return c >= 'A' && c <= 'Z';
}

char LowerLetter(char c) {
  return IsUpper(c) ? static_cast<char>(c + 32) : c;
}

// Code page 1252 case mapping: ASCII letters, the Latin-1 letters and the five letters of the
// 0x80 row that have a case partner.
std::string AnsiCase(std::string text, bool upper) {
  for (char& c : text) {
    const auto b = static_cast<unsigned char>(c);
    const bool lowerLatin = (b >= 'a' && b <= 'z') || (b >= 0xE0 && b <= 0xFE && b != 0xF7);
    const bool upperLatin = (b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDE && b != 0xD7);
    if (upper && lowerLatin) c = static_cast<char>(b - 0x20);
    if (!upper && upperLatin) c = static_cast<char>(b + 0x20);
    if (upper && (b == 0x9A || b == 0x9C || b == 0x9E)) c = static_cast<char>(b - 0x10);
    if (!upper && (b == 0x8A || b == 0x8C || b == 0x8E)) c = static_cast<char>(b + 0x10);
    if (upper && b == 0xFF) c = static_cast<char>(0x9F);
    if (!upper && b == 0x9F) c = static_cast<char>(0xFF);
  }
  return text;
}

int BitmapIndex(DriveType type) {
  switch (type) {
    case DriveType::Removable:
      return 0;
    case DriveType::Fixed:
      return 1;
    case DriveType::Remote:
      return 2;
    case DriveType::CdRom:
      return 3;
    case DriveType::RamDisk:
      break;
  }
  return 4;
}

// Draws one item: the bitmap at left + 2, vertically centred, and the text on one line after it.
class DriveItemDelegate : public QStyledItemDelegate {
 public:
  explicit DriveItemDelegate(TDriveList* list) : QStyledItemDelegate(list), list_(list) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const QRect rect = option.rect;
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const QPalette::ColorGroup group =
        option.state.testFlag(QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
    painter->fillRect(rect,
                      option.palette.color(group, selected ? QPalette::Highlight : QPalette::Base));
    const QPixmap bitmap = list_->ItemBitmap(index.row());
    int textLeft = rect.left() + 16 + 6;
    if (!bitmap.isNull()) {
      painter->drawPixmap(rect.left() + 2, (rect.top() + rect.bottom() + 1 - bitmap.height()) / 2,
                          bitmap);
      textLeft = rect.left() + bitmap.width() + 6;
    }
    painter->setPen(
        option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(QRect(textLeft, rect.top(), rect.right() - textLeft + 1, rect.height()),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      index.data(Qt::DisplayRole).toString());
    if (option.state.testFlag(QStyle::State_HasFocus)) {
      QStyleOptionFocusRect focus;
      focus.QStyleOption::operator=(option);
      focus.backgroundColor =
          option.palette.color(group, selected ? QPalette::Highlight : QPalette::Base);
      list_->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, list_);
    }
  }

  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
    return {list_->viewport()->width(), list_->ItemHeight()};
  }

 private:
  TDriveList* list_;
};

}  // namespace

TDriveList::TDriveList(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::MultiSelection);
  setUniformItemSizes(true);
  // Items are as wide as the list; a vertical scroll bar only hides their right end.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setItemDelegate(new DriveItemDelegate(this));
  const char* const names[] = {"FLOPPY", "HARD", "NETWORK", "CDROM", "RAM"};
  for (size_t i = 0; i < bitmaps_.size(); ++i) {
    bitmaps_[i] = TransparentBitmap(QString::fromLatin1(names[i]));
  }
}

void TDriveList::SetMachine(const Machine& machine) {
  machine_ = &machine;
  const std::string& program = machine.ProgramPath();
  if (!program.empty()) drive_ = program.front();
  Rebuild();
}

void TDriveList::SetTextCase(TTextCase textCase) {
  textCase_ = textCase;
  Rebuild();
}

void TDriveList::Rebuild() {
  const char remembered = drive_;
  BuildList();
  SetDrive(remembered);
}

std::string TDriveList::NamePart(char letter, const DriveInfo& drive) const {
  const bool upper = IsUpper(letter);
  if (drive.type == DriveType::Remote && !drive.remoteName.empty()) {
    return AnsiCase(drive.remoteName, upper);
  }
  const std::optional<VolumeEntry> root =
      drive.HasMedium() ? machine_->Stat(std::string{drive.letter, ':', '\\'}) : std::nullopt;
  const bool readable = root && root->IsDirectory();
  return "[" + AnsiCase(readable ? drive.label : std::string(), upper) + "]";
}

void TDriveList::BuildList() {
  clear();
  if (machine_ == nullptr) return;
  for (const DriveInfo& drive : machine_->Drives()) {
    char letter = LowerLetter(drive.letter);
    if (letter < 'a' || letter > 'z') continue;
    if (textCase_ == TTextCase::tcUpperCase) letter = UpperAscii(letter);
    std::string text{letter, ':'};
    if (drive.type != DriveType::Removable) text += " " + NamePart(letter, drive);
    auto* item = new QListWidgetItem(QString::fromStdString(Cp1252ToUtf8(text)), this);
    item->setData(kBitmapRole, BitmapIndex(drive.type));
  }
}

void TDriveList::SetDrive(char letter) {
  if (currentRow() >= 0 && UpperAscii(letter) == UpperAscii(drive_)) return;
  drive_ =
      textCase_ == TTextCase::tcUpperCase ? UpperAscii(letter) : LowerLetter(UpperAscii(letter));
  const bool multiple = selectionMode() == QAbstractItemView::MultiSelection ||
                        selectionMode() == QAbstractItemView::ExtendedSelection;
  if (!multiple) {
    for (int row = 0; row < count(); ++row) {
      const QString text = item(row)->text();
      if (text.size() >= 2 && text[1] == QLatin1Char(':') &&
          text[0].toUpper() == QChar(QLatin1Char(UpperAscii(drive_)))) {
        setCurrentRow(row);
        break;
      }
    }
  }
  Change();
}

int TDriveList::ItemHeight() const {
  return std::max(fontMetrics().height(), kBitmapHeight);
}

QPixmap TDriveList::ItemBitmap(int row) const {
  const QListWidgetItem* it = item(row);
  if (it == nullptr) return {};
  bool ok = false;
  const int index = it->data(kBitmapRole).toInt(&ok);
  if (!ok || index < 0 || index >= static_cast<int>(bitmaps_.size())) return {};
  return bitmaps_[static_cast<size_t>(index)];
}

void TDriveList::Change() {
  emit OnChange(this);
}

void TDriveList::Click() {
  emit OnClick(this);
  if (const QListWidgetItem* current = currentItem();
      current != nullptr && !current->text().isEmpty()) {
    SetDrive(current->text().front().toLatin1());
  }
}

std::vector<bool> TDriveList::Selection() const {
  std::vector<bool> selected;
  for (int row = 0; row < count(); ++row) selected.push_back(item(row)->isSelected());
  return selected;
}

template <typename Handling>
void TDriveList::ClickOnChange(Handling handling) {
  const std::vector<bool> before = Selection();
  handling();
  if (Selection() != before) Click();
}

void TDriveList::mousePressEvent(QMouseEvent* event) {
  ClickOnChange([&] { QListWidget::mousePressEvent(event); });
}

void TDriveList::mouseMoveEvent(QMouseEvent* event) {
  ClickOnChange([&] { QListWidget::mouseMoveEvent(event); });
}

void TDriveList::mouseReleaseEvent(QMouseEvent* event) {
  ClickOnChange([&] { QListWidget::mouseReleaseEvent(event); });
}

void TDriveList::mouseDoubleClickEvent(QMouseEvent* event) {
  ClickOnChange([&] { QListWidget::mouseDoubleClickEvent(event); });
}

void TDriveList::keyPressEvent(QKeyEvent* event) {
  ClickOnChange([&] { QListWidget::keyPressEvent(event); });
}

void TDriveList::timerEvent(QTimerEvent* event) {
  ClickOnChange([&] { QListWidget::timerEvent(event); });
}

void TDriveList::changeEvent(QEvent* event) {
  QListWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange) Rebuild();
}

}  // namespace tarnwick
