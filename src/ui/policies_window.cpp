#include "ui/policies_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include <algorithm>
#include <climits>
#include <string>

#include "base/text.h"
#include "controls/help_window.h"
#include "controls/look.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "shell/ansi_qstring.h"
#include "shell/error_box.h"
#include "shell/prompts.h"
#include "ui/logon_policy.h"
#include "ui/resources/entry_group.xpm"
#include "ui/resources/entry_user.xpm"
#include "ui_list_contents.h"
#include "ui_policies_window.h"

namespace tarnwick {

namespace {

constexpr int kHelpContext = 720;
constexpr int kPolicyRole = Qt::UserRole;  // a policy item's index into the tree's policies
constexpr int kControlWidth = 170;
constexpr int kNumberWidth = 70;
constexpr int kLabelWidth = 190;

// A template's text shown as it is, without accelerators.
QString Literal(std::string_view ansi) {
  return FromAnsi(ansi).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

bool IsDefault(const PolicyEntry& entry) {
  return entry.name == kDefaultEntryName;
}

// The name typed for a new entry, in code page 1252; empty when cancelled or left blank.
std::optional<std::string> AskEntryName(QWidget* parent, const QString& title,
                                        const QString& prompt) {
  const std::optional<QString> name =
      Prompter::Current().Input(parent, title, prompt, QString(), false);
  if (!name || name->isEmpty()) return std::nullopt;
  std::optional<std::string> ansi = ToAnsi(*name);
  if (!ansi) {
    throw PolicyEntryError("The name " + name->toStdString() +
                           " holds characters that Windows 95 cannot store.");
  }
  return ansi;
}

QString EntryCaption(const PolicyEntry& entry) {
  if (IsDefault(entry) && entry.kind == PolicyEntry::Kind::User) {
    return QStringLiteral("Default User");
  }
  if (IsDefault(entry) && entry.kind == PolicyEntry::Kind::Computer) {
    return QStringLiteral("Default Computer");
  }
  return FromAnsi(entry.name);
}

Qt::CheckState CheckStateOf(PolicyState state) {
  switch (state) {
    case PolicyState::On:
      return Qt::Checked;
    case PolicyState::Off:
      return Qt::Unchecked;
    case PolicyState::Unset:
      break;
  }
  return Qt::PartiallyChecked;
}

PolicyState StateOf(Qt::CheckState state) {
  switch (state) {
    case Qt::Checked:
      return PolicyState::On;
    case Qt::Unchecked:
      return PolicyState::Off;
    case Qt::PartiallyChecked:
      break;
  }
  return PolicyState::Unset;
}

// Raises a flag for its lifetime.
class FlagRaised {
 public:
  explicit FlagRaised(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagRaised() { flag_ = false; }
  FlagRaised(const FlagRaised&) = delete;
  FlagRaised& operator=(const FlagRaised&) = delete;

 private:
  bool& flag_;
};

// Draws a policy's box as Windows 95's policy editor does, the same whether the row is selected
// or not: checked, cleared, or filled grey for a policy not configured.
class PolicyBoxDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    QStyleOptionViewItem item(option);
    initStyleOption(&item, index);
    if (!item.features.testFlag(QStyleOptionViewItem::HasCheckIndicator)) return;
    const QWidget* widget = item.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    QStyleOptionButton box;
    box.rect = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &item, widget);
    box.palette = item.palette;
    box.state = item.state & QStyle::State_Enabled;
    if (item.checkState == Qt::PartiallyChecked) {
      box.palette.setBrush(QPalette::Base, box.palette.brush(QPalette::Button));
    }
    box.state |= item.checkState == Qt::Checked ? QStyle::State_On : QStyle::State_Off;
    painter->fillRect(box.rect, item.palette.brush(QPalette::Base));
    style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, widget);
  }
};

// A numeric part's box: any number may be typed, and the engine judges it; the arrows keep
// within the part's range.
class NumberBox : public QSpinBox {
 public:
  NumberBox(const PolicyPart& part, QWidget* parent)
      : QSpinBox(parent),
        min_(static_cast<int>(std::min<uint32_t>(part.min, INT_MAX))),
        max_(static_cast<int>(std::min<uint32_t>(part.max, INT_MAX))) {
    setRange(0, INT_MAX);
    setSingleStep(static_cast<int>(std::clamp<uint32_t>(part.spin, 1, INT_MAX)));
    setKeyboardTracking(false);
    // SPIN 0: a number typed, without arrows.
    if (part.spin == 0) setButtonSymbols(QAbstractSpinBox::NoButtons);
  }

  void stepBy(int steps) override {
    interpretText();
    const long long next =
        static_cast<long long>(value()) + static_cast<long long>(steps) * singleStep();
    setValue(static_cast<int>(std::clamp<long long>(next, min_, max_)));
  }

 protected:
  StepEnabled stepEnabled() const override {
    StepEnabled enabled = StepNone;
    if (value() > min_) enabled |= StepDownEnabled;
    if (value() < max_) enabled |= StepUpEnabled;
    return enabled;
  }

 private:
  int min_;
  int max_;
};

// The entries of a list part: value names (for a part with explicit values) and data, added
// through input boxes.
class TfrmListContents : public QDialog {
 public:
  TfrmListContents(QWidget* owner, const PolicyPart& part, const PartValue& value)
      : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
        ui_(std::make_unique<Ui::TfrmListContents>()),
        explicit_(part.explicitValue) {
    ui_->setupUi(this);
    ui_->lblList->setText(Literal(part.name));
    ui_->tvItems->setColumnHidden(0, !explicit_);
    ui_->tvItems->setHeaderHidden(!explicit_);
    for (const auto& [name, data] : value.list) Add(name, data);
    ConnectShowingErrors(ui_->btnAdd, &QPushButton::clicked, this, &TfrmListContents::btnAddClick);
    ConnectShowingErrors(ui_->btnRemove, &QPushButton::clicked, this,
                         &TfrmListContents::btnRemoveClick);
  }

  PartValue Value() const {
    PartValue value;
    for (int row = 0; row < ui_->tvItems->topLevelItemCount(); ++row) {
      const QTreeWidgetItem* item = ui_->tvItems->topLevelItem(row);
      value.list.emplace_back(item->data(0, Qt::UserRole).toByteArray().toStdString(),
                              item->data(1, Qt::UserRole).toByteArray().toStdString());
    }
    return value;
  }

 private:
  void Add(const std::string& name, const std::string& data) {
    auto* item = new QTreeWidgetItem(ui_->tvItems, {FromAnsi(name), FromAnsi(data)});
    item->setData(0, Qt::UserRole, QByteArray::fromStdString(name));
    item->setData(1, Qt::UserRole, QByteArray::fromStdString(data));
    ui_->tvItems->setCurrentItem(item);
  }

  // Empty when cancelled; an error when the text cannot be written in code page 1252.
  std::optional<std::string> Ask(const QString& label) {
    const std::optional<QString> text =
        Prompter::Current().Input(this, QStringLiteral("Add"), label, QString(), false);
    if (!text) return std::nullopt;
    std::optional<std::string> ansi = ToAnsi(*text);
    if (!ansi) {
      throw Error("The text " + text->toStdString() +
                  " holds characters that Windows 95 cannot store.");
    }
    return ansi;
  }

  void btnAddClick() {
    std::string name;
    if (explicit_) {
      const std::optional<std::string> given = Ask(QStringLiteral("Type the name of the value:"));
      if (!given || given->empty()) return;
      name = *given;
    }
    const std::optional<std::string> data = Ask(QStringLiteral("Type the value to add:"));
    if (!data) return;
    Add(name, *data);
  }

  void btnRemoveClick() { delete ui_->tvItems->currentItem(); }

  std::unique_ptr<Ui::TfrmListContents> ui_;
  bool explicit_;
};

}  // namespace

TfrmPolicies::TfrmPolicies(QWidget* owner, PolicyStore& store, const TUsers& users,
                           const std::vector<PolicyTemplate>& templates)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::TfrmPolicies>()),
      store_(store),
      users_(users),
      templates_(templates) {
  ui_->setupUi(this);
  setProperty(kHelpContextProperty, kHelpContext);
  ui_->tvPolicies->setItemDelegate(new PolicyBoxDelegate(ui_->tvPolicies));
  // The selection stays visible while the policies take the keyboard.
  QPalette palette = ui_->lstEntries->palette();
  palette.setBrush(QPalette::Inactive, QPalette::Highlight,
                   palette.brush(QPalette::Active, QPalette::Highlight));
  palette.setBrush(QPalette::Inactive, QPalette::HighlightedText,
                   palette.brush(QPalette::Active, QPalette::HighlightedText));
  ui_->lstEntries->setPalette(palette);
  ShowCutTextsAsToolTips(*ui_->lstEntries);
  ShowCutTextsAsToolTips(*ui_->tvPolicies);

  ConnectShowingErrors(ui_->lstEntries, &QListWidget::itemSelectionChanged, this,
                       &TfrmPolicies::lstEntriesChange);
  ConnectShowingErrors(ui_->tvPolicies, &QTreeWidget::currentItemChanged, this,
                       &TfrmPolicies::tvPoliciesCurrentChange);
  ConnectShowingErrors(ui_->tvPolicies, &QTreeWidget::itemChanged, this,
                       &TfrmPolicies::tvPoliciesItemChanged);
  ConnectShowingErrors(ui_->btnAddGroup, &QPushButton::clicked, this,
                       &TfrmPolicies::btnAddGroupClick);
  ConnectShowingErrors(ui_->btnAddComputer, &QPushButton::clicked, this,
                       &TfrmPolicies::btnAddComputerClick);
  ConnectShowingErrors(ui_->btnRemoveEntry, &QPushButton::clicked, this,
                       &TfrmPolicies::btnRemoveEntryClick);
  ConnectShowingErrors(ui_->btnMoveUp, &QPushButton::clicked, this, [this] { MoveGroup(-1); });
  ConnectShowingErrors(ui_->btnMoveDown, &QPushButton::clicked, this, [this] { MoveGroup(1); });
  ConnectShowingErrors(ui_->btnLogon, &QPushButton::clicked, this, &TfrmPolicies::btnLogonClick);
  ConnectShowingErrors(ui_->btnHelp, &QPushButton::clicked, this, &TfrmPolicies::btnHelpClick);
  RefreshEntries(std::nullopt);
}

TfrmPolicies::~TfrmPolicies() = default;

// ---- the entries ----

void TfrmPolicies::RefreshEntries(const std::optional<PolicyEntry>& select) {
  entries_.clear();
  entries_.push_back({PolicyEntry::Kind::User, std::string(kDefaultEntryName)});
  for (size_t i = 0; i < users_.Count(); ++i) {
    entries_.push_back({PolicyEntry::Kind::User, users_[i].Name()});
  }
  for (std::string& group : Groups(store_)) {
    entries_.push_back({PolicyEntry::Kind::Group, std::move(group)});
  }
  entries_.push_back({PolicyEntry::Kind::Computer, std::string(kDefaultEntryName)});
  for (std::string& computer : Computers(store_)) {
    entries_.push_back({PolicyEntry::Kind::Computer, std::move(computer)});
  }
  const QIcon user{QPixmap(entry_user_xpm)};
  const QIcon group{QPixmap(entry_group_xpm)};
  const QIcon computer(TransparentBitmap(QStringLiteral("COMPUTER")));
  const QSignalBlocker blocker(ui_->lstEntries);
  ui_->lstEntries->clear();
  for (const PolicyEntry& entry : entries_) {
    const QIcon& icon = entry.kind == PolicyEntry::Kind::User    ? user
                        : entry.kind == PolicyEntry::Kind::Group ? group
                                                                 : computer;
    new QListWidgetItem(icon, EntryCaption(entry), ui_->lstEntries);
  }
  const auto found = select ? std::find(entries_.begin(), entries_.end(), *select) : entries_.end();
  const int row = found == entries_.end() ? 0 : static_cast<int>(found - entries_.begin());
  ui_->lstEntries->setCurrentRow(row);
  lstEntriesChange();
}

bool TfrmPolicies::SelectEntry(const PolicyEntry& entry) {
  const auto found = std::find(entries_.begin(), entries_.end(), entry);
  if (found == entries_.end()) return false;
  ui_->lstEntries->setCurrentRow(static_cast<int>(found - entries_.begin()));
  return true;
}

std::optional<PolicyEntry> TfrmPolicies::SelectedEntry() const {
  const QList<QListWidgetItem*> selected = ui_->lstEntries->selectedItems();
  if (selected.isEmpty()) return std::nullopt;
  const int row = ui_->lstEntries->row(selected.front());
  if (row < 0 || static_cast<size_t>(row) >= entries_.size()) return std::nullopt;
  return entries_[static_cast<size_t>(row)];
}

void TfrmPolicies::lstEntriesChange() {
  const std::optional<PolicyEntry> entry = SelectedEntry();
  UpdateButtons();
  ui_->tvPolicies->setEnabled(entry.has_value());
  if (!entry) {
    ui_->lblPolicies->setText(QStringLiteral("&Policies:"));
    ui_->tvPolicies->setCurrentItem(nullptr);
    return;
  }
  const QString caption = EntryCaption(*entry).replace(QLatin1Char('&'), QStringLiteral("&&"));
  const QString prefix = QStringLiteral("&Policies for ");
  const int room = ui_->lblPolicies->width() -
                   ui_->lblPolicies->fontMetrics().size(Qt::TextShowMnemonic, prefix + ':').width();
  ui_->lblPolicies->setText(
      prefix + ui_->lblPolicies->fontMetrics().elidedText(caption, Qt::ElideRight, room) + ':');

  const PolicyClass cls = ClassOf(*entry);
  if (treeClass_ != cls) BuildTree(cls);
  // The states as the file holds them now.
  const FlagRaised loading(loading_);
  for (QTreeWidgetItemIterator it(ui_->tvPolicies); *it != nullptr; ++it) {
    if (const Policy* policy = PolicyOf(*it)) {
      (*it)->setCheckState(0, CheckStateOf(ReadPolicySetting(store_, *entry, *policy).state));
    }
  }
  tvPoliciesCurrentChange();
}

void TfrmPolicies::UpdateButtons() {
  const std::optional<PolicyEntry> entry = SelectedEntry();
  const bool group = entry && entry->kind == PolicyEntry::Kind::Group;
  ui_->btnRemoveEntry->setEnabled(
      group || (entry && entry->kind == PolicyEntry::Kind::Computer && !IsDefault(*entry)));
  const int row = ui_->lstEntries->currentRow();
  const auto isGroup = [this](int at) {
    return at >= 0 && static_cast<size_t>(at) < entries_.size() &&
           entries_[static_cast<size_t>(at)].kind == PolicyEntry::Kind::Group;
  };
  ui_->btnMoveUp->setEnabled(group && isGroup(row - 1));
  ui_->btnMoveDown->setEnabled(group && isGroup(row + 1));
  ui_->btnLogon->setEnabled(entry && entry->kind == PolicyEntry::Kind::User && !IsDefault(*entry));
}

void TfrmPolicies::btnAddGroupClick() {
  const std::optional<std::string> ansi = AskEntryName(
      this, QStringLiteral("Add Group"), QStringLiteral("Type the name of the group:"));
  if (!ansi) return;
  AddGroup(store_, *ansi);
  WritePendingChanges();
  RefreshEntries(PolicyEntry{PolicyEntry::Kind::Group, *ansi});
}

void TfrmPolicies::btnAddComputerClick() {
  const std::optional<std::string> ansi = AskEntryName(
      this, QStringLiteral("Add Computer"), QStringLiteral("Type the name of the computer:"));
  if (!ansi) return;
  AddComputer(store_, *ansi);
  WritePendingChanges();
  RefreshEntries(PolicyEntry{PolicyEntry::Kind::Computer, *ansi});
}

void TfrmPolicies::btnRemoveEntryClick() {
  const std::optional<PolicyEntry> entry = SelectedEntry();
  if (!entry || IsDefault(*entry) || entry->kind == PolicyEntry::Kind::User) return;
  const bool group = entry->kind == PolicyEntry::Kind::Group;
  if (ShowMessage(this, MessageKind::Confirm,
                  QStringLiteral("Are you sure you want to remove the %1 %2 and its policies?")
                      .arg(group ? QStringLiteral("group") : QStringLiteral("computer"),
                           FromAnsi(entry->name)),
                  QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
    return;
  }
  if (group) {
    RemoveGroup(store_, entry->name);
  } else {
    RemoveComputer(store_, entry->name);
  }
  WritePendingChanges();
  RefreshEntries(std::nullopt);
}

void TfrmPolicies::MoveGroup(int by) {
  const std::optional<PolicyEntry> entry = SelectedEntry();
  if (!entry || entry->kind != PolicyEntry::Kind::Group) return;
  std::vector<std::string> groups = Groups(store_);
  const auto at = std::find(groups.begin(), groups.end(), entry->name);
  if (at == groups.end()) return;
  const auto other = at + by;
  if (other < groups.begin() || other >= groups.end()) return;
  std::iter_swap(at, other);
  SetGroupPriority(store_, groups);
  WritePendingChanges();
  RefreshEntries(entry);
}

void TfrmPolicies::btnLogonClick() {
  const std::optional<PolicyEntry> entry = SelectedEntry();
  if (!entry || entry->kind != PolicyEntry::Kind::User || IsDefault(*entry)) return;
  TfrmLogonPolicy logon(this, store_, entry->name);
  RunDialog(logon);
}

void TfrmPolicies::btnHelpClick() {
  ShowHelpTopic(this, kHelpContext);
}

// ---- the policies ----

void TfrmPolicies::BuildTree(PolicyClass cls) {
  const QSignalBlocker blocker(ui_->tvPolicies);
  ui_->tvPolicies->clear();
  policies_.clear();
  treeClass_ = cls;
  for (const PolicyTemplate& found : templates_) {
    AddCategories(nullptr, cls == PolicyClass::User ? found.user : found.machine, std::string());
  }
}

void TfrmPolicies::AddCategories(QTreeWidgetItem* parent,
                                 const std::vector<PolicyCategory>& categories,
                                 const std::string& path) {
  const QIcon folder = NodeIcon(SmallImage(0));
  for (const PolicyCategory& category : categories) {
    auto* node =
        parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(ui_->tvPolicies);
    node->setText(0, FromAnsi(category.name));
    node->setIcon(0, folder);
    node->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    const std::string inside = JoinPolicyPath(path, category.name);
    for (const Policy& policy : category.policies) {
      auto* item = new QTreeWidgetItem(node);
      item->setText(0, FromAnsi(policy.name));
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                     Qt::ItemIsUserTristate);
      item->setCheckState(0, Qt::PartiallyChecked);
      item->setData(0, kPolicyRole, static_cast<qulonglong>(policies_.size()));
      policies_.push_back({JoinPolicyPath(inside, policy.name), &policy});
    }
    AddCategories(node, category.categories, inside);
  }
}

const Policy* TfrmPolicies::PolicyOf(const QTreeWidgetItem* item) const {
  if (item == nullptr) return nullptr;
  const QVariant index = item->data(0, kPolicyRole);
  if (!index.isValid()) return nullptr;
  const size_t at = index.toULongLong();
  return at < policies_.size() ? policies_[at].policy : nullptr;
}

QTreeWidgetItem* TfrmPolicies::PolicyItem(std::string_view path) const {
  for (QTreeWidgetItemIterator it(ui_->tvPolicies); *it != nullptr; ++it) {
    const QVariant index = (*it)->data(0, kPolicyRole);
    if (index.isValid() && EqualsIgnoreCase(policies_[index.toULongLong()].path, path)) {
      return *it;
    }
  }
  return nullptr;
}

void TfrmPolicies::tvPoliciesCurrentChange() {
  ClearParts();
  const Policy* policy = PolicyOf(ui_->tvPolicies->currentItem());
  const std::optional<PolicyEntry> entry = SelectedEntry();
  stored_ = policy && entry ? ReadPolicySetting(store_, *entry, *policy) : PolicySetting{};
  shown_ = stored_;
  ShowParts();
}

void TfrmPolicies::tvPoliciesItemChanged(QTreeWidgetItem* item) {
  if (loading_) return;
  const Policy* policy = PolicyOf(item);
  const std::optional<PolicyEntry> entry = SelectedEntry();
  if (policy == nullptr || !entry) return;
  const PolicyState state = StateOf(item->checkState(0));
  // A box ticked by the keyboard or the mouse is the selected policy from then on.
  if (item != ui_->tvPolicies->currentItem()) ui_->tvPolicies->setCurrentItem(item);
  if (state == shown_.state) return;
  shown_.state = state;
  if (!WriteShown() && state != PolicyState::On) {
    const FlagRaised loading(loading_);
    item->setCheckState(0, CheckStateOf(stored_.state));
    shown_ = stored_;
  }
  // A policy switched on that the engine refused stays ticked here, its parts open for the
  // value it requires; the file keeps its former state until then.
  EnableParts();
}

bool TfrmPolicies::WriteShown() {
  const Policy* policy = PolicyOf(ui_->tvPolicies->currentItem());
  const std::optional<PolicyEntry> entry = SelectedEntry();
  if (policy == nullptr || !entry) return false;
  PolicySetting setting = shown_;
  if (setting.state != PolicyState::On) setting.parts.clear();
  try {
    WritePolicySetting(store_, *entry, *policy, setting);
  } catch (const PolicyValueError& refused) {
    ShowMessage(this, MessageKind::Warning, QString::fromUtf8(refused.what()));
    return false;
  }
  WritePendingChanges();
  stored_ = ReadPolicySetting(store_, *entry, *policy);
  const PolicyState state = shown_.state;
  shown_ = stored_;
  shown_.state = state;
  return true;
}

// ---- the parts ----

void TfrmPolicies::ClearParts() {
  // The controls go without telling of edits: what they held was written as it was made.
  const FlagRaised loading(loading_);
  parts_.clear();
  for (QWidget* widget : ui_->pnlParts->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    widget->hide();
    widget->deleteLater();
  }
  // A new grid: rows and stretches of the former parts do not carry over.
  delete ui_->pnlParts->layout();
  auto* layout = new QGridLayout(ui_->pnlParts);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setColumnStretch(2, 1);
}

void TfrmPolicies::ShowParts() {
  auto* layout = static_cast<QGridLayout*>(ui_->pnlParts->layout());
  const Policy* policy = PolicyOf(ui_->tvPolicies->currentItem());
  ui_->grpSettings->setTitle(policy != nullptr
                                 ? QStringLiteral("Settings for ") + Literal(policy->name)
                                 : QStringLiteral("Settings"));
  QWidget* previous = ui_->tvPolicies;
  if (policy != nullptr) {
    for (const PolicyPart& part : policy->parts) AddPartControl(part, previous);
  }
  layout->setRowStretch(layout->rowCount(), 1);
  QWidget::setTabOrder(previous, ui_->btnLogon);
  ShowPartValues();
  EnableParts();
}

void TfrmPolicies::AddPartControl(const PolicyPart& part, QWidget*& previous) {
  auto* layout = static_cast<QGridLayout*>(ui_->pnlParts->layout());
  const int row = layout->count() == 0 ? 0 : layout->rowCount();
  QWidget* control = nullptr;
  const auto edited = [this, &part](PartValue value) {
    ShowingErrors([&] { PartEdited(part, std::move(value)); }, this);
  };
  switch (part.type) {
    case PartType::Text: {
      auto* label = new QLabel(FromAnsi(part.name), ui_->pnlParts);
      label->setWordWrap(true);
      label->setTextFormat(Qt::PlainText);
      layout->addWidget(label, row, 0, 1, 3);
      return;
    }
    case PartType::CheckBox: {
      auto* box = new QCheckBox(Literal(part.name), ui_->pnlParts);
      connect(box, &QCheckBox::toggled, this, [this, edited](bool ticked) {
        if (!loading_) edited({ticked ? "1" : "0", {}});
      });
      layout->addWidget(box, row, 0, 1, 3);
      control = box;
      break;
    }
    case PartType::EditText: {
      auto* edit = new QLineEdit(ui_->pnlParts);
      if (part.maxLength > 0) edit->setMaxLength(static_cast<int>(part.maxLength));
      connect(edit, &QLineEdit::editingFinished, this, [this, edit, edited, &part] {
        const std::string text = ToAnsi(edit->text()).value_or(std::string());
        if (!loading_ && text != ShownValue(part).text) edited({text, {}});
      });
      control = edit;
      break;
    }
    case PartType::ComboBox: {
      auto* combo = new QComboBox(ui_->pnlParts);
      combo->setEditable(true);
      combo->setInsertPolicy(QComboBox::NoInsert);
      for (const std::string& suggestion : part.suggestions) combo->addItem(FromAnsi(suggestion));
      if (part.maxLength > 0) combo->lineEdit()->setMaxLength(static_cast<int>(part.maxLength));
      const auto commit = [this, combo, edited, &part] {
        const std::string text = ToAnsi(combo->currentText()).value_or(std::string());
        if (!loading_ && text != ShownValue(part).text) edited({text, {}});
      };
      connect(combo->lineEdit(), &QLineEdit::editingFinished, this, commit);
      connect(combo, &QComboBox::activated, this, commit);
      control = combo;
      break;
    }
    case PartType::Numeric: {
      auto* number = new NumberBox(part, ui_->pnlParts);
      number->setFixedWidth(kNumberWidth);
      connect(number, &QSpinBox::valueChanged, this, [this, edited](int value) {
        if (!loading_) edited({std::to_string(value), {}});
      });
      control = number;
      break;
    }
    case PartType::DropDownList: {
      auto* list = new QComboBox(ui_->pnlParts);
      for (const tarnwick::PolicyItem& item : part.items) list->addItem(FromAnsi(item.name));
      connect(list, &QComboBox::activated, this, [this, list, edited] {
        if (!loading_) edited({ToAnsi(list->currentText()).value_or(std::string()), {}});
      });
      control = list;
      break;
    }
    case PartType::ListBox: {
      auto* show = new QPushButton(QStringLiteral("Show..."), ui_->pnlParts);
      show->setAutoDefault(false);
      connect(show, &QPushButton::clicked, this,
              [this, &part] { ShowingErrors([&] { EditList(part); }, this); });
      control = show;
      break;
    }
  }
  if (part.type != PartType::CheckBox) {
    auto* label = new QLabel(Literal(part.name), ui_->pnlParts);
    label->setWordWrap(true);
    label->setMinimumWidth(
        std::min(label->fontMetrics().horizontalAdvance(label->text()) + 2, kLabelWidth));
    label->setMaximumWidth(kLabelWidth);
    label->setBuddy(control);
    layout->addWidget(label, row, 0);
    if (part.type != PartType::Numeric) control->setFixedWidth(kControlWidth);
    layout->addWidget(control, row, 1, Qt::AlignLeft);
  }
  QWidget::setTabOrder(previous, control);
  previous = control;
  parts_.push_back({&part, control});
}

void TfrmPolicies::ShowPartValues() {
  const FlagRaised loading(loading_);
  for (const PartControl& shown : parts_) {
    const PartValue value = ShownValue(*shown.part);
    const QString text = FromAnsi(value.text);
    switch (shown.part->type) {
      case PartType::CheckBox:
        static_cast<QCheckBox*>(shown.control)->setChecked(value.text == "1");
        break;
      case PartType::EditText:
        static_cast<QLineEdit*>(shown.control)->setText(text);
        break;
      case PartType::ComboBox:
        static_cast<QComboBox*>(shown.control)->setEditText(text);
        break;
      case PartType::Numeric:
        static_cast<QSpinBox*>(shown.control)->setValue(text.toInt());
        break;
      case PartType::DropDownList: {
        auto* list = static_cast<QComboBox*>(shown.control);
        list->setCurrentIndex(list->findText(text, Qt::MatchFixedString));
        break;
      }
      case PartType::Text:
      case PartType::ListBox:
        break;
    }
  }
}

void TfrmPolicies::EnableParts() {
  const QTreeWidgetItem* item = ui_->tvPolicies->currentItem();
  const bool on =
      item != nullptr && PolicyOf(item) != nullptr && item->checkState(0) == Qt::Checked;
  ui_->pnlParts->setEnabled(on);
}

PartValue TfrmPolicies::ShownValue(const PolicyPart& part) const {
  const auto found = shown_.parts.find(part.name);
  if (found != shown_.parts.end()) return found->second;
  // A part without a value of its own writes its default.
  switch (part.type) {
    case PartType::CheckBox:
      return {part.defaultChecked ? "1" : "0", {}};
    case PartType::EditText:
    case PartType::ComboBox:
      return {part.defaultText, {}};
    case PartType::Numeric:
      return {part.defaultNumber ? std::to_string(*part.defaultNumber) : std::string(), {}};
    case PartType::Text:
    case PartType::DropDownList:
    case PartType::ListBox:
      break;
  }
  return {};
}

void TfrmPolicies::PartEdited(const PolicyPart& part, PartValue value) {
  shown_.parts[part.name] = std::move(value);
  if (shown_.state != PolicyState::On) return;
  if (!WriteShown()) {
    // The refused value gives way to the one stored.
    const auto stored = stored_.parts.find(part.name);
    if (stored != stored_.parts.end()) {
      shown_.parts[part.name] = stored->second;
    } else {
      shown_.parts.erase(part.name);
    }
    ShowPartValues();
  }
}

void TfrmPolicies::EditList(const PolicyPart& part) {
  TfrmListContents contents(this, part, ShownValue(part));
  if (RunDialog(contents) != QDialog::Accepted) return;
  PartEdited(part, contents.Value());
}

}  // namespace tarnwick
