#include "app/describe.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/run_program.h"
#include "support/temp_machine_dir.h"

namespace tarnwick::test {
namespace {

// An image drive names its image and partition; the policy file is looked for on the image.
TEST(Describe, NamesTheImageAndPartitionOfAnImageDrive) {
  TempMachineDir dir;
  const std::filesystem::path image = dir.Path() / "c.img";
  const ProgramRun made = RunProgram({"mkfs.fat", "-n", "SYSTEM", "-C", image.string(), "2048"});
  ASSERT_EQ(made.status, 0) << made.err;
  std::filesystem::create_directory(dir.Path() / "d");
  dir.WriteFile("machine.ini",
                "[Drive C]\nType=fixed\nImage=c.img\nPartition=0\n[Drive D]\nType=fixed\nPath=d\n");
  const Machine machine = Machine::Open(dir.Path());
  std::string text = Describe(machine);
  EXPECT_NE(text.find("  C:  fixed      image " + image.string() +
                      ", no partition table  label \"SYSTEM\""),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  D:  fixed      " + (dir.Path() / "d").string() + "  no label"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Tarnex.pol (not present)"), std::string::npos) << text;

  ASSERT_TRUE(machine.MakeDirectory("C:\\WINDOWS"));
  machine.WriteFile("C:\\WINDOWS\\Tarnex.pol", std::vector<uint8_t>{'C', 'R', 'E', 'G'});
  text = Describe(machine);
  EXPECT_NE(text.find("Tarnex.pol (present)"), std::string::npos) << text;
}

}  // namespace
}  // namespace tarnwick::test
