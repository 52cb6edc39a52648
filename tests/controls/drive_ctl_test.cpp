#include "controls/drive_ctl.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>

#include "support/test_machine.h"

namespace tarnwick::test {
namespace {

const char* const kDrives =
    "[Drive A]\nType=removable\n"
    "[Drive C]\nType=fixed\nPath=c\nLabel=System\n"
    "[Drive D]\nType=cdrom\n"
    "[Drive F]\nType=remote\nPath=f\nLabel=DATA\nRemoteName=\\\\Server\\Share\n"
    "[Drive G]\nType=remote\nPath=g\nLabel=Backup\n"
    "[Drive H]\nType=remote\n"
    "[Drive R]\nType=ramdisk\nPath=r\nLabel=RAMDRIVE\n";

QStringList Texts(const TDriveList& list) {
  QStringList texts;
  for (int row = 0; row < list.count(); ++row) texts << list.item(row)->text();
  return texts;
}

void Click(TDriveList& list, int row) {
  const QPoint at = list.visualItemRect(list.item(row)).center();
  for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent event(type, at, list.viewport()->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &event);
  }
}

// The left button pressed on one row, moved over the rows between and released on the last.
void Drag(TDriveList& list, const std::vector<int>& rows) {
  const auto send = [&](QEvent::Type type, int row, Qt::MouseButtons buttons) {
    const QPoint at = list.visualItemRect(list.item(row)).center();
    QMouseEvent event(type, at, list.viewport()->mapToGlobal(at),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &event);
  };
  send(QEvent::MouseButtonPress, rows.front(), Qt::LeftButton);
  for (int row : rows) send(QEvent::MouseMove, row, Qt::LeftButton);
  send(QEvent::MouseButtonRelease, rows.back(), Qt::NoButton);
}

class DriveListTest : public ::testing::Test {
 protected:
  test::TestMachine machine_{kDrives};
  TDriveList list_;
};

TEST_F(DriveListTest, ListsDrivesInLetterOrderWithLowerCaseNames) {
  list_.SetMachine(machine_.Get());
  EXPECT_EQ(Texts(list_), QStringList({"a:", "c: [system]", "d: []", "f: \\\\server\\share",
                                       "g: [backup]", "h: []", "r: [ramdrive]"}));
  EXPECT_EQ(list_.Drive(), 'c');
}

TEST_F(DriveListTest, UpperCaseTurnsLettersAndNamesUpper) {
  list_.SetMachine(machine_.Get());
  list_.SetTextCase(TTextCase::tcUpperCase);
  EXPECT_EQ(Texts(list_), QStringList({"A:", "C: [SYSTEM]", "D: []", "F: \\\\SERVER\\SHARE",
                                       "G: [BACKUP]", "H: []", "R: [RAMDRIVE]"}));
  EXPECT_EQ(list_.Drive(), 'C');
  list_.SetTextCase(TTextCase::tcLowerCase);
  EXPECT_EQ(list_.item(1)->text(), "c: [system]");
  EXPECT_EQ(list_.Drive(), 'c');
}

TEST_F(DriveListTest, EachKindHasItsOwnBitmap) {
  list_.SetMachine(machine_.Get());
  // a: floppy, c: hard, d: CD-ROM, f: network, r: RAM.
  std::vector<QImage> images;
  for (int row : {0, 1, 2, 3, 6}) {
    const QPixmap bitmap = list_.ItemBitmap(row);
    ASSERT_EQ(bitmap.size(), QSize(16, 11)) << row;
    EXPECT_FALSE(bitmap.mask().isNull()) << row;
    images.push_back(bitmap.toImage());
  }
  for (size_t i = 0; i < images.size(); ++i) {
    for (size_t j = i + 1; j < images.size(); ++j) EXPECT_NE(images[i], images[j]) << i << j;
  }
  EXPECT_EQ(list_.ItemBitmap(3).toImage(), list_.ItemBitmap(4).toImage());
}

TEST_F(DriveListTest, AnsiLabelsChangeCaseByCodePage1252) {
  test::TestMachine machine("[Drive C]\nType=fixed\nPath=c\nLabel=Ærø Œuvre\n");
  list_.SetMachine(machine.Get());
  EXPECT_EQ(list_.item(0)->text(), QString::fromUtf8("c: [ærø œuvre]"));
  list_.SetTextCase(TTextCase::tcUpperCase);
  EXPECT_EQ(list_.item(0)->text(), QString::fromUtf8("C: [ÆRØ ŒUVRE]"));
}

TEST_F(DriveListTest, SetDriveFiresOnChangeUnlessAlreadyCurrent) {
  list_.setSelectionMode(QAbstractItemView::SingleSelection);
  int changes = 0;
  QObject::connect(&list_, &TDriveList::OnChange, [&](TDriveList* sender) {
    EXPECT_EQ(sender, &list_);
    ++changes;
  });
  list_.SetMachine(machine_.Get());
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(list_.currentRow(), 1);
  list_.SetDrive('C');
  EXPECT_EQ(changes, 1);
  list_.SetDrive('R');
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(list_.Drive(), 'r');
  EXPECT_EQ(list_.currentRow(), 6);
  EXPECT_TRUE(list_.item(6)->isSelected());
}

TEST_F(DriveListTest, MultipleSelectionKeepsSelectionOnSetDrive) {
  list_.SetMachine(machine_.Get());
  list_.item(0)->setSelected(true);
  list_.SetDrive('f');
  EXPECT_EQ(list_.Drive(), 'f');
  EXPECT_EQ(list_.selectedItems().size(), 1);
  EXPECT_TRUE(list_.item(0)->isSelected());
}

TEST_F(DriveListTest, ClickTogglesOneItemAndFiresClick) {
  list_.SetMachine(machine_.Get());
  list_.resize(200, 200);
  list_.show();
  int clicks = 0;
  QObject::connect(&list_, &TDriveList::OnClick, [&](TDriveList* sender) {
    EXPECT_EQ(sender, &list_);
    ++clicks;
  });
  Click(list_, 1);
  Click(list_, 3);
  EXPECT_TRUE(list_.item(1)->isSelected());
  EXPECT_TRUE(list_.item(3)->isSelected());
  EXPECT_EQ(list_.Drive(), 'f');
  Click(list_, 1);
  EXPECT_FALSE(list_.item(1)->isSelected());
  EXPECT_TRUE(list_.item(3)->isSelected());
  EXPECT_EQ(clicks, 3);
  EXPECT_EQ(list_.Drive(), 'c');
}

TEST_F(DriveListTest, SpaceBarTogglesTheCurrentItemLikeAClick) {
  list_.SetMachine(machine_.Get());
  list_.show();
  list_.setFocus();
  int clicks = 0;
  QObject::connect(&list_, &TDriveList::OnClick, [&] { ++clicks; });
  const auto press = [&](Qt::Key key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Space ? " " : "");
    QApplication::sendEvent(&list_, &event);
  };
  list_.setCurrentRow(1, QItemSelectionModel::NoUpdate);
  press(Qt::Key_Down);  // moves the focus, selects nothing
  EXPECT_EQ(clicks, 0);
  EXPECT_TRUE(list_.selectedItems().isEmpty());
  press(Qt::Key_Space);
  EXPECT_TRUE(list_.item(2)->isSelected());
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(list_.Drive(), 'd');
  press(Qt::Key_Space);
  EXPECT_FALSE(list_.item(2)->isSelected());
  EXPECT_EQ(clicks, 2);
}

TEST_F(DriveListTest, DraggingOverItemsFiresClickForEveryChangeButProgramStepsFireNothing) {
  list_.SetMachine(machine_.Get());
  list_.resize(200, 200);
  list_.show();
  std::vector<int> seen;  // selected items at each click
  QObject::connect(&list_, &TDriveList::OnClick,
                   [&] { seen.push_back(static_cast<int>(list_.selectedItems().size())); });
  // Pressed on a:, released on d: after passing c:.
  Drag(list_, {0, 1, 2});
  EXPECT_EQ(list_.selectedItems().size(), 3);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
  // Pressed on d: and released on c:: the last click sees the selection as it ends.
  seen.clear();
  Drag(list_, {2, 1});
  EXPECT_FALSE(list_.item(2)->isSelected());
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), list_.selectedItems().size());

  seen.clear();
  list_.item(4)->setSelected(true);
  list_.clearSelection();
  list_.selectAll();
  EXPECT_TRUE(seen.empty());
}

TEST_F(DriveListTest, SelectionDoesNotSurviveRebuild) {
  list_.SetMachine(machine_.Get());
  list_.item(2)->setSelected(true);
  list_.SetTextCase(TTextCase::tcUpperCase);
  EXPECT_TRUE(list_.selectedItems().isEmpty());
}

TEST_F(DriveListTest, ItemHeightFollowsFontButNotBelowBitmaps) {
  list_.SetMachine(machine_.Get());
  QFont font = list_.font();
  font.setPixelSize(30);
  list_.setFont(font);
  EXPECT_GE(list_.ItemHeight(), 30);
  EXPECT_EQ(list_.visualItemRect(list_.item(1)).height(), list_.ItemHeight());
  EXPECT_EQ(list_.count(), 7);
  font.setPixelSize(3);
  list_.setFont(font);
  EXPECT_EQ(list_.ItemHeight(), 11);
}

TEST(DriveListWithoutMachine, IsEmpty) {
  TDriveList list;
  list.BuildList();
  EXPECT_EQ(list.count(), 0);
}

TEST(DriveListLook, MoreDrivesThanRowsScrollOnlyUpAndDown) {
  std::string drives;
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    drives += std::string("[Drive ") + letter +
              "]\nType=fixed\nPath=" + static_cast<char>(letter - 'A' + 'a') + "\n";
  }
  test::TestMachine machine(drives);
  TDriveList list;
  list.setFixedSize(161, 121);
  list.SetMachine(machine.Get());
  list.show();
  QApplication::processEvents();
  ASSERT_TRUE(list.verticalScrollBar()->isVisible());
  EXPECT_FALSE(list.horizontalScrollBar()->isVisible());
  EXPECT_EQ(list.horizontalScrollBar()->maximum(), 0);
  list.setCurrentRow(list.count() - 1);
  list.scrollToItem(list.item(list.count() - 1));
  EXPECT_EQ(list.horizontalScrollBar()->value(), 0);
}

}  // namespace
}  // namespace tarnwick::test
