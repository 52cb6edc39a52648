#include "ui/wizards/create_shortcut.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "account/machine_settings.h"
#include "base/error.h"
#include "base/text.h"
#include "machine/win_path.h"
#include "policy/policy_store.h"
#include "registry/registry.h"
#include "shell/ansi_qstring.h"
#include "shell/error_box.h"
#include "shell/machine_dir.h"
#include "shell/prompts.h"
#include "ui/wizards/program_files.h"
#include "ui_create_shortcut.h"

namespace tarnwick {

std::string ShortcutNameFromPath(std::string_view path) {
  std::string name = ExtractFileName(path);
  name.resize(name.size() - ExtractFileExt(path).size());
  if (!name.empty()) name[0] = UpperAscii(name[0]);
  return name;
}

TfrmCreateShortcut::TfrmCreateShortcut(QWidget* owner, const PolicyStore& store)
    : WizardFrame(owner),
      ui_(std::make_unique<Ui::TfrmCreateShortcut>()),
      store_(store),
      machine_(store.GetMachine()) {
  ui_->setupUi(this);
  AttachFrame({ui_->PageControl1, ui_->cmdHelp, ui_->cmdCancel, ui_->cmdBack, ui_->cmdNext,
               ui_->cmdFinish});
  ConnectShowingErrors(ui_->btnBrowse, &QPushButton::clicked, this,
                       &TfrmCreateShortcut::btnBrowseClick);
}

TfrmCreateShortcut::~TfrmCreateShortcut() = default;

std::string TfrmCreateShortcut::CommandLine() const {
  return ToAnsi(ui_->txtCommandLine->text()).value_or(std::string());
}

std::string TfrmCreateShortcut::ShortcutName() const {
  return ToAnsi(ui_->txtShortcutName->text()).value_or(std::string());
}

void TfrmCreateShortcut::FormActivate() {
  ui_->txtCommandLine->setFocus();
}

bool TfrmCreateShortcut::LeavePage(QWidget* page) {
  if (page != ui_->pageCommand) return true;
  const QString text = ui_->txtCommandLine->text();
  const std::optional<std::string> target = ToAnsi(text);
  if (!target) {
    ShowMessage(this, MessageKind::Information, QString::fromUtf8(kCommandLineNotAnsi));
    return false;
  }
  // The whole text names the file: arguments after it make it a name no file has.
  if (!ExistingFile(machine_, *target)) {
    ShowMessage(this, MessageKind::Information,
                QStringLiteral("The file ") + text + QStringLiteral(" cannot be found."));
    return false;
  }
  ui_->txtShortcutName->setText(FromAnsi(ShortcutNameFromPath(*target)));
  return true;
}

void TfrmCreateShortcut::FocusPage(QWidget* page) {
  if (page == ui_->pageName) {
    ui_->txtShortcutName->setFocus();
    ui_->txtShortcutName->selectAll();
  } else {
    ui_->txtCommandLine->setFocus();
  }
}

void TfrmCreateShortcut::cmdFinishClick() {
  const std::optional<std::string> name = ToAnsi(ui_->txtShortcutName->text());
  if (name && Trim(*name).empty()) {
    ShowMessage(this, MessageKind::Information,
                QStringLiteral("You must enter a name for the shortcut"));
    return;
  }
  if (!name) {
    ShowMessage(this, MessageKind::Information, QString::fromUtf8(kNameNotAnsi));
    return;
  }
  // The name becomes the shortcut's file name.
  const bool forbidden = std::any_of(name->begin(), name->end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 ||
           std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos;
  });
  if (forbidden) {
    ShowMessage(this, MessageKind::Information, QString::fromUtf8(kNameForbidden));
    return;
  }
  accept();
}

void TfrmCreateShortcut::btnBrowseClick() {
  std::string initialFolder;
  try {
    initialFolder = ProgramFilesFolder(store_.GetRegistry());
  } catch (const Error&) {
    // A setting that is not text only costs the chooser its starting folder.
  }
  const FileChooserRequest request{QStringLiteral("Open"), std::string(kApplicationFilter),
                                   initialFolder, ""};
  if (const auto chosen = Prompter::Current().ChooseFile(this, machine_, request)) {
    ui_->txtCommandLine->setText(FromAnsi(*chosen));
  }
  ui_->txtCommandLine->setFocus();
}

}  // namespace tarnwick
