// The lock of a machine opened from a disk image: the image's own lock.
#include <gtest/gtest.h>

#include <optional>

#include "machine/machine.h"
#include "support/temp_machine_dir.h"
#include "volume/image_tools.h"

namespace tarnwick::test {
namespace {

TEST(ImageMachineLockTest, TheImageHeldByItsVolumeIsTheMachinesLock) {
  const TempMachineDir dir;
  const auto image = dir.Path() / "floppy.img";
  Tool({"mkfs.fat", "-C", image.string(), "1440"});
  {
    const Machine machine = Machine::OpenImage(image);
    const std::optional<MachineLock> lock = MachineLock::TryAcquire(machine);
    EXPECT_TRUE(lock.has_value());
    // A second program is refused at the image, before any lock of its own.
    EXPECT_THROW(Machine::OpenImage(image), MachineError);
  }
  const Machine again = Machine::OpenImage(image);
  EXPECT_TRUE(MachineLock::TryAcquire(again).has_value());
  EXPECT_FALSE(std::filesystem::exists(image.string() + "/tarnwick.lock"));
}

}  // namespace
}  // namespace tarnwick::test
