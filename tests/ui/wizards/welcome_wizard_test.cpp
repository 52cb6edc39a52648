#include "ui/wizards/welcome_wizard.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <filesystem>
#include <fstream>

#include "controls/file_view.h"
#include "shell/scripted_prompter.h"
#include "support/policy_test_machine.h"

namespace tarnwick {
namespace {

// Keeps the file chooser's requests.
class ChooserPrompter : public ScriptedPrompter {
 public:
  std::optional<std::string> ChooseFile(QWidget* owner, const Machine& machine,
                                        const FileChooserRequest& request) override {
    requests.push_back(request);
    return ScriptedPrompter::ChooseFile(owner, machine, request);
  }
  std::vector<FileChooserRequest> requests;
};

class WelcomeWizardTest : public ::testing::Test {
 protected:
  template <typename T>
  T* Find(const TfrmWelcomeWizard& wizard, const char* name) {
    T* widget = wizard.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QPushButton* Button(const TfrmWelcomeWizard& wizard, const char* name) {
    return Find<QPushButton>(wizard, name);
  }
  int Page(const TfrmWelcomeWizard& wizard) {
    return Find<QStackedWidget>(wizard, "PageControl1")->currentIndex();
  }
  std::vector<QString> Messages() {
    std::vector<QString> texts;
    for (const PromptRecord& record : prompter_.Records()) {
      if (record.type == PromptRecord::Type::Message) texts.push_back(record.text);
    }
    return texts;
  }
  void Write(std::string_view windowsPath, const std::string& bytes) {
    std::ofstream(machine_.Host(windowsPath), std::ios::binary) << bytes;
  }

  testing::PolicyMachine machine_;
  ChooserPrompter prompter_;
  PrompterGuard guard_{prompter_};
};

TEST_F(WelcomeWizardTest, NavigationFollowsTheNameAndThePages) {
  TfrmWelcomeWizard wizard(nullptr, machine_.GetMachine());
  QPushButton* next = Button(wizard, "cmdNext");
  QPushButton* back = Button(wizard, "cmdBack");
  QPushButton* finish = Button(wizard, "cmdFinish");
  EXPECT_EQ(wizard.windowTitle(), "Welcome Wizard");
  EXPECT_EQ(Page(wizard), 0);
  EXPECT_TRUE(next->isEnabled() && next->isDefault());
  EXPECT_FALSE(finish->isEnabled() || back->isEnabled());

  next->click();
  ASSERT_EQ(Page(wizard), 1);
  EXPECT_TRUE(back->isEnabled());
  auto* name = Find<QLineEdit>(wizard, "txtName");
  name->setText(QStringLiteral(" \t "));
  next->click();
  name->setText(QString::fromUtf8("Ad\u2603"));  // no character of code page 1252
  next->click();
  EXPECT_EQ(Page(wizard), 1);
  ASSERT_EQ(Messages().size(), 2u);
  EXPECT_EQ(Messages()[0], "You must enter a user name");
  EXPECT_EQ(Messages()[1], QString::fromUtf8(TfrmWelcomeWizard::kNameNotAnsi));

  // The name becomes the first account as typed: the account store's rule applies here.
  for (const char* refused : {"Zo\xC3\xAB ", "lpt1", "Zo\xC3\xAB|"}) {
    name->setText(QString::fromUtf8(refused));
    next->click();
    EXPECT_EQ(Page(wizard), 1) << refused;
  }
  const std::vector<QString> messages = Messages();
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(std::vector<QString>(messages.begin() + 2, messages.end()),
            (std::vector<QString>{"A user name cannot end in a blank or a dot",
                                  "\"lpt1\" is the name of a device and cannot be a user name",
                                  "A user name cannot hold the character '|'"}));

  name->setText(QString::fromUtf8("  Zo\xC3\xAB"));
  next->click();
  next->click();
  EXPECT_EQ(Page(wizard), 3);
  EXPECT_TRUE(finish->isEnabled() && finish->isDefault());
  EXPECT_FALSE(next->isEnabled());
  EXPECT_EQ(wizard.UserName(), "  Zo\xEB");

  back->click();
  EXPECT_EQ(Page(wizard), 2);
  EXPECT_TRUE(finish->isDefault());
  EXPECT_FALSE(finish->isEnabled());
  EXPECT_TRUE(next->isEnabled());
  back->click();
  back->click();
  EXPECT_EQ(Page(wizard), 0);
  EXPECT_FALSE(back->isEnabled());
}

TEST_F(WelcomeWizardTest, IconChoiceKeepsTheLastIconThatLoaded) {
  TfrmWelcomeWizard wizard(nullptr, machine_.GetMachine());
  auto* icons = Find<TFileView>(wizard, "lstviewIcons");
  auto* picture = Find<QLabel>(wizard, "imgUserIcon");
  ASSERT_GT(icons->count(), 0);
  const std::string first = "C:\\TARNEX\\UserIcon\\" + icons->item(0)->text().toStdString();
  EXPECT_EQ(wizard.IconFile(), first);
  EXPECT_FALSE(picture->pixmap().isNull());

  // A damaged icon warns and leaves the earlier choice.
  Write("C:\\WINDOWS\\Broken.ico", "not an icon");
  prompter_.Queue(std::optional<std::string>("C:\\WINDOWS\\Broken.ico"));
  Button(wizard, "cmdBrowseIcon")->click();
  ASSERT_EQ(prompter_.requests.size(), 1u);
  EXPECT_EQ(prompter_.requests[0].filter, "Icon files(*.ico)|*.ICO");
  EXPECT_EQ(prompter_.requests[0].initialFolder, "C:\\TARNEX\\UserIcon");
  EXPECT_EQ(Messages(), std::vector<QString>{"The selected file is not an icon file"});
  EXPECT_EQ(wizard.IconFile(), first);
  EXPECT_FALSE(picture->pixmap().isNull());

  // An icon from elsewhere through Browse; the list keeps its selection.
  std::filesystem::copy_file(machine_.Host(first), machine_.Host("C:\\WINDOWS\\Mine.ico"));
  prompter_.Queue(std::optional<std::string>("C:\\WINDOWS\\Mine.ico"));
  Button(wizard, "cmdBrowseIcon")->click();
  EXPECT_EQ(wizard.IconFile(), "C:\\WINDOWS\\Mine.ico");
  EXPECT_EQ(icons->currentRow(), 0);

  // Cancelling the chooser changes nothing.
  Button(wizard, "cmdBrowseIcon")->click();
  EXPECT_EQ(wizard.IconFile(), "C:\\WINDOWS\\Mine.ico");
  EXPECT_EQ(Messages().size(), 1u);
}

TEST_F(WelcomeWizardTest, WithoutIconsAFailedIconLeavesTheChoiceEmpty) {
  std::filesystem::remove_all(machine_.Host("C:\\TARNEX\\UserIcon"));
  Write("C:\\WINDOWS\\Broken.ico", "");
  TfrmWelcomeWizard wizard(nullptr, machine_.GetMachine());
  EXPECT_EQ(Find<TFileView>(wizard, "lstviewIcons")->count(), 0);
  prompter_.Queue(std::optional<std::string>("C:\\WINDOWS\\Broken.ico"));
  Button(wizard, "cmdBrowseIcon")->click();
  EXPECT_EQ(Messages().size(), 1u);
  EXPECT_EQ(wizard.IconFile(), "");
  EXPECT_TRUE(Find<QLabel>(wizard, "imgUserIcon")->pixmap().isNull());
}

}  // namespace
}  // namespace tarnwick
