// The registry of a machine whose drive C is a FAT volume in a disk image: its files are written
// through the volume so that the tools people use read them, and a file is one file whatever name
// reaches it.
#include <gtest/gtest.h>

#include "machine/machine.h"
#include "registry/registry.h"
#include "support/fat_image_machine.h"
#include "support/policy_test_machine.h"

namespace tarnwick::test {
namespace {

class RegistryOnImage : public ::testing::TestWithParam<ImageKind> {};

TEST_P(RegistryOnImage, WritesHivesThatTheToolsRead) {
  FatImageMachine image(GetParam());
  // Windows keeps its registry files read-only, hidden and system, and rewrites them all the same.
  image.Mtools("mattrib", {"+r", "+h", "+s", "::/WINDOWS/SYSTEM.DAT"});
  const std::string system = Slurp(image.Extract("/WINDOWS/SYSTEM.DAT"));
  const std::string user = Slurp(image.Extract("/WINDOWS/USER.DAT"));
  {
    // The image's own lock is the machine's: nothing is made beside or inside it.
    const std::optional<MachineLock> lock = MachineLock::TryAcquire(image.Get());
    EXPECT_TRUE(lock);
    Registry registry(image.Get());
    RegistryAccessor reg(registry);
    reg.SetRootKey(RootKey::LocalMachine);
    ASSERT_TRUE(reg.OpenKey("Software\\Tarnwick", true));
    reg.WriteString("Set on the image", "yes");
    reg.SetRootKey(RootKey::CurrentUser);
    ASSERT_TRUE(reg.OpenKey("Control Panel\\Desktop", true));
    reg.WriteInteger("Tiles", 7);

    // A key saved as a new file with a long name and attached again; its 8.3 alias and another
    // letter case name the same file, which is in use.
    reg.SetRootKey(RootKey::LocalMachine);
    ASSERT_TRUE(reg.OpenKey("Saved\\Inner", true));
    reg.WriteString("Kept", "in the hive");
    ASSERT_TRUE(reg.SaveKey("Saved", "C:\\WINDOWS\\Saved settings.dat"));
    EXPECT_TRUE(registry.FileExists("c:\\windows\\SAVEDS~1.DAT"));
    ASSERT_TRUE(reg.LoadKey("Hive", "C:\\WINDOWS\\Saved settings.dat"));
    EXPECT_FALSE(reg.LoadKey("Alias", "c:\\windows\\SAVEDS~1.DAT"));
    EXPECT_FALSE(reg.LoadKey("Case", "C:\\Windows\\SAVED SETTINGS.DAT"));
    ASSERT_TRUE(reg.OpenKey("Hive\\Inner", false));
    reg.WriteInteger("Changed", 1);
    EXPECT_TRUE(reg.UnLoadKey("Hive"));
    EXPECT_TRUE(reg.LoadKey("Alias", "c:\\windows\\SAVEDS~1.DAT"));
  }
  image.Close();
  image.ExpectClean();
  EXPECT_EQ(Slurp(image.Extract("/WINDOWS/SYSTEM.DA0")), system);
  EXPECT_EQ(Slurp(image.Extract("/WINDOWS/USER.DA0")), user);
  EXPECT_NE(image.Mtools("mattrib", {"::/WINDOWS/SYSTEM.DAT"}).out.find("SHR"), std::string::npos);

  const ReaderOutput machine = image.ReadRegistryFile("/WINDOWS/SYSTEM.DAT");
  const ExportedValue* set = FindExported(machine, "Software\\Tarnwick", "Set on the image");
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(SzText(set->data), "yes");
  const ReaderOutput users = image.ReadRegistryFile("/WINDOWS/USER.DAT");
  const ExportedValue* tiles = FindExported(users, ".DEFAULT\\Control Panel\\Desktop", "Tiles");
  ASSERT_NE(tiles, nullptr);
  EXPECT_EQ(tiles->data, Dword(7));
  const ReaderOutput hive = image.ReadRegistryFile("/WINDOWS/Saved settings.dat");
  ASSERT_NE(FindExported(hive, "Inner", "Kept"), nullptr);
  ASSERT_NE(FindExported(hive, "Inner", "Changed"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Images, RegistryOnImage,
                         ::testing::Values(ImageKind::Fat16, ImageKind::Fat32,
                                           ImageKind::DynamicVhd),
                         ImageKindName);

}  // namespace
}  // namespace tarnwick::test
