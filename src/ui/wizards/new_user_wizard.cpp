#include "ui/wizards/new_user_wizard.h"

#include <QGraphicsDropShadowEffect>
#include <QPainter>
#include <QSignalBlocker>
#include <exception>
#include <initializer_list>

#include "account/machine_settings.h"
#include "base/text.h"
#include "controls/glyphs.h"
#include "controls/look.h"
#include "controls/wait_cursor.h"
#include "demo/project_icons.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/ansi_qstring.h"
#include "shell/error_box.h"
#include "shell/file_icons.h"
#include "shell/machine_dir.h"
#include "shell/prompts.h"
#include "ui/window_account_shell.h"
#include "ui/wizards/choose_allowed_application.h"
#include "ui/wizards/welcome_wizard.h"
#include "ui_new_user_wizard.h"

namespace tarnwick {

namespace {

constexpr int kIconSize = 32;
constexpr int kDecoratedPages = 6;
constexpr int kDecorationsPerPage = 4;

const QString kIndent = QStringLiteral("       ");
const QString kItem = QStringLiteral("       +  ");

// Yellow band titles stand out with a hard navy shadow.
void AddShadow(QWidget* label) {
  auto* shadow = new QGraphicsDropShadowEffect(label);
  shadow->setBlurRadius(0);
  shadow->setOffset(2, 2);
  shadow->setColor(QColor(0, 0, 128));
  label->setGraphicsEffect(shadow);
}

void UseSerif(QWidget* label) {
  QFont serif = label->font();
  serif.setFamilies({QStringLiteral("Times New Roman"), QStringLiteral("Nimbus Roman"),
                     QStringLiteral("DejaVu Serif")});
  serif.setStyleHint(QFont::Serif);
  label->setFont(serif);
}

// The selection stays visible when the view loses the focus.
void KeepSelectionVisible(QWidget* view) {
  QPalette palette = view->palette();
  palette.setBrush(QPalette::Inactive, QPalette::Highlight,
                   palette.brush(QPalette::Active, QPalette::Highlight));
  palette.setBrush(QPalette::Inactive, QPalette::HighlightedText,
                   palette.brush(QPalette::Active, QPalette::HighlightedText));
  view->setPalette(palette);
}

// Larger bitmaps are not shown.
constexpr size_t kMaxBitmapSize = 16u << 20;

// The picture of an icon or bitmap file; null for any other file and for a damaged one.
QPixmap PictureFile(const Machine& machine, const std::string& path) {
  const std::string ext = ExtractFileExt(path);
  if (EqualsIgnoreCase(ext, ".ico")) return IconAtLocation(machine, path, 0, kIconSize);
  if (!EqualsIgnoreCase(ext, ".bmp")) return {};
  QPixmap picture;
  try {
    const std::vector<uint8_t> bytes = machine.ReadFile(path, kMaxBitmapSize);
    picture.loadFromData(bytes.data(), static_cast<uint>(bytes.size()), "BMP");
  } catch (const FileReadError&) {
    // No picture.
  }
  return picture;
}

}  // namespace

TfrmWizard::TfrmWizard(QWidget* owner, TUsers& users, std::string& iconFile)
    : WizardFrame(owner, Qt::WindowContextHelpButtonHint),
      ui_(std::make_unique<Ui::TfrmWizard>()),
      users_(users),
      iconFile_(iconFile),
      machine_(users.Store().GetMachine()),
      programFolder_(AddTrailingBackslash(ExtractFilePath(machine_.ProgramPath()))) {
  ui_->setupUi(this);
  AttachFrame({ui_->PageControl1, ui_->cmdHelp, ui_->cmdCancel, ui_->cmdBack, ui_->cmdNext,
               ui_->cmdFinish});
  UseSerif(ui_->lblTitle);
  UseSerif(ui_->lblFinish);
  AddShadow(ui_->lblTitle);
  AddShadow(ui_->lblFinish);
  ShowDecorations();
  ui_->btnAddApplication->setIcon(Glyph(StockIcon::Program, GlyphMark::Plus));
  ui_->btnRemoveApplication->setIcon(Glyph(StockIcon::Program, GlyphMark::Cross));
  ui_->cmdHelp->hide();
  KeepSelectionVisible(ui_->lstviewIcons);
  KeepSelectionVisible(ui_->lstviewUsers);
  ShowCutTextsAsToolTips(*ui_->lstviewUsers);
  QPalette face = ui_->memoSummary->palette();
  face.setBrush(QPalette::Base, face.brush(QPalette::Button));
  ui_->memoSummary->setPalette(face);

  ui_->lstviewIcons->SetMachine(machine_);
  ui_->lstHideDrives->SetMachine(machine_);
  ui_->fvStartFolder->SetMachine(machine_);
  ui_->fvStartFolder->SetReadOnly(true);

  ConnectShowingErrors(ui_->txtName, &QLineEdit::textChanged, this, &TfrmWizard::UpdateNext);
  ConnectShowingErrors(ui_->lstviewIcons, &QListWidget::itemSelectionChanged, this,
                       &TfrmWizard::lstviewIconsChange);
  ConnectShowingErrors(ui_->cmdBrowseIcon, &QPushButton::clicked, this,
                       &TfrmWizard::cmdBrowseIconClick);
  ConnectShowingErrors(ui_->btnAddApplication, &QPushButton::clicked, this,
                       &TfrmWizard::btnAddApplicationClick);
  ConnectShowingErrors(ui_->btnRemoveApplication, &QPushButton::clicked, this,
                       &TfrmWizard::btnRemoveApplicationClick);
  ConnectShowingErrors(ui_->lstviewUsers, &QListWidget::itemSelectionChanged, this,
                       &TfrmWizard::lstviewUsersChange);
  for (const QRadioButton* choice :
       {ui_->btnEmptyStartMenu, ui_->btnOwnStartMenu, ui_->btnShareStartMenu}) {
    ConnectShowingErrors(choice, &QRadioButton::toggled, this, &TfrmWizard::UpdateNext);
  }
  FormCreate();
}

TfrmWizard::~TfrmWizard() = default;

void TfrmWizard::ShowDecorations() {
  const std::vector<NamedIconFile> icons = UserIconFiles();
  if (icons.empty()) return;
  for (int page = 0; page < kDecoratedPages; ++page) {
    for (int i = 0; i < kDecorationsPerPage; ++i) {
      auto* picture = findChild<QLabel*>(QStringLiteral("imgDecoration%1%2").arg(page).arg(i + 1));
      if (picture == nullptr) continue;
      const size_t index = static_cast<size_t>(page * kDecorationsPerPage + i) % icons.size();
      picture->setPixmap(IconFilePixmap(icons[index].bytes, kIconSize));
    }
  }
}

void TfrmWizard::FormCreate() {
  if (!iconFile_.empty()) {
    ui_->imgUserIcon->setPixmap(PictureFile(machine_, iconFile_));
  }
  ui_->lstviewIcons->SetDirectory(programFolder_ + "UserIcon");
  if (ui_->lstviewIcons->count() > 0) {
    {
      const QSignalBlocker quiet(ui_->lstviewIcons);
      ui_->lstviewIcons->setCurrentRow(0);
    }
    lstviewIconsClick();
  }

  FillUserList();
  if (ui_->lstviewUsers->count() > 0) {
    ui_->lstviewUsers->setCurrentRow(0);
  } else {
    // Nobody to copy from or share with.
    ui_->btnEmptyStartMenu->setChecked(true);
    ui_->btnOwnStartMenu->setEnabled(false);
    ui_->btnShareStartMenu->setEnabled(false);
  }

  AddStartupPrograms();
}

void TfrmWizard::AddStartupPrograms() {
  for (std::string& file : StartupPrograms(users_.Store().GetRegistry())) {
    AddApplicationEntry({std::move(file), std::nullopt});
  }
}

void TfrmWizard::AddApplicationEntry(AllowedAppEntry entry) {
  ui_->lstAllowedApplications->addItem(FromAnsi(entry.text));
  apps_.push_back(std::move(entry));
}

void TfrmWizard::FormActivate() {
  ui_->txtName->setFocus();
}

bool TfrmWizard::LeavePage(QWidget* page) {
  if (page != ui_->PageName) return true;
  const std::optional<std::string> name = ToAnsi(ui_->txtName->text());
  if (!name) {
    ShowMessage(this, MessageKind::Plain, QString::fromUtf8(TfrmWelcomeWizard::kNameNotAnsi));
    return false;
  }
  // Finish adds the trimmed name: the page checks that one, by the account store's own rule.
  if (const auto refused = RefusedUserName(machine_, Trim(*name), &users_)) {
    ShowMessage(this, MessageKind::Plain, QString::fromStdString(*refused));
    return false;
  }
  return true;
}

bool TfrmWizard::Skipped(QWidget* page) const {
  return page == ui_->PageStartMenu && ui_->chkRunListed->isChecked();
}

bool TfrmWizard::NextAllowed(QWidget* page) const {
  if (page == ui_->PageName) {
    const QString text = ui_->txtName->text();
    const std::optional<std::string> name = ToAnsi(text);
    return name ? !Trim(*name).empty() : !text.trimmed().isEmpty();
  }
  if (page == ui_->PageStartMenu) {
    return ui_->btnEmptyStartMenu->isChecked() || !ui_->lstviewUsers->selectedItems().isEmpty();
  }
  return true;
}

void TfrmWizard::PageShown(QWidget* page, bool) {
  if (page == ui_->PageFinish) BuildSummary();
}

void TfrmWizard::lstviewIconsChange() {
  lstviewIconsClick();
}

void TfrmWizard::lstviewIconsClick() {
  const QListWidgetItem* item = ui_->lstviewIcons->currentItem();
  if (item == nullptr || !item->isSelected()) return;
  const std::optional<std::string> caption = ToAnsi(item->text());
  if (!caption) return;
  LoadUserIcon(ui_->lstviewIcons->Directory() + "\\" + *caption);
}

void TfrmWizard::cmdBrowseIconClick() {
  const FileChooserRequest request{QStringLiteral("Open"), "Icon files(*.ico)|*.ICO",
                                   programFolder_ + "UserIcon", ""};
  if (const auto chosen = Prompter::Current().ChooseFile(this, machine_, request)) {
    LoadUserIcon(*chosen);
  }
}

void TfrmWizard::LoadUserIcon(const std::string& path) {
  const QPixmap picture = PictureFile(machine_, path);
  if (!picture.isNull()) {
    ui_->imgUserIcon->setPixmap(picture);
    iconFile_ = path;
    return;
  }
  ShowMessage(this, MessageKind::Warning, QStringLiteral("The selected file is not an icon file"));
  ui_->imgUserIcon->setPixmap(iconFile_.empty() ? QPixmap() : PictureFile(machine_, iconFile_));
}

void TfrmWizard::btnAddApplicationClick() {
  const std::optional<AllowedApplicationChoice> choice = ChooseAllowedApplication(this, users_);
  if (!choice) return;
  AddApplicationEntry({choice->fileName, TAllowedApp{choice->path, choice->makeShortcut}});
}

void TfrmWizard::btnRemoveApplicationClick() {
  QListWidget& list = *ui_->lstAllowedApplications;
  const int row = list.currentRow();
  if (row < 0 || !list.item(row)->isSelected()) {
    ShowMessage(this, MessageKind::Plain,
                QStringLiteral("Select an application to remove from the list"));
    return;
  }
  apps_.erase(apps_.begin() + row);
  delete list.takeItem(row);
}

void TfrmWizard::FillUserList() {
  SmallUsers.clear();
  ui_->lstviewUsers->clear();
  QPixmap icon;
  GetSmallFileIcon(machine_, programFolder_ + "default.ico", icon);
  SmallUsers.push_back(icon);
  constexpr size_t defaultIndex = 0;
  for (size_t i = 0; i < users_.Count(); ++i) {
    const TUser& user = users_[i];
    size_t index = defaultIndex;
    const std::string userIcon = user.UserIcon();
    if (!userIcon.empty()) {
      QPixmap own;
      GetSmallFileIcon(machine_, userIcon, own);
      if (!own.isNull()) {
        SmallUsers.push_back(own);
        index = SmallUsers.size() - 1;
      }
    }
    auto* item = new QListWidgetItem(FromAnsi(user.Name()), ui_->lstviewUsers);
    if (!SmallUsers[index].isNull()) item->setIcon(QIcon(SmallUsers[index]));
  }
}

void TfrmWizard::lstviewUsersChange() {
  UpdateNext();
  const QList<QListWidgetItem*> selected = ui_->lstviewUsers->selectedItems();
  if (selected.isEmpty()) return;
  const std::optional<std::string> name = ToAnsi(selected.front()->text());
  if (!name) return;
  if (const TUser* user = users_.FindUser(*name)) {
    ui_->fvStartFolder->SetRootFolder(user->ProgramsFolder());
  }
}

void TfrmWizard::BuildSummary() {
  QStringList lines;
  lines << QStringLiteral("  User Information:") << kIndent + "Name:  " + ui_->txtName->text()
        << kIndent + "Icon File:  " + FromAnsi(iconFile_) << QStringLiteral(" ");

  QStringList drives;
  const QListWidget& driveList = *ui_->lstHideDrives;
  for (int row = 0; row < driveList.count(); ++row) {
    if (driveList.item(row)->isSelected()) drives << driveList.item(row)->text().left(2).toUpper();
  }
  lines << "  Hidden Drives:  " + (drives.isEmpty() ? QStringLiteral("[None]") : drives.join(", "))
        << QStringLiteral(" ") << QStringLiteral("  Windows Restrictions:");

  bool anyRestriction = false;
  for (const QCheckBox* box :
       {ui_->chkNoRun, ui_->chkNoFind, ui_->chkNoSettings, ui_->chkNoDesktop, ui_->chkNoRegEdit,
        ui_->chkNoDOS, ui_->chkNoSDOM, ui_->chkRestrictSystem}) {
    if (!box->isChecked()) continue;
    lines << kItem + box->text();
    anyRestriction = true;
  }
  if (!anyRestriction) lines << kIndent + "[None]";
  lines << QStringLiteral(" ");

  const bool runListed = ui_->chkRunListed->isChecked();
  if (runListed) {
    lines << QStringLiteral("  The user may only run these programs:");
    const QListWidget& apps = *ui_->lstAllowedApplications;
    for (int row = 0; row < apps.count(); ++row) lines << kItem + apps.item(row)->text();
  } else {
    lines << QStringLiteral("  The user may run any program.");
  }
  lines << QStringLiteral(" ") << QStringLiteral("  Program Folder");

  const QList<QListWidgetItem*> selected = ui_->lstviewUsers->selectedItems();
  const QString source = selected.isEmpty() ? QStringLiteral(" ") : selected.front()->text();
  if (runListed) {
    lines << kIndent + "A Program Folder with the allowed applications will be created";
  } else if (ui_->btnEmptyStartMenu->isChecked()) {
    lines << kIndent + "An empty Program Folder will be created";
  } else if (ui_->btnShareStartMenu->isChecked()) {
    lines << kIndent + "The user will share a Program Folder with " + source;
  } else {
    lines << kIndent + "A new Program Folder will be created by copying"
          << kIndent + "the contents of " + source + "'s Program Folder";
  }

  ui_->memoSummary->setUpdatesEnabled(false);
  ui_->memoSummary->setPlainText(lines.join(QLatin1Char('\n')));
  ui_->memoSummary->setUpdatesEnabled(true);
}

NewUserAnswers TfrmWizard::Answers() const {
  NewUserAnswers answers;
  answers.name = ToAnsi(ui_->txtName->text()).value_or("");
  answers.iconFile = iconFile_;
  const std::pair<const QCheckBox*, std::string_view> switches[] = {
      {ui_->chkNoRun, "NoRun"},
      {ui_->chkNoFind, "NoFind"},
      {ui_->chkNoSettings, "NoSetFolders"},
      {ui_->chkNoDesktop, "NoDesktop"},
      {ui_->chkNoRegEdit, "DisableRegistryTools"},
      {ui_->chkNoDOS, "NoDOS"},
      {ui_->chkNoSDOM, "NoRealMode"},
      {ui_->chkRestrictSystem, "NoConfigure"}};
  for (const auto& [box, restriction] : switches) {
    if (box->isChecked()) answers.restrictions.emplace_back(restriction);
  }
  // Each drive-list entry begins with its drive letter.
  const QListWidget& drives = *ui_->lstHideDrives;
  for (int row = 0; row < drives.count(); ++row) {
    const QString text = drives.item(row)->text();
    if (drives.item(row)->isSelected() && !text.isEmpty())
      answers.hiddenDrives += text[0].toLatin1();
  }
  answers.runListed = ui_->chkRunListed->isChecked();
  answers.apps = apps_;
  if (ui_->btnEmptyStartMenu->isChecked()) {
    answers.folderChoice = ProgramFolderChoice::Empty;
  } else if (ui_->btnShareStartMenu->isChecked()) {
    answers.folderChoice = ProgramFolderChoice::Share;
  } else {
    answers.folderChoice = ProgramFolderChoice::Copy;
  }
  const QList<QListWidgetItem*> selected = ui_->lstviewUsers->selectedItems();
  if (!selected.isEmpty()) answers.sourceUser = ToAnsi(selected.front()->text());
  answers.createShortcut = ui_->chkCreateShortcut->isChecked();
  return answers;
}

void TfrmWizard::cmdFinishClick() {
  // The wizard closes in every outcome; a failure is shown in the program's error box after,
  // over the wizard's owner. It is not thrown on through the button's signal.
  std::exception_ptr failure;
  try {
    const WaitCursor hourglass;
    const NewUserAnswers answers = Answers();
    if (Trim(answers.name).empty()) {
      ShowMessage(this, MessageKind::Plain, QStringLiteral("You must enter a name for the user"));
    } else {
      WindowAccountShell shell(machine_, this);
      const CreatedAccount created = CreateAccount(users_, answers, shell);
      iconFile_ = created.iconFile;
      if (!created.problems.empty()) {
        ShowMessage(this, MessageKind::Warning, FromAnsi(created.ProblemsText()));
      }
    }
  } catch (...) {
    failure = std::current_exception();
  }
  for (AllowedAppEntry& entry : apps_) entry.app.reset();
  accept();
  if (!failure) return;
  try {
    std::rethrow_exception(failure);
  } catch (...) {
    ShowCurrentError(parentWidget());
  }
}

}  // namespace tarnwick
