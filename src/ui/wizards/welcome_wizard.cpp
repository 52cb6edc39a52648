#include "ui/wizards/welcome_wizard.h"

#include <QGraphicsDropShadowEffect>

#include "base/text.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/ansi_qstring.h"
#include "shell/error_box.h"
#include "shell/file_icons.h"
#include "shell/prompts.h"
#include "ui_welcome_wizard.h"

namespace tarnwick {

namespace {

constexpr int kIconSize = 32;

// Yellow band titles stand out with a hard black shadow.
void AddShadow(QWidget* label) {
  auto* shadow = new QGraphicsDropShadowEffect(label);
  shadow->setBlurRadius(0);
  shadow->setOffset(2, 2);
  shadow->setColor(Qt::black);
  label->setGraphicsEffect(shadow);
}

// The picture of an icon file; null for any other file and for a damaged icon file.
QPixmap IconFilePicture(const Machine& machine, const std::string& path) {
  if (!EqualsIgnoreCase(ExtractFileExt(path), ".ico")) return {};
  return IconAtLocation(machine, path, 0, kIconSize);
}

}  // namespace

TfrmWelcomeWizard::TfrmWelcomeWizard(QWidget* owner, const Machine& machine)
    : WizardFrame(owner, Qt::WindowContextHelpButtonHint),
      ui_(std::make_unique<Ui::TfrmWelcomeWizard>()),
      machine_(machine),
      userIconFolder_(AddTrailingBackslash(ExtractFilePath(machine_.ProgramPath())) + "UserIcon") {
  ui_->setupUi(this);
  // Back leaves Finish the default button.
  AttachFrame(
      {ui_->PageControl1, ui_->cmdHelp, ui_->cmdCancel, ui_->cmdBack, ui_->cmdNext, ui_->cmdFinish},
      DefaultAfterBack::Unchanged);
  QFont serif = ui_->lblFinish->font();
  serif.setFamilies({QStringLiteral("Times New Roman"), QStringLiteral("Nimbus Roman"),
                     QStringLiteral("DejaVu Serif")});
  serif.setStyleHint(QFont::Serif);
  ui_->lblFinish->setFont(serif);
  AddShadow(ui_->lblTitle);
  AddShadow(ui_->lblFinish);
  ui_->lstviewIcons->SetMachine(machine_);

  ConnectShowingErrors(ui_->cmdBrowseIcon, &QPushButton::clicked, this,
                       &TfrmWelcomeWizard::cmdBrowseIconClick);
  ConnectShowingErrors(ui_->lstviewIcons, &QListWidget::itemSelectionChanged, this,
                       &TfrmWelcomeWizard::lstviewIconsChange);
  FormCreate();
}

TfrmWelcomeWizard::~TfrmWelcomeWizard() = default;

void TfrmWelcomeWizard::FormCreate() {
  ui_->cmdNext->setFocus();

  setWindowTitle(QStringLiteral("Welcome Wizard"));
  ui_->lblTitle->setText(QStringLiteral("Welcome to Tarnwick!"));

  ui_->lstviewIcons->SetDirectory(userIconFolder_);
  if (ui_->lstviewIcons->count() > 0) ui_->lstviewIcons->setCurrentRow(0);
}

std::optional<std::string> TfrmWelcomeWizard::UserName() const {
  return ToAnsi(ui_->txtName->text());
}

bool TfrmWelcomeWizard::LeavePage(QWidget* page) {
  if (page != ui_->PageName) return true;
  const std::optional<std::string> name = UserName();
  if (name && Trim(*name).empty()) {
    ShowMessage(this, MessageKind::Plain, QStringLiteral("You must enter a user name"));
    return false;
  }
  if (!name) {
    ShowMessage(this, MessageKind::Plain, QString::fromUtf8(kNameNotAnsi));
    return false;
  }
  // The name is handed over as typed and becomes the first account: the account store's rule.
  if (const auto refused = RefusedUserName(machine_, *name, nullptr)) {
    ShowMessage(this, MessageKind::Plain, QString::fromStdString(*refused));
    return false;
  }
  return true;
}

void TfrmWelcomeWizard::PageShown(QWidget* page, bool forward) {
  if (forward && page == ui_->PageName) ui_->txtName->setFocus();
}

void TfrmWelcomeWizard::cmdBrowseIconClick() {
  const FileChooserRequest request{QStringLiteral("Open"), "Icon files(*.ico)|*.ICO",
                                   userIconFolder_, ""};
  if (const auto chosen = Prompter::Current().ChooseFile(this, machine_, request)) {
    LoadUserIcon(*chosen);
  }
}

void TfrmWelcomeWizard::lstviewIconsChange() {
  const QListWidgetItem* item = ui_->lstviewIcons->currentItem();
  if (item == nullptr || !item->isSelected()) return;
  const std::optional<std::string> caption = ToAnsi(item->text());
  if (!caption) return;
  LoadUserIcon(ui_->lstviewIcons->Directory() + "\\" + *caption);
}

void TfrmWelcomeWizard::LoadUserIcon(const std::string& path) {
  const QPixmap picture = IconFilePicture(machine_, path);
  if (!picture.isNull()) {
    ui_->imgUserIcon->setPixmap(picture);
    iconFile_ = path;
    return;
  }
  ShowMessage(this, MessageKind::Warning, QStringLiteral("The selected file is not an icon file"));
  ui_->imgUserIcon->setPixmap(iconFile_.empty() ? QPixmap() : IconFilePicture(machine_, iconFile_));
}

}  // namespace tarnwick
