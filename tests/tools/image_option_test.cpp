// --image on the three programs: a new demo image, and images that cannot be opened, each refused
// with what to do and left as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/temp_machine_dir.h"
#include "volume/image_file.h"
#include "volume/image_tools.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

bool Says(const ProgramRun& run, const std::string& text) {
  return run.err.find(text) != std::string::npos;
}

std::string Checksum(const fs::path& file) {
  return RunProgram({"sha256sum", file.string()}).out;
}

class ImageOptionTest : public ::testing::Test {
 protected:
  // Each program reading the machine of image.
  std::vector<std::vector<std::string>> Readers(const fs::path& image) const {
    return {{TARNWICK_POLICY_PROGRAM, "--image", image.string(), "users"},
            {TARNWICK_REG_PROGRAM, "--image", image.string(), "export"},
            {TARNWICK_PROGRAM, "--image", image.string(), "--describe"}};
  }
  // A demo image made by the program itself.
  fs::path DemoImage(const std::string& name = "win95.img") const {
    const fs::path image = dir_.Path() / name;
    EXPECT_EQ(RunProgram({TARNWICK_PROGRAM, "--image", image.string(), "--describe"}).status, 0);
    return image;
  }

  TempMachineDir dir_;
};

TEST_F(ImageOptionTest, AMissingImageIsCreatedAsADemoAndUsed) {
  const fs::path image = dir_.Path() / "new.img";
  const ProgramRun users =
      RunProgram({TARNWICK_POLICY_PROGRAM, "--image", image.string(), "users"});
  EXPECT_EQ(users.status, 0) << users.err;
  EXPECT_TRUE(Says(users, "creating a new demo disk image")) << users.err;
  ASSERT_TRUE(fs::is_regular_file(image));

  const ProgramRun add =
      RunProgram({TARNWICK_POLICY_PROGRAM, "--image", image.string(), "add-user", "ann"});
  EXPECT_EQ(add.status, 0) << add.err;
  EXPECT_FALSE(Says(add, "creating")) << add.err;
  const ProgramRun show =
      RunProgram({TARNWICK_POLICY_PROGRAM, "--image", image.string(), "show", "ann"});
  EXPECT_EQ(show.status, 0) << show.err;
  EXPECT_NE(show.out.find("ann"), std::string::npos) << show.out;
  const ProgramRun exported = RunProgram(
      {TARNWICK_REG_PROGRAM, "--image", image.string(), "export", "HKEY_LOCAL_MACHINE\\Network"});
  EXPECT_EQ(exported.status, 0) << exported.err;
  EXPECT_NE(exported.out.find("\"username\"=\"Owner\""), std::string::npos) << exported.out;
}

TEST_F(ImageOptionTest, ImagesThatCannotBeOpenedAreRefusedWithWhatToDoAndKept) {
  const fs::path qcow2 = dir_.Path() / "win95.qcow2";
  Tool({"qemu-img", "create", "-q", "-f", "qcow2", qcow2.string(), "64M"});
  const fs::path damaged = DemoImage("damaged.img");
  Patch(damaged, 63 * 512 + 11, {0, 0});  // the boot sector's sector size
  const fs::path busy = DemoImage("busy.img");
  const ImageFile emulator(busy, ImageFile::Mode::ReadWrite);  // an emulator running it

  const std::pair<fs::path, std::string> cases[] = {
      {qcow2, "qemu-img convert -O vpc \"" + qcow2.string() + "\" \"" +
                  (dir_.Path() / "win95.vhd").string() + "\""},
      {damaged, "damaged.img, partition 1 is damaged"},
      {busy, "Shut the emulator down first."},
  };
  for (const auto& [image, says] : cases) {
    const std::string before = Checksum(image);
    for (const std::vector<std::string>& args : Readers(image)) {
      const ProgramRun run = RunProgram(args);
      EXPECT_EQ(run.status, 1) << args[0];
      EXPECT_TRUE(Says(run, says)) << args[0] << ": " << run.err;
    }
    EXPECT_EQ(Checksum(image), before) << image;
  }
}

TEST_F(ImageOptionTest, DescribeNamesTheImageAndFindsItsPolicyFile) {
  const fs::path image = DemoImage();
  const std::string drive =
      "C:  fixed      image " + image.string() + ", first FAT partition  label \"SYSTEM\"  serial ";
  const ProgramRun before = RunProgram(Readers(image)[2]);
  EXPECT_NE(before.out.find("Disk image:        " + image.string() + "\n"), std::string::npos)
      << before.out;
  EXPECT_NE(before.out.find(drive), std::string::npos) << before.out;
  EXPECT_NE(before.out.find("Tarnex.pol (not present)"), std::string::npos) << before.out;

  const fs::path policy = dir_.Path() / "Tarnex.pol";
  WriteText(policy, "");
  Tool({"mcopy", "-i", image.string() + "@@32256", policy.string(), "::/WINDOWS/Tarnex.pol"});
  const ProgramRun after = RunProgram(Readers(image)[2]);
  EXPECT_NE(after.out.find("Tarnex.pol (present)"), std::string::npos) << after.out;

  // A file manager's "Open With" passes the image alone.
  const ProgramRun opened = RunProgram({TARNWICK_PROGRAM, image.string(), "--describe"});
  EXPECT_EQ(opened.status, 0) << opened.err;
  EXPECT_NE(opened.out.find(drive), std::string::npos) << opened.out;
}

TEST_F(ImageOptionTest, ImageAndMachineDirectoryTogetherAreRefused) {
  const fs::path image = dir_.Path() / "win95.img";
  const std::string machine = (dir_.Path() / "machine").string();
  EXPECT_EQ(RunProgram(
                {TARNWICK_POLICY_PROGRAM, "--image", image.string(), "--machine", machine, "users"})
                .status,
            2);
  EXPECT_EQ(
      RunProgram({TARNWICK_REG_PROGRAM, "--machine", machine, "--image", image.string(), "export"})
          .status,
      2);
  const ProgramRun gui =
      RunProgram({TARNWICK_PROGRAM, "--machine", machine, image.string(), "--describe"});
  EXPECT_EQ(gui.status, 1);
  EXPECT_TRUE(Says(gui, "give one machine")) << gui.err;
  EXPECT_FALSE(fs::exists(image));
  EXPECT_FALSE(fs::exists(machine));
}

}  // namespace
}  // namespace tarnwick::test
