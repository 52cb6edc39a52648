// A lab directory opened as a machine: its server's drives, and the lab's shares by UNC path.
#include <gtest/gtest.h>

#include "machine/lab.h"
#include "machine/machine.h"
#include "support/temp_machine_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

class LabMachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.WriteFile("lab.ini",
                   "[Lab]\nDomain=classroom\nServer=LabSrv\nNetlogon=netlogon\nHomes=homes\n");
    dir_.WriteFile("netlogon/CONFIG.POL", "policies");
    dir_.WriteFile("homes/ann/.profiles/user.dat", "");
    dir_.WriteFile("server/machine.ini", "[Drive C]\nType=fixed\nPath=c\n");
    dir_.WriteFile("server/c/WINDOWS/SYSTEM.DAT", "");
    dir_.WriteFile("outside.txt", "");
  }
  fs::path Path(const char* relative) const { return fs::canonical(dir_.Path() / relative); }
  // The MachineError text of opening the lab.
  std::string OpenError() const {
    try {
      Machine::Open(dir_.Path());
    } catch (const MachineError& e) {
      return e.what();
    }
    return "opened";
  }

  TempMachineDir dir_;
};

TEST_F(LabMachineTest, TheServerMachineReachesTheSharesByUncPath) {
  const Machine machine = Machine::Open(dir_.Path());
  EXPECT_EQ(machine.Directory(), fs::canonical(dir_.Path()));
  ASSERT_TRUE(machine.Lab());
  EXPECT_EQ(machine.Lab()->domain, "CLASSROOM");
  EXPECT_EQ(machine.Lab()->server, "LABSRV");
  EXPECT_EQ(machine.WindowsDirectory(), "C:\\WINDOWS");
  EXPECT_EQ(machine.HostPath("C:\\WINDOWS\\SYSTEM.DAT"), Path("server/c/WINDOWS/SYSTEM.DAT"));
  // The shares are no drives of the server: the drive list shows its own.
  ASSERT_EQ(machine.Drives().size(), 1u);

  EXPECT_EQ(LabPolicyFilePath(*machine.Lab()), "\\\\LABSRV\\NETLOGON\\CONFIG.POL");
  EXPECT_EQ(machine.HostPath("\\\\LABSRV\\NETLOGON\\CONFIG.POL"), Path("netlogon/CONFIG.POL"));
  EXPECT_EQ(machine.HostPath("\\\\labsrv\\netlogon\\config.pol"), Path("netlogon/CONFIG.POL"));
  EXPECT_EQ(LabProfileDirectory(*machine.Lab(), "Ann"), "\\\\LABSRV\\ann\\.profiles");
  EXPECT_EQ(machine.HostPath("\\\\LABSRV\\ann\\.profiles\\user.dat"),
            Path("homes/ann/.profiles/user.dat"));
  EXPECT_EQ(machine.HostPath("\\\\LABSRV\\bob\\.profiles"), Path("homes") / "bob" / ".profiles");
  const std::vector<uint8_t> bytes = machine.ReadFile("\\\\LABSRV\\NETLOGON\\CONFIG.POL", 100);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "policies");

  // Nothing leads out of the homes, another server's name reaches nothing, and the homes folder
  // itself is not a folder to replace.
  EXPECT_EQ(machine.LookUp("\\\\LABSRV\\..\\outside.txt").status, PathStatus::Unreachable);
  EXPECT_EQ(machine.LookUp("\\\\OTHER\\ann\\.profiles").status, PathStatus::NoDrive);
  EXPECT_THROW(machine.Hold("\\\\LABSRV\\NETLOGON"), MachineError);
}

TEST_F(LabMachineTest, WhatTheLabLacksIsNamed) {
  fs::remove(dir_.Path() / "netlogon" / "CONFIG.POL");
  EXPECT_NE(OpenError().find((dir_.Path() / "netlogon" / "CONFIG.POL").string() +
                             ": the lab's policy file is missing"),
            std::string::npos)
      << OpenError();
  fs::remove_all(dir_.Path() / "homes");
  EXPECT_NE(OpenError().find("homes: the lab's homes folder does not exist"), std::string::npos)
      << OpenError();
  fs::remove_all(dir_.Path() / "server");
  EXPECT_NE(OpenError().find("server: the lab's server machine does not exist"), std::string::npos)
      << OpenError();
  dir_.WriteFile("lab.ini", "[Lab]\nDomain=CLASSROOM\nServer=LAB SRV\n");
  EXPECT_NE(OpenError().find("lab.ini: [Lab] has no Netlogon="), std::string::npos) << OpenError();
  dir_.WriteFile("lab.ini", "[Lab]\nDomain=CLASSROOM\nServer=LAB%SRV\nNetlogon=n\nHomes=h\n");
  EXPECT_NE(OpenError().find("Server=LAB%SRV holds \"%\""), std::string::npos) << OpenError();
}

TEST(LabNamesTest, AccountNamesSambaAndWindows95BothHold) {
  EXPECT_EQ(AccountNameProblem("ann.smith-2_b"), "");
  EXPECT_EQ(AccountNameProblem("Ann"), "");
  for (const char* name :
       {"ann smith", "ann+b", ".ann", "-ann", "2024", "abcdefghijklmnopqrstu", "ann\xE9"}) {
    EXPECT_NE(AccountNameProblem(name), "") << name;
  }
}

}  // namespace
}  // namespace tarnwick::test
