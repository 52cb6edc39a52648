#include "shell/file_view.h"

#include <gtest/gtest.h>

#include "test_machine.h"

namespace tarnwick {
namespace {

QStringList Captions(const TFileView& view) {
  QStringList captions;
  for (int row = 0; row < view.count(); ++row) captions << view.item(row)->text();
  return captions;
}

class FileViewTest : public ::testing::Test {
 protected:
  FileViewTest() {
    machine_.MakeDir("c/ICONS/Sub");
    machine_.Write("c/ICONS/Sub/inner.ico", "");
    machine_.Write("c/ICONS/.hidden", "");
    machine_.Write("c/ICONS/b.txt", "");
    machine_.Write("c/ICONS/a.txt", "");
    view_.SetMachine(machine_.Get());
  }

  test::TestMachine machine_;
  TFileView view_;
};

TEST_F(FileViewTest, ListsFilesInFileSystemOrderWithoutSubdirectories) {
  QStringList expected;
  for (const auto& entry : std::filesystem::directory_iterator(machine_.Host("c/ICONS"))) {
    if (!entry.is_directory()) expected << QString::fromStdString(entry.path().filename().string());
  }
  view_.SetDirectory("C:\\ICONS");
  EXPECT_EQ(Captions(view_), expected);
  EXPECT_EQ(expected.size(), 3);
}

TEST_F(FileViewTest, TrailingBackslashIsDropped) {
  view_.SetDirectory("C:\\ICONS\\");
  EXPECT_EQ(view_.Directory(), "C:\\ICONS");
  const QStringList with = Captions(view_);
  view_.SetDirectory("C:\\ICONS");
  EXPECT_EQ(Captions(view_), with);
}

TEST_F(FileViewTest, MissingDirectoryIsEmptyButKeepsThePath) {
  view_.SetDirectory("C:\\ICONS");
  view_.SetDirectory("C:\\NOWHERE\\");
  EXPECT_EQ(view_.count(), 0);
  EXPECT_TRUE(view_.LargeImages().empty());
  EXPECT_EQ(view_.Directory(), "C:\\NOWHERE");
  view_.SetDirectory("");
  EXPECT_EQ(view_.count(), 0);
  EXPECT_EQ(view_.Directory(), "");
}

}  // namespace
}  // namespace tarnwick
