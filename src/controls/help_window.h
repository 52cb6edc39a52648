// The program's help: the Help Topics window over the Qt help collection, and the F1 key.
#pragma once

#include <QString>
#include <QWidget>

class QApplication;
class QHelpEngine;
class QSplitter;
class QTabWidget;
class QTextBrowser;

namespace tarnwick {

// Help context numbers live on widgets as the dynamic property "helpContext" (int).
inline constexpr char kHelpContextProperty[] = "helpContext";

// The widget's own help context number, else its nearest parent's within its window; 0 for
// none.
int HelpContextOf(const QWidget* widget);

// The help collection: ../share/tarnwick/tarnwick.qhc beside the running executable when
// installed, else the one generated in the build tree.
QString HelpCollectionFile();

// The Help Topics window (Contents, Index, Search) at the contents topic.
void ShowHelpContents(QWidget* owner);
// The help window at the topic of a help context number; the contents for an unknown number.
void ShowHelpTopic(QWidget* owner, int context);
// F1 anywhere opens the topic of the focused widget (HelpContextOf), else the contents. In
// "What's This?" mode a click on a control opens that control's topic.
void InstallHelpKey(QApplication& app);

// The one help window: Contents, Index and Search tabs beside the topic. It belongs to the
// window of the control whose help it shows, so that it works beside a modal dialog too.
class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  ~HelpWindow() override;

  // The open help window, or nullptr.
  static HelpWindow* Current();
  // The open help window moved to owner's window, or a new one; nullptr (after a message)
  // when the collection cannot be opened.
  static HelpWindow* Open(QWidget* owner);

  QHelpEngine& Engine() { return *engine_; }
  QTextBrowser& Browser() { return *browser_; }
  QTabWidget& Tabs() { return *tabs_; }
  void ShowTopic(const QUrl& url);

 private:
  HelpWindow(QWidget* parent, QHelpEngine* engine);
  void BuildSearchTab();
  // Widens the Contents tab so that every expanded title shows whole, while the topic keeps at
  // least half the window.
  void FitContents();
  void Search();

  QHelpEngine* engine_;
  QTabWidget* tabs_;
  QTextBrowser* browser_;
  QSplitter* splitter_;
  bool indexed_ = false;
  bool indexing_ = false;
  bool searchPending_ = false;
};

}  // namespace tarnwick
