#include "ui/logon_policy.h"

#include <QFontDatabase>
#include <QListWidget>
#include <QPushButton>

#include <sstream>
#include <vector>

#include "controls/help_window.h"
#include "controls/look.h"
#include "policy/effective_policy.h"
#include "policy/policy_entries.h"
#include "shell/ansi_qstring.h"
#include "shell/error_box.h"
#include "ui_logon_policy.h"

namespace tarnwick {

namespace {

constexpr int kHelpContext = 725;

}  // namespace

TfrmLogonPolicy::TfrmLogonPolicy(QWidget* owner, PolicyStore& store, std::string user)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::TfrmLogonPolicy>()),
      store_(store),
      user_(std::move(user)) {
  ui_->setupUi(this);
  SetElidedText(*ui_->lblUser, FromAnsi(user_));
  ui_->txtResult->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  for (const std::string& group : Groups(store_)) {
    auto* item = new QListWidgetItem(FromAnsi(group), ui_->lstGroups);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    item->setData(Qt::UserRole, QByteArray::fromStdString(group));
  }
  for (const std::string& computer : Computers(store_)) {
    ui_->cmbComputer->addItem(FromAnsi(computer));
  }
  ui_->cmbComputer->setEditText(QString());
  ConnectShowingErrors(ui_->lstGroups, &QListWidget::itemChanged, this, &TfrmLogonPolicy::Refresh);
  ConnectShowingErrors(ui_->cmbComputer, &QComboBox::currentTextChanged, this,
                       &TfrmLogonPolicy::Refresh);
  ConnectShowingErrors(ui_->btnHelp, &QPushButton::clicked, this,
                       [this] { ShowHelpTopic(this, kHelpContext); });
  Refresh();
}

TfrmLogonPolicy::~TfrmLogonPolicy() = default;

void TfrmLogonPolicy::Refresh() {
  std::vector<std::string> groups;
  for (int row = 0; row < ui_->lstGroups->count(); ++row) {
    const QListWidgetItem* item = ui_->lstGroups->item(row);
    if (item->checkState() == Qt::Checked) {
      groups.push_back(item->data(Qt::UserRole).toByteArray().toStdString());
    }
  }
  const std::optional<std::string> computer = ToAnsi(ui_->cmbComputer->currentText().trimmed());
  if (!computer) {
    ui_->txtResult->setPlainText(
        QStringLiteral("The computer's name holds characters that Windows 95 cannot store."));
    return;
  }
  // A logon that cannot be worked out tells why in place of its changes.
  try {
    const EffectivePolicy effective = EffectivePolicyOf(store_, {user_, groups, *computer});
    std::ostringstream text;
    WriteEffectiveRegedit4(effective, text);
    ui_->txtResult->setPlainText(
        FromAnsi(text.str()).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  } catch (const Error& error) {
    ui_->txtResult->setPlainText(QString::fromUtf8(error.what()));
  }
}

}  // namespace tarnwick
