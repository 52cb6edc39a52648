// The Windows 95 look: style, palette, font and the program's own bitmaps.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

#include "machine/machine.h"

class QAbstractItemView;
class QApplication;
class QLabel;
class QModelIndex;

namespace tarnwick {

// The file of Windows 95's "MS Sans Serif" as Wine ships it (wine/fonts/ms_sans_serif.ttf below
// the data directories); empty when absent.
QString Windows95FontFile();

// Qt's "Windows" style, the Windows 95 palette and 8-point MS Sans Serif (13 pixels), for the
// whole program. Called once at start, after the QApplication exists. Without that font, false:
// an 8-point look-alike is used, in which some texts may not fit.
bool ApplyLook(QApplication& app);

// Shows the text of a label elided at its width, the whole text then as its tool tip.
void SetElidedText(QLabel& label, const QString& text);
// Whether an item view draws less than the whole text of an item.
bool ItemTextIsCut(const QAbstractItemView& view, const QModelIndex& index);
// Gives each item whose text the view cuts (elided, or running past the view's edge) a tool tip
// with its whole text, for items without a tool tip of their own.
void ShowCutTextsAsToolTips(QAbstractItemView& view);

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
