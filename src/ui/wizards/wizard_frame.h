// The frame the wizards share: a fixed-size dialog, centred on the screen, whose pages change only
// through Back and Next. It keeps the buttons' states, the default button and the focus in step
// with the page shown; each wizard keeps its pages and its rules for leaving them.
#pragma once

#include <QDialog>

class QPushButton;
class QStackedWidget;

namespace tarnwick {

// The page stack and the row of buttons of a wizard's form.
struct WizardControls {
  QStackedWidget* pages = nullptr;
  QPushButton* help = nullptr;
  QPushButton* cancel = nullptr;
  QPushButton* back = nullptr;
  QPushButton* next = nullptr;
  QPushButton* finish = nullptr;
};

class WizardFrame : public QDialog {
  Q_OBJECT

 protected:
  // Which button is the default after Back.
  enum class DefaultAfterBack { Next, Unchanged };

  // A dialog with the title bar, system menu and close box; extra border icons added.
  explicit WizardFrame(QWidget* owner, Qt::WindowFlags borderIcons = {});

  // Takes over the form's pages and buttons, made by setupUi, and shows the first page: Back
  // disabled, Next the default button unless that page is the last.
  void AttachFrame(const WizardControls& controls,
                   DefaultAfterBack afterBack = DefaultAfterBack::Next);

  // Enables Next by NextAllowed; the wizard calls it when an answer that rule reads changes.
  void UpdateNext();

  // Runs once, the first time the window is activated.
  virtual void FormActivate() {}
  // Checks the answers of the page Next leaves; false keeps the page, the wizard having said why.
  virtual bool LeavePage(QWidget*) { return true; }
  // A page Back and Next pass over.
  virtual bool Skipped(QWidget*) const { return false; }
  // Whether Next is enabled on a page other than the last.
  virtual bool NextAllowed(QWidget*) const { return true; }
  // Where the focus goes when it was not on an enabled button: the enabled one of Finish and
  // Next, so that Return keeps pressing it.
  virtual void FocusPage(QWidget* page);
  // After a page was shown and the focus set.
  virtual void PageShown(QWidget*, bool /*forward*/) {}
  // Finish closes with the OK result.
  virtual void cmdFinishClick();

  bool event(QEvent* event) override;

 private:
  void cmdNextClick();
  void cmdBackClick();
  // Back, Next and Finish as the current page wants them.
  void UpdateButtons(bool nextIsDefault);
  void ShowPage(int index, bool forward);

  WizardControls controls_;
  DefaultAfterBack afterBack_ = DefaultAfterBack::Next;
  bool activated_ = false;
};

}  // namespace tarnwick
