// tarnwick-gallery [OUTPUT_DIR]: renders each control and window over a new demo machine to PNG
// files, with names and paths long enough to show how the windows treat texts that do not fit.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

#include "controls/drive_ctl.h"
#include "controls/file_chooser.h"
#include "controls/file_view.h"
#include "controls/folder_browse.h"
#include "controls/folder_view.h"
#include "controls/help_window.h"
#include "controls/look.h"
#include "controls/real_prompter.h"
#include "demo/demo_machine.h"
#include "machine/machine.h"
#include "policy/password_store.h"
#include "policy/policy_entries.h"
#include "policy/policy_settings.h"
#include "policy/policy_store.h"
#include "policy/policy_templates.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/scripted_prompter.h"
#include "shell/single_instance.h"
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

namespace {

using namespace tarnwick;

bool Save(QWidget& widget, const QDir& out, const QString& name) {
  widget.show();
  QApplication::processEvents();
  const QString file = out.filePath(name + QStringLiteral(".png"));
  const bool saved = widget.grab().save(file);
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(file));
  return saved;
}

QTreeWidgetItem* Child(QTreeWidgetItem* node, const QString& text) {
  for (int i = 0; i < node->childCount(); ++i) {
    if (node->child(i)->text(0) == text) return node->child(i);
  }
  return nullptr;
}

// The demo machine with a network drive and a RAM disk added, so that every bitmap shows.
Machine DemoMachine(const QDir& base) {
  const std::filesystem::path dir = base.filePath(QStringLiteral("machine")).toStdString();
  OpenOrCreateMachine(dir);
  std::filesystem::create_directories(dir / "f");
  std::filesystem::create_directories(dir / "r");
  FILE* ini = std::fopen((dir / "machine.ini").c_str(), "a");
  if (ini != nullptr) {
    std::fputs(
        "\n[Drive F]\nType=remote\nPath=f\nRemoteName=\\\\SERVER\\PUBLIC\n"
        "\n[Drive R]\nType=ramdisk\nPath=r\nLabel=RAMDRIVE\n",
        ini);
    std::fclose(ini);
  }
  return OpenOrCreateMachine(dir);
}

// The Policies window over Tarnwick's own template: Default User with the wallpaper on, a group
// with a numeric part, and what Anna's logon applies.
bool SavePoliciesWindows(TfrmMain& window, PolicyStore& store, const QDir& out) {
  const std::vector<PolicyTemplate> templates{OwnTemplate()};
  AddGroup(store, "Pupils");
  AddGroup(store, "Teachers of the Science Laboratory");
  AddComputer(store, "CLASSROOM-PC1");
  const PolicyEntry pupils{PolicyEntry::Kind::Group, "Pupils"};
  if (const Policy* policy = FindPolicy(templates, PolicyClass::User, "Desktop\\Wallpaper")) {
    WritePolicySetting(
        store, {PolicyEntry::Kind::User, std::string(kDefaultEntryName)}, *policy,
        {PolicyState::On,
         {{"Wallpaper name", {"C:\\WINDOWS\\Clouds.bmp", {}}}, {"Tile wallpaper", {"1", {}}}}});
  }
  if (const Policy* policy = FindPolicy(templates, PolicyClass::User,
                                        "Shell\\Restrictions\\Hide drives in 'My Computer'")) {
    WritePolicySetting(store, pupils, *policy, {PolicyState::On, {{"Drives to hide", {"12", {}}}}});
  }
  bool ok = true;
  TfrmPolicies policies(&window, store, window.Users(), templates);
  const auto show = [&](const char* path) {
    if (QTreeWidgetItem* item = policies.PolicyItem(path)) {
      for (QTreeWidgetItem* up = item->parent(); up != nullptr; up = up->parent()) {
        up->setExpanded(true);
      }
      item->treeWidget()->setCurrentItem(item);
      item->treeWidget()->setFocus();
    } else {
      std::printf("FAILED no policy %s\n", path);
      ok = false;
    }
  };
  show("Desktop\\Wallpaper");
  ok &= Save(policies, out, QStringLiteral("policies-default-user"));
  policies.SelectEntry(pupils);
  show("Shell\\Restrictions\\Hide drives in 'My Computer'");
  ok &= Save(policies, out, QStringLiteral("policies-group"));
  policies.SelectEntry({PolicyEntry::Kind::Computer, std::string(kDefaultEntryName)});
  show("Network\\Passwords\\Minimum Windows password length");
  ok &= Save(policies, out, QStringLiteral("policies-computer"));
  policies.close();
  TfrmLogonPolicy logon(&window, store, "Anna");
  ok &= Save(logon, out, QStringLiteral("logon-policy"));
  return ok;
}

// Two users, the first with an icon and a few restrictions, shown in the main window.
bool SaveProgramWindows(const Machine& machine, const QDir& out) {
  Registry registry(machine);
  PolicyStore store(registry);
  {
    AttachedPolicyFile file(store);
    StorePassword(store, "secret");
    TUsers users(store);
    TUser& anna = users.AddUser("Anna");
    anna.SetUserIcon("C:\\TARNEX\\UserIcon\\Girl.ico");
    anna.SetProgramsFolder("C:\\WINDOWS\\Start Menu\\Programs");
    anna.SetNoRun(1);
    anna.SetNoDrives(1);
    anna.SetRestrictRun(1);
    anna.AddAllowedApp("tarnex.exe");
    anna.AddAllowedApp("twtray.exe");
    anna.AddAllowedApp("NOTEPAD.EXE");
    users.AddUser("Tom").SetUserIcon("C:\\TARNEX\\UserIcon\\Boy.ico");
    users.AddUser("Maximilian-Alexander");
    users.AddUser("Administrator of the Science Laboratory");
  }
  ScriptedPrompter prompter;
  const PrompterGuard guard(prompter);
  prompter.Queue(ScriptedPrompter::DialogScript([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("txtPassword"))->setText(QStringLiteral("secret"));
    return int{QDialog::Accepted};
  }));
  TInstanceDetector detector(machine);
  TfrmMain window(detector, &store);
  window.FormCreate();
  bool ok = true;
  auto* pages = window.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
  for (int i = 0; i < pages->count(); ++i) {
    if (!pages->isTabVisible(i)) continue;
    pages->setCurrentIndex(i);
    ok &= Save(window, out, QStringLiteral("main-") + pages->widget(i)->objectName());
  }
  // The last user, whose name is longer than the list and the label have room for.
  auto* list = window.findChild<QListWidget*>(QStringLiteral("lvUsers"));
  list->clearSelection();
  list->item(list->count() - 1)->setSelected(true);
  pages->setCurrentIndex(0);
  ok &= Save(window, out, QStringLiteral("main-long-name"));
  ok &= SavePoliciesWindows(window, store, out);
  window.close();

  {
    // The new-user wizard's seven pages and the shortcut tree, over the two users.
    AttachedPolicyFile file(store);
    TUsers users(store);
    std::string icon;
    TfrmWizard newUser(nullptr, users, icon);
    newUser.findChild<QLineEdit*>(QStringLiteral("txtName"))->setText(QStringLiteral("Kids"));
    auto* step = newUser.findChild<QPushButton*>(QStringLiteral("cmdNext"));
    for (int page = 0; page < 7; ++page) {
      if (page > 0) step->click();
      ok &= Save(newUser, out, QStringLiteral("new-user-%1").arg(page + 1));
    }
    newUser.reject();
    TfrmStartTree tree(nullptr, users);
    tree.setWindowTitle(QStringLiteral("Add Allowed Application"));
    tree.SetPrompt(QStringLiteral(
        "Select a shortcut to an application that you want the user to be allowed to run"));
    tree.SetBrowseText(QStringLiteral("&Browse Computer"));
    ok &= Save(tree, out, QStringLiteral("start-tree"));
    TfrmStartTree pick(nullptr, users);
    pick.SetPrompt(
        QStringLiteral("Select a shortcut to add to Anna's Desktop Folder from "
                       "selected Programs Folder"));
    ok &= Save(pick, out, QStringLiteral("start-tree-shortcut"));
  }
  TfrmCreateShortcut shortcut(nullptr, store);
  shortcut.findChild<QLineEdit*>(QStringLiteral("txtCommandLine"))
      ->setText(QStringLiteral("C:\\WINDOWS\\NOTEPAD.EXE"));
  ok &= Save(shortcut, out, QStringLiteral("create-shortcut-1"));
  shortcut.findChild<QPushButton*>(QStringLiteral("cmdNext"))->click();
  ok &= Save(shortcut, out, QStringLiteral("create-shortcut-2"));

  TfrmWelcomeWizard wizard(nullptr, machine);
  auto* next = wizard.findChild<QPushButton*>(QStringLiteral("cmdNext"));
  for (int page = 0; page < 4; ++page) {
    if (page == 2) {
      wizard.findChild<QLineEdit*>(QStringLiteral("txtName"))->setText(QStringLiteral("Anna"));
    }
    if (page > 0) next->click();
    ok &= Save(wizard, out, QStringLiteral("welcome-%1").arg(page));
  }
  TAboutBox about(nullptr);
  ok &= Save(about, out, QStringLiteral("about"));

  TfrmPassword password(nullptr);
  password.txtPassword().setText(QStringLiteral("secret"));
  ok &= Save(password, out, QStringLiteral("password"));
  password.Label1().setText(QStringLiteral("Re-enter the password to verify it"));
  ok &= Save(password, out, QStringLiteral("password-first-start"));
  TfrmChangePassword change(nullptr);
  ok &= Save(change, out, QStringLiteral("change-password"));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (qstrcmp(argv[1], "--help") == 0 || qstrcmp(argv[1], "-h") == 0)) {
    std::printf(
        "Usage: tarnwick-gallery [OUTPUT_DIR]\n"
        "Renders each control and window of Tarnwick over a new demo machine to PNG files in\n"
        "OUTPUT_DIR (default: the current directory). Without QT_QPA_PLATFORM set, it draws\n"
        "offscreen; run it under Xvfb with QT_QPA_PLATFORM=xcb to see the windows as shown.\n");
    return 0;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  RealPrompter dialogs;
  const PrompterGuard prompts(dialogs);
  if (!ApplyLook(app)) {
    std::fprintf(stderr, "tarnwick-gallery: MS Sans Serif (package fonts-wine) not found\n");
  }
  const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
  QTemporaryDir temp;
  if (!out.exists() || !temp.isValid()) {
    std::fprintf(stderr, "tarnwick-gallery: no output directory\n");
    return 1;
  }
  const Machine machine = DemoMachine(QDir(temp.path()));
  bool ok = true;

  TDriveList drives;
  drives.SetMachine(machine);
  drives.setFixedSize(160, 97);
  drives.item(0)->setSelected(true);
  drives.item(2)->setSelected(true);
  drives.setCurrentRow(2, QItemSelectionModel::NoUpdate);
  drives.setFocus();
  ok &= Save(drives, out, QStringLiteral("drive-list"));

  TFolderView folders;
  folders.SetMachine(machine);
  folders.setFixedSize(200, 220);
  if (const auto icons = machine.HostPath("C:\\TARNEX\\UserIcon")) {
    std::filesystem::create_directories(*icons / "Pictures drawn for the school's pupils");
  }
  folders.SetRootFolder("C:\\TARNEX");
  if (QTreeWidgetItem* icons = Child(folders.topLevelItem(0), QStringLiteral("UserIcon"))) {
    icons->setExpanded(true);
    folders.setCurrentItem(icons);
  }
  ok &= Save(folders, out, QStringLiteral("folder-view"));

  TFileView files;
  files.SetMachine(machine);
  files.setFixedSize(300, 150);
  files.SetDirectory("C:\\TARNEX\\UserIcon\\");
  if (files.count() > 0) files.setCurrentRow(0);
  ok &= Save(files, out, QStringLiteral("file-view"));
  files.SetViewStyle(TViewStyle::vsSmallIcon);
  ok &= Save(files, out, QStringLiteral("file-view-small"));

  FolderPickerRequest pick;
  pick.title = QStringLiteral("Select a Desktop for Anna");
  pick.flags = kReturnOnlyFsDirs;
  FolderBrowseDialog picker(machine, pick);
  picker.SelectPath("C:\\WINDOWS\\Desktop");
  ok &= Save(picker, out, QStringLiteral("folder-picker"));

  FileChooserRequest choose;
  choose.filter = "Applications(*.exe,*.com,*.bat,*.pif)|*.exe;*.com;*.bat;*.pif|All files|*.*";
  choose.initialFolder = "C:\\WINDOWS";
  FileChooserDialog chooser(machine, choose);
  chooser.FileName()->setText(QStringLiteral("NOTEPAD.EXE"));
  ok &= Save(chooser, out, QStringLiteral("file-chooser"));

  QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"),
                  QStringLiteral("Are you sure you want to delete the user Anna?"),
                  QMessageBox::Yes | QMessageBox::No);
  ok &= Save(box, out, QStringLiteral("message-box"));
  // A long path, shown the way the program shows its messages.
  QString path = QStringLiteral("C:\\WINDOWS\\Profiles");
  while (path.size() < 280) path += QStringLiteral("\\LongFolderName");
  QTimer::singleShot(0, [&] {
    if (auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      ok &= Save(*shown, out, QStringLiteral("message-box-long-path"));
      shown->accept();
    }
  });
  RealPrompter().Message(nullptr, MessageKind::Error, QStringLiteral("Tarnwick"),
                         QStringLiteral("Cannot create ") + path + QStringLiteral("."),
                         QMessageBox::Ok);

  QWidget owner;
  if (HelpWindow* help = HelpWindow::Open(&owner)) {
    ShowHelpContents(&owner);
    QApplication::processEvents();
    help->Engine().contentWidget()->expandAll();
    ok &= Save(*help, out, QStringLiteral("help-contents"));
    ShowHelpTopic(&owner, 510);
    help->Tabs().setCurrentIndex(1);
    ok &= Save(*help, out, QStringLiteral("help-topic"));
  } else {
    ok = false;
  }
  ok &= SaveProgramWindows(machine, out);
  return ok ? 0 : 1;
}
