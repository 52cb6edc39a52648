// The policy store on a machine whose drive C is a FAT volume in a disk image: the policy file and
// the profiles' user.dat are written through the volume and read back by the tools people use, and
// a read-only policy file refuses changes as it does on a host directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "policy/policy_store.h"
#include "policy/user.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "support/fat_image_machine.h"
#include "support/policy_test_machine.h"

namespace tarnwick::test {
namespace {

const std::string kExplorer = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";

class PolicyOnImage : public ::testing::TestWithParam<ImageKind> {};

TEST_P(PolicyOnImage, AccountsAndPoliciesLandInFilesTheToolsRead) {
  FatImageMachine image(GetParam());
  {
    Registry registry(image.Get());
    PolicyStore store(registry);
    const AttachedPolicyFile attached{store};
    TUsers(store).AddUser("ann").SetNoRun(1);
  }
  // The next run attaches the file the first one made and writes its changes into it.
  {
    Registry registry(image.Get());
    PolicyStore store(registry);
    AttachedPolicyFile attached{store};
    TUsers users{store};
    ASSERT_EQ(users.Count(), 1u);
    EXPECT_EQ(users[0].NoRun(), 1);
    users[0].SetNoDrives(4);
    users.AddUser("Bartholomew Longname").SetNoRun(1);
    attached.Detach();
  }
  image.Close();
  image.ExpectClean();

  const ReaderOutput policy = image.ReadRegistryFile("/WINDOWS/Tarnex.pol");
  for (const auto& [user, name, value] : {std::tuple{"ann", "NoRun", 1},
                                          {"ann", "NoDrives", 4},
                                          {"Bartholomew Longname", "NoRun", 1}}) {
    const ExportedValue* found =
        FindExported(policy, "Users\\" + std::string(user) + kExplorer, name);
    ASSERT_NE(found, nullptr) << user << " " << name;
    EXPECT_EQ(found->data, Dword(value)) << user << " " << name;
  }
  const ReaderOutput system = image.ReadRegistryFile("/WINDOWS/SYSTEM.DAT");
  EXPECT_FALSE(HasExportedKey(system, "TARNEX"));
  const ExportedValue* profile = FindExported(
      system, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ProfileList\\Bartholomew Longname",
      "ProfileImagePath");
  ASSERT_NE(profile, nullptr);
  EXPECT_EQ(SzText(profile->data), "C:\\WINDOWS\\Profiles\\Bartholomew Longname");
  // Each profile holds the default user's tree in its user.dat; the long name has its alias.
  for (const std::string name : {"ann", "Bartholomew Longname"}) {
    const ReaderOutput user = image.ReadRegistryFile("/WINDOWS/Profiles/" + name + "/user.dat");
    EXPECT_FALSE(user.keys.empty()) << name;
  }
  EXPECT_NE(image.Mtools("mdir", {"::/WINDOWS/Profiles"}).out.find("BARTHO~1"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Images, PolicyOnImage,
                         ::testing::Values(ImageKind::Fat16, ImageKind::Fat32,
                                           ImageKind::DynamicVhd),
                         ImageKindName);

// Attaches the policy file of a run and tries to change ann's policies in it; returns why the
// change failed.
std::string RefusedChange(Registry& registry) {
  PolicyStore store(registry);
  AttachedPolicyFile attached{store};
  TUsers users{store};
  EXPECT_EQ(users.Count(), 1u);
  std::string why;
  try {
    users[0].SetNoDrives(4);
    ADD_FAILURE() << "changed a read-only policy file";
  } catch (const RegistryError& error) {
    why = error.what();
  }
  EXPECT_THROW(attached.Detach(), PolicyFileError);
  return why;
}

TEST(ReadOnlyPolicyFile, RefusesChangesOnAnImageAsOnAHostDirectory) {
  namespace fs = std::filesystem;
  PolicyMachine host;
  {
    const AttachedPolicyFile attached{host.Store()};
    TUsers(host.Store()).AddUser("ann").SetNoDrives(1);
  }
  fs::permissions(host.PolicyFile(), fs::perms::owner_write | fs::perms::group_write,
                  fs::perm_options::remove);
  const std::string hostFile = Slurp(host.PolicyFile());
  host.Restart();
  const std::string onHost = RefusedChange(host.GetRegistry());
  EXPECT_NE(onHost.find("read-only"), std::string::npos) << onHost;
  EXPECT_EQ(Slurp(host.PolicyFile()), hostFile);

  FatImageMachine image(ImageKind::Fat16);
  {
    Registry registry(image.Get());
    PolicyStore store(registry);
    const AttachedPolicyFile attached{store};
    TUsers(store).AddUser("ann").SetNoDrives(1);
  }
  image.Close();
  image.Mtools("mattrib", {"+r", "::/WINDOWS/Tarnex.pol"});
  const std::string imageFile = Slurp(image.Extract("/WINDOWS/Tarnex.pol"));
  {
    Registry registry(image.Get());
    const std::string onImage = RefusedChange(registry);
    EXPECT_NE(onImage.find("read-only"), std::string::npos) << onImage;
  }
  image.Close();
  image.ExpectClean();
  EXPECT_EQ(Slurp(image.Extract("/WINDOWS/Tarnex.pol")), imageFile);
}

}  // namespace
}  // namespace tarnwick::test
