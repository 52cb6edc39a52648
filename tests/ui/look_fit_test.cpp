// Every text of every window fits its control at the windows' own sizes, in Windows 95's font.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QToolTip>

#include "controls/look.h"
#include "policy/password_store.h"
#include "policy/policy_store.h"
#include "policy/policy_templates.h"
#include "policy/users.h"
#include "shell/scripted_prompter.h"
#include "shell/single_instance.h"
#include "support/look_guard.h"
#include "support/policy_test_machine.h"
#include "ui/about_box.h"
#include "ui/change_password_form.h"
#include "ui/logon_policy.h"
#include "ui/main_window.h"
#include "ui/password_form.h"
#include "ui/policies_window.h"
#include "ui/wizards/create_shortcut.h"
#include "ui/wizards/new_user_wizard.h"
#include "ui/wizards/start_tree.h"
#include "ui/wizards/welcome_wizard.h"

namespace tarnwick::test {
namespace {

QString Named(const QWidget& widget, const QString& text) {
  return widget.objectName() + QStringLiteral(": ") + text;
}

// The texts of the window's visible labels, buttons and group boxes that their controls cut,
// one a line.
std::string CutTexts(QWidget& window) {
  window.show();
  QApplication::processEvents();
  QStringList cut;
  for (QWidget* widget : window.findChildren<QWidget*>()) {
    if (!widget->isVisibleTo(&window)) continue;
    const QFontMetrics metrics = widget->fontMetrics();
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      const QString text = label->text();
      if (text.isEmpty() || Qt::mightBeRichText(text)) continue;
      const QRect room = label->contentsRect();
      const bool fits =
          label->wordWrap()
              ? label->heightForWidth(room.width()) <= room.height()
              : metrics.size(label->buddy() != nullptr ? Qt::TextShowMnemonic : 0, text).width() <=
                    room.width();
      if (!fits) cut << Named(*label, text);
    } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
      if (metrics.size(Qt::TextShowMnemonic, box->title()).width() + 8 > box->width()) {
        cut << Named(*box, box->title());
      }
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      if (button->text().isEmpty()) continue;
      const bool push = qobject_cast<QPushButton*>(button) != nullptr ||
                        qobject_cast<QToolButton*>(button) != nullptr;
      const int textWidth = metrics.size(Qt::TextShowMnemonic, button->text()).width();
      const int iconWidth = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
      const bool underIcon =
          qobject_cast<QToolButton*>(button) != nullptr &&
          static_cast<QToolButton*>(button)->toolButtonStyle() == Qt::ToolButtonTextUnderIcon;
      const int needed =
          push ? (underIcon ? textWidth : textWidth + iconWidth) + 6 : button->sizeHint().width();
      if (needed > button->width()) cut << Named(*button, button->text());
    }
  }
  return cut.join(u'\n').toStdString();
}

// The tool tip a view shows over an item.
QString ToolTipOver(QAbstractItemView& view, const QModelIndex& index) {
  const QPoint at = view.visualRect(index).center();
  QHelpEvent event(QEvent::ToolTip, at, view.viewport()->mapToGlobal(at));
  QApplication::sendEvent(view.viewport(), &event);
  return QToolTip::isVisible() ? QToolTip::text() : QString();
}

ScriptedPrompter::DialogScript TypePassword(QString text) {
  return [text](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("txtPassword"))->setText(text);
    return int{QDialog::Accepted};
  };
}

// The windows over a machine with the password "secret" and a user whose name is long.
class WindowsFitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!look_.HasWindows95Font()) GTEST_SKIP() << "MS Sans Serif (fonts-wine) is not installed";
    AttachedPolicyFile file{machine_.Store()};
    StorePassword(machine_.Store(), "secret");
    TUsers users{machine_.Store()};
    users.AddUser("Ann");
    users.AddUser("Administrator of the Science Laboratory");
  }

  test::LookGuard look_;
  test::PolicyMachine machine_;
  ScriptedPrompter prompter_;
  PrompterGuard guard_{prompter_};
};

TEST_F(WindowsFitTest, MainWindowShowsEveryTabWholeWithoutScrollArrows) {
  TInstanceDetector detector(machine_.GetMachine());
  prompter_.Queue(TypePassword(QStringLiteral("secret")));
  TfrmMain window(detector, &machine_.Store());
  window.FormCreate();
  window.show();
  QApplication::processEvents();
  auto* pages = window.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
  ASSERT_NE(pages, nullptr);
  EXPECT_EQ(pages->size(), QSize(364, 276));
  QTabBar* bar = pages->tabBar();
  for (QToolButton* arrow : bar->findChildren<QToolButton*>()) EXPECT_FALSE(arrow->isVisible());
  for (int i = 0; i < pages->count(); ++i) {
    if (!pages->isTabVisible(i)) continue;
    const QRect tab = bar->tabRect(i);
    EXPECT_TRUE(QRect(QPoint(), pages->size()).contains(bar->mapTo(pages, tab.topLeft())) &&
                QRect(QPoint(), pages->size()).contains(bar->mapTo(pages, tab.bottomRight())))
        << pages->tabText(i).toStdString();
    EXPECT_GE(tab.width(), bar->fontMetrics().horizontalAdvance(pages->tabText(i)))
        << pages->tabText(i).toStdString();
  }
  for (int i = 0; i < pages->count(); ++i) {
    if (!pages->isTabVisible(i)) continue;
    pages->setCurrentIndex(i);
    EXPECT_EQ(CutTexts(window), "") << pages->tabText(i).toStdString();
  }
  window.close();
}

TEST_F(WindowsFitTest, LongUserNameIsElidedWithItsWholeTextAsToolTip) {
  TInstanceDetector detector(machine_.GetMachine());
  prompter_.Queue(TypePassword(QStringLiteral("secret")));
  TfrmMain window(detector, &machine_.Store());
  window.FormCreate();
  window.show();
  auto* users = window.findChild<QListWidget*>(QStringLiteral("lvUsers"));
  const QString name = QStringLiteral("Administrator of the Science Laboratory");
  QListWidgetItem* item = users->findItems(name, Qt::MatchExactly).value(0);
  ASSERT_NE(item, nullptr);
  users->clearSelection();
  item->setSelected(true);
  auto* selection = window.findChild<QLabel*>(QStringLiteral("lblSelection"));
  EXPECT_NE(selection->text(), name);
  EXPECT_LE(selection->fontMetrics().horizontalAdvance(selection->text()),
            selection->contentsRect().width());
  EXPECT_EQ(selection->toolTip(), name);
  EXPECT_EQ(ToolTipOver(*users, users->indexFromItem(item)), name);
  QToolTip::hideText();
  window.close();
}

TEST_F(WindowsFitTest, PasswordDialogsShowEveryPromptAndNote) {
  TfrmPassword password(nullptr);
  for (const char* prompt : {"Enter the Tarnwick password:", "Enter a new password for Tarnwick",
                             "Re-enter the password to verify it"}) {
    password.Label1().setText(QString::fromUtf8(prompt));
    EXPECT_EQ(CutTexts(password), "") << prompt;
  }
  TfrmChangePassword change(nullptr);
  EXPECT_EQ(CutTexts(change), "");
  TAboutBox about(nullptr);
  EXPECT_EQ(CutTexts(about), "");
}

TEST_F(WindowsFitTest, WizardPagesShowEveryText) {
  AttachedPolicyFile file{machine_.Store()};
  TUsers users{machine_.Store()};
  std::string icon;
  TfrmWizard newUser(nullptr, users, icon);
  newUser.findChild<QLineEdit*>(QStringLiteral("txtName"))->setText(QStringLiteral("Kids"));
  for (int page = 0; page < 7; ++page) {
    if (page > 0) newUser.findChild<QPushButton*>(QStringLiteral("cmdNext"))->click();
    EXPECT_EQ(CutTexts(newUser), "") << "new-user page " << page + 1;
  }
  newUser.reject();

  TfrmWelcomeWizard welcome(nullptr, machine_.GetMachine());
  for (int page = 0; page < 4; ++page) {
    if (page == 2) {
      welcome.findChild<QLineEdit*>(QStringLiteral("txtName"))->setText(QStringLiteral("Anna"));
    }
    if (page > 0) welcome.findChild<QPushButton*>(QStringLiteral("cmdNext"))->click();
    EXPECT_EQ(CutTexts(welcome), "") << "welcome page " << page;
  }
  welcome.reject();

  TfrmCreateShortcut shortcut(nullptr, machine_.Store());
  shortcut.findChild<QLineEdit*>(QStringLiteral("txtCommandLine"))
      ->setText(QStringLiteral("C:\\WINDOWS\\NOTEPAD.EXE"));
  EXPECT_EQ(CutTexts(shortcut), "");
  shortcut.findChild<QPushButton*>(QStringLiteral("cmdNext"))->click();
  EXPECT_EQ(CutTexts(shortcut), "");
  shortcut.reject();

  TfrmStartTree tree(nullptr, users);
  EXPECT_EQ(CutTexts(tree), "");
}

TEST_F(WindowsFitTest, PoliciesWindowsShowEveryText) {
  AttachedPolicyFile file{machine_.Store()};
  TUsers users{machine_.Store()};
  const std::vector<PolicyTemplate> templates{OwnTemplate()};
  TfrmPolicies policies(nullptr, machine_.Store(), users, templates);
  for (const PolicyEntry& entry :
       {PolicyEntry{PolicyEntry::Kind::User, "Ann"},
        PolicyEntry{PolicyEntry::Kind::Computer, std::string(kDefaultEntryName)}}) {
    ASSERT_TRUE(policies.SelectEntry(entry));
    EXPECT_EQ(CutTexts(policies), "") << entry.name;
  }
  TfrmLogonPolicy logon(nullptr, machine_.Store(), "Ann");
  EXPECT_EQ(CutTexts(logon), "");
}

}  // namespace
}  // namespace tarnwick::test
