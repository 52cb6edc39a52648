#include "policy/password_store.h"

#include <gtest/gtest.h>

#include "policy/policy_store.h"
#include "policy/scramble.h"
#include "support/independent_readers.h"
#include "support/policy_test_machine.h"

namespace tarnwick {
namespace {

TEST(ScrambleTest, KnownTextWithTheProgramSeed) {
  EXPECT_EQ(ScrambleText("Tarnwick", kScrambleSeed), "5S1/Q\x16\xF2w");
  EXPECT_EQ(UnscrambleText("5S1/Q\x16\xF2w", kScrambleSeed), "Tarnwick");
  EXPECT_EQ(ScrambleText("", kScrambleSeed), "");
  EXPECT_EQ(UnscrambleText("", kScrambleSeed), "");
}

TEST(ScrambleTest, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(UnscrambleText(ScrambleText(one, kScrambleSeed), kScrambleSeed), one) << b;
    EXPECT_EQ(UnscrambleText(ScrambleText("x" + one + "y", kScrambleSeed), kScrambleSeed),
              "x" + one + "y")
        << b;
    all.push_back(static_cast<char>(b));
  }
  const std::string scrambled = ScrambleText(all + all, kScrambleSeed);
  EXPECT_EQ(scrambled.size(), 512u);
  EXPECT_NE(scrambled, all + all);
  EXPECT_EQ(UnscrambleText(scrambled, kScrambleSeed), all + all);
  EXPECT_EQ(UnscrambleText(ScrambleText(all, 1), 1), all);
}

class PasswordStoreTest : public ::testing::Test {
 protected:
  PasswordStoreTest() { machine_.Store().LoadPolicyFile(); }
  ~PasswordStoreTest() override { machine_.Store().UnloadPolicyFile(); }

  std::optional<RegValue> Mode() { return machine_.Value("TARNEX\\Config", "Mode"); }

  testing::PolicyMachine machine_;
};

TEST_F(PasswordStoreTest, StoredAsScrambledTextAndReadBack) {
  EXPECT_EQ(ReadStoredPassword(machine_.Store()), "");
  StorePassword(machine_.Store(), " Secret ");
  ASSERT_TRUE(Mode());
  EXPECT_EQ(Mode()->type, kRegSz);
  EXPECT_EQ(testing::SzText(Mode()->data), ScrambleText(" Secret ", kScrambleSeed));
  EXPECT_EQ(ReadStoredPassword(machine_.Store()), " Secret ");
  StorePassword(machine_.Store(), "");
  EXPECT_EQ(testing::SzText(Mode()->data), "");
  EXPECT_EQ(ReadStoredPassword(machine_.Store()), "");
}

// "a" scrambles to a zero byte, which a REG_SZ would cut off.
TEST_F(PasswordStoreTest, PasswordWithAZeroScrambledByteSurvives) {
  ASSERT_EQ(ScrambleText("a", kScrambleSeed)[0], '\0');
  StorePassword(machine_.Store(), "abc");
  ASSERT_TRUE(Mode());
  EXPECT_EQ(Mode()->type, kRegBinary);
  EXPECT_EQ(Mode()->data.size(), 3u);
  EXPECT_EQ(ReadStoredPassword(machine_.Store()), "abc");
  machine_.Store().UnloadPolicyFile();
  const testing::ReaderOutput file = testing::ReadWithCregexport(machine_.PolicyFile());
  ASSERT_TRUE(file.ok()) << file.diagnostics;
  const testing::ExportedValue* mode = testing::FindExported(file, "Config", "Mode");
  ASSERT_NE(mode, nullptr);
  EXPECT_EQ(mode->type, kRegBinary);
  machine_.Store().LoadPolicyFile();
  EXPECT_EQ(ReadStoredPassword(machine_.Store()), "abc");
  StorePassword(machine_.Store(), "Tarnwick");
  EXPECT_EQ(Mode()->type, kRegSz);
  EXPECT_EQ(ReadStoredPassword(machine_.Store()), "Tarnwick");
}

TEST_F(PasswordStoreTest, ValueStoredTheOldWayIsRead) {
  const std::string scrambled = ScrambleText("Old", kScrambleSeed);
  machine_.Put("TARNEX\\Config", "Mode", kRegSz, testing::Sz(scrambled));
  EXPECT_EQ(ReadStoredPassword(machine_.Store()), "Old");
  machine_.Put("TARNEX\\Config", "Mode", kRegDword, testing::Dword(1));
  EXPECT_THROW(ReadStoredPassword(machine_.Store()), RegistryError);
}

}  // namespace
}  // namespace tarnwick
