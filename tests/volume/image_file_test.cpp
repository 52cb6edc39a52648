// Image files: the locks that keep Tarnwick and an emulator from sharing an image, and the
// bounds of reads and writes.
#include "volume/image_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <array>
#include <string>

#include "support/temp_machine_dir.h"
#include "volume/image_tools.h"

namespace tarnwick {
namespace {

class ImageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = dir_.Path() / "disk.img";
    test::Tool({"truncate", "-s", "1M", image_.string()});
  }

  void ExpectBusy(ImageFile::Mode mode) {
    try {
      ImageFile file(image_, mode);
      ADD_FAILURE() << "a held image was opened";
    } catch (const ImageBusyError& error) {
      EXPECT_NE(std::string(error.what()).find("Shut the emulator down first."), std::string::npos);
      EXPECT_NE(std::string(error.what()).find(image_.string()), std::string::npos);
    }
  }

  test::TempMachineDir dir_;
  std::filesystem::path image_;
};

TEST_F(ImageFileTest, ReadWriteOpenHoldsTheImageAlone) {
  {
    ImageFile held(image_, ImageFile::Mode::ReadWrite);
    ExpectBusy(ImageFile::Mode::ReadWrite);
    ExpectBusy(ImageFile::Mode::ReadOnly);
  }
  ImageFile reader(image_, ImageFile::Mode::ReadOnly);
  ImageFile otherReader(image_, ImageFile::Mode::ReadOnly);
  ExpectBusy(ImageFile::Mode::ReadWrite);
}

// QEMU holds shared byte locks: 100 and up for the permissions it uses, 101 for writing.
TEST_F(ImageFileTest, RefusesAnImageQemuHolds) {
  const int fd = ::open(image_.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  auto lockByte = [&](off_t byte) {
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);
  };
  lockByte(100);
  ExpectBusy(ImageFile::Mode::ReadWrite);
  { ImageFile reader(image_, ImageFile::Mode::ReadOnly); }  // QEMU only reads it
  lockByte(101);
  ExpectBusy(ImageFile::Mode::ReadOnly);
  ::close(fd);
  ImageFile file(image_, ImageFile::Mode::ReadWrite);
}

TEST_F(ImageFileTest, ReadsAndWritesStayInsideTheFile) {
  ImageFile file(image_, ImageFile::Mode::ReadWrite);
  EXPECT_EQ(file.Size(), 1024u * 1024);
  const std::array<uint8_t, 4> data{1, 2, 3, 4};
  file.Write(file.Size() - 4, data);
  EXPECT_THROW(file.Write(file.Size() - 3, data), BlockDeviceError);
  EXPECT_THROW(file.Write(~uint64_t{0} - 1, data), BlockDeviceError);
  std::array<uint8_t, 4> back{};
  EXPECT_THROW(file.Read(file.Size() - 3, back), BlockDeviceError);
  file.WriteExtending(file.Size() + 508, data);
  EXPECT_EQ(file.Size(), 1024u * 1024 + 512);
  file.Read(file.Size() - 4, back);
  EXPECT_EQ(back, data);
  file.Flush();
}

TEST_F(ImageFileTest, ReadOnlyImageRefusesWrites) {
  ImageFile file(image_, ImageFile::Mode::ReadOnly);
  EXPECT_TRUE(file.ReadOnly());
  const std::array<uint8_t, 1> data{1};
  EXPECT_THROW(file.Write(0, data), BlockDeviceError);
  EXPECT_THROW(file.WriteExtending(file.Size(), data), BlockDeviceError);
  EXPECT_THROW(ImageFile(dir_.Path() / "missing.img", ImageFile::Mode::ReadOnly), BlockDeviceError);
  EXPECT_THROW(ImageFile(dir_.Path(), ImageFile::Mode::ReadOnly), BlockDeviceError);
}

}  // namespace
}  // namespace tarnwick
