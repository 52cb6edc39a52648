#include "ui/wizards/wizard_frame.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTest>
#include <map>
#include <set>
#include <string>

#include "policy/policy_store.h"
#include "policy/users.h"
#include "shell/scripted_prompter.h"
#include "support/policy_test_machine.h"
#include "ui/wizards/create_shortcut.h"
#include "ui/wizards/new_user_wizard.h"
#include "ui/wizards/welcome_wizard.h"

namespace tarnwick::test {
namespace {

// Each wizard driven by keys alone, as a person meets it: Return through every page to the last,
// Alt+B back to the first, Escape to close.
class WizardFrameTest : public ::testing::Test {
 protected:
  WizardFrameTest() { users_.AddUser("Ann"); }

  static QPushButton* Button(const QDialog& wizard, const char* name) {
    auto* button = wizard.findChild<QPushButton*>(QString::fromLatin1(name));
    EXPECT_NE(button, nullptr) << name;
    return button;
  }

  static QWidget* Focus() { return QApplication::focusWidget(); }

  // Back on every page but the first, Next on every page but the last, Finish on the last.
  static void ExpectButtons(const QDialog& wizard, int page, int last) {
    SCOPED_TRACE(::testing::Message() << "page " << page);
    EXPECT_EQ(Button(wizard, "cmdBack")->isEnabled(), page > 0);
    EXPECT_EQ(Button(wizard, "cmdNext")->isEnabled(), page < last);
    EXPECT_EQ(Button(wizard, "cmdFinish")->isEnabled(), page == last);
  }

  // A control by name; Tab stops once in a group of radio buttons, the arrow keys move inside it.
  static std::string TabStop(const QWidget& widget) {
    const auto* radio = qobject_cast<const QRadioButton*>(&widget);
    const QWidget& named =
        radio != nullptr && radio->autoExclusive() ? *widget.parentWidget() : widget;
    return (radio != nullptr ? "radio buttons in " : "") + named.objectName().toStdString();
  }

  // The focus is on the page shown or the buttons; Tab reaches every control there and comes
  // back; no two controls there share an accelerator.
  static void ExpectKeyboardReachesThePage(const QDialog& wizard, int page) {
    SCOPED_TRACE(::testing::Message() << "page " << page);
    QWidget* const start = Focus();
    ASSERT_NE(start, nullptr);
    EXPECT_TRUE(start->isVisible() && start->isEnabled()) << start->objectName().toStdString();

    std::set<std::string> expected;
    for (const QWidget* widget : wizard.findChildren<QWidget*>()) {
      if (widget->isVisible() && widget->isEnabled() &&
          (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus) {
        expected.insert(TabStop(*widget));
      }
    }
    std::set<std::string> reached{TabStop(*start)};
    for (size_t step = 0; step <= expected.size(); ++step) {
      QTest::keyClick(Focus(), Qt::Key_Tab);
      if (Focus() == start) break;
      reached.insert(TabStop(*Focus()));
    }
    EXPECT_EQ(Focus(), start);
    EXPECT_EQ(reached, expected);

    std::map<QKeySequence, QString> accelerators;
    const auto add = [&accelerators](const QString& text, const QString& owner) {
      const QKeySequence key = QKeySequence::mnemonic(text);
      EXPECT_TRUE(key.isEmpty() || accelerators.emplace(key, owner).second)
          << owner.toStdString() << " and " << accelerators[key].toStdString() << " share "
          << key.toString().toStdString();
    };
    for (const QAbstractButton* button : wizard.findChildren<QAbstractButton*>()) {
      if (button->isVisible() && button->isEnabled()) add(button->text(), button->objectName());
    }
    for (const QLabel* label : wizard.findChildren<QLabel*>()) {
      const QWidget* buddy = label->buddy();
      if (label->isVisible() && buddy != nullptr && buddy->isEnabled()) {
        add(label->text(), label->objectName());
      }
    }
  }

  // The one answer the wizard needs before its last page is typed where the focus is on its page.
  void Walk(QDialog& wizard, int answerPage, const QString& answer) {
    wizard.show();
    QApplication::setActiveWindow(&wizard);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&wizard));
    const auto* pages = wizard.findChild<QStackedWidget*>(QStringLiteral("PageControl1"));
    ASSERT_NE(pages, nullptr);
    const int last = pages->count() - 1;

    // Return presses Next on every page and Finish is the default on the last.
    for (int page = 0; page < last; page = pages->currentIndex()) {
      if (page == answerPage) QTest::keyClicks(Focus(), answer);
      ExpectButtons(wizard, page, last);
      EXPECT_TRUE(Button(wizard, "cmdNext")->isDefault()) << "page " << page;
      ExpectKeyboardReachesThePage(wizard, page);
      QTest::keyClick(Focus(), Qt::Key_Return);
      ASSERT_GT(pages->currentIndex(), page) << "Return left page " << page;
    }
    ExpectButtons(wizard, last, last);
    EXPECT_TRUE(Button(wizard, "cmdFinish")->isDefault());
    ExpectKeyboardReachesThePage(wizard, last);

    for (int page = last; page > 0; page = pages->currentIndex()) {
      QTest::keyClick(Focus(), Qt::Key_B, Qt::AltModifier);
      QTRY_VERIFY2(pages->currentIndex() < page, "Alt+B stayed");
      ExpectButtons(wizard, pages->currentIndex(), last);
      EXPECT_TRUE(Focus() != nullptr && Focus()->isVisible() && Focus()->isEnabled());
    }
    QTest::keyClick(Focus(), Qt::Key_Escape);
    EXPECT_EQ(wizard.result(), QDialog::Rejected);
    EXPECT_FALSE(wizard.isVisible());
  }

  test::PolicyMachine machine_;
  AttachedPolicyFile file_{machine_.Store()};
  TUsers users_{machine_.Store()};
  std::string icon_;
  ScriptedPrompter prompter_;
  PrompterGuard guard_{prompter_};
};

TEST_F(WizardFrameTest, EachWizardIsDrivenByKeysAloneWithItsButtonsInStep) {
  {
    SCOPED_TRACE("new user");
    TfrmWizard wizard(nullptr, users_, icon_);
    Walk(wizard, 0, QStringLiteral("Cleo"));
  }
  {
    SCOPED_TRACE("welcome");
    TfrmWelcomeWizard wizard(nullptr, machine_.GetMachine());
    Walk(wizard, 1, QStringLiteral("Cleo"));
  }
  {
    SCOPED_TRACE("create shortcut");
    TfrmCreateShortcut wizard(nullptr, machine_.Store());
    Walk(wizard, 0, QStringLiteral("C:\\WINDOWS\\NOTEPAD.EXE"));
  }
}

}  // namespace
}  // namespace tarnwick::test
