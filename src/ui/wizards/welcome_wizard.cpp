#include "ui/wizards/welcome_wizard.h"

#include <QGraphicsDropShadowEffect>
#include <QGuiApplication>
#include <QScreen>

#include "base/text.h"
#include "controls/error_box.h"
#include "controls/help_window.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/ansi_qstring.h"
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
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowContextHelpButtonHint |
                         Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::TfrmWelcomeWizard>()),
      machine_(machine),
      userIconFolder_(AddTrailingBackslash(ExtractFilePath(machine_.ProgramPath())) + "UserIcon") {
  ui_->setupUi(this);
  setFixedSize(size());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  QFont serif = ui_->lblFinish->font();
  serif.setFamilies({QStringLiteral("Times New Roman"), QStringLiteral("Nimbus Roman"),
                     QStringLiteral("DejaVu Serif")});
  serif.setStyleHint(QFont::Serif);
  ui_->lblFinish->setFont(serif);
  AddShadow(ui_->lblTitle);
  AddShadow(ui_->lblFinish);
  ui_->lstviewIcons->SetMachine(machine_);

  ConnectShowingErrors(ui_->cmdNext, &QPushButton::clicked, this, &TfrmWelcomeWizard::cmdNextClick);
  ConnectShowingErrors(ui_->cmdBack, &QPushButton::clicked, this, &TfrmWelcomeWizard::cmdBackClick);
  ConnectShowingErrors(ui_->cmdHelp, &QPushButton::clicked, this, &TfrmWelcomeWizard::cmdHelpClick);
  connect(ui_->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui_->cmdFinish, &QPushButton::clicked, this, &QDialog::accept);
  ConnectShowingErrors(ui_->cmdBrowseIcon, &QPushButton::clicked, this,
                       &TfrmWelcomeWizard::cmdBrowseIconClick);
  ConnectShowingErrors(ui_->lstviewIcons, &QListWidget::itemSelectionChanged, this,
                       &TfrmWelcomeWizard::lstviewIconsChange);
  FormCreate();
}

TfrmWelcomeWizard::~TfrmWelcomeWizard() = default;

void TfrmWelcomeWizard::FormCreate() {
  ui_->PageControl1->setCurrentIndex(0);
  ui_->cmdFinish->setEnabled(false);
  ui_->cmdNext->setEnabled(true);
  ui_->cmdNext->setDefault(true);
  ui_->cmdBack->setEnabled(false);
  ui_->cmdNext->setFocus();

  setWindowTitle(QStringLiteral("Welcome Wizard"));
  ui_->lblTitle->setText(QStringLiteral("Welcome to Tarnwick!"));

  ui_->lstviewIcons->SetDirectory(userIconFolder_);
  if (ui_->lstviewIcons->count() > 0) ui_->lstviewIcons->setCurrentRow(0);
}

std::optional<std::string> TfrmWelcomeWizard::UserName() const {
  return ToAnsi(ui_->txtName->text());
}

void TfrmWelcomeWizard::cmdNextClick() {
  QStackedWidget& pages = *ui_->PageControl1;
  if (pages.currentWidget() == ui_->PageName) {
    const std::optional<std::string> name = UserName();
    if (name && Trim(*name).empty()) {
      ShowMessage(this, MessageKind::Plain, QStringLiteral("You must enter a user name"));
      return;
    }
    if (!name) {
      ShowMessage(this, MessageKind::Plain, QString::fromUtf8(kNameNotAnsi));
      return;
    }
    // The name is handed over as typed and becomes the first account: the account store's rule.
    if (const auto refused = RefusedUserName(machine_, *name, nullptr)) {
      ShowMessage(this, MessageKind::Plain, QString::fromStdString(*refused));
      return;
    }
  }
  QWidget* const before = focusWidget();
  pages.setCurrentIndex(pages.currentIndex() + 1);
  ui_->cmdBack->setEnabled(true);
  if (pages.currentIndex() == pages.count() - 1) {
    ui_->cmdFinish->setEnabled(true);
    ui_->cmdFinish->setDefault(true);
    ui_->cmdNext->setEnabled(false);
  }
  if (pages.currentWidget() == ui_->PageName) {
    ui_->txtName->setFocus();
  } else {
    KeepFocusReachable(before);
  }
}

void TfrmWelcomeWizard::KeepFocusReachable(QWidget* before) {
  // A button that had the focus keeps it while it is enabled; any other focus, left on the page
  // that was hidden, goes to the default button, so that Return keeps pressing it.
  const bool button = before == ui_->cmdHelp || before == ui_->cmdCancel ||
                      before == ui_->cmdBack || before == ui_->cmdNext || before == ui_->cmdFinish;
  if (button && before->isEnabled()) {
    before->setFocus();
  } else {
    (ui_->cmdFinish->isEnabled() ? ui_->cmdFinish : ui_->cmdNext)->setFocus();
  }
}

void TfrmWelcomeWizard::cmdBackClick() {
  QWidget* const before = focusWidget();
  ui_->PageControl1->setCurrentIndex(ui_->PageControl1->currentIndex() - 1);
  ui_->cmdNext->setEnabled(true);
  ui_->cmdFinish->setEnabled(false);
  if (ui_->PageControl1->currentIndex() == 0) ui_->cmdBack->setEnabled(false);
  KeepFocusReachable(before);
}

void TfrmWelcomeWizard::cmdHelpClick() {
  ShowHelpContents(this);
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
