#include "controls/help_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpLink>
#include <QHelpSearchEngine>
#include <QHelpSearchQueryWidget>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QWhatsThis>
#include <functional>
#include <memory>

#include "controls/look.h"
#include "shell/scripted_prompter.h"
#include "support/look_guard.h"

namespace tarnwick::test {
namespace {

const QString kTopicBase = QStringLiteral("qthelp://org.tarnwick.help/doc/");

// Every help context number the program's windows carry.
const int kContexts[] = {700, 500, 505, 510, 515, 520, 300, 310, 315, 320, 325, 330,
                         335, 340, 345, 350, 355, 360, 370, 375, 380, 385, 390, 395,
                         400, 405, 410, 420, 425, 430, 435, 440, 445, 605, 720, 725};

// Each test gets a fresh cache folder, so the collection is copied and indexed anew.
class HelpWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(cache_.isValid());
    qputenv("XDG_CACHE_HOME", cache_.path().toUtf8());
    owner_.setProperty(kHelpContextProperty, 510);
    owner_.show();
  }
  void TearDown() override {
    delete HelpWindow::Current();
    EXPECT_TRUE(prompter_.Records().empty()) << prompter_.Records().front().text.toStdString();
  }

  HelpWindow& Open() {
    HelpWindow* window = HelpWindow::Open(&owner_);
    EXPECT_NE(window, nullptr);
    return *window;
  }

  QTemporaryDir cache_;
  ScriptedPrompter prompter_;
  PrompterGuard guard_{prompter_};
  QWidget owner_;
};

template <typename Signal>
bool WaitFor(const typename QtPrivate::FunctionPointer<Signal>::Object* sender, Signal signal) {
  QEventLoop loop;
  QObject::connect(sender, signal, &loop, &QEventLoop::quit);
  bool timedOut = false;
  QTimer::singleShot(30000, &loop, [&] {
    timedOut = true;
    loop.quit();
  });
  loop.exec();
  return !timedOut;
}

TEST_F(HelpWindowTest, EveryContextNumberOpensItsOwnTopicWithText) {
  HelpWindow& window = Open();
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Tarnwick Help"));
  ASSERT_EQ(window.Tabs().count(), 3);
  EXPECT_EQ(window.Tabs().tabText(0), QStringLiteral("Contents"));
  EXPECT_EQ(window.Tabs().tabText(1), QStringLiteral("Index"));
  EXPECT_EQ(window.Tabs().tabText(2), QStringLiteral("Search"));
  QSet<QString> anchors;
  for (int context : kContexts) {
    SCOPED_TRACE(context);
    const QList<QHelpLink> links =
        window.Engine().documentsForIdentifier(QStringLiteral("context-%1").arg(context));
    ASSERT_EQ(links.size(), 1);
    const QUrl url = links.first().url;
    const QString page =
        QString::fromUtf8(window.Engine().fileData(url.adjusted(QUrl::RemoveFragment)));
    const QString anchor =
        url.hasFragment() ? url.fragment() : QStringLiteral("context-%1").arg(context);
    EXPECT_EQ(anchor, QStringLiteral("context-%1").arg(context));
    const qsizetype at = page.indexOf(QStringLiteral("name=\"%1\"").arg(anchor));
    ASSERT_GE(at, 0);
    // The topic's own text, up to the next topic, says something.
    const qsizetype end = page.indexOf(QStringLiteral("name=\"context-"), at + 1);
    const QString text = QTextDocumentFragment::fromHtml(page.mid(at - 3, end < 0 ? -1 : end - at))
                             .toPlainText()
                             .simplified();
    EXPECT_GT(text.size(), 30) << text.toStdString();
    anchors.insert(url.toString());
    ShowHelpTopic(&owner_, context);
    EXPECT_EQ(window.Browser().source(), url);
    EXPECT_FALSE(window.Browser().toPlainText().isEmpty());
  }
  EXPECT_EQ(anchors.size(), static_cast<qsizetype>(std::size(kContexts)));
  ShowHelpContents(&owner_);
  EXPECT_EQ(window.Browser().source(), QUrl(kTopicBase + QStringLiteral("index.html")));
  EXPECT_TRUE(window.Browser().toPlainText().contains(QStringLiteral("Tarnwick Help Contents")));
  // An unknown number shows the contents; the window is reused.
  ShowHelpTopic(&owner_, 510);
  ShowHelpTopic(&owner_, 999);
  EXPECT_EQ(HelpWindow::Current(), &window);
  EXPECT_EQ(window.Browser().source(), QUrl(kTopicBase + QStringLiteral("index.html")));
}

TEST_F(HelpWindowTest, ContextIsTheNearestWithinTheWindow) {
  auto* page = new QWidget(&owner_);
  page->setProperty(kHelpContextProperty, 325);
  auto* group = new QWidget(page);
  auto* edit = new QLineEdit(group);
  auto* plain = new QWidget(&owner_);
  EXPECT_EQ(HelpContextOf(edit), 325);
  EXPECT_EQ(HelpContextOf(page), 325);
  EXPECT_EQ(HelpContextOf(plain), 510);
  EXPECT_EQ(HelpContextOf(nullptr), 0);
  // A dialog of the window is a window of its own: no number of the owner's.
  QWidget dialog(&owner_, Qt::Dialog);
  QLineEdit field(&dialog);
  EXPECT_EQ(HelpContextOf(&field), 0);
}

TEST_F(HelpWindowTest, F1AndWhatsThisOpenTheTopicOfTheFocusedControl) {
  InstallHelpKey(*qApp);
  InstallHelpKey(*qApp);
  auto* page = new QWidget(&owner_);
  page->setProperty(kHelpContextProperty, 520);
  auto* edit = new QLineEdit(page);
  edit->setFocus();
  QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
  QApplication::sendEvent(edit, &f1);
  ASSERT_NE(HelpWindow::Current(), nullptr);
  EXPECT_EQ(HelpWindow::Current()->Browser().source(),
            QUrl(kTopicBase + QStringLiteral("drives.html")));
  EXPECT_EQ(HelpWindow::Current()->parentWidget(), &owner_);

  // "What's This?" mode, then a click on the control.
  owner_.setProperty(kHelpContextProperty, 700);
  page->setProperty(kHelpContextProperty, QVariant());
  QWhatsThis::enterWhatsThisMode();
  QMouseEvent click(QEvent::MouseButtonPress, QPointF(1, 1), edit->mapToGlobal(QPointF(1, 1)),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(edit, &click);
  EXPECT_FALSE(QWhatsThis::inWhatsThisMode());
  EXPECT_EQ(HelpWindow::Current()->Browser().source(),
            QUrl(kTopicBase + QStringLiteral("main.html")));

  // A control of a window without a number opens the contents.
  QWidget other;
  QLineEdit field(&other);
  QApplication::sendEvent(&field, &f1);
  EXPECT_EQ(HelpWindow::Current()->Browser().source(),
            QUrl(kTopicBase + QStringLiteral("index.html")));
}

TEST_F(HelpWindowTest, SearchFindsTheOneTopicWithAWord) {
  HelpWindow& window = Open();
  QHelpSearchEngine* search = window.Engine().searchEngine();
  search->queryWidget()->setSearchInput(QStringLiteral("Verbose"));
  // A query before the index exists runs once it is built.
  emit search->queryWidget()->search();
  ASSERT_TRUE(WaitFor(search, &QHelpSearchEngine::searchingFinished));
  const QList<QHelpSearchResult> results = search->searchResults(0, search->searchResultCount());
  ASSERT_EQ(results.size(), 1);
  EXPECT_EQ(results.first().url(), QUrl(kTopicBase + QStringLiteral("main.html")));
}

TEST_F(HelpWindowTest, AHelpThatCannotBeOpenedIsAMessage) {
  // The cache folder cannot be made: a file stands where it should be.
  QFile blocker(cache_.filePath(QStringLiteral("file")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  qputenv("XDG_CACHE_HOME", blocker.fileName().toUtf8());
  ShowHelpTopic(&owner_, 510);
  EXPECT_EQ(HelpWindow::Current(), nullptr);
  ASSERT_EQ(prompter_.Records().size(), 1u);
  EXPECT_EQ(prompter_.Records()[0].kind, MessageKind::Error);
  EXPECT_TRUE(prompter_.Records()[0].text.startsWith(QStringLiteral("The help cannot be copied")));
  prompter_.ClearRecords();
}

TEST_F(HelpWindowTest, ContentsShowEveryTitleWhole) {
  const test::LookGuard look;
  HelpWindow& window = Open();
  ShowHelpContents(&owner_);
  QHelpContentModel* model = window.Engine().contentModel();
  if (model->isCreatingContents() || model->rowCount() == 0) {
    ASSERT_TRUE(WaitFor(model, &QHelpContentModel::contentsCreated));
  }
  QApplication::processEvents();
  QHelpContentWidget* contents = window.Engine().contentWidget();
  int titles = 0;
  std::function<void(const QModelIndex&)> check = [&](const QModelIndex& parent) {
    for (int row = 0; row < model->rowCount(parent); ++row) {
      const QModelIndex index = model->index(row, 0, parent);
      ++titles;
      EXPECT_FALSE(ItemTextIsCut(*contents, index)) << index.data().toString().toStdString();
      check(index);
    }
  };
  check(QModelIndex());
  EXPECT_GT(titles, 15);
}

}  // namespace
}  // namespace tarnwick::test
