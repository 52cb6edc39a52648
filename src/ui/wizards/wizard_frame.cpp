#include "ui/wizards/wizard_frame.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <algorithm>

#include "controls/help_window.h"
#include "shell/error_box.h"

namespace tarnwick {

WizardFrame::WizardFrame(QWidget* owner, Qt::WindowFlags borderIcons)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | borderIcons) {}

void WizardFrame::AttachFrame(const WizardControls& controls, DefaultAfterBack afterBack) {
  controls_ = controls;
  afterBack_ = afterBack;
  setFixedSize(size());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  ConnectShowingErrors(controls_.help, &QPushButton::clicked, this,
                       [this] { ShowHelpContents(this); });
  connect(controls_.cancel, &QPushButton::clicked, this, &QDialog::reject);
  ConnectShowingErrors(controls_.back, &QPushButton::clicked, this, &WizardFrame::cmdBackClick);
  ConnectShowingErrors(controls_.next, &QPushButton::clicked, this, &WizardFrame::cmdNextClick);
  ConnectShowingErrors(controls_.finish, &QPushButton::clicked, this, [this] { cmdFinishClick(); });
  controls_.pages->setCurrentIndex(0);
  UpdateButtons(true);
}

void WizardFrame::UpdateNext() {
  const QStackedWidget& pages = *controls_.pages;
  if (pages.currentIndex() == pages.count() - 1) return;
  controls_.next->setEnabled(NextAllowed(pages.currentWidget()));
}

void WizardFrame::UpdateButtons(bool nextIsDefault) {
  const QStackedWidget& pages = *controls_.pages;
  const bool last = pages.currentIndex() == pages.count() - 1;
  controls_.back->setEnabled(pages.currentIndex() > 0);
  controls_.finish->setEnabled(last);
  controls_.next->setEnabled(!last && NextAllowed(pages.currentWidget()));
  if (last) {
    controls_.finish->setDefault(true);
  } else if (nextIsDefault) {
    controls_.next->setDefault(true);
  }
}

void WizardFrame::FocusPage(QWidget*) {
  (controls_.finish->isEnabled() ? controls_.finish : controls_.next)->setFocus();
}

void WizardFrame::cmdFinishClick() {
  accept();
}

bool WizardFrame::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate && !activated_) {
    activated_ = true;
    FormActivate();
  }
  return QDialog::event(event);
}

void WizardFrame::cmdNextClick() {
  const QStackedWidget& pages = *controls_.pages;
  if (!LeavePage(pages.currentWidget())) return;
  int index = pages.currentIndex() + 1;
  while (index < pages.count() - 1 && Skipped(pages.widget(index))) ++index;
  ShowPage(std::min(index, pages.count() - 1), true);
}

void WizardFrame::cmdBackClick() {
  const QStackedWidget& pages = *controls_.pages;
  int index = pages.currentIndex() - 1;
  while (index > 0 && Skipped(pages.widget(index))) --index;
  ShowPage(std::max(index, 0), false);
}

void WizardFrame::ShowPage(int index, bool forward) {
  QWidget* const before = focusWidget();
  controls_.pages->setCurrentIndex(index);
  UpdateButtons(!forward && afterBack_ == DefaultAfterBack::Next);
  // A button that had the focus keeps it while it is enabled; any other focus, left on the page
  // that was hidden, goes where the page wants it.
  const bool button = before == controls_.help || before == controls_.cancel ||
                      before == controls_.back || before == controls_.next ||
                      before == controls_.finish;
  QWidget* const page = controls_.pages->currentWidget();
  if (button && before->isEnabled()) {
    before->setFocus();
  } else {
    FocusPage(page);
  }
  PageShown(page, forward);
}

}  // namespace tarnwick
