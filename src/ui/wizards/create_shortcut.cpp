#include "ui/wizards/create_shortcut.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <optional>
#include <string_view>

#include "account/machine_settings.h"
#include "base/error.h"
#include "base/text.h"
#include "controls/error_box.h"
#include "controls/help_window.h"
#include "machine/win_path.h"
#include "policy/policy_store.h"
#include "registry/registry.h"
#include "shell/ansi_qstring.h"
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
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::TfrmCreateShortcut>()),
      store_(store),
      machine_(store.GetMachine()) {
  ui_->setupUi(this);
  setFixedSize(size());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  ConnectShowingErrors(ui_->cmdNext, &QPushButton::clicked, this,
                       &TfrmCreateShortcut::cmdNextClick);
  ConnectShowingErrors(ui_->cmdBack, &QPushButton::clicked, this,
                       &TfrmCreateShortcut::cmdBackClick);
  ConnectShowingErrors(ui_->cmdHelp, &QPushButton::clicked, this,
                       &TfrmCreateShortcut::cmdHelpClick);
  connect(ui_->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
  ConnectShowingErrors(ui_->cmdFinish, &QPushButton::clicked, this,
                       &TfrmCreateShortcut::cmdFinishClick);
  ConnectShowingErrors(ui_->btnBrowse, &QPushButton::clicked, this,
                       &TfrmCreateShortcut::btnBrowseClick);
  FormCreate();
}

TfrmCreateShortcut::~TfrmCreateShortcut() = default;

std::string TfrmCreateShortcut::CommandLine() const {
  return ToAnsi(ui_->txtCommandLine->text()).value_or(std::string());
}

std::string TfrmCreateShortcut::ShortcutName() const {
  return ToAnsi(ui_->txtShortcutName->text()).value_or(std::string());
}

void TfrmCreateShortcut::FormCreate() {
  ui_->PageControl1->setCurrentWidget(ui_->pageCommand);
  ui_->cmdFinish->setEnabled(false);
  ui_->cmdBack->setEnabled(false);
  ui_->cmdNext->setEnabled(true);
  ui_->cmdNext->setDefault(true);
}

bool TfrmCreateShortcut::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) FormActivate();
  return QDialog::event(event);
}

void TfrmCreateShortcut::FormActivate() {
  if (activated_) return;
  activated_ = true;
  ui_->txtCommandLine->setFocus();
}

void TfrmCreateShortcut::cmdNextClick() {
  QStackedWidget& pages = *ui_->PageControl1;
  if (pages.currentWidget() == ui_->pageCommand) {
    const QString text = ui_->txtCommandLine->text();
    const std::optional<std::string> target = ToAnsi(text);
    if (!target) {
      ShowMessage(this, MessageKind::Information, QString::fromUtf8(kCommandLineNotAnsi));
      return;
    }
    // The whole text names the file: arguments after it make it a name no file has.
    if (!ExistingFile(machine_, *target)) {
      ShowMessage(this, MessageKind::Information,
                  QStringLiteral("The file ") + text + QStringLiteral(" cannot be found."));
      return;
    }
    ui_->txtShortcutName->setText(FromAnsi(ShortcutNameFromPath(*target)));
  }
  QWidget* const before = focusWidget();
  pages.setCurrentIndex(pages.currentIndex() + 1);
  ui_->cmdBack->setEnabled(true);
  if (pages.currentIndex() == pages.count() - 1) {
    ui_->cmdFinish->setEnabled(true);
    ui_->cmdFinish->setDefault(true);
    ui_->cmdNext->setEnabled(false);
  }
  KeepFocusReachable(before);
}

void TfrmCreateShortcut::cmdBackClick() {
  QWidget* const before = focusWidget();
  QStackedWidget& pages = *ui_->PageControl1;
  pages.setCurrentIndex(pages.currentIndex() - 1);
  ui_->cmdNext->setEnabled(true);
  ui_->cmdNext->setDefault(true);
  ui_->cmdFinish->setEnabled(false);
  if (pages.currentIndex() == 0) ui_->cmdBack->setEnabled(false);
  KeepFocusReachable(before);
}

void TfrmCreateShortcut::KeepFocusReachable(QWidget* before) {
  // A button that had the focus keeps it while it is enabled; any other focus, left on the page
  // that was hidden, goes to the new page's edit box, where Return presses the default button.
  const bool button = before == ui_->cmdCancel || before == ui_->cmdBack ||
                      before == ui_->cmdNext || before == ui_->cmdFinish;
  if (button && before->isEnabled()) {
    before->setFocus();
  } else if (ui_->PageControl1->currentWidget() == ui_->pageName) {
    ui_->txtShortcutName->setFocus();
    ui_->txtShortcutName->selectAll();
  } else {
    ui_->txtCommandLine->setFocus();
  }
}

void TfrmCreateShortcut::cmdHelpClick() {
  ShowHelpContents(this);
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
