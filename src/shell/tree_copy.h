// Copying a directory's contents into another the way the shell's copy does it.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <memory>

class QWidget;

namespace tarnwick {

class CopyProgress;

class TreeCopy {
 public:
  // The progress window appears once the copy has run for showAfterMs, not counting the time
  // its questions wait for an answer; it never shows while one is asked.
  explicit TreeCopy(QWidget* owner, int showAfterMs = 1000);
  ~TreeCopy();
  TreeCopy(const TreeCopy&) = delete;
  TreeCopy& operator=(const TreeCopy&) = delete;

  // Copies everything inside source into destination (existing host directories), merging
  // folders and asking before replacing. Returns one of the kFileOp results.
  int Run(const std::filesystem::path& source, const std::filesystem::path& destination);

 private:
  int CopyContents(const std::filesystem::path& from, const std::filesystem::path& to);
  int CopyFolder(const std::filesystem::path& from, const std::filesystem::path& to);
  int CopyFile(const std::filesystem::path& from, const std::filesystem::path& to);
  bool Advance(uint64_t units);  // false once the user pressed Cancel
  // Questions and errors belong to the progress window once it shows.
  QWidget* Parent() const;
  // Runs a question or message; the time it waits is not copying time.
  template <typename Question>
  auto Ask(Question question);
  int Fail(int result, const QString& text);

  QWidget* owner_;
  int showAfterMs_;
  std::filesystem::path destinationRoot_;
  std::unique_ptr<CopyProgress> progress_;
  QElapsedTimer running_;
  qint64 askingMs_ = 0;
  uint64_t totalUnits_ = 0;
  uint64_t doneUnits_ = 0;
  bool replaceAllFiles_ = false;
  bool mergeAllFolders_ = false;
};

}  // namespace tarnwick
