// The main window on a lab: the switch shows whether the netlogon file is served, and its click
// explains each client's step instead of writing anything.
#include <gtest/gtest.h>

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <memory>
#include <optional>

#include "demo/demo_machine.h"
#include "policy/password_store.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/scripted_prompter.h"
#include "shell/single_instance.h"
#include "support/run_program.h"
#include "support/temp_machine_dir.h"
#include "support/test_lab.h"
#include "ui/main_window.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

TEST(LabMainWindowTest, TheSwitchShowsTheServedFileAndExplainsTheClientStep) {
  const TempMachineDir dir;
  WriteTestLab(dir.Path());
  const Machine machine = OpenOrCreateMachine(dir.Path());
  Registry registry(machine);
  PolicyStore store(registry);
  {
    AttachedPolicyFile file{store};
    StorePassword(store, "secret");
    TUsers users{store};
    users.AddUser("Ann");
  }
  ScriptedPrompter prompter;
  PrompterGuard guard{prompter};
  prompter.Queue([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("txtPassword"))->setText(QStringLiteral("secret"));
    return int{QDialog::Accepted};
  });
  TInstanceDetector detector{machine};
  auto window = std::make_unique<TfrmMain>(detector, &store);
  window->FormCreate();
  prompter.ClearRecords();

  auto* frame = window->findChild<QFrame*>(QStringLiteral("bevelOnOff"));
  auto* image = window->findChild<QLabel*>(QStringLiteral("imgOnOff"));
  ASSERT_NE(frame, nullptr);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(frame->frameShadow(), QFrame::Raised);
  const QPoint place = image->pos();
  const fs::path systemDat = dir.Path() / "server" / "c" / "WINDOWS" / "SYSTEM.DAT";
  const std::string system = Slurp(systemDat);
  const std::string policy = Slurp(dir.Path() / "netlogon" / "CONFIG.POL");

  window->imgOnOffClick();
  ASSERT_EQ(prompter.Records().size(), 1u);
  EXPECT_EQ(prompter.Records()[0].title, "Tarnwick");
  EXPECT_TRUE(prompter.Records()[0].text.startsWith(
      "The computers of the domain CLASS download \\\\LABSRV\\NETLOGON\\CONFIG.POL"))
      << prompter.Records()[0].text.toStdString();
  EXPECT_TRUE(prompter.Records()[0].text.contains(
      QString::fromStdString("tarnwick-lab join " + machine.Directory().string())));
  EXPECT_EQ(frame->frameShadow(), QFrame::Raised);
  EXPECT_EQ(image->pos(), place);
  EXPECT_EQ(Slurp(systemDat), system);
  EXPECT_EQ(Slurp(dir.Path() / "netlogon" / "CONFIG.POL"), policy);
  window->close();
}

}  // namespace
}  // namespace tarnwick::test
