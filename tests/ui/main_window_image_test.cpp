// The main window on a machine whose drive C is a FAT16 volume in a disk image made by mkfs.fat
// and filled by mcopy: it lists the folders and makes new ones on the image.
#include <gtest/gtest.h>

#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "demo/demo_machine.h"
#include "policy/password_store.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/scripted_prompter.h"
#include "shell/single_instance.h"
#include "support/run_program.h"
#include "support/temp_machine_dir.h"
#include "ui/main_window.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

constexpr char kPrograms[] = "C:\\WINDOWS\\Start Menu\\Programs";

void Tool(std::vector<std::string> args) {
  const ProgramRun run = RunProgram(std::move(args));
  ASSERT_EQ(run.status, 0) << run.out << run.err;
}

// A demo machine with the password "secret" and the user Ann, whose drive C is then moved into
// a FAT16 image (c.img, no partition table) and its directory removed.
fs::path MakeImageMachine(const fs::path& dir) {
  {
    const Machine machine = OpenOrCreateMachine(dir);
    Registry registry(machine);
    PolicyStore store(registry);
    AttachedPolicyFile file{store};
    StorePassword(store, "secret");
    TUsers users{store};
    users.AddUser("Ann");
    users.FindUser("Ann")->SetProgramsFolder(kPrograms);
  }
  const fs::path image = dir / "c.img";
  Tool({"mkfs.fat", "-F", "16", "-n", "SYSTEM", "-C", image.string(), "32768"});
  std::vector<std::string> copy = {"mcopy", "-s", "-i", image.string()};
  for (const fs::directory_entry& entry : fs::directory_iterator(dir / "c")) {
    copy.push_back(entry.path().string());
  }
  copy.push_back("::/");
  Tool(copy);
  fs::remove_all(dir / "c");
  std::ifstream in(dir / "machine.ini");
  std::stringstream text;
  text << in.rdbuf();
  std::string ini = text.str();
  const size_t at = ini.find("Path=c");
  EXPECT_NE(at, std::string::npos) << ini;
  ini.replace(at, 6, "Image=c.img\nPartition=0");
  std::ofstream(dir / "machine.ini", std::ios::trunc) << ini;
  return image;
}

TEST(MainWindowOnAnImage, ListsTheFoldersAndMakesANewOne) {
  TempMachineDir temp;
  const fs::path dir = temp.Path() / "machine";
  const fs::path image = MakeImageMachine(dir);
  {
    const Machine machine = Machine::Open(dir);
    ASSERT_FALSE(machine.HostPath(kPrograms));
    Registry registry(machine);
    PolicyStore store(registry);
    ScriptedPrompter prompter;
    PrompterGuard guard{prompter};
    TInstanceDetector detector{machine};
    prompter.Queue([](QDialog& dialog) {
      dialog.findChild<QLineEdit*>(QStringLiteral("txtPassword"))
          ->setText(QStringLiteral("secret"));
      return int{QDialog::Accepted};
    });
    TfrmMain window(detector, &store);
    window.FormCreate();
    prompter.ClearRecords();

    auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("fvCustomFolder"));
    ASSERT_NE(tree, nullptr);
    const auto node = [&](const char* text) {
      const QList<QTreeWidgetItem*> found =
          tree->findItems(QString::fromLatin1(text), Qt::MatchExactly | Qt::MatchRecursive);
      return found.isEmpty() ? nullptr : found.front();
    };
    ASSERT_NE(node("Programs"), nullptr);
    ASSERT_NE(node("Accessories"), nullptr);

    tree->clearSelection();
    node("Programs")->setSelected(true);
    prompter.Queue(std::optional<QString>(QStringLiteral("Games and Toys")));
    window.findChild<QPushButton*>(QStringLiteral("btnAddFolder"))->click();
    ASSERT_EQ(prompter.Records().size(), 1u) << prompter.Records().back().text.toStdString();
    EXPECT_NE(node("Games and Toys"), nullptr);
    const std::optional<VolumeEntry> made = machine.Stat(std::string(kPrograms) + "\\GAMESA~1");
    ASSERT_TRUE(made);
    EXPECT_EQ(made->name, "Games and Toys");
    EXPECT_TRUE(made->IsDirectory());

    // The same name in another letter case is refused, as on Windows 95.
    node("Programs")->setSelected(true);
    prompter.Queue(std::optional<QString>(QStringLiteral("GAMES AND TOYS")));
    window.findChild<QPushButton*>(QStringLiteral("btnAddFolder"))->click();
    EXPECT_EQ(prompter.Records().back().text, "An error occurred creating the new directory");

    // The file manager cannot open a folder inside the image: a message says so.
    window.findChild<QToolButton*>(QStringLiteral("btnExploreCustomFolder"))->click();
    EXPECT_EQ(prompter.Records().back().text,
              "The folder C:\\WINDOWS\\Start Menu\\Programs is inside the disk image c.img, "
              "which the desktop's file manager cannot open. Its contents are shown in the list "
              "below.");
    // The drive list reads the image's root and shows its label.
    auto* drives = window.findChild<QListWidget*>(QStringLiteral("lstHideDrives"));
    ASSERT_NE(drives, nullptr);
    EXPECT_TRUE(drives->findItems(QStringLiteral("c: [system]"), Qt::MatchExactly).size() == 1)
        << drives->item(1)->text().toStdString();

    window.findChild<QTabWidget*>(QStringLiteral("PageControl1"))
        ->setCurrentWidget(window.findChild<QWidget*>(QStringLiteral("TabSheet7")));
    const QImage shot = window.grab().toImage();
    EXPECT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(QString::fromStdString((temp.Path() / "main.png").string())));
    window.close();
  }
  const ProgramRun fsck = RunProgram({"fsck.fat", "-n", image.string()});
  EXPECT_EQ(fsck.status, 0) << fsck.out << fsck.err;
  const ProgramRun listing =
      RunProgram({"mdir", "-i", image.string(), "::/WINDOWS/Start Menu/Programs"});
  EXPECT_NE(listing.out.find("Games and Toys"), std::string::npos) << listing.out;
}

}  // namespace
}  // namespace tarnwick::test
