#include "policy/policy_settings.h"

#include <gtest/gtest.h>

#include "policy/policy_store.h"
#include "registry/registry.h"
#include "support/independent_readers.h"
#include "support/policy_test_machine.h"

namespace tarnwick::test {
namespace {

constexpr std::string_view kKey = "Software\\Test";

PolicyValue Number(uint32_t n) {
  return {PolicyValue::Kind::Number, n, {}};
}
PolicyValue Text(std::string text) {
  return {PolicyValue::Kind::Text, 0, std::move(text)};
}
PolicyValue Delete() {
  return {PolicyValue::Kind::Delete, 0, {}};
}

PolicyPart Part(PartType type, std::string name, std::string valueName) {
  PolicyPart part;
  part.type = type;
  part.name = std::move(name);
  part.key = std::string(kKey);
  part.valueName = std::move(valueName);
  return part;
}

Policy MakePolicy(std::string name, std::string valueName, std::vector<PolicyPart> parts = {}) {
  Policy policy;
  policy.name = std::move(name);
  policy.key = std::string(kKey);
  policy.valueName = std::move(valueName);
  policy.parts = std::move(parts);
  return policy;
}

PolicySetting On(PartValues parts = {}) {
  return {PolicyState::On, std::move(parts)};
}

// A key's values as one line each, name=type:data; REG_SZ data shows its closing zero as \0.
std::string Dump(const std::vector<ExportedValue>& values) {
  std::string text;
  for (const ExportedValue& value : values) {
    text += value.name + "=";
    if (value.type == kRegSz || value.type == kRegExpandSz) {
      text += (value.type == kRegSz ? "sz:" : "expand:") + SzText(value.data);
    } else if (value.type == kRegDword && value.data.size() == 4) {
      text += "dword:" + std::to_string(value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                                        value.data[3] << 24);
    } else {
      text += "type" + std::to_string(value.type);
    }
    text += "\n";
  }
  return text;
}

class PolicySettingsTest : public ::testing::Test {
 protected:
  PolicySettingsTest() {
    // A file of Default User's entry, attached: every write is in it at once.
    machine_.Store().LoadPolicyFile();
    RegistryAccessor reg(machine_.GetRegistry());
    reg.SetRootKey(RootKey::LocalMachine);
    reg.CreateKey("TARNEX\\Users\\.default");
    reg.CloseKey();
    machine_.Store().UnloadPolicyFile();
    machine_.Store().LoadPolicyFile();
  }
  ~PolicySettingsTest() override { machine_.Store().UnloadPolicyFile(); }

  void Write(const Policy& policy, const PolicySetting& setting) {
    WritePolicySetting(machine_.Store(), entry_, policy, setting);
  }
  PolicySetting Read(const Policy& policy) {
    return ReadPolicySetting(machine_.Store(), entry_, policy);
  }
  // The entry's test key in the policy file as both independent readers see it; the two must
  // agree.
  std::string InFile(std::string_view key = kKey) {
    const std::string path = "Users\\.default\\" + std::string(key);
    std::string dumps[2];
    int i = 0;
    for (const ReaderOutput& read : {ReadWithCregexport(machine_.PolicyFile()),
                                     ReadWithParseWin32Registry(machine_.PolicyFile())}) {
      EXPECT_TRUE(read.ok()) << read.diagnostics;
      for (const ExportedKey& exported : read.keys) {
        if (exported.path == path) dumps[i] = Dump(exported.values);
      }
      ++i;
    }
    EXPECT_EQ(dumps[0], dumps[1]);
    return dumps[0];
  }

  PolicyMachine machine_;
  PolicyEntry entry_{PolicyEntry::Kind::User, ".default"};
};

TEST_F(PolicySettingsTest, APolicyValueWithoutOffValueIsDeletedByMarker) {
  const Policy policy = MakePolicy("Hide Network Neighborhood", "NoNetHood");
  EXPECT_EQ(Read(policy).state, PolicyState::Unset);
  Write(policy, On());
  EXPECT_EQ(InFile(), "NoNetHood=dword:1\n");
  EXPECT_EQ(Read(policy).state, PolicyState::On);
  Write(policy, {PolicyState::Off, {}});
  EXPECT_EQ(InFile(), "**del.NoNetHood=sz: \n");
  EXPECT_EQ(Read(policy).state, PolicyState::Off);
  Write(policy, {PolicyState::Unset, {}});
  EXPECT_EQ(InFile(), "");
  EXPECT_EQ(Read(policy).state, PolicyState::Unset);
}

TEST_F(PolicySettingsTest, OnAndOffValuesAndActionListsAreWrittenAndUnsetRemovesThemAll) {
  Policy policy = MakePolicy("Logon banner", "Banner");
  policy.valueOn = Text("yes");
  policy.valueOff = Number(0);
  policy.actionsOn = {{"", "Caption", Text("Welcome")}, {"Software\\Other", "Shown", Number(1)}};
  policy.actionsOff = {{"", "Caption", Delete()}};
  Write(policy, On());
  EXPECT_EQ(InFile(), "Banner=sz:yes\nCaption=sz:Welcome\n");
  EXPECT_EQ(InFile("Software\\Other"), "Shown=dword:1\n");
  EXPECT_EQ(Read(policy).state, PolicyState::On);
  Write(policy, {PolicyState::Off, {}});
  EXPECT_EQ(InFile(), "Banner=dword:0\n**del.Caption=sz: \n");
  EXPECT_EQ(InFile("Software\\Other"), "");
  EXPECT_EQ(Read(policy).state, PolicyState::Off);
  Write(policy, {PolicyState::Unset, {}});
  EXPECT_EQ(InFile(), "");
  EXPECT_EQ(Read(policy).state, PolicyState::Unset);
}

TEST_F(PolicySettingsTest, AValueThePolicyDoesNotWriteReadsAsOff) {
  // A page switching a restriction off writes 0 where the policy's on value is 1.
  const Policy policy = MakePolicy("Remove Run", "NoRun");
  machine_.Put("TARNEX\\Users\\.default\\Software\\Test", "NoRun", kRegDword, Dword(0));
  EXPECT_EQ(Read(policy).state, PolicyState::Off);
}

TEST_F(PolicySettingsTest, CheckBoxAndTextParts) {
  PolicyPart box = Part(PartType::CheckBox, "Show clock", "Clock");
  box.valueOn = Text("on");
  box.actionsOff = {{"", "ClockFace", Number(0)}};
  PolicyPart plain = Part(PartType::CheckBox, "Beep", "Beep");
  plain.defaultChecked = true;
  const Policy policy =
      MakePolicy("Taskbar", "", {Part(PartType::Text, "Choose:", ""), box, plain});

  Write(policy, On({{"Show clock", {"1", {}}}}));
  EXPECT_EQ(InFile(), "Clock=sz:on\nBeep=dword:1\n");
  PolicySetting read = Read(policy);
  EXPECT_EQ(read.state, PolicyState::On);
  EXPECT_EQ(read.parts["Show clock"].text, "1");
  EXPECT_EQ(read.parts["Beep"].text, "1");
  EXPECT_EQ(read.parts.count("Choose:"), 0u);

  Write(policy, On({{"Show clock", {"0", {}}}, {"Beep", {"0", {}}}}));
  EXPECT_EQ(InFile(), "Clock=dword:0\nClockFace=dword:0\nBeep=dword:0\n");
  read = Read(policy);
  EXPECT_EQ(read.parts["Show clock"].text, "0");
  EXPECT_EQ(read.parts["Beep"].text, "0");

  Write(policy, {PolicyState::Off, {}});
  EXPECT_EQ(InFile(), "**del.Clock=sz: \n**del.Beep=sz: \n");
  EXPECT_EQ(Read(policy).state, PolicyState::Off);
  Write(policy, {PolicyState::Unset, {}});
  EXPECT_EQ(InFile(), "");
  EXPECT_THROW(Write(policy, On({{"Show clock", {"yes", {}}}})), PolicyValueError);
  EXPECT_THROW(Write(policy, On({{"No such part", {"1", {}}}})), PolicyValueError);
}

TEST_F(PolicySettingsTest, EditTextAndComboBoxParts) {
  PolicyPart path = Part(PartType::EditText, "Path", "Wallpaper");
  path.expandable = true;
  path.maxLength = 12;
  path.required = true;
  PolicyPart style = Part(PartType::ComboBox, "Style", "Style");
  style.suggestions = {"Tile", "Center"};
  style.defaultText = "Tile";
  const Policy policy = MakePolicy("Wallpaper", "", {path, style});

  Write(policy, On({{"Path", {"%windir%\\a", {}}}}));
  EXPECT_EQ(InFile(), "Wallpaper=expand:%windir%\\a\nStyle=sz:Tile\n");
  PolicySetting read = Read(policy);
  EXPECT_EQ(read.state, PolicyState::On);
  EXPECT_EQ(read.parts["Path"].text, "%windir%\\a");
  EXPECT_EQ(read.parts["Style"].text, "Tile");

  // Refused whole: the valid part is not written either.
  EXPECT_THROW(Write(policy, On({{"Path", {"%windir%\\abcd", {}}}, {"Style", {"Center", {}}}})),
               PolicyValueError);
  EXPECT_THROW(Write(policy, On({{"Path", {"", {}}}, {"Style", {"Center", {}}}})),
               PolicyValueError);
  EXPECT_THROW(Write(policy, On({{"Path", {"a\nb", {}}}})), PolicyValueError);
  EXPECT_EQ(InFile(), "Wallpaper=expand:%windir%\\a\nStyle=sz:Tile\n");

  Write(policy, {PolicyState::Off, {}});
  EXPECT_EQ(InFile(), "**del.Wallpaper=sz: \n**del.Style=sz: \n");
  Write(policy, {PolicyState::Unset, {}});
  EXPECT_EQ(InFile(), "");
}

TEST_F(PolicySettingsTest, NumericParts) {
  PolicyPart wait = Part(PartType::Numeric, "Wait", "Wait");
  wait.min = 5;
  wait.max = 60;
  wait.required = true;
  PolicyPart size = Part(PartType::Numeric, "Size", "Size");
  size.txtConvert = true;
  size.defaultNumber = 7;
  const Policy policy = MakePolicy("Timeouts", "", {wait, size});

  Write(policy, On({{"Wait", {"60", {}}}}));
  EXPECT_EQ(InFile(), "Wait=dword:60\nSize=sz:7\n");
  PolicySetting read = Read(policy);
  EXPECT_EQ(read.parts["Wait"].text, "60");
  EXPECT_EQ(read.parts["Size"].text, "7");

  for (std::string_view bad : {"61", "4", "", "-5", "+6", "6x", "99999999999"}) {
    EXPECT_THROW(Write(policy, On({{"Wait", {std::string(bad), {}}}, {"Size", {"8", {}}}})),
                 PolicyValueError)
        << bad;
  }
  EXPECT_THROW(Write(policy, On()), PolicyValueError);  // required, no default
  EXPECT_EQ(InFile(), "Wait=dword:60\nSize=sz:7\n");

  Write(policy, On({{"Wait", {"5", {}}}, {"Size", {"0", {}}}}));
  EXPECT_EQ(InFile(), "Wait=dword:5\nSize=sz:0\n");
  Write(policy, {PolicyState::Off, {}});
  EXPECT_EQ(InFile(), "**del.Wait=sz: \n**del.Size=sz: \n");
}

TEST_F(PolicySettingsTest, DropDownListParts) {
  PolicyPart mode = Part(PartType::DropDownList, "Mode", "Mode");
  mode.items = {{"Fast", Number(2), {{"", "Cache", Number(1)}}},
                {"Named", Text("named"), {}},
                {"None", Delete(), {{"Software\\Other", "Off", Text("x")}}}};
  const Policy policy = MakePolicy("Mode", "", {mode});

  Write(policy, On({{"Mode", {"Fast", {}}}}));
  EXPECT_EQ(InFile(), "Mode=dword:2\nCache=dword:1\n");
  EXPECT_EQ(Read(policy).parts["Mode"].text, "Fast");
  Write(policy, On({{"Mode", {"Named", {}}}}));
  EXPECT_EQ(InFile(), "Mode=sz:named\n");  // the other item's action is gone
  EXPECT_EQ(Read(policy).parts["Mode"].text, "Named");
  Write(policy, On({{"Mode", {"None", {}}}}));
  EXPECT_EQ(InFile(), "**del.Mode=sz: \n");
  EXPECT_EQ(InFile("Software\\Other"), "Off=sz:x\n");

  EXPECT_THROW(Write(policy, On({{"Mode", {"Slow", {}}}})), PolicyValueError);
  EXPECT_EQ(InFile(), "**del.Mode=sz: \n");
  Write(policy, {PolicyState::Unset, {}});
  EXPECT_EQ(InFile(), "");
  EXPECT_EQ(InFile("Software\\Other"), "");
}

TEST_F(PolicySettingsTest, ListBoxParts) {
  PolicyPart numbered = Part(PartType::ListBox, "Programs", "");
  numbered.key = "Software\\Test\\Run";
  PolicyPart named = Part(PartType::ListBox, "Servers", "");
  named.key = "Software\\Test\\Servers";
  named.explicitValue = true;
  named.additive = true;
  PolicyPart prefixed = Part(PartType::ListBox, "Paths", "");
  prefixed.key = "Software\\Test\\Paths";
  prefixed.valuePrefix = "Path";
  const Policy policy = MakePolicy("Lists", "", {numbered, named, prefixed});

  // A value left from an earlier list goes.
  machine_.Put("TARNEX\\Users\\.default\\Software\\Test\\Run", "old", kRegSz, Sz("old"));
  Write(policy, On({{"Programs", {"", {{"", "calc.exe"}, {"", "sol.exe"}}}},
                    {"Servers", {"", {{"main", "\\\\srv"}, {"spare", "\\\\srv2"}}}},
                    {"Paths", {"", {{"", "C:\\A"}}}}}));
  EXPECT_EQ(InFile("Software\\Test\\Run"), "**delvals.=sz: \n1=sz:calc.exe\n2=sz:sol.exe\n");
  EXPECT_EQ(InFile("Software\\Test\\Servers"), "main=sz:\\\\srv\nspare=sz:\\\\srv2\n");
  EXPECT_EQ(InFile("Software\\Test\\Paths"), "**delvals.=sz: \nPath1=sz:C:\\A\n");
  const PolicySetting read = Read(policy);
  EXPECT_EQ(read.state, PolicyState::On);
  EXPECT_EQ(read.parts.at("Programs").list,
            (std::vector<std::pair<std::string, std::string>>{{"", "calc.exe"}, {"", "sol.exe"}}));
  EXPECT_EQ(read.parts.at("Servers").list, (std::vector<std::pair<std::string, std::string>>{
                                               {"main", "\\\\srv"}, {"spare", "\\\\srv2"}}));
  EXPECT_EQ(read.parts.at("Paths").list,
            (std::vector<std::pair<std::string, std::string>>{{"", "C:\\A"}}));

  EXPECT_THROW(Write(policy, On({{"Servers", {"", {{"", "x"}}}}})), PolicyValueError);
  EXPECT_THROW(Write(policy, On({{"Servers", {"", {{"a", "x"}, {"A", "y"}}}}})), PolicyValueError);
  EXPECT_THROW(Write(policy, On({{"Servers", {"", {{"**del.a", "x"}}}}})), PolicyValueError);

  Write(policy, {PolicyState::Off, {}});
  EXPECT_EQ(InFile("Software\\Test\\Run"), "**delvals.=sz: \n");
  EXPECT_EQ(InFile("Software\\Test\\Servers"), "**delvals.=sz: \n");
  EXPECT_EQ(Read(policy).state, PolicyState::Off);
  Write(policy, {PolicyState::Unset, {}});
  EXPECT_EQ(InFile("Software\\Test\\Run"), "");
  EXPECT_EQ(InFile("Software\\Test\\Paths"), "");
  EXPECT_EQ(Read(policy).state, PolicyState::Unset);
}

TEST_F(PolicySettingsTest, UnsetLeavesOtherPoliciesAndUnknownValuesOfTheKey) {
  const Policy a = MakePolicy("A", "A");
  const Policy b = MakePolicy("B", "B");
  machine_.Put("TARNEX\\Users\\.default\\Software\\Test", "Foreign", kRegBinary, {1, 2});
  Write(a, On());
  Write(b, {PolicyState::Off, {}});
  Write(a, {PolicyState::Unset, {}});
  EXPECT_EQ(InFile(), "Foreign=type3\n**del.B=sz: \n");
}

TEST_F(PolicySettingsTest, EveryEntryKindHasItsOwnSetting) {
  const Policy policy = MakePolicy("Hide", "NoHide");
  for (std::string_view text : {"user:ann", "group:Staff", "computer:PC1", "computer:.default"}) {
    WritePolicySetting(machine_.Store(), ParseEntry(text), policy, On());
  }
  EXPECT_EQ(Read(policy).state, PolicyState::Unset);
  for (std::string_view path : {"TARNEX\\Users\\ann", "TARNEX\\UserGroups\\Staff",
                                "TARNEX\\Computers\\PC1", "TARNEX\\Computers\\.default"}) {
    const std::optional<RegValue> value =
        machine_.Value(std::string(path) + "\\Software\\Test", "NoHide");
    ASSERT_TRUE(value) << path;
    EXPECT_EQ(value->data, Dword(1));
  }
}

}  // namespace
}  // namespace tarnwick::test
