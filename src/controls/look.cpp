#include "controls/look.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QBitmap>
#include <QFont>
#include <QFontDatabase>
#include <QHelpEvent>
#include <QLabel>
#include <QListView>
#include <QPalette>
#include <QProxyStyle>
#include <QStandardPaths>
#include <QTextLayout>
#include <QToolTip>

namespace tarnwick {

namespace {

#include "controls/resources/cdrom.xpm"
#include "controls/resources/computer.xpm"
#include "controls/resources/floppy.xpm"
#include "controls/resources/hard.xpm"
#include "controls/resources/network.xpm"
#include "controls/resources/ram.xpm"
#include "controls/resources/smallimages.xpm"
#include "controls/resources/upfolder.xpm"

QPalette Windows95Palette() {
  const QColor face(0xC0, 0xC0, 0xC0);
  const QColor shadow(0x80, 0x80, 0x80);
  const QColor navy(0x00, 0x00, 0x80);
  QPalette palette(Qt::black, face, Qt::white, shadow, shadow, Qt::black, Qt::white, Qt::white,
                   face);
  palette.setColor(QPalette::Midlight, face);
  palette.setColor(QPalette::Shadow, Qt::black);
  palette.setColor(QPalette::Highlight, navy);
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xE1));
  palette.setColor(QPalette::ToolTipText, Qt::black);
  palette.setColor(QPalette::Link, navy);
  palette.setColor(QPalette::PlaceholderText, shadow);
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    palette.setColor(QPalette::Disabled, role, shadow);
  }
  palette.setColor(QPalette::Disabled, QPalette::Base, face);
  palette.setColor(QPalette::Disabled, QPalette::Highlight, shadow);
  return palette;
}

// Qt's "Windows" style with tabs as narrow as Windows 95 draws them, so that the five pages of
// the main window show their tabs side by side.
class Windows95Style : public QProxyStyle {
 public:
  Windows95Style() : QProxyStyle(QStringLiteral("Windows")) {}

  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    // Six pixels either side of a tab's text.
    if (metric == PM_TabBarTabHSpace) return 12;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }
};

// The family of Windows 95's bitmap font, installed or loaded from Wine's file; empty when
// neither is there.
QString Windows95Family() {
  const QString family = QStringLiteral("MS Sans Serif");
  if (QFontDatabase::hasFamily(family)) return family;
  const QString file = Windows95FontFile();
  if (file.isEmpty()) return {};
  const QStringList loaded =
      QFontDatabase::applicationFontFamilies(QFontDatabase::addApplicationFont(file));
  return loaded.contains(family) ? family : QString();
}

// Answers a view's tool-tip requests for items whose text it cuts.
class CutTextTips : public QObject {
 public:
  explicit CutTextTips(QAbstractItemView& view) : QObject(&view), view_(view) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::ToolTip) return QObject::eventFilter(watched, event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = view_.indexAt(help->pos());
    // The view's own handling shows an item's own tool tip.
    if (!index.isValid() || !index.data(Qt::ToolTipRole).toString().isEmpty()) return false;
    if (ItemTextIsCut(view_, index)) {
      QToolTip::showText(help->globalPos(), index.data(Qt::DisplayRole).toString(),
                         view_.viewport(), view_.visualRect(index));
    } else {
      QToolTip::hideText();
    }
    return true;
  }

 private:
  QAbstractItemView& view_;
};

}  // namespace

void SetElidedText(QLabel& label, const QString& text) {
  const QString shown =
      label.fontMetrics().elidedText(text, Qt::ElideRight, label.contentsRect().width());
  label.setText(shown);
  label.setToolTip(shown == text ? QString() : text);
}

bool ItemTextIsCut(const QAbstractItemView& view, const QModelIndex& index) {
  const QString text = index.data(Qt::DisplayRole).toString();
  const QRect item = view.visualRect(index);
  const QRect shown = item.intersected(view.viewport()->rect());
  const QFontMetrics metrics(view.font());
  // The delegate's margin on each side of a text.
  const int margin = view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1;
  const auto* list = qobject_cast<const QListView*>(&view);
  const bool hasIcon = !index.data(Qt::DecorationRole).isNull();
  if (list != nullptr && list->viewMode() == QListView::IconMode && list->wordWrap()) {
    // Below the icon, in the grid's cell, wrapped at word boundaries or anywhere, as the
    // delegate lays it out.
    const QSize cell = list->gridSize().isValid() ? list->gridSize() : item.size();
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QTextLayout layout(text, view.font());
    layout.setTextOption(option);
    int lines = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(cell.width() - 2 * margin);
      ++lines;
    }
    layout.endLayout();
    const int height = cell.height() - (hasIcon ? view.iconSize().height() : 0) - 2 * margin;
    return lines * metrics.lineSpacing() > height;
  }
  int left = shown.left() + margin;
  if (hasIcon) left += view.iconSize().width() + 2 * margin;
  return left + metrics.horizontalAdvance(text) > shown.right() - margin + 1;
}

void ShowCutTextsAsToolTips(QAbstractItemView& view) {
  view.viewport()->installEventFilter(new CutTextTips(view));
}

QString Windows95FontFile() {
  return QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                QStringLiteral("wine/fonts/ms_sans_serif.ttf"));
}

bool ApplyLook(QApplication& app) {
  app.setStyle(new Windows95Style);
  app.setPalette(Windows95Palette());
  // A disabled menu item under the keyboard shows grey text on the navy bar.
  QPalette menu = Windows95Palette();
  menu.setColor(QPalette::Disabled, QPalette::Highlight,
                menu.color(QPalette::Active, QPalette::Highlight));
  app.setPalette(menu, "QMenu");
  QFont font;
  font.setStyleHint(QFont::SansSerif);
  const QString family = Windows95Family();
  if (!family.isEmpty()) {
    // The bitmap strike drawn for 8 points at 96 dots per inch.
    font.setFamily(family);
    font.setPixelSize(13);
  } else {
    font.setFamilies({QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Nimbus Sans"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans")});
    font.setPointSize(8);
  }
  app.setFont(font);
  return !family.isEmpty();
}

QPixmap ResourceBitmap(const QString& name) {
  const char* const* xpm = nullptr;
  if (name == QLatin1String("FLOPPY")) xpm = floppy_xpm;
  if (name == QLatin1String("HARD")) xpm = hard_xpm;
  if (name == QLatin1String("NETWORK")) xpm = network_xpm;
  if (name == QLatin1String("CDROM")) xpm = cdrom_xpm;
  if (name == QLatin1String("RAM")) xpm = ram_xpm;
  if (name == QLatin1String("SmallImages")) xpm = smallimages_xpm;
  if (name == QLatin1String("COMPUTER")) xpm = computer_xpm;
  if (name == QLatin1String("UPFOLDER")) xpm = upfolder_xpm;
  return xpm != nullptr ? QPixmap(xpm) : QPixmap();
}

QPixmap TransparentBitmap(const QString& name) {
  QPixmap bitmap = ResourceBitmap(name);
  if (bitmap.isNull()) return bitmap;
  const QImage image = bitmap.toImage();
  bitmap.setMask(QBitmap::fromImage(image.createMaskFromColor(image.pixel(0, image.height() - 1))));
  return bitmap;
}

QPixmap DriveBitmap(DriveType type) {
  switch (type) {
    case DriveType::Removable:
      return TransparentBitmap(QStringLiteral("FLOPPY"));
    case DriveType::Fixed:
      return TransparentBitmap(QStringLiteral("HARD"));
    case DriveType::Remote:
      return TransparentBitmap(QStringLiteral("NETWORK"));
    case DriveType::CdRom:
      return TransparentBitmap(QStringLiteral("CDROM"));
    case DriveType::RamDisk:
      break;
  }
  return TransparentBitmap(QStringLiteral("RAM"));
}

QPixmap SmallImage(int index) {
  return TransparentBitmap(QStringLiteral("SmallImages")).copy(index * 16, 0, 16, 16);
}

QIcon NodeIcon(const QPixmap& pixmap) {
  QIcon icon(pixmap);
  icon.addPixmap(pixmap, QIcon::Selected);
  return icon;
}

}  // namespace tarnwick
