#include "ui/wizards/start_tree.h"

#include <exception>
#include <optional>
#include <string_view>

#include "account/machine_settings.h"
#include "base/text.h"
#include "controls/help_window.h"
#include "machine/machine.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/ansi_qstring.h"
#include "shell/error_box.h"
#include "shell/machine_dir.h"
#include "shell/prompts.h"
#include "ui_start_tree.h"

namespace tarnwick {

namespace {

constexpr std::string_view kSystemEntry = "System";
constexpr int kHelpContext = 605;

}  // namespace

TfrmStartTree::TfrmStartTree(QWidget* owner, const TUsers& users)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::TfrmStartTree>()),
      machine_(users.Store().GetMachine()),
      users_(users) {
  ui_->setupUi(this);
  setFixedSize(size());
  ui_->fvTree->SetMachine(machine_);
  ui_->fvTree->SetReadOnly(true);

  ConnectShowingErrors(ui_->lstUsers, &QComboBox::activated, this, &TfrmStartTree::lstUsersClick);
  ConnectShowingErrors(ui_->cmdOK, &QPushButton::clicked, this, &TfrmStartTree::cmdOKClick);
  connect(ui_->Button2, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui_->cmdBrowse, &QPushButton::clicked, this, [this] { done(kBrowseResult); });
  ConnectShowingErrors(ui_->cmdHelp, &QPushButton::clicked, this, &TfrmStartTree::cmdHelpClick);
  FormCreate();
}

TfrmStartTree::~TfrmStartTree() = default;

void TfrmStartTree::SetPrompt(const QString& text) {
  ui_->lblPrompt->setText(text);
}

void TfrmStartTree::SetBrowseText(const QString& text) {
  ui_->cmdBrowse->setText(text);
}

void TfrmStartTree::FormCreate() {
  systemPrograms_ = DefaultProgramsFolder(users_.Store().GetRegistry());
  if (ExistingDirectory(machine_, systemPrograms_)) {
    ui_->lstUsers->addItem(FromAnsi(kSystemEntry));
  }
  for (size_t i = 0; i < users_.Count(); ++i) ui_->lstUsers->addItem(FromAnsi(users_[i].Name()));

  try {
    ui_->lstUsers->setCurrentIndex(0);
    lstUsersClick();
  } catch (const std::exception&) {
    // An unreadable folder setting leaves the tree empty; another entry may still be chosen.
  }
}

void TfrmStartTree::lstUsersClick() {
  const std::string entry = ToAnsi(ui_->lstUsers->currentText()).value_or(std::string());
  // Before the form is shown (its first entry is read while it is made) its owner holds the boxes.
  QWidget* owner = isVisible() ? this : parentWidget();
  std::string folder;
  if (EqualsIgnoreCase(entry, kSystemEntry)) {
    folder = systemPrograms_;
  } else if (const TUser* user = users_.FindUser(entry)) {
    folder = user->ProgramsFolder();
  } else {
    ShowMessage(owner, MessageKind::Plain,
                QStringLiteral("Error obtaining start menu for selected user"));
    ui_->fvTree->Clear();
    return;
  }
  if (ExistingDirectory(machine_, folder)) {
    ui_->fvTree->SetRootFolder(folder);
  } else {
    ShowMessage(owner, MessageKind::Plain, QStringLiteral("Invalid directory for selected user"));
    ui_->fvTree->Clear();
  }
}

void TfrmStartTree::cmdOKClick() {
  const QTreeWidgetItem* node = ui_->fvTree->currentItem();
  if (node == nullptr || !node->isSelected()) {
    ShowMessage(this, MessageKind::Information, QStringLiteral("Select an application shortcut"));
    return;
  }
  if (TFolderView::IsFolder(node)) {
    ShowMessage(this, MessageKind::Information,
                QStringLiteral("You selected a folder.  Please select an application shortcut"));
    return;
  }
  selectedPath_ = ui_->fvTree->GetNodePath(node);
  accept();
}

void TfrmStartTree::cmdHelpClick() {
  ShowHelpTopic(this, kHelpContext);
}

}  // namespace tarnwick
