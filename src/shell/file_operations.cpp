#include "shell/file_operations.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QLocale>
#include <QProgressDialog>
#include <limits>
#include <memory>

#include "operations/operation_prompter.h"
#include "shell/prompts.h"

namespace fs = std::filesystem;

namespace tarnwick {

namespace {

constexpr int kProgressSteps = 1000;

QString Name(const fs::path& path) {
  return QString::fromStdString(path.filename().string());
}

std::string LocalTime(std::chrono::sys_seconds time) {
  const QDateTime local = QDateTime::fromSecsSinceEpoch(time.time_since_epoch().count());
  return QLocale().toString(local, QLocale::ShortFormat).toStdString();
}

// A progress window that shows only when the copy tells it to: its own timer would put it over a
// question that is waiting for an answer.
class CopyProgress : public QProgressDialog {
 public:
  explicit CopyProgress(QWidget* owner) : QProgressDialog(owner) {
    setMinimumDuration(std::numeric_limits<int>::max());
    // The first value restarts the timer the dialog started when it was made.
    setValue(minimum());
    setWindowTitle(QStringLiteral("Copying..."));
    setWindowModality(Qt::WindowModal);
    setAutoReset(false);
    setAutoClose(false);
    setRange(0, kProgressSteps);
  }
  using QProgressDialog::forceShow;
};

// The copy's questions in the shell's replace box, its progress in a progress window.
class WindowPrompter final : public OperationPrompter {
 public:
  WindowPrompter(QWidget* owner, int showAfterMs) : owner_(owner), showAfterMs_(showAfterMs) {
    running_.start();
  }

  ReplaceAnswer ConfirmReplace(const ReplaceQuestion& question) override {
    const QString text = QString::fromStdString(question.Text(LocalTime));
    // The time a question waits for its answer is no copying time.
    QElapsedTimer waiting;
    waiting.start();
    const ReplaceAnswer answer = Prompter::Current().AskReplace(Parent(), text);
    askingMs_ += waiting.elapsed();
    return answer;
  }

  void Copying(const fs::path& from, const fs::path& to) override {
    Window().setLabelText(QStringLiteral("%1\nFrom '%2' to '%3'")
                              .arg(Name(from), Name(from.parent_path()), Name(to)));
  }

  void Progress(uint64_t done, uint64_t total) override {
    CopyProgress& window = Window();
    if (!window.isVisible() && running_.elapsed() - askingMs_ >= showAfterMs_) window.forceShow();
    window.setValue(static_cast<int>(done * kProgressSteps / total));
  }

  bool Cancelled() override { return progress_ && progress_->wasCanceled(); }

  // Questions and errors belong to the progress window once it shows.
  QWidget* Parent() const {
    if (progress_ && progress_->isVisible()) return progress_.get();
    return owner_;
  }

 private:
  CopyProgress& Window() {
    if (!progress_) progress_ = std::make_unique<CopyProgress>(owner_);
    return *progress_;
  }

  QWidget* owner_;
  int showAfterMs_;
  std::unique_ptr<CopyProgress> progress_;
  QElapsedTimer running_;
  qint64 askingMs_ = 0;
};

// Inside a catch block: a check that stopped the operation in a warning box, any other failure in
// an error box.
void ShowFailure(QWidget* parent) {
  try {
    throw;
  } catch (const FileOperationNotStarted& notStarted) {
    ShowMessage(parent, MessageKind::Warning, QString::fromStdString(notStarted.what()));
  } catch (...) {
    ShowCurrentError(parent);
  }
}

}  // namespace

void CopyDirectoryTree(const Machine& machine, const std::string& source,
                       const std::string& destination, QWidget* owner, int showProgressAfterMs) {
  WindowPrompter prompter(owner, showProgressAfterMs);
  try {
    CopyDirectoryTree(machine, source, destination, prompter);
  } catch (...) {
    ShowFailure(prompter.Parent());
  }
}

void DeleteDirectoryTree(const Machine& machine, const std::string& directory, QWidget* owner) {
  try {
    DeleteDirectoryTree(machine, directory);
  } catch (...) {
    ShowFailure(owner);
  }
}

}  // namespace tarnwick
