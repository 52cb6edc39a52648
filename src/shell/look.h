// The Windows 95 look: style, palette, font and the program's own bitmaps.
#pragma once

#include <QPixmap>
#include <QString>

class QApplication;

namespace tarnwick {

// Qt's "Windows" style, the Windows 95 palette and an 8-point sans-serif font, for the whole
// program. Called once at start, after the QApplication exists.
void ApplyLook(QApplication& app);

// One of the program's bitmap resources: "FLOPPY", "HARD", "NETWORK", "CDROM", "RAM" (16 x 11)
// and "SmallImages" (48 x 16). A null pixmap for any other name.
QPixmap ResourceBitmap(const QString& name);

}  // namespace tarnwick
