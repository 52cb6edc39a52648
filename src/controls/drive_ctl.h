// A list box of the machine's drives: a picture of each drive's kind, its letter and its volume
// label or network name.
#pragma once

#include <QListWidget>
#include <QPixmap>
#include <array>
#include <vector>

namespace tarnwick {

class Machine;
struct DriveInfo;

enum class TTextCase { tcLowerCase, tcUpperCase };

class TDriveList : public QListWidget {
  Q_OBJECT

 public:
  // Multiple selection where a click or the space bar toggles one item; empty until a machine
  // is set.
  explicit TDriveList(QWidget* parent = nullptr);

  // The machine whose drives are listed (not owned; it must outlive the control). Builds the
  // list and makes the drive of the program's own directory current.
  void SetMachine(const Machine& machine);

  // The current drive letter, in the case TextCase asks for.
  char Drive() const { return drive_; }
  TTextCase TextCase() const { return textCase_; }
  void SetTextCase(TTextCase textCase);
  // Makes a drive the current one and fires OnChange, unless it is already current. A list
  // with multiple selection keeps its current item and selection.
  void SetDrive(char letter);
  // Rebuilds the items from the machine's drives; the selection does not survive.
  virtual void BuildList();

  // Height of one item: the font's character height, at least the bitmaps' 11 pixels.
  int ItemHeight() const;
  // The picture drawn in front of an item, with its transparent colour masked; null for none.
  QPixmap ItemBitmap(int row) const;

 signals:
  void OnChange(TDriveList* sender);
  // The user changed the selection with the mouse or the keyboard (a click, a drag over several
  // items, a key), once per input event that changed it; the current item's drive is made
  // current right after. Selections made by the program fire nothing.
  void OnClick(TDriveList* sender);

 protected:
  virtual void Change();
  virtual void Click();
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void timerEvent(QTimerEvent* event) override;  // scrolling while dragging past an edge
  void changeEvent(QEvent* event) override;

 private:
  // Runs the list box's own handling of one input event and fires Click when it changed the
  // selection.
  template <typename Handling>
  void ClickOnChange(Handling handling);
  void Rebuild();
  std::vector<bool> Selection() const;
  std::string NamePart(char letter, const DriveInfo& drive) const;

  const Machine* machine_ = nullptr;
  char drive_ = 'c';
  TTextCase textCase_ = TTextCase::tcLowerCase;
  std::array<QPixmap, 5> bitmaps_;  // floppy, hard, network, CD-ROM, RAM
};

}  // namespace tarnwick
