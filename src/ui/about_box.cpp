#include "ui/about_box.h"

#include <QGuiApplication>
#include <QImage>
#include <QScreen>

#include "demo/project_icons.h"
#include "formats/ico_file.h"
#include "ui_about_box.h"

namespace tarnwick {

namespace {

// The picture of a user without an icon of their own, as the glyph of the close button.
QPixmap Glyph() {
  const std::vector<uint8_t> ico = DefaultUserIconFile();
  const auto picture = LoadIconPicture(ico, 32);
  if (!picture || picture->isPng) return {};
  const RgbaImage& px = picture->pixels;
  return QPixmap::fromImage(QImage(reinterpret_cast<const uchar*>(px.pixels.data()), px.width,
                                   px.height, px.width * 4, QImage::Format_ARGB32)
                                .copy());
}

void SetPixelSize(QWidget* widget, int pixels) {
  QFont font = widget->font();
  font.setPixelSize(pixels);
  widget->setFont(font);
}

}  // namespace

TAboutBox::TAboutBox(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::TAboutBox>()) {
  ui_->setupUi(this);
  setFixedSize(size());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  setWindowTitle(QStringLiteral("About Tarnwick"));

  ui_->btnOK->setIcon(Glyph());
  ui_->btnOK->setShortcut(QKeySequence(Qt::Key_Escape));
  ui_->btnOK->setDefault(true);
  connect(ui_->btnOK, &QPushButton::clicked, this, &QDialog::accept);

  SetPixelSize(ui_->lblProductName, 19);
  SetPixelSize(ui_->lblVersion, 19);
  SetPixelSize(ui_->lblTM, 8);
  SetPixelSize(ui_->lblMakerFirst, 20);
  SetPixelSize(ui_->lblMakerSecond, 20);

  const QString version = QStringLiteral(TARNWICK_VERSION);
  ui_->lblVersion->setText(version);
  // "TM" and the version follow the name closely whatever the font's width.
  const int nameEnd = ui_->lblProductName->x() + ui_->lblProductName->sizeHint().width();
  ui_->lblTM->move(nameEnd + 1, ui_->lblTM->y());
  ui_->lblVersion->move(ui_->lblTM->x() + ui_->lblTM->sizeHint().width() + 3, ui_->lblVersion->y());
  ui_->lblNotice->setText(
      QStringLiteral("Free software under the GNU General Public License, version 3 or later"));
  ui_->lblAddress1->setText(QStringLiteral("Administers Windows 95 accounts and policies"));
  ui_->lblAddress2->setText(QStringLiteral("from a Linux desktop"));
  ui_->lblContact1->setText(QStringLiteral("Report problems in the project's issue tracker"));
  ui_->lblContact2->setText(QStringLiteral("Run tarnwick --describe and include its output"));
  ui_->lblContact3->setText(QStringLiteral("Help: F1 on any control, or Help Contents"));
}

TAboutBox::~TAboutBox() = default;

}  // namespace tarnwick
