#include "controls/help_window.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpIndexWidget>
#include <QHelpLink>
#include <QHelpSearchEngine>
#include <QHelpSearchQueryWidget>
#include <QHelpSearchResultWidget>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QSplitter>
#include <QStandardPaths>
#include <QStyleOptionTabWidgetFrame>
#include <QTabWidget>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWhatsThis>
#include <algorithm>
#include <memory>

#include "controls/error_box.h"
#include "controls/look.h"
#include "shell/prompts.h"

namespace tarnwick {

namespace {

const QString kCollectionName = QStringLiteral("tarnwick.qhc");
const QString kDocumentationName = QStringLiteral("tarnwick.qch");
const QUrl kContentsTopic(QStringLiteral("qthelp://org.tarnwick.help/doc/index.html"));

QPointer<HelpWindow>& OpenWindow() {
  static QPointer<HelpWindow> window;
  return window;
}

// A topic browser that reads qthelp:// pages from the help engine.
class HelpBrowser : public QTextBrowser {
 public:
  HelpBrowser(QHelpEngine& engine, QWidget* parent) : QTextBrowser(parent), engine_(engine) {}

  QVariant loadResource(int type, const QUrl& name) override {
    if (name.scheme() == QLatin1String("qthelp")) return engine_.fileData(name);
    return QTextBrowser::loadResource(type, name);
  }

 private:
  QHelpEngine& engine_;
};

// The engine may write to its collection and keeps the search index beside it, so it works on
// a copy in the cache folder, renewed whenever the documentation file differs.
QString WritableCollection(const QString& source, QString& error) {
  const QFileInfo sourceInfo(source);
  const QFileInfo sourceDocs(sourceInfo.dir().filePath(kDocumentationName));
  if (!sourceInfo.isFile() || !sourceDocs.isFile()) {
    error = QStringLiteral("The help file %1 was not found.").arg(QDir::toNativeSeparators(source));
    return {};
  }
  const QDir cache(QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
                   QStringLiteral("/help"));
  if (!cache.mkpath(QStringLiteral("."))) {
    error = QStringLiteral("The help cannot be copied to %1.").arg(cache.path());
    return {};
  }
  const QFileInfo cachedDocs(cache.filePath(kDocumentationName));
  const bool current = cachedDocs.isFile() && cachedDocs.size() == sourceDocs.size() &&
                       cachedDocs.lastModified() == sourceDocs.lastModified() &&
                       QFileInfo::exists(cache.filePath(kCollectionName));
  if (!current) {
    for (const QString& name : {kCollectionName, kDocumentationName}) {
      const QString target = cache.filePath(name);
      QFile::remove(target);
      QFile copy(sourceInfo.dir().filePath(name));
      if (!copy.copy(target)) {
        error = QStringLiteral("The help cannot be copied to %1: %2")
                    .arg(QDir::toNativeSeparators(target), copy.errorString());
        return {};
      }
      QFile(target).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    QFile docs(cachedDocs.filePath());
    if (docs.open(QIODevice::ReadWrite)) {
      docs.setFileTime(sourceDocs.lastModified(), QFileDevice::FileModificationTime);
    }
  }
  return cache.filePath(kCollectionName);
}

QWidget* HelpOwner(QWidget* owner) {
  if (owner == nullptr) owner = QApplication::activeWindow();
  return owner == nullptr ? nullptr : owner->window();
}

// F1 and the "What's This?" clicks of the whole program.
class HelpKeyFilter : public QObject {
 public:
  using QObject::QObject;

  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr) return false;
    switch (event->type()) {
      case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier) return false;
        OpenHelpFor(widget);
        return true;
      }
      case QEvent::QueryWhatsThis:
        if (HelpContextOf(widget) == 0) return false;
        event->accept();
        return true;
      case QEvent::WhatsThis:
        if (HelpContextOf(widget) == 0) return false;
        QWhatsThis::leaveWhatsThisMode();
        OpenHelpFor(widget);
        return true;
      default:
        return false;
    }
  }

 private:
  static void OpenHelpFor(QWidget* widget) {
    const int context = HelpContextOf(widget);
    if (context == 0) {
      ShowHelpContents(widget);
    } else {
      ShowHelpTopic(widget, context);
    }
  }
};

}  // namespace

int HelpContextOf(const QWidget* widget) {
  for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
    const int context = w->property(kHelpContextProperty).toInt();
    if (context != 0) return context;
    if (w->isWindow()) break;
  }
  return 0;
}

QString HelpCollectionFile() {
  const QDir programDir(QCoreApplication::applicationDirPath());
  const QString installed =
      programDir.filePath(QStringLiteral("../share/tarnwick/") + kCollectionName);
  if (QFileInfo::exists(installed)) return QDir::cleanPath(installed);
  return QStringLiteral(TARNWICK_HELP_COLLECTION);
}

void ShowHelpContents(QWidget* owner) {
  if (HelpWindow* window = HelpWindow::Open(owner)) {
    window->Tabs().setCurrentIndex(0);
    window->ShowTopic(kContentsTopic);
  }
}

void ShowHelpTopic(QWidget* owner, int context) {
  HelpWindow* window = HelpWindow::Open(owner);
  if (window == nullptr) return;
  const QList<QHelpLink> links =
      window->Engine().documentsForIdentifier(QStringLiteral("context-%1").arg(context));
  window->ShowTopic(links.isEmpty() ? kContentsTopic : links.first().url);
}

void InstallHelpKey(QApplication& app) {
  const QString name = QStringLiteral("helpKeyFilter");
  if (app.findChild<QObject*>(name, Qt::FindDirectChildrenOnly) != nullptr) return;
  auto* filter = new HelpKeyFilter(&app);
  filter->setObjectName(name);
  app.installEventFilter(filter);
}

HelpWindow::HelpWindow(QWidget* parent, QHelpEngine* engine)
    : QWidget(parent, Qt::Window), engine_(engine) {
  engine_->setParent(this);
  setObjectName(QStringLiteral("frmHelp"));
  setWindowTitle(QStringLiteral("Tarnwick Help"));
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_QuitOnClose, false);
  resize(640, 440);

  auto* splitter = new QSplitter(this);
  splitter_ = splitter;
  tabs_ = new QTabWidget(splitter);
  browser_ = new HelpBrowser(*engine_, splitter);
  browser_->setObjectName(QStringLiteral("txtTopic"));
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({220, 420});
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(splitter);

  QHelpContentWidget* contents = engine_->contentWidget();
  contents->setHeaderHidden(true);
  tabs_->addTab(contents, QStringLiteral("Contents"));
  ConnectShowingErrors(contents, &QHelpContentWidget::linkActivated, this, &HelpWindow::ShowTopic);
  ShowCutTextsAsToolTips(*contents);
  ConnectShowingErrors(engine_->contentModel(), &QHelpContentModel::contentsCreated, this,
                       [this, contents] {
                         contents->expandAll();
                         FitContents();
                       });

  auto* index = new QWidget;
  auto* indexLayout = new QVBoxLayout(index);
  indexLayout->setContentsMargins(4, 4, 4, 4);
  auto* indexLabel = new QLabel(QStringLiteral("&Type the first few letters of the word:"));
  indexLabel->setWordWrap(true);
  auto* indexFilter = new QLineEdit;
  indexFilter->setObjectName(QStringLiteral("txtIndex"));
  indexLabel->setBuddy(indexFilter);
  QHelpIndexWidget* indexList = engine_->indexWidget();
  indexLayout->addWidget(indexLabel);
  indexLayout->addWidget(indexFilter);
  indexLayout->addWidget(indexList);
  tabs_->addTab(index, QStringLiteral("Index"));
  connect(indexFilter, &QLineEdit::textChanged, indexList,
          [indexList](const QString& text) { indexList->filterIndices(text); });
  connect(indexFilter, &QLineEdit::returnPressed, indexList,
          &QHelpIndexWidget::activateCurrentItem);
  ConnectShowingErrors(indexList, &QHelpIndexWidget::documentActivated, this,
                       [this](const QHelpLink& link) { ShowTopic(link.url); });
  ConnectShowingErrors(indexList, &QHelpIndexWidget::documentsActivated, this,
                       [this](const QList<QHelpLink>& links) {
                         if (!links.isEmpty()) ShowTopic(links.first().url);
                       });

  BuildSearchTab();
  OpenWindow() = this;
}

HelpWindow::~HelpWindow() {
  // The tab pages use the engine's models: they go first.
  delete splitter_;
}

void HelpWindow::FitContents() {
  // The tree view's own width of its column: it is public on the item view.
  QAbstractItemView* contents = engine_->contentWidget();
  QStyleOptionTabWidgetFrame frame;
  frame.initFrom(tabs_);
  const int needed =
      contents->sizeHintForColumn(0) + 2 * contents->frameWidth() +
      contents->verticalScrollBar()->sizeHint().width() +
      tabs_->style()->sizeFromContents(QStyle::CT_TabWidget, &frame, QSize(), tabs_).width();
  const QList<int> sizes = splitter_->sizes();
  const int total = sizes.value(0) + sizes.value(1);
  const int left = std::min(needed, total / 2);
  if (left > sizes.value(0)) splitter_->setSizes({left, total - left});
}

void HelpWindow::BuildSearchTab() {
  QHelpSearchEngine* search = engine_->searchEngine();
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(4, 4, 4, 4);
  QHelpSearchQueryWidget* query = search->queryWidget();
  query->setCompactMode(true);
  layout->addWidget(query);
  layout->addWidget(search->resultWidget(), 1);
  tabs_->addTab(page, QStringLiteral("Search"));

  ConnectShowingErrors(query, &QHelpSearchQueryWidget::search, this, &HelpWindow::Search);
  ConnectShowingErrors(search->resultWidget(), &QHelpSearchResultWidget::requestShowLink, this,
                       &HelpWindow::ShowTopic);
  ConnectShowingErrors(search, &QHelpSearchEngine::indexingFinished, this, [this] {
    indexing_ = false;
    indexed_ = true;
    if (searchPending_) Search();
  });
  // The search index is built at the first use of the tab.
  ConnectShowingErrors(tabs_, &QTabWidget::currentChanged, this, [this, page](int current) {
    if (tabs_->widget(current) != page || indexed_ || indexing_) return;
    indexing_ = true;
    engine_->searchEngine()->reindexDocumentation();
  });
}

void HelpWindow::Search() {
  searchPending_ = !indexed_;
  if (searchPending_) {
    if (!indexing_) {
      indexing_ = true;
      engine_->searchEngine()->reindexDocumentation();
    }
    return;
  }
  QHelpSearchEngine* search = engine_->searchEngine();
  search->search(search->queryWidget()->searchInput());
}

void HelpWindow::ShowTopic(const QUrl& url) {
  browser_->setSource(url);
}

HelpWindow* HelpWindow::Current() {
  return OpenWindow();
}

HelpWindow* HelpWindow::Open(QWidget* owner) {
  QWidget* parent = HelpOwner(owner);
  HelpWindow* window = Current();
  if (window != nullptr) {
    if (parent != window && parent != window->parentWidget()) {
      window->setParent(parent, window->windowFlags());
    }
  } else {
    QString error;
    const QString collection = WritableCollection(HelpCollectionFile(), error);
    if (collection.isEmpty()) {
      ShowMessage(owner, MessageKind::Error, error);
      return nullptr;
    }
    auto engine = std::make_unique<QHelpEngine>(collection);
    if (!engine->setupData()) {
      ShowMessage(owner, MessageKind::Error,
                  QStringLiteral("The help cannot be opened: %1").arg(engine->error()));
      return nullptr;
    }
    window = new HelpWindow(parent, engine.release());
  }
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

}  // namespace tarnwick
