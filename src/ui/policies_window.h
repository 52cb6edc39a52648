// The Policies window: the entries of the policy file on the left (Default User, the users, the
// groups, Default Computer, the computers) and, for the selected entry, its class's policies as
// a tree of three-state check boxes with the parts of the selected policy below. Every change is
// written to the file at once; the window reads the file again whenever an entry is selected.
#pragma once

#include <QDialog>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "policy/policy_entries.h"
#include "policy/policy_settings.h"
#include "policy/policy_template.h"
#include "policy/policy_templates.h"

class QTreeWidgetItem;
class QWidget;

namespace Ui {
class TfrmPolicies;
}

namespace tarnwick {

class PolicyStore;
class TUsers;

class TfrmPolicies : public QDialog {
  Q_OBJECT

 public:
  // The store's policy file must be loaded; users are the accounts the main window lists.
  TfrmPolicies(QWidget* owner, PolicyStore& store, const TUsers& users,
               const std::vector<PolicyTemplate>& templates);
  ~TfrmPolicies() override;

  // Selects the entry in the list; false when the list does not hold it.
  bool SelectEntry(const PolicyEntry& entry);
  std::optional<PolicyEntry> SelectedEntry() const;
  // The tree's item of the policy shown under path (categories and name joined by '\'), or null.
  QTreeWidgetItem* PolicyItem(std::string_view path) const;

 private:
  struct PartControl {
    const PolicyPart* part;
    QWidget* control;
  };

  void RefreshEntries(const std::optional<PolicyEntry>& select);
  void lstEntriesChange();
  void BuildTree(PolicyClass cls);
  void AddCategories(QTreeWidgetItem* parent, const std::vector<PolicyCategory>& categories,
                     const std::string& path);
  const Policy* PolicyOf(const QTreeWidgetItem* item) const;
  void tvPoliciesCurrentChange();
  void tvPoliciesItemChanged(QTreeWidgetItem* item);
  void ClearParts();
  void ShowParts();
  void AddPartControl(const PolicyPart& part, QWidget*& previous);
  void ShowPartValues();
  // The part's value as the window shows it: its own, else the default the policy writes.
  PartValue ShownValue(const PolicyPart& part) const;
  void EnableParts();
  void PartEdited(const PolicyPart& part, PartValue value);
  // Writes the setting shown; false (after showing why) when the engine refuses it.
  bool WriteShown();
  void EditList(const PolicyPart& part);
  void UpdateButtons();
  void btnAddGroupClick();
  void btnAddComputerClick();
  void btnRemoveEntryClick();
  void MoveGroup(int by);
  void btnLogonClick();
  void btnHelpClick();

  std::unique_ptr<Ui::TfrmPolicies> ui_;
  PolicyStore& store_;
  const TUsers& users_;
  const std::vector<PolicyTemplate>& templates_;
  std::vector<PolicyEntry> entries_;  // by row of lstEntries
  std::optional<PolicyClass> treeClass_;
  std::vector<PolicyRef> policies_;  // of the tree's class, by an item's index
  std::vector<PartControl> parts_;
  // The selected policy's setting as the file holds it, and as the window shows it: they differ
  // while a policy switched on waits for a part's value that it requires.
  PolicySetting stored_;
  PolicySetting shown_;
  bool loading_ = false;
};

}  // namespace tarnwick
