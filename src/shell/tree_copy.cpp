#include "shell/tree_copy.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProgressDialog>
#include <algorithm>
#include <limits>
#include <span>
#include <system_error>
#include <vector>

#include "machine/atomic_file.h"
#include "machine/host_dir.h"
#include "machine/win_path.h"
#include "shell/file_operations.h"
#include "shell/prompts.h"

namespace fs = std::filesystem;

namespace tarnwick {

namespace {

constexpr int kProgressSteps = 1000;
constexpr qint64 kChunk = 1 << 20;

QString Name(const fs::path& path) {
  return QString::fromStdString(path.filename().string());
}

QString Q(const fs::path& path) {
  return QString::fromStdString(path.string());
}

std::vector<fs::path> SortedEntries(const fs::path& dir, std::error_code& ec) {
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    entries.push_back(it->path());
  }
  std::sort(entries.begin(), entries.end(), [](const fs::path& a, const fs::path& b) {
    return UpperAscii(a.filename().string()) < UpperAscii(b.filename().string());
  });
  return entries;
}

// The entry of dir that Windows takes for name.
std::optional<fs::path> FindEntry(const fs::path& dir, const fs::path& name) {
  const std::optional<std::string> entry = FindEntryIgnoringCase(dir, name.string());
  if (!entry) return std::nullopt;
  return dir / *entry;
}

// Progress units: every file's bytes plus one, so that empty files count too.
uint64_t UnitsBelow(const fs::path& dir) {
  uint64_t units = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec) && !it->is_symlink(ec)) units += it->file_size(ec) + 1;
  }
  return units;
}

QString Describe(const QFileInfo& file) {
  return QStringLiteral("    %1 bytes\n    modified on %2")
      .arg(file.size())
      .arg(QLocale().toString(file.lastModified(), QLocale::ShortFormat));
}

}  // namespace

// A progress window that shows only when the copy tells it to: its own timer would put it over a
// question that is waiting for an answer.
class CopyProgress : public QProgressDialog {
 public:
  explicit CopyProgress(QWidget* owner) : QProgressDialog(owner) {
    setMinimumDuration(std::numeric_limits<int>::max());
    // The first value restarts the timer the dialog started when it was made.
    setValue(minimum());
  }
  using QProgressDialog::forceShow;
};

TreeCopy::TreeCopy(QWidget* owner, int showAfterMs) : owner_(owner), showAfterMs_(showAfterMs) {}

TreeCopy::~TreeCopy() = default;

int TreeCopy::Run(const fs::path& source, const fs::path& destination) {
  std::error_code ec;
  destinationRoot_ = fs::weakly_canonical(destination, ec);
  if (fs::equivalent(source, destination, ec)) {
    // Copying the contents onto themselves would truncate every file.
    const std::vector<fs::path> entries = SortedEntries(source, ec);
    if (entries.empty()) return kFileOpSuccess;
    return Fail(kFileOpSameFile, QStringLiteral("Cannot copy %1: The source and destination file "
                                                "names are the same.")
                                     .arg(Name(entries.front())));
  }
  totalUnits_ = std::max<uint64_t>(UnitsBelow(source), 1);
  progress_ = std::make_unique<CopyProgress>(owner_);
  progress_->setWindowTitle(QStringLiteral("Copying..."));
  progress_->setWindowModality(Qt::WindowModal);
  progress_->setAutoReset(false);
  progress_->setAutoClose(false);
  progress_->setRange(0, kProgressSteps);
  askingMs_ = 0;
  running_.start();
  const int result = CopyContents(source, destination);
  progress_.reset();
  return result;
}

template <typename Question>
auto TreeCopy::Ask(Question question) {
  QElapsedTimer waiting;
  waiting.start();
  const auto answer = question();
  askingMs_ += waiting.elapsed();
  return answer;
}

int TreeCopy::CopyContents(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  const std::vector<fs::path> entries = SortedEntries(from, ec);
  if (ec) {
    return Fail(kFileOpFailed, QStringLiteral("Cannot copy %1: Cannot read from the source "
                                              "folder.")
                                   .arg(Name(from)));
  }
  for (const fs::path& entry : entries) {
    if (progress_->wasCanceled()) return kFileOpCancelled;
    const fs::file_status status = fs::symlink_status(entry, ec);
    int result = kFileOpSuccess;
    if (fs::is_directory(status)) {
      result = CopyFolder(entry, to);
    } else if (fs::is_regular_file(status)) {
      result = CopyFile(entry, to);
    }
    // Symbolic links and special files are nothing Windows can see; they are left out.
    if (result != kFileOpSuccess) return result;
  }
  return kFileOpSuccess;
}

int TreeCopy::CopyFolder(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (IsWithin(destinationRoot_, fs::weakly_canonical(from, ec))) {
    return Fail(kFileOpDestinationInSource,
                QStringLiteral("Cannot copy %1: The destination folder is a subfolder of the "
                               "source folder.")
                    .arg(Name(from)));
  }
  fs::path target = to / from.filename();
  if (const auto existing = FindEntry(to, from.filename())) {
    target = *existing;
    if (!fs::is_directory(fs::symlink_status(target, ec))) {
      return Fail(kFileOpFailed, QStringLiteral("Cannot create or replace %1: A file with the "
                                                "name you specified already exists.")
                                     .arg(Name(target)));
    }
    if (!mergeAllFolders_) {
      const ReplaceAnswer answer = Ask([&] {
        return Prompter::Current().AskReplace(
            Parent(),
            QStringLiteral("This folder already contains a folder named '%1'.\n\nIf the files "
                           "in the existing folder have the same name as files in the folder you "
                           "are copying, they will be replaced. Do you still want to copy the "
                           "folder?")
                .arg(Name(target)));
      });
      if (answer == ReplaceAnswer::Cancel) return kFileOpCancelled;
      if (answer == ReplaceAnswer::No)
        return Advance(UnitsBelow(from)) ? kFileOpSuccess : kFileOpCancelled;
      mergeAllFolders_ = answer == ReplaceAnswer::YesToAll;
    }
  } else if (const int error = MakeDirectoryAt(HoldParentNoFollow(target)); error != 0) {
    // Made in the folder that was checked: a link swapped in meanwhile is refused.
    return Fail(kFileOpFailed,
                QStringLiteral("Cannot create the folder %1: %2.")
                    .arg(Name(target), QString::fromStdString(WalkErrorText(error))));
  }
  return CopyContents(from, target);
}

int TreeCopy::CopyFile(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  const uint64_t size = fs::file_size(from, ec);
  fs::path target = to / from.filename();
  if (const auto existing = FindEntry(to, from.filename())) {
    target = *existing;
    if (fs::is_directory(fs::symlink_status(target, ec))) {
      return Fail(kFileOpFailed, QStringLiteral("Cannot create or replace %1: A folder with the "
                                                "name you specified already exists.")
                                     .arg(Name(target)));
    }
    if (fs::equivalent(from, target, ec)) {
      return Fail(kFileOpSameFile, QStringLiteral("Cannot copy %1: The source and destination "
                                                  "file names are the same.")
                                       .arg(Name(from)));
    }
    if (!replaceAllFiles_) {
      const ReplaceAnswer answer = Ask([&] {
        return Prompter::Current().AskReplace(
            Parent(),
            QStringLiteral("This folder already contains a file named '%1'.\n\nWould "
                           "you like to replace the existing file\n\n%2\n\nwith this "
                           "one?\n\n%3")
                .arg(Name(target), Describe(QFileInfo(Q(target))), Describe(QFileInfo(Q(from)))));
      });
      if (answer == ReplaceAnswer::Cancel) return kFileOpCancelled;
      if (answer == ReplaceAnswer::No) return Advance(size + 1) ? kFileOpSuccess : kFileOpCancelled;
      replaceAllFiles_ = answer == ReplaceAnswer::YesToAll;
    }
  }

  progress_->setLabelText(
      QStringLiteral("%1\nFrom '%2' to '%3'").arg(Name(from), Name(from.parent_path()), Name(to)));
  QFile in(Q(from));
  if (!in.open(QIODevice::ReadOnly)) {
    return Fail(kFileOpFailed,
                QStringLiteral("Cannot copy %1: Cannot read from the source file or disk.")
                    .arg(Name(from)));
  }
  // The whole copy is written at once into the folder that was checked, replacing a link in its
  // place, never writing through it: a link may lead off the drive.
  QByteArray bytes;
  for (;;) {
    const QByteArray chunk = in.read(kChunk);
    if (chunk.isEmpty()) break;
    bytes += chunk;
    if (!Advance(static_cast<uint64_t>(chunk.size()))) return kFileOpCancelled;
  }
  if (in.error() != QFileDevice::NoError) {
    return Fail(kFileOpFailed,
                QStringLiteral("Cannot copy %1: %2").arg(Name(from), in.errorString()));
  }
  const HeldPath held = HoldParentNoFollow(target);
  try {
    WriteFileAtomically(
        held, std::span(reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size()));
  } catch (const FileWriteError& e) {
    return Fail(
        kFileOpFailed,
        QStringLiteral("Cannot copy %1: %2").arg(Name(from), QString::fromStdString(e.what())));
  }
  // The copy keeps the source's write time, as the shell's copy does.
  struct stat source {};
  if (::stat(from.c_str(), &source) == 0) {
    const timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
    ::utimensat(held.dir.Get(), held.name.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
  return Advance(1) ? kFileOpSuccess : kFileOpCancelled;
}

bool TreeCopy::Advance(uint64_t units) {
  doneUnits_ = std::min(doneUnits_ + units, totalUnits_);
  if (!progress_->isVisible() && running_.elapsed() - askingMs_ >= showAfterMs_) {
    progress_->forceShow();
  }
  progress_->setValue(static_cast<int>(doneUnits_ * kProgressSteps / totalUnits_));
  return !progress_->wasCanceled();
}

QWidget* TreeCopy::Parent() const {
  if (progress_ && progress_->isVisible()) return progress_.get();
  return owner_;
}

int TreeCopy::Fail(int result, const QString& text) {
  Ask([&] { return ShowMessage(Parent(), MessageKind::Error, text); });
  return result;
}

}  // namespace tarnwick
