#include "demo/project_icons.h"
#include "demo/demo_machine.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>

#include "formats/ico_file.h"
#include "machine/machine.h"
#include "support/temp_machine_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Both sizes present as 16- or 256-colour images, each with opaque and transparent pixels.
void ExpectGoodIcon(const std::vector<uint8_t>& bytes) {
  const auto dir = ReadIcoDirectory(bytes);
  ASSERT_TRUE(dir);
  ASSERT_EQ(dir->size(), 2u);
  for (int side : {16, 32}) {
    const auto picture = LoadIconPicture(bytes, side);
    ASSERT_TRUE(picture);
    ASSERT_FALSE(picture->isPng);
    EXPECT_EQ(picture->pixels.width, side);
    EXPECT_EQ(picture->pixels.height, side);
    const auto& px = picture->pixels.pixels;
    const auto opaque = std::count_if(px.begin(), px.end(), [](uint32_t p) { return p >> 24; });
    EXPECT_GT(opaque, side * side / 20);
    EXPECT_LE((*dir)[side == 32 ? 0 : 1].bitCount, 8);
  }
}

TEST(ProjectIcons, EveryPictureDecodesAtBothSizes) {
  const auto users = UserIconFiles();
  EXPECT_GE(users.size(), 8u);
  std::set<std::string> names;
  std::set<std::vector<uint8_t>> distinct;
  for (const NamedIconFile& file : users) {
    SCOPED_TRACE(file.fileName);
    ExpectGoodIcon(file.bytes);
    names.insert(file.fileName);
    distinct.insert(file.bytes);
    EXPECT_LE(file.fileName.size(), 12u);  // 8.3
  }
  EXPECT_EQ(names.size(), users.size());
  EXPECT_EQ(distinct.size(), users.size());
  ExpectGoodIcon(DefaultUserIconFile());
  for (StockIcon stock :
       {StockIcon::Document, StockIcon::Program, StockIcon::Folder, StockIcon::LinkOverlay}) {
    ExpectGoodIcon(StockIconFile(stock));
  }
}

TEST(ProjectIcons, InstalledBesideTheProgramWithoutReplacingFiles) {
  TempMachineDir temp;
  const Machine machine = OpenOrCreateMachine(temp.Path() / "m");
  const fs::path program = temp.Path() / "m" / "c" / "TARNEX";
  // A new demo machine has them already.
  EXPECT_EQ(ReadAll(program / "default.ico"), DefaultUserIconFile());
  for (const NamedIconFile& file : UserIconFiles()) {
    EXPECT_EQ(ReadAll(program / "UserIcon" / file.fileName), file.bytes) << file.fileName;
  }
  // An administrator's own file stays, whatever the case of its name; a missing one comes back.
  fs::remove(program / "default.ico");
  std::ofstream(program / "DEFAULT.ICO") << "mine";
  fs::remove(program / "UserIcon" / "Cat.ico");
  std::ofstream(program / "UserIcon" / "Dog.ico") << "mine too";
  InstallProgramIcons(machine);
  EXPECT_FALSE(fs::exists(program / "default.ico"));
  EXPECT_EQ(ReadAll(program / "DEFAULT.ICO").size(), 4u);
  EXPECT_EQ(ReadAll(program / "UserIcon" / "Dog.ico").size(), 8u);
  EXPECT_TRUE(ReadIcoDirectory(ReadAll(program / "UserIcon" / "Cat.ico")));
  // A folder removed altogether is made again.
  fs::remove_all(program / "UserIcon");
  InstallProgramIcons(machine);
  EXPECT_EQ(std::distance(fs::directory_iterator(program / "UserIcon"), fs::directory_iterator()),
            static_cast<long>(UserIconFiles().size()));
}

}  // namespace
}  // namespace tarnwick::test
