#include "policy/restrictions.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

#include "base/text.h"
#include "policy/policy_store.h"
#include "policy/user.h"
#include "support/independent_readers.h"
#include "support/policy_test_machine.h"

namespace tarnwick::test {
namespace {

using test::Dword;

// (upper-case key path, value name) -> data of every value below one user's key.
using Values = std::map<std::pair<std::string, std::string>, std::vector<uint8_t>>;

Values UserValues(const test::ReaderOutput& output, const std::string& user) {
  const std::string prefix = UpperAscii("Users\\" + user + "\\");
  Values values;
  for (const test::ExportedKey& key : output.keys) {
    const std::string path = UpperAscii(key.path);
    if (!path.starts_with(prefix)) continue;
    for (const test::ExportedValue& value : key.values) {
      EXPECT_EQ(value.type, kRegDword) << key.path << " " << value.name;
      values[{path.substr(prefix.size()), value.name}] = value.data;
    }
  }
  return values;
}

// The values a restriction claims to write, its cascade's included, all holding v.
void AddClaimed(const RestrictionInfo& restriction, uint32_t v, Values& values) {
  for (std::string_view name : restriction.valueNames) {
    values[{UpperAscii(restriction.key), std::string(name)}] = Dword(v);
  }
  for (RestrictionId next : restriction.cascade) AddClaimed(GetRestriction(next), v, values);
}

// Each restriction set alone on a user of its own, once by its setter and once as a switch sets
// it (with its companion): the independent readers find exactly the values it claims, and the
// user reads back what was set.
TEST(RestrictionsTest, EveryRestrictionWritesTheValuesItClaimsAndReadsBack) {
  test::PolicyMachine machine;
  const auto setUser = [](const RestrictionInfo& r) { return "set" + std::string(r.name); };
  const auto applyUser = [](const RestrictionInfo& r) { return "apply" + std::string(r.name); };
  const auto expected = [](const RestrictionInfo& restriction, bool withCompanion, uint32_t v) {
    Values values;
    AddClaimed(restriction, v, values);
    if (withCompanion && restriction.companion) {
      AddClaimed(GetRestriction(*restriction.companion), v, values);
    }
    return values;
  };
  const auto setAll = [&](bool on) {
    for (const RestrictionInfo& restriction : Restrictions()) {
      TUser(machine.Store(), setUser(restriction)).SetRestriction(restriction.id, on ? 1 : 0);
      TUser applied(machine.Store(), applyUser(restriction));
      const RestrictionSetting setting[] = {{restriction.id, on}};
      ApplyRestrictions(applied, setting);
      EXPECT_EQ(applied.Restriction(restriction.id), on ? 1 : 0) << restriction.name;
      if (restriction.companion) {
        EXPECT_EQ(applied.Restriction(*restriction.companion), on ? 1 : 0) << restriction.name;
      }
      for (RestrictionId next : restriction.cascade) {
        EXPECT_EQ(applied.Restriction(next), on ? 1 : 0) << restriction.name;
      }
    }
  };
  for (const bool on : {true, false}) {
    machine.Store().LoadPolicyFile();
    setAll(on);
    machine.Store().UnloadPolicyFile();
    for (const auto& output : {test::ReadWithCregexport(machine.PolicyFile()),
                               test::ReadWithParseWin32Registry(machine.PolicyFile())}) {
      ASSERT_TRUE(output.ok()) << output.diagnostics;
      for (const RestrictionInfo& restriction : Restrictions()) {
        EXPECT_EQ(UserValues(output, setUser(restriction)), expected(restriction, false, on))
            << restriction.name;
        EXPECT_EQ(UserValues(output, applyUser(restriction)), expected(restriction, true, on))
            << restriction.name;
      }
    }
  }
}

TEST(RestrictionsTest, FindRestrictionTakesNamesInAnyCaseAndRejectsOthers) {
  for (const RestrictionInfo& restriction : Restrictions()) {
    EXPECT_EQ(FindRestriction(UpperAscii(restriction.name)), &restriction);
  }
  for (std::string_view unknown : {"", "NoRunX", "NoRu", "Disabled", "NoDrives", "UserIcon"}) {
    EXPECT_EQ(FindRestriction(unknown), nullptr) << unknown;
  }
}

}  // namespace
}  // namespace tarnwick::test
