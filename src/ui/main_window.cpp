#include "ui/main_window.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QTabBar>

#include <array>
#include <span>
#include <string>

#include "account/account.h"
#include "controls/file_chooser.h"
#include "controls/folder_browse.h"
#include "controls/glyphs.h"
#include "controls/help_window.h"
#include "controls/look.h"
#include "controls/session_end.h"
#include "formats/recycle_bin.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "policy/policy_store.h"
#include "policy/restrictions.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/ansi_qstring.h"
#include "shell/error_box.h"
#include "shell/file_icons.h"
#include "shell/file_operations.h"
#include "shell/folder_explorer.h"
#include "shell/machine_dir.h"
#include "shell/prompts.h"
#include "shell/shell_links.h"
#include "ui/about_box.h"
#include "ui/policies_window.h"
#include "ui/program_password.h"
#include "ui/resources/adduser.xpm"
#include "ui/resources/off.xpm"
#include "ui/resources/on.xpm"
#include "ui/resources/removeuser.xpm"
#include "ui/window_account_shell.h"
#include "ui/wizards/add_shortcut.h"
#include "ui/wizards/choose_allowed_application.h"
#include "ui/wizards/new_user_wizard.h"
#include "ui_main_window.h"

namespace tarnwick {

namespace {

constexpr int kFirstStartTimerMs = 750;

const QString kOnText = QStringLiteral("Windows 95 will start up with Tarnwick restrictions");
const QString kOffText = QStringLiteral("Windows 95 will NOT start up with Tarnwick restrictions");

const QString kTurnedOffMessage = QStringLiteral(
    "Windows will no longer start-up with Tarnwick.  You must restart Windows for this change to "
    "take effect.  \r\n\r\nWindows may prompt you for a user-name and password the next time you "
    "start Windows.  If that occurs, enter a name without a password.  Windows will then startup "
    "without any Tarnwick restrictions.  If your computer is setup to run on a network, Windows "
    "will continue to prompt you for a password each time Windows is started.");

const QString kTurnedOnMessage = QStringLiteral(
    "Windows will now start-up with Tarnwick restrictions in effect.  You must restart Windows for "
    "this change to take effect.  \r\n\r\nWindows will prompt you for a user-name and password the "
    "next time you start Windows.  You must enter the name of a user on the Tarnwick user list.  "
    "If this is the first time the user has logged on, Windows will prompt the user to supply a "
    "new Windows password.  Windows will then startup with whatever Tarnwick restrictions have "
    "been placed on the user.  Only authorized users may logon to Windows 95 when Tarnwick is "
    "active.");

// The bit of a drive-list item: its first character is the drive letter.
int32_t DriveBit(const QString& itemText) {
  if (itemText.isEmpty()) return 0;
  const QChar letter = itemText.front().toUpper();
  if (letter < QLatin1Char('A') || letter > QLatin1Char('Z')) return 0;
  return int32_t{1} << (letter.unicode() - 'A');
}

// Why Windows 95 could not create the folder name as path (its last component); empty when it
// could. Win32 drops trailing dots and blanks, so such a name would make another folder.
QString NewFolderRefusal(const std::string& name, const std::string& path) {
  if (!IsValidComponent(name) || name.find_first_of("\\/") != std::string::npos) {
    return QStringLiteral(
        "a folder name cannot contain control characters or any of the "
        "following characters: \\ / : * ? \" < > |");
  }
  if (name.back() == '.' || name.back() == ' ') {
    return QStringLiteral("a folder name cannot end in a dot or a blank.");
  }
  if (IsDeviceName(name)) return FromAnsi(name) + QStringLiteral(" is the name of a device.");
  if (path.size() > kMaxRecycledPath) {
    return QStringLiteral("the path %1 would be longer than %2 characters.")
        .arg(FromAnsi(path))
        .arg(kMaxRecycledPath);
  }
  return {};
}

// A restriction switch and the restriction it shows and writes.
struct RestrictionSwitch {
  QCheckBox* Ui::TfrmMain::*box;
  RestrictionId restriction;
};

// In the order a user is loaded: the Control Panel page, whose switches load before the drives
// and programs, then the restrictions page.
constexpr RestrictionSwitch kSwitches[] = {
    {&Ui::TfrmMain::chkPasswordSettings, RestrictionId::NoPasswordPages},
    {&Ui::TfrmMain::chkNetSettings, RestrictionId::NoNetSetup},
    {&Ui::TfrmMain::chkRestrictSystem, RestrictionId::NoSystemPages},
    {&Ui::TfrmMain::chkPrinters, RestrictionId::NoPrinterChanges},
    {&Ui::TfrmMain::chkRestrictDisplay, RestrictionId::NoDispSettingsPage},
    {&Ui::TfrmMain::chkNoRegEdit, RestrictionId::DisableRegistryTools},
    {&Ui::TfrmMain::chkNoConfigure, RestrictionId::NoConfigure},
    {&Ui::TfrmMain::chkNoSDOM, RestrictionId::NoRealMode},
    {&Ui::TfrmMain::chkNoDOS, RestrictionId::NoDOS},
    {&Ui::TfrmMain::chkNoRun, RestrictionId::NoRun},
    {&Ui::TfrmMain::chkNoSettings, RestrictionId::NoSetFolders},
    {&Ui::TfrmMain::chkNoFind, RestrictionId::NoFind},
    {&Ui::TfrmMain::chkNoDesktop, RestrictionId::NoDesktop},
};
constexpr size_t kControlPanelSwitches = 5;

// The folders page's choices, in the order of comboFolders; none for no choice.
std::optional<FolderKind> FolderKindAt(int index) {
  constexpr std::array kKinds = {FolderKind::Programs, FolderKind::StartMenu, FolderKind::Desktop,
                                 FolderKind::Favorites, FolderKind::Recent};
  if (index < 0 || static_cast<size_t>(index) >= kKinds.size()) return std::nullopt;
  return kKinds[static_cast<size_t>(index)];
}

void SetFrameRaised(QFrame* frame, bool raised) {
  frame->setFrameShadow(raised ? QFrame::Raised : QFrame::Sunken);
}

}  // namespace

TfrmMain::TfrmMain(TInstanceDetector& detector, PolicyStore* store)
    : ui_(std::make_unique<Ui::TfrmMain>()), SingleInstance1(detector, this), store_(store) {
  if (SingleInstance1.EndsThisCopy()) return;
  ui_->setupUi(this);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  ui_->centralwidget->setFixedSize(595, 355);
  setFixedSize(sizeHint());
  if (const QScreen* screen = this->screen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  // The Control Panel page is never shown, nor reached by Ctrl+Tab.
  const int controlPanel = ui_->PageControl1->indexOf(ui_->TabSheet6);
  ui_->PageControl1->setTabVisible(controlPanel, false);
  ui_->PageControl1->setTabEnabled(controlPanel, false);
  // The tab row's scroll arrows are for the mouse; Tab goes from the tabs into the page.
  for (QToolButton* arrow : ui_->PageControl1->tabBar()->findChildren<QToolButton*>()) {
    arrow->setFocusPolicy(Qt::NoFocus);
  }
  ui_->SpeedButton1->setIcon(QPixmap(adduser_xpm));
  ui_->SpeedButton2->setIcon(QPixmap(removeuser_xpm));
  ui_->imgOn->setPixmap(QPixmap(on_xpm));
  ui_->imgOff->setPixmap(QPixmap(off_xpm));

  // The selection stays visible when the list loses the focus.
  QPalette palette = ui_->lvUsers->palette();
  palette.setBrush(QPalette::Inactive, QPalette::Highlight,
                   palette.brush(QPalette::Active, QPalette::Highlight));
  palette.setBrush(QPalette::Inactive, QPalette::HighlightedText,
                   palette.brush(QPalette::Active, QPalette::HighlightedText));
  ui_->lvUsers->setPalette(palette);
  ShowCutTextsAsToolTips(*ui_->lvUsers);
  ui_->fvCustomFolder->setPalette(palette);
  ui_->fvCustomFolder->SetReadOnly(true);
  QPalette readOnly = ui_->txtFolderPath->palette();
  readOnly.setBrush(QPalette::Base, readOnly.brush(QPalette::Button));
  ui_->txtFolderPath->setPalette(readOnly);
  // Tool-bar buttons take no focus, as speed buttons do not.
  ui_->SpeedButton1->setFocusPolicy(Qt::NoFocus);
  ui_->SpeedButton2->setFocusPolicy(Qt::NoFocus);
  ui_->btnAddApplication->setIcon(Glyph(StockIcon::Program, GlyphMark::Plus));
  ui_->btnRemoveApplication->setIcon(Glyph(StockIcon::Program, GlyphMark::Cross));
  ui_->btnBrowseDir->setIcon(Glyph(StockIcon::Folder, GlyphMark::None));
  ui_->btnExploreCustomFolder->setIcon(QIcon(ResourceBitmap(QStringLiteral("COMPUTER"))));
  ui_->btnAddShortcut->setIcon(Glyph(StockIcon::LinkOverlay, GlyphMark::Plus));
  ui_->btnAddFolder->setIcon(Glyph(StockIcon::Folder, GlyphMark::Plus));
  ui_->btnRemoveItem->setIcon(Glyph(StockIcon::Document, GlyphMark::Cross));

  const Machine& machine = GetMachine();
  ui_->lstHideDrives->SetMachine(machine);
  ui_->fvCustomFolder->SetMachine(machine);
  ui_->lstApplications->setEnabled(false);
  ui_->lstHideDrives->setEnabled(false);

  ConnectShowingErrors(ui_->SpeedButton1, &QToolButton::clicked, this,
                       &TfrmMain::NewUserWizard1Click);
  ConnectShowingErrors(ui_->AddUser1, &QAction::triggered, this, &TfrmMain::NewUserWizard1Click);
  ConnectShowingErrors(ui_->SpeedButton2, &QToolButton::clicked, this, &TfrmMain::RemoveUser1Click);
  ConnectShowingErrors(ui_->RemoveUser1, &QAction::triggered, this, &TfrmMain::RemoveUser1Click);
  ConnectShowingErrors(ui_->TarnwickPassword1, &QAction::triggered, this,
                       &TfrmMain::TarnwickPassword1Click);
  ConnectShowingErrors(ui_->Policies1, &QAction::triggered, this, &TfrmMain::Policies1Click);
  ConnectShowingErrors(ui_->Exit1, &QAction::triggered, this, &TfrmMain::Exit1Click);
  ConnectShowingErrors(ui_->HelpTopics1, &QAction::triggered, this, &TfrmMain::HelpTopics1Click);
  ConnectShowingErrors(ui_->AboutTarnwick1, &QAction::triggered, this,
                       &TfrmMain::AboutTarnwick1Click);
  ConnectShowingErrors(ui_->lvUsers, &QListWidget::itemSelectionChanged, this,
                       &TfrmMain::lvUsersChange);
  ConnectShowingErrors(ui_->lstHideDrives, &TDriveList::OnClick, this,
                       &TfrmMain::lstHideDrivesClick);
  ConnectShowingErrors(ui_->chkRestrictApps, &QCheckBox::toggled, this,
                       &TfrmMain::chkRestrictAppsClick);
  ConnectShowingErrors(ui_->btnAddApplication, &QPushButton::clicked, this,
                       &TfrmMain::btnAddApplicationClick);
  ConnectShowingErrors(ui_->btnRemoveApplication, &QPushButton::clicked, this,
                       &TfrmMain::btnRemoveApplicationClick);
  ConnectShowingErrors(ui_->btnBrowseDir, &QToolButton::clicked, this,
                       &TfrmMain::btnBrowseDirClick);
  ConnectShowingErrors(ui_->btnExploreCustomFolder, &QToolButton::clicked, this,
                       &TfrmMain::btnExploreCustomFolderClick);
  ConnectShowingErrors(ui_->btnAddShortcut, &QPushButton::clicked, this,
                       &TfrmMain::btnAddShortcutClick);
  ConnectShowingErrors(ui_->btnAddFolder, &QPushButton::clicked, this,
                       &TfrmMain::btnAddFolderClick);
  ConnectShowingErrors(ui_->btnRemoveItem, &QPushButton::clicked, this,
                       &TfrmMain::btnRemoveItemClick);
  ConnectShowingErrors(ui_->comboFolders, &QComboBox::activated, this,
                       &TfrmMain::comboFoldersClick);
  ConnectSwitches();
  ui_->imgOnOff->installEventFilter(this);
  ui_->imgUserIcon->installEventFilter(this);

  Timer1.setInterval(kFirstStartTimerMs);
  ConnectShowingErrors(&Timer1, &QTimer::timeout, this, &TfrmMain::Timer1Timer);
}

TfrmMain::~TfrmMain() = default;

const Machine& TfrmMain::GetMachine() const {
  return store_->GetMachine();
}

// ---- start-up and shut-down ----

void TfrmMain::FormCreate() {
  starting_ = true;
  CloseRequested_ = false;
  // Windows ending the session, SIGTERM and SIGHUP close the window the normal way. During the
  // start the open prompt is cancelled instead, and the start fails.
  sessionEnd_ = std::make_unique<SessionEnd>();
  ConnectShowingErrors(sessionEnd_.get(), &SessionEnd::Ending, this, &TfrmMain::EndSession);
  ui_->PageControl1->setCurrentWidget(ui_->TabSheet1);
  show();
  QApplication::processEvents();
  try {
    if (!CloseRequested_ && !AskPasswordAtStart(this, *store_)) CloseRequested_ = true;
    QApplication::processEvents();
    store_->LoadPolicyFile();
    Users_ = std::make_unique<TUsers>(*store_);
    if (!CloseRequested_ && Users_->Count() == 0 && firstStart_ && !firstStart_(this, *Users_)) {
      CloseRequested_ = true;
    }
    if (!CloseRequested_) {
      ui_->comboFolders->setCurrentIndex(0);
      RefreshUserList();
      ShowActivationState(ReadActivationState(*store_));
      try {
        if (ui_->lvUsers->count() > 0) {
          ui_->lvUsers->setCurrentRow(0);
          ui_->lvUsers->setFocus();
        }
      } catch (const std::exception&) {
        // The first user stays unshown; the list works as usual.
      }
    }
    // A start whose changes cannot be written cannot go on.
    WritePendingChanges();
  } catch (...) {
    // A start that cannot load the policy file or its users ends after showing why.
    CloseRequested_ = true;
    StartFailed_ = true;
    ShowCurrentError(this);
  }
  starting_ = false;
  Timer1.start();
}

void TfrmMain::Timer1Timer() {
  if (CloseRequested_) {
    close();
  } else {
    Timer1.stop();
  }
}

void TfrmMain::EndSession() {
  // Modal prompts are cancelled first; their handlers end before the window closes.
  if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
    dialog->reject();
    if (!starting_) {
      QTimer::singleShot(0, this, &TfrmMain::EndSession);
      return;
    }
  }
  if (starting_) {
    CloseRequested_ = true;
  } else {
    close();
  }
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  // During the start the window closes at the timer's first tick.
  if (starting_) {
    CloseRequested_ = true;
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

void TfrmMain::FormClose() {
  if (closed_) return;
  closed_ = true;
  Timer1.stop();
  CurrentUser_ = nullptr;
  try {
    // A start that never loaded the file has nothing to save.
    if (store_->PolicyLoaded() && !store_->UnloadPolicyFile()) {
      ShowMessage(this, MessageKind::Error,
                  QStringLiteral("The policy file %1 could not be saved.")
                      .arg(FromAnsi(store_->PolicyFilePath())));
    }
  } catch (...) {
    ShowCurrentError(this);
  }
  Users_.reset();
}

// ---- the user list and the selected user ----

bool TfrmMain::EditingBlocked() const {
  return Clearing_ || ui_->lvUsers->selectedItems().isEmpty() || CurrentUser_ == nullptr;
}

QString TfrmMain::SelectedCaption() const {
  const QList<QListWidgetItem*> selected = ui_->lvUsers->selectedItems();
  return selected.isEmpty() ? QString() : selected.front()->text();
}

void TfrmMain::lvUsersChange() {
  if (Clearing_) return;
  // A click on empty space deselects: the pages then show nobody and take no edits.
  if (ui_->lvUsers->selectedItems().isEmpty()) {
    CurrentUser_ = nullptr;
    ClearData();
    return;
  }
  // Loading needs a selected item, not a current user: it is what makes one current.
  LoadUserData();
}

void TfrmMain::ClearData() {
  Clearing_ = true;
  struct Lower {
    bool& flag;
    ~Lower() { flag = false; }
  } lower{Clearing_};
  ui_->lblName->clear();
  ui_->imgUserIcon->clear();
  for (const RestrictionSwitch& row : kSwitches) (ui_.get()->*row.box)->setChecked(false);
  ui_->chkRestrictApps->setChecked(false);
  ClearAppList();
  ui_->lstApplications->setEnabled(false);
  ui_->lstHideDrives->clearSelection();
  ui_->lstHideDrives->setEnabled(false);
  ui_->txtFolderPath->clear();
  SetElidedText(*ui_->lblSelection, QString());
  ui_->fvCustomFolder->Clear();
  SetPagesEnabled(false);
}

void TfrmMain::SetPagesEnabled(bool enabled) {
  for (int page = 0; page < ui_->PageControl1->count(); ++page) {
    ui_->PageControl1->widget(page)->setEnabled(enabled);
  }
}

void TfrmMain::LoadUserData() {
  ClearData();
  const QString caption = SelectedCaption();
  const std::optional<std::string> name = ToAnsi(caption);
  CurrentUser_ = name ? Users_->FindUser(*name) : nullptr;
  if (CurrentUser_ == nullptr) return;
  TUser& user = *CurrentUser_;
  SetPagesEnabled(true);
  SetElidedText(*ui_->lblSelection, caption);

  // Ticking a switch writes its restriction again, companions and cascade included.
  const auto loadSwitches = [this, &user](std::span<const RestrictionSwitch> rows) {
    for (const RestrictionSwitch& row : rows) {
      (ui_.get()->*row.box)->setChecked(user.Restriction(row.restriction) == 1);
    }
  };
  loadSwitches(std::span(kSwitches).first(kControlPanelSwitches));

  ui_->lstHideDrives->setEnabled(true);
  ShowDrives(user.NoDrives());

  const bool restricted = user.RestrictRun() == 1;
  ui_->chkRestrictApps->setChecked(restricted);
  ui_->lstApplications->setEnabled(restricted);
  FillAppList();

  loadSwitches(std::span(kSwitches).subspan(kControlPanelSwitches));

  ui_->lblName->setText(FromAnsi(user.Name()));
  RefreshFolderView();

  const std::string icon = user.UserIcon();
  if (!icon.empty()) {
    const QPixmap picture = IconAtLocation(GetMachine(), icon, 0, 32);
    if (!picture.isNull()) ui_->imgUserIcon->setPixmap(picture);
  }
}

void TfrmMain::RefreshUserList() {
  CurrentUser_ = nullptr;
  LargeUsers_.clear();
  ui_->lvUsers->clear();
  CurrentUser_ = nullptr;
  ClearData();

  const Machine& machine = GetMachine();
  QPixmap icon;
  GetLargeFileIcon(machine, ExtractFilePath(machine.ProgramPath()) + "default.ico", icon);
  LargeUsers_.push_back(icon);
  const size_t defaultIndex = 0;
  for (size_t i = 0; i < Users_->Count(); ++i) {
    const TUser& user = (*Users_)[i];
    size_t index = defaultIndex;
    const std::string userIcon = user.UserIcon();
    if (!userIcon.empty()) {
      QPixmap own;
      GetLargeFileIcon(machine, userIcon, own);
      if (!own.isNull()) {
        LargeUsers_.push_back(own);
        index = LargeUsers_.size() - 1;
      }
    }
    auto* item = new QListWidgetItem(FromAnsi(user.Name()), ui_->lvUsers);
    if (!LargeUsers_[index].isNull()) item->setIcon(QIcon(LargeUsers_[index]));
  }
  ui_->lvUsers->clearSelection();
}

void TfrmMain::GetUserIcon() {
  if (EditingBlocked()) return;
  const Machine& machine = GetMachine();
  FileChooserRequest request;
  request.title = QStringLiteral("Open");
  request.filter = "Icon files(*.ico)|*.ICO";
  request.initialFolder = ExtractFilePath(machine.ProgramPath()) + "UserIcon";
  const std::optional<std::string> file = Prompter::Current().ChooseFile(this, machine, request);
  if (!file) return;
  const QString name = ui_->lblName->text();
  CurrentUser_->SetUserIcon(*file);
  WritePendingChanges();  // before the new picture, or the error box, tells of it
  const QPixmap picture = IconAtLocation(machine, *file, 0, 32);
  if (picture.isNull()) {
    ui_->imgUserIcon->clear();
    throw Error("The file " + Cp1252ToUtf8(*file) + " is not an icon file.");
  }
  ui_->imgUserIcon->setPixmap(picture);
  RefreshUserList();
  for (int row = 0; row < ui_->lvUsers->count(); ++row) {
    QListWidgetItem* item = ui_->lvUsers->item(row);
    if (item->text() == name) {
      item->setSelected(true);
      ui_->lvUsers->scrollToItem(item);
      break;
    }
  }
}

// The pictures' handlers show their errors here: an exception must not unwind through Qt's
// mouse dispatch, which does not free the event's data on the way.
bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  const bool press =
      event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick;
  const bool release = event->type() == QEvent::MouseButtonRelease;
  if (watched == ui_->imgUserIcon && (press || release)) {
    SetFrameRaised(ui_->bevelIcon, release);
    if (release && ui_->imgUserIcon->rect().contains(static_cast<QMouseEvent*>(event)->pos())) {
      ShowingErrors([this] { GetUserIcon(); }, this);
    }
    return true;
  }
  if (watched == ui_->imgOnOff && release &&
      ui_->imgOnOff->rect().contains(static_cast<QMouseEvent*>(event)->pos())) {
    ShowingErrors([this] { imgOnOffClick(); }, this);
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- the pages ----

// chkNoRunClick and its kin: each writes its restriction of the current user, with the
// restriction's companion.
void TfrmMain::ConnectSwitches() {
  for (const RestrictionSwitch& row : kSwitches) {
    const RestrictionId restriction = row.restriction;
    ConnectShowingErrors(ui_.get()->*row.box, &QCheckBox::toggled, this,
                         [this, restriction](bool ticked) {
                           if (EditingBlocked()) return;
                           const RestrictionSetting setting[] = {{restriction, ticked}};
                           ApplyRestrictions(*CurrentUser_, setting);
                         });
  }
}

void TfrmMain::chkRestrictAppsClick() {
  if (EditingBlocked()) return;
  const bool ticked = ui_->chkRestrictApps->isChecked();
  CurrentUser_->SetRestrictRun(ticked ? 1 : 0);
  ui_->lstApplications->setEnabled(ticked);
}

void TfrmMain::ClearAppList() {
  ui_->lstApplications->clear();
}

void TfrmMain::FillAppList() {
  std::vector<AllowedApp> apps;
  for (const AllowedApp& app : CurrentUser_->GetAllowedApps(apps)) {
    ui_->lstApplications->addItem(FromAnsi(app.text));
  }
}

void TfrmMain::ShowDrives(int32_t mask) {
  const auto bits = static_cast<uint32_t>(mask);
  for (int row = 0; row < ui_->lstHideDrives->count(); ++row) {
    QListWidgetItem* item = ui_->lstHideDrives->item(row);
    if (bits & static_cast<uint32_t>(DriveBit(item->text()))) item->setSelected(true);
  }
}

void TfrmMain::lstHideDrivesClick() {
  if (EditingBlocked()) return;
  int32_t mask = 0;
  for (int row = 0; row < ui_->lstHideDrives->count(); ++row) {
    QListWidgetItem* item = ui_->lstHideDrives->item(row);
    if (item->isSelected()) mask += DriveBit(item->text());
  }
  CurrentUser_->SetNoDrives(mask);
}

void TfrmMain::comboFoldersClick() {
  if (EditingBlocked()) return;
  RefreshFolderView();
}

void TfrmMain::RefreshFolderView() {
  if (EditingBlocked()) return;
  const std::optional<FolderKind> kind = FolderKindAt(ui_->comboFolders->currentIndex());
  const std::string path = kind ? CurrentUser_->Folder(*kind) : std::string();
  ui_->txtFolderPath->setText(FromAnsi(path));
  if (path.empty()) {
    ui_->fvCustomFolder->Clear();
  } else {
    ui_->fvCustomFolder->SetRootFolder(path);
  }
  // The Recent folder's items are not edited here.
  const bool editable = kind && *kind != FolderKind::Recent;
  for (QPushButton* button : {ui_->btnAddShortcut, ui_->btnAddFolder, ui_->btnRemoveItem}) {
    button->setEnabled(editable);
  }
}

void TfrmMain::SetChosenFolder(const std::string& path) {
  if (const std::optional<FolderKind> kind = FolderKindAt(ui_->comboFolders->currentIndex())) {
    CurrentUser_->SetFolder(*kind, path);
  }
}

void TfrmMain::btnBrowseDirClick() {
  if (EditingBlocked() || ui_->comboFolders->currentIndex() < 0) return;
  const QString folder = ui_->comboFolders->currentText();
  if (ShowMessage(this, MessageKind::Confirm,
                  QStringLiteral("This feature allows you to select a new directory for the "
                                 "user's ") +
                      folder +
                      QStringLiteral(". Are you sure you want to continue with this advanced "
                                     "operation?"),
                  QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
    return;
  }
  FolderPickerRequest request;
  request.title = QStringLiteral("Select a ") + folder + QStringLiteral(" for ") +
                  FromAnsi(CurrentUser_->Name());
  request.flags = kReturnOnlyFsDirs;
  // The picker opens on the folder's present directory.
  request.directory = ToAnsi(ui_->txtFolderPath->text()).value_or(std::string());
  const std::optional<std::string> directory =
      Prompter::Current().ChooseFolder(this, GetMachine(), request);
  if (!directory) return;
  SetChosenFolder(*directory);
  ui_->txtFolderPath->setText(FromAnsi(*directory));
  ui_->fvCustomFolder->SetRootFolder(*directory);
}

void TfrmMain::btnExploreCustomFolderClick() {
  const std::optional<std::string> path = ToAnsi(ui_->txtFolderPath->text());
  if (!path || path->empty()) return;
  if (!ExistingDirectory(GetMachine(), *path)) return;
  ExploreFolder(this, GetMachine(), *path);
}

std::optional<TfrmMain::Target> TfrmMain::TargetDirectory(const QString& noSelection,
                                                          bool fileToFolder) {
  const QList<QTreeWidgetItem*> selected = ui_->fvCustomFolder->selectedItems();
  if (selected.isEmpty()) {
    ShowMessage(this, MessageKind::Information, noSelection);
    return std::nullopt;
  }
  Target target{ui_->fvCustomFolder->GetNodePath(selected.front()), selected.front()};
  if (fileToFolder && !TFolderView::IsFolder(target.node)) {
    target.path = ExtractFilePath(target.path);
    target.node = target.node->parent();
  }
  return target;
}

bool TfrmMain::TargetExists(const std::string& path) {
  if (ExistingDirectory(GetMachine(), path)) return true;
  ShowMessage(this, MessageKind::Information,
              QStringLiteral("The directory ") + FromAnsi(path) + QStringLiteral(" was not found"));
  return false;
}

void TfrmMain::btnAddShortcutClick() {
  if (EditingBlocked()) return;
  const std::optional<Target> target =
      TargetDirectory(QStringLiteral("Select a folder to add the shortcut to"), true);
  if (!target || !TargetExists(target->path)) return;
  const QString prompt = QStringLiteral("Select a shortcut to add to ") +
                         FromAnsi(CurrentUser_->Name()) + QStringLiteral("'s ") +
                         ui_->comboFolders->currentText() +
                         QStringLiteral(" from selected Programs Folder");
  if (!AddShortcutFromStartMenu(prompt, target->path, this, *Users_).empty() &&
      target->node != nullptr) {
    ui_->fvCustomFolder->RefreshNode(target->node);
  }
}

void TfrmMain::btnAddFolderClick() {
  const std::optional<Target> target =
      TargetDirectory(QStringLiteral("Select where the new folder should be added"), true);
  if (!target || !TargetExists(target->path)) return;
  const std::optional<QString> name = Prompter::Current().Input(
      this, QStringLiteral("Create Folder"), QStringLiteral("Enter the name of the new folder"),
      QString(), false);
  if (!name || name->isEmpty()) return;
  const QString failed = QStringLiteral("An error occurred creating the new directory");
  const std::optional<std::string> ansi = ToAnsi(*name);
  const std::string path = AddTrailingBackslash(target->path) + ansi.value_or(std::string());
  const QString refusal =
      ansi ? NewFolderRefusal(*ansi, path)
           : QStringLiteral("the name %1 cannot be written in code page 1252.").arg(*name);
  if (!refusal.isEmpty()) {
    ShowMessage(this, MessageKind::Information, failed + QStringLiteral(": ") + refusal);
    return;
  }
  // Only the last level is made, in the folder that was checked, and never over an entry of that
  // name in any letter case.
  bool made = false;
  try {
    made = GetMachine().MakeDirectory(path);
  } catch (const FileWriteError&) {
    // Not on the machine's drives, or not made: reported below.
  }
  if (!made) {
    ShowMessage(this, MessageKind::Information, failed);
    return;
  }
  if (target->node != nullptr) ui_->fvCustomFolder->RefreshNode(target->node);
}

void TfrmMain::btnRemoveItemClick() {
  const std::optional<Target> target =
      TargetDirectory(QStringLiteral("Select an item to remove"), false);
  if (!target) return;
  const QMessageBox::StandardButtons yesNoCancel =
      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  const QString path = FromAnsi(target->path);
  if (!TFolderView::IsFolder(target->node)) {
    if (ShowMessage(this, MessageKind::Confirm,
                    QStringLiteral("Are you sure you want to delete the file ") + path,
                    yesNoCancel) != QMessageBox::Yes) {
      return;
    }
    // Deleted in the folder that was checked; a read-only file stays, as on Windows 95.
    bool readOnly = false;
    bool deleted = false;
    const std::optional<VolumeEntry> entry = GetMachine().Stat(target->path);
    const bool file = entry && !entry->IsDirectory();
    readOnly = file && entry->IsReadOnly();
    try {
      if (file && !readOnly) {
        GetMachine().RemoveTree(target->path);
        deleted = true;
      }
    } catch (const FileWriteError&) {
      // Reported below.
    }
    if (deleted) {
      delete target->node;
    } else {
      ShowMessage(this, MessageKind::Warning,
                  QStringLiteral("Error deleting file ") + path +
                      (readOnly ? QStringLiteral("\n\nThe file is read-only.") : QString()));
    }
    return;
  }
  if (ShowMessage(this, MessageKind::Confirm,
                  QStringLiteral("Are you sure you want to delete the directory ") + path +
                      QStringLiteral(" and all of its files and subdirectories?"),
                  yesNoCancel) != QMessageBox::Yes) {
    return;
  }
  DeleteDirectoryTree(GetMachine(), target->path, this);
  // A failed or partial delete keeps the node, read anew.
  if (ExistingDirectory(GetMachine(), target->path)) {
    ui_->fvCustomFolder->RefreshNode(target->node);
  } else {
    delete target->node;
  }
}

void TfrmMain::btnAddApplicationClick() {
  if (EditingBlocked()) return;
  const std::optional<AllowedApplicationChoice> choice = ChooseAllowedApplication(this, *Users_);
  if (!choice) return;
  if (choice->makeShortcut) {
    const std::string folder = AddTrailingBackslash(CurrentUser_->ProgramsFolder());
    if (!folder.empty()) {
      const std::string name = RemoveFileExt(choice->fileName);
      const std::string link = folder + name + ".lnk";
      try {
        CreateShellLink(GetMachine(), choice->path, link, name, "");
      } catch (const Error&) {
        // The program is allowed all the same.
        ShowMessage(this, MessageKind::Warning,
                    QStringLiteral("The shortcut ") + FromAnsi(link) + QStringLiteral(" to ") +
                        FromAnsi(choice->path) + QStringLiteral(" could not be created."));
      }
      RefreshFolderView();
    }
  }
  CurrentUser_->AddAllowedApp(choice->fileName);
  ClearAppList();
  FillAppList();
}

void TfrmMain::btnRemoveApplicationClick() {
  if (EditingBlocked()) return;
  const QList<QListWidgetItem*> selected = ui_->lstApplications->selectedItems();
  if (selected.isEmpty()) {
    ShowMessage(this, MessageKind::Plain, QStringLiteral("Select an Application to Remove"));
    return;
  }
  QListWidgetItem* item = selected.front();
  const std::optional<std::string> app = ToAnsi(item->text());
  if (app && (UpperAscii(*app) == "TARNEX.EXE" || UpperAscii(*app) == "TWTRAY.EXE")) {
    ShowMessage(this, MessageKind::Warning,
                QStringLiteral("The Tarnwick application files cannot be removed from the list "
                               "of allowed applications"));
    return;
  }
  if (ShowMessage(this, MessageKind::Confirm,
                  QStringLiteral("Are you sure you want to remove the following application "
                                 "from the user's list of allowed applications: ") +
                      item->text() + QStringLiteral("?"),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel) != QMessageBox::Yes) {
    return;
  }
  if (app && CurrentUser_->RemoveAllowedApp(*app)) {
    delete item;
  } else {
    ShowMessage(this, MessageKind::Warning, QStringLiteral("Unknown error removing application"));
  }
}

// ---- the activation switch ----

void TfrmMain::ShowActivationState(ActivationState state) {
  const bool on = state == ActivationState::On;
  SetFrameRaised(ui_->bevelOnOff, on);
  ui_->imgOnOff->setPixmap(on ? ui_->imgOn->pixmap() : ui_->imgOff->pixmap());
  ui_->lblOnOff->setText(on ? kOnText : kOffText);
}

void TfrmMain::imgOnOffClick() {
  if (const std::string lab = LabActivationText(*store_); !lab.empty()) {
    ShowMessage(this, MessageKind::Information, QStringLiteral("Tarnwick"),
                QString::fromStdString(lab), QMessageBox::Ok);
    return;
  }
  const bool on = ui_->bevelOnOff->frameShadow() == QFrame::Raised;
  // The switch shows the new state only once it is in the machine's registry.
  if (on) {
    TurnActivationOff(*store_);
    WritePendingChanges();
    SetFrameRaised(ui_->bevelOnOff, false);
    ui_->imgOnOff->setPixmap(ui_->imgOff->pixmap());
    ui_->imgOnOff->move(ui_->imgOnOff->pos() + QPoint(1, 1));
    ui_->lblOnOff->setText(kOffText);
    ShowMessage(this, MessageKind::Information, QStringLiteral("Tarnwick"), kTurnedOffMessage,
                QMessageBox::Ok);
  } else {
    TurnActivationOn(*store_);
    WritePendingChanges();
    SetFrameRaised(ui_->bevelOnOff, true);
    ui_->imgOnOff->setPixmap(ui_->imgOn->pixmap());
    ui_->imgOnOff->move(ui_->imgOnOff->pos() - QPoint(1, 1));
    ui_->lblOnOff->setText(kOnText);
    ShowMessage(this, MessageKind::Information, QStringLiteral("Tarnwick"), kTurnedOnMessage,
                QMessageBox::Ok);
  }
}

// ---- commands ----

void TfrmMain::NewUserWizard1Click() {
  {
    TfrmWizard wizard(this, *Users_, newUserIcon_);
    RunDialog(wizard);
  }
  RefreshUserList();
}

void TfrmMain::RemoveUser1Click() {
  const QString title = QStringLiteral("Remove User");
  if (ui_->lvUsers->selectedItems().isEmpty()) {
    ShowMessage(this, MessageKind::Warning, title, QStringLiteral("Select a User to Remove"),
                QMessageBox::Ok);
    return;
  }
  if (Users_->Count() < 2) {
    ShowMessage(this, MessageKind::Warning, title,
                QStringLiteral("You Must Keep at Least one User in the List"), QMessageBox::Ok);
    return;
  }
  const QString caption = SelectedCaption();
  const QMessageBox::StandardButtons yesNoCancel =
      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  if (ShowMessage(this, MessageKind::Confirm,
                  QStringLiteral("Are you sure you want to remove the following user: ") + caption +
                      QStringLiteral("?"),
                  yesNoCancel) != QMessageBox::Yes) {
    return;
  }
  const std::optional<std::string> name = ToAnsi(caption);
  TUser* user = name ? Users_->FindUser(*name) : nullptr;
  if (user == nullptr) {
    ShowMessage(this, MessageKind::Warning, QStringLiteral("The selected user was not found"));
    RefreshUserList();
    return;
  }
  const std::string profile = user->ProfilePath();
  bool deleteProfile = false;
  try {
    deleteProfile =
        ShowMessage(this, MessageKind::Confirm,
                    QStringLiteral("Do you want to remove the user's profile directory: ") +
                        FromAnsi(profile) +
                        QStringLiteral("?  WARNING: All subdirectories and files in the path "
                                       "will be deleted!"),
                    yesNoCancel) == QMessageBox::Yes;
  } catch (const std::exception&) {
    // The profile directory stays; the user is removed all the same.
  }
  CurrentUser_ = nullptr;
  WindowAccountShell shell(GetMachine(), this);
  RemoveAccount(*Users_, user->Name(), deleteProfile, shell);
  RefreshUserList();
}

void TfrmMain::Exit1Click() {
  close();
}

void TfrmMain::HelpTopics1Click() {
  ShowHelpContents(this);
}

void TfrmMain::AboutTarnwick1Click() {
  TAboutBox box(this);
  RunDialog(box);
}

void TfrmMain::Policies1Click() {
  if (!Users_) return;
  {
    TfrmPolicies policies(this, *store_, *Users_, templates_);
    if (CurrentUser_ != nullptr) {
      policies.SelectEntry({PolicyEntry::Kind::User, CurrentUser_->Name()});
    }
    RunDialog(policies);
  }
  // The pages show what the window changed.
  if (!EditingBlocked()) LoadUserData();
}

void TfrmMain::TarnwickPassword1Click() {
  ChangePassword(this, *store_);
}

}  // namespace tarnwick
