// The Windows 95 look: style, palette, font and the program's own bitmaps.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

#include "machine/machine.h"

class QApplication;

namespace tarnwick {

// Qt's "Windows" style, the Windows 95 palette and an 8-point sans-serif font, for the whole
// program. Called once at start, after the QApplication exists.
void ApplyLook(QApplication& app);

// One of the program's bitmap resources: "FLOPPY", "HARD", "NETWORK", "CDROM", "RAM" (16 x 11),
// "SmallImages" (48 x 16), "COMPUTER" and "UPFOLDER" (16 x 16). A null pixmap for any other
// name.
QPixmap ResourceBitmap(const QString& name);
// A resource bitmap with the colour of its bottom-left pixel masked out.
QPixmap TransparentBitmap(const QString& name);
// The 16 x 11 picture of a drive kind.
QPixmap DriveBitmap(DriveType type);
// One 16 x 16 picture of "SmallImages": 0 folder, 1 folder with a program, 2 program window.
QPixmap SmallImage(int index);
// A tree node's picture: drawn the same whether the node is selected or not.
QIcon NodeIcon(const QPixmap& pixmap);

}  // namespace tarnwick
