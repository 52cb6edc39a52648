#include "policy/template_parser.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "policy/policy_templates.h"
#include "policy/restrictions.h"
#include "support/temp_machine_dir.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

const fs::path kData = TARNWICK_TEST_DATA_DIR;

PolicyValue Number(uint32_t n) {
  return {PolicyValue::Kind::Number, n, ""};
}
PolicyValue Text(std::string text) {
  return {PolicyValue::Kind::Text, 0, std::move(text)};
}
PolicyValue Delete() {
  return {PolicyValue::Kind::Delete, 0, ""};
}

// One write: the key, the value name and the value.
struct Write {
  std::string key;
  std::string name;
  PolicyValue value;
  bool operator==(const Write&) const = default;
};

void PrintTo(const Write& w, std::ostream* os) {
  *os << w.key << " \"" << w.name << "\" kind " << static_cast<int>(w.value.kind) << " "
      << w.value.number << " " << w.value.text;
}

std::vector<Write> Writes(const std::vector<PolicyAction>& actions, const std::string& ownKey) {
  std::vector<Write> writes;
  for (const PolicyAction& a : actions) {
    writes.push_back({a.key.empty() ? ownKey : a.key, a.valueName, a.value});
  }
  return writes;
}

PolicyTemplate Load(const std::string& name) {
  return LoadTemplateFile(kData / name);
}

const PolicyCategory& Sub(const PolicyCategory& c, size_t i) {
  return c.categories.at(i);
}

// What the account page writes for a restriction, in its order: its values, its companion's,
// then the restrictions it sets too.
void PageWrites(const RestrictionInfo& r, uint32_t v, std::vector<Write>& out) {
  for (std::string_view name : r.valueNames) {
    out.push_back({std::string(r.key), std::string(name), Number(v)});
  }
  if (r.companion) PageWrites(GetRestriction(*r.companion), v, out);
  for (RestrictionId next : r.cascade) PageWrites(GetRestriction(next), v, out);
}

std::vector<Write> TemplateWrites(const Policy& p, bool on) {
  std::vector<Write> writes{{p.key, p.valueName, *(on ? p.valueOn : p.valueOff)}};
  for (const Write& w : Writes(on ? p.actionsOn : p.actionsOff, p.key)) writes.push_back(w);
  return writes;
}

TEST(OwnTemplate, EachRestrictionWritesWhatItsPageWrites) {
  const std::vector<PolicyTemplate> templates{OwnTemplate()};
  const std::vector<PolicyRef> policies = ListPolicies(templates, PolicyClass::User);
  for (const RestrictionInfo& r : Restrictions()) {
    SCOPED_TRACE(std::string(r.name));
    const Policy* found = nullptr;
    for (const PolicyRef& ref : policies) {
      if (ref.policy->key == r.key && ref.policy->valueName == r.valueNames[0]) {
        ASSERT_EQ(found, nullptr) << "two policies write " << r.valueNames[0];
        found = ref.policy;
      }
    }
    ASSERT_NE(found, nullptr);
    ASSERT_TRUE(found->valueOn && found->valueOff);
    for (uint32_t v : {1u, 0u}) {
      std::vector<Write> expected;
      PageWrites(r, v, expected);
      EXPECT_EQ(TemplateWrites(*found, v == 1), expected) << "v " << v;
    }
  }
}

TEST(OwnTemplate, CommonPoliciesWriteTheirDocumentedValues) {
  const std::vector<PolicyTemplate> templates{OwnTemplate()};
  EXPECT_EQ(templates[0].file, "tarnwick.adm");
  const std::string explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
  const std::string system = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
  const std::string network = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Network";
  struct Expected {
    PolicyClass cls;
    const char* path;
    std::string key;
    const char* valueName;
  };
  const Expected table[] = {
      {PolicyClass::User, "Shell\\Restrictions\\Remove 'Run' command", explorer, "NoRun"},
      {PolicyClass::User, "Shell\\Restrictions\\Hide Network Neighborhood", explorer, "NoNetHood"},
      {PolicyClass::User, "Shell\\Restrictions\\No 'Entire Network' in Network Neighborhood",
       network, "NoEntireNetwork"},
      {PolicyClass::User, "Shell\\Restrictions\\Disable Shut Down command", explorer, "NoClose"},
      {PolicyClass::User, "Shell\\Restrictions\\Don't save settings at exit", explorer,
       "NoSaveSettings"},
      {PolicyClass::User, "Control Panel\\Disable Control Panel", system, "NoDispCPL"},
      {PolicyClass::User, "Control Panel\\Passwords\\Disable Passwords Control Panel", system,
       "NoSecCPL"},
      {PolicyClass::Machine, "Network\\Logon\\Require validation by network for Windows access",
       "Network\\Logon", "MustBeValidated"},
      {PolicyClass::Machine, "Network\\Passwords\\Disable password caching", network,
       "DisablePwdCaching"},
      {PolicyClass::Machine, "Network\\Passwords\\Hide share passwords with asterisks", network,
       "HideSharePwds"},
      {PolicyClass::Machine, "Network\\Passwords\\Require alphanumeric Windows password", network,
       "AlphanumPwds"},
      {PolicyClass::Machine, "System\\Enable user profiles", "Network\\Logon", "UserProfiles"},
  };
  for (const Expected& e : table) {
    SCOPED_TRACE(e.path);
    const Policy* p = FindPolicy(templates, e.cls, e.path);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->key, e.key);
    EXPECT_EQ(p->valueName, e.valueName);
    EXPECT_EQ(p->valueOn, Number(1));
    EXPECT_EQ(p->valueOff, Number(0));
  }

  // The hidden-drives page writes any sum of the bits of A to Z.
  const Policy* drives =
      FindPolicy(templates, PolicyClass::User, "Shell\\Restrictions\\Hide drives in 'My Computer'");
  ASSERT_NE(drives, nullptr);
  const PolicyPart& mask = drives->parts.back();
  EXPECT_EQ(mask.type, PartType::Numeric);
  EXPECT_EQ(mask.key, explorer);
  EXPECT_EQ(mask.valueName, "NoDrives");
  EXPECT_EQ(mask.min, 0u);
  EXPECT_EQ(mask.max, (1u << 26) - 1);

  const Policy* banner =
      FindPolicy(templates, PolicyClass::Machine, "Network\\Logon\\Logon banner");
  ASSERT_NE(banner, nullptr);
  ASSERT_EQ(banner->parts.size(), 2u);
  EXPECT_EQ(banner->parts[0].key, "Software\\Microsoft\\Windows\\CurrentVersion\\Winlogon");
  EXPECT_EQ(banner->parts[0].valueName, "LegalNoticeCaption");
  EXPECT_EQ(banner->parts[1].valueName, "LegalNoticeText");

  const Policy* update =
      FindPolicy(templates, PolicyClass::Machine, "Network\\Update\\Remote update");
  ASSERT_NE(update, nullptr);
  std::vector<std::pair<std::string, std::string>> parts;
  for (const PolicyPart& part : update->parts) parts.emplace_back(part.key, part.valueName);
  const std::string updateKey = "System\\CurrentControlSet\\Control\\Update";
  EXPECT_EQ(parts, (std::vector<std::pair<std::string, std::string>>{{updateKey, "UpdateMode"},
                                                                     {updateKey, "NetworkPath"},
                                                                     {updateKey, "Verbose"},
                                                                     {updateKey, "LoadBalance"}}));
  EXPECT_EQ(update->parts[0].items.at(0).value, Number(1));
  EXPECT_EQ(update->parts[0].items.at(1).value, Number(2));

  EXPECT_EQ(FindPolicy(templates, PolicyClass::Machine, "System\\Run"), nullptr);
  for (const char* run : {"Run once", "Run services"}) {
    const Policy* p = FindPolicy(templates, PolicyClass::Machine, std::string("System\\") + run);
    ASSERT_NE(p, nullptr) << run;
    EXPECT_EQ(p->parts.at(0).type, PartType::ListBox);
    EXPECT_TRUE(p->parts[0].explicitValue);
  }
}

TEST(TemplateParser, StructureStringsVersionsAndActionLists) {
  const PolicyTemplate t = Load("structure.adm");
  EXPECT_EQ(t.file, (kData / "structure.adm").string());
  ASSERT_EQ(t.user.size(), 1u);
  const PolicyCategory& outer = t.user[0];
  EXPECT_EQ(outer.name, "Outer category");  // the first definition of a string counts
  EXPECT_EQ(outer.key, "Software\\Outer");

  ASSERT_EQ(outer.policies.size(), 2u);
  const Policy& plain = outer.policies[0];
  EXPECT_EQ(plain.name, "Plain policy");
  EXPECT_EQ(plain.key, "Software\\Outer");
  EXPECT_EQ(plain.valueName, "Plain");
  EXPECT_FALSE(plain.valueOn);
  EXPECT_FALSE(plain.valueOff);
  EXPECT_EQ(plain.line, 6u);

  // Only the version 1 blocks, nested ones included.
  const Policy& v1 = outer.policies[1];
  EXPECT_EQ(v1.name, "Only for version 1");
  EXPECT_FALSE(v1.valueOn);
  EXPECT_EQ(v1.valueOff, Number(7));

  ASSERT_EQ(outer.categories.size(), 1u);
  const PolicyCategory& inner = Sub(outer, 0);
  EXPECT_EQ(inner.name, "Inner");
  EXPECT_EQ(inner.key, "Software\\Outer");  // inherited
  const Policy& texts = inner.policies.at(0);
  EXPECT_EQ(texts.name, "Policy with texts");
  EXPECT_EQ(texts.key, "Software\\Inner Key");
  EXPECT_EQ(texts.valueName, "Text value");
  EXPECT_EQ(texts.valueOn, Text("yes"));
  EXPECT_EQ(texts.valueOff, Text("no"));

  const Policy& deletes = Sub(inner, 0).policies.at(0);
  EXPECT_EQ(Sub(inner, 0).name, "Deeper");
  EXPECT_EQ(deletes.key, "Software\\Outer");
  EXPECT_EQ(deletes.valueOn, Number(4294967295u));
  EXPECT_EQ(deletes.valueOff, Delete());
  EXPECT_EQ(Writes(deletes.actionsOn, "K"),
            (std::vector<Write>{{"K", "First", Number(1)},
                                {"Software\\Elsewhere", "Second", Text("two")},
                                {"Software\\Elsewhere", "Third", Delete()}}));
  EXPECT_EQ(Writes(deletes.actionsOff, "K"), (std::vector<Write>{{"K", "First", Number(0)}}));

  ASSERT_EQ(t.machine.size(), 1u);
  EXPECT_EQ(t.machine[0].policies.at(0).key, "System\\Keyed");

  const std::vector<PolicyTemplate> all{t};
  std::vector<std::string> paths;
  for (const PolicyRef& ref : ListPolicies(all, PolicyClass::User)) paths.push_back(ref.path);
  EXPECT_EQ(paths, (std::vector<std::string>{"Outer category\\Plain policy",
                                             "Outer category\\Only for version 1",
                                             "Outer category\\Inner\\Policy with texts",
                                             "Outer category\\Inner\\Deeper\\Deletes"}));
  EXPECT_EQ(FindPolicy(all, PolicyClass::User, "OUTER CATEGORY\\inner\\deeper\\DELETES"),
            &Sub(Sub(all[0].user[0], 0), 0).policies[0]);
  EXPECT_EQ(FindPolicy(all, PolicyClass::Machine, "Outer category\\Plain policy"), nullptr);
  EXPECT_EQ(FindPolicy(all, PolicyClass::User, "Outer category\\Plain"), nullptr);
}

TEST(TemplateParser, EveryPartTypeAndOption) {
  const PolicyTemplate t = Load("parts.adm");
  ASSERT_EQ(t.machine.size(), 1u);
  const Policy& p = t.machine[0].policies.at(0);
  ASSERT_EQ(p.parts.size(), 10u);
  EXPECT_EQ(p.key, "Software\\Parts");
  EXPECT_TRUE(p.valueName.empty());

  const PolicyPart& label = p.parts[0];
  EXPECT_EQ(label.type, PartType::Text);
  EXPECT_EQ(label.name, "A label");

  const PolicyPart& check = p.parts[1];
  EXPECT_EQ(check.type, PartType::CheckBox);
  EXPECT_EQ(check.key, "Software\\Checks");
  EXPECT_EQ(check.valueName, "Check");
  EXPECT_EQ(check.valueOn, Text("on"));
  EXPECT_EQ(check.valueOff, Number(3));
  EXPECT_TRUE(check.defaultChecked);
  EXPECT_EQ(Writes(check.actionsOn, ""), (std::vector<Write>{{"", "CheckOn", Number(1)}}));
  EXPECT_EQ(Writes(check.actionsOff, ""), (std::vector<Write>{{"", "CheckOn", Delete()}}));
  EXPECT_EQ(check.line, 8u);

  const PolicyPart& plainCheck = p.parts[2];
  EXPECT_EQ(plainCheck.key, "Software\\Parts");  // the policy's, from the category
  EXPECT_FALSE(plainCheck.valueOn);
  EXPECT_FALSE(plainCheck.defaultChecked);

  const PolicyPart& edit = p.parts[3];
  EXPECT_EQ(edit.type, PartType::EditText);
  EXPECT_TRUE(edit.required && edit.expandable && edit.oemConvert);
  EXPECT_EQ(edit.maxLength, 40u);
  EXPECT_EQ(edit.defaultText, "%windir%\\x");

  const PolicyPart& number = p.parts[4];
  EXPECT_EQ(number.type, PartType::Numeric);
  EXPECT_TRUE(number.required && number.txtConvert);
  EXPECT_EQ(number.defaultNumber, 5u);
  EXPECT_EQ(number.min, 2u);
  EXPECT_EQ(number.max, 300u);
  EXPECT_EQ(number.spin, 10u);

  const PolicyPart& plainNumber = p.parts[5];
  EXPECT_FALSE(plainNumber.defaultNumber);
  EXPECT_EQ(plainNumber.min, 0u);
  EXPECT_EQ(plainNumber.max, 9999u);
  EXPECT_EQ(plainNumber.spin, 1u);
  EXPECT_FALSE(plainNumber.required || plainNumber.txtConvert);

  const PolicyPart& combo = p.parts[6];
  EXPECT_EQ(combo.type, PartType::ComboBox);
  EXPECT_EQ(combo.defaultText, "unquoted text");
  EXPECT_EQ(combo.maxLength, 10u);
  EXPECT_EQ(combo.suggestions, (std::vector<std::string>{"one", "two words", "Three"}));

  const PolicyPart& drop = p.parts[7];
  EXPECT_EQ(drop.type, PartType::DropDownList);
  EXPECT_TRUE(drop.required && drop.noSort);
  ASSERT_EQ(drop.items.size(), 3u);
  EXPECT_EQ(drop.items[0].name, "First");
  EXPECT_EQ(drop.items[0].value, Number(1));
  EXPECT_TRUE(drop.items[0].actions.empty());
  EXPECT_EQ(drop.items[1].name, "Second item");
  EXPECT_EQ(drop.items[1].value, Text("second"));
  EXPECT_EQ(Writes(drop.items[1].actions, ""),
            (std::vector<Write>{{"", "Extra", Number(2)}, {"Software\\Other", "Far", Delete()}}));
  EXPECT_EQ(drop.items[2].value, Delete());

  const PolicyPart& list = p.parts[8];
  EXPECT_EQ(list.type, PartType::ListBox);
  EXPECT_EQ(list.key, "Software\\Parts\\List");
  EXPECT_TRUE(list.valueName.empty());
  EXPECT_EQ(list.valuePrefix, "Item");
  EXPECT_TRUE(list.additive && list.expandable);
  EXPECT_FALSE(list.explicitValue);

  const PolicyPart& pairs = p.parts[9];
  EXPECT_TRUE(pairs.explicitValue);
  EXPECT_FALSE(pairs.additive);
  EXPECT_EQ(pairs.key, "Software\\Parts");
  EXPECT_FALSE(pairs.valuePrefix);  // each value named by its data, not numbered
}

// A template that cannot be read, the line its error names and a piece of the error's text.
struct Broken {
  const char* text;
  size_t line;
  const char* says;
};

TEST(TemplateParser, RefusesBrokenTemplatesNamingTheLine) {
  const Broken cases[] = {
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nVALUENAME V\nBOGUS\nEND POLICY\n"
       "END CATEGORY\n",
       6, "BOGUS where"},
      {"CATEGORY A\nEND CATEGORY\n", 1, "before CLASS"},
      {"CLASS EVERYONE\n", 1, "MACHINE or USER"},
      {"CLASS USER\nCATEGORY A\n  POLICY P\n", 3, "ends inside POLICY \"P\" of line 3"},
      {"CLASS USER\nCATEGORY A\nEND POLICY\n", 3, "POLICY where CATEGORY was expected"},
      {"CLASS USER\nCATEGORY \"A\nEND CATEGORY\n", 2, "no closing quote"},
      {"CLASS USER\nCATEGORY !!Missing\nEND CATEGORY\n[strings]\nOther=\"x\"\n", 2,
       "!!Missing is not in [strings]"},
      {"CLASS USER\n[strings]\nno equals sign\n", 3, "name=\"text\""},
      {"CLASS USER\n[strings]\nA=\"open\n", 3, "no closing quote"},
      {"CLASS USER\n[strings]\nA=\"text\" more\n", 3, "no closing quote"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nVALUENAME V VALUEON NUMERIC -1\n", 5,
       "NUMERIC takes a number"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nVALUENAME V VALUEON NUMERIC 4294967296\n", 5,
       "NUMERIC takes a number"},
      {"CLASS USER\nCATEGORY A\nPOLICY P\nVALUENAME V\nEND POLICY\nEND CATEGORY\n", 3,
       "no KEYNAME"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nVALUEON NUMERIC 1\nEND POLICY\n", 4,
       "no VALUENAME"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nVALUENAME \"\"\n", 5, "cannot be empty"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nVALUENAME A\nVALUENAME B\n", 6, "given twice"},
      {"CLASS USER\nCATEGORY A\nKEYNAME \\Software\n", 3, "not a key path"},
      {"CLASS USER\nCATEGORY A\nKEYNAME Software\\\\Twice\n", 3, "not a key path"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nPART X SLIDER\n", 5, "a part type"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nPART X CHECKBOX\nMIN 1\n", 6,
       "MIN is not an option of a CHECKBOX part"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nPART X LISTBOX\nVALUENAME V\n", 6,
       "not an option of a LISTBOX"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nPART X EDITTEXT\nEND PART\n", 5,
       "no VALUENAME"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nPART X NUMERIC VALUENAME V\nMIN 9 MAX 2\n"
       "END PART\n",
       5, "MIN is above its MAX"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nPART X DROPDOWNLIST VALUENAME V\nEND PART\n",
       5, "no ITEMLIST"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nPART X DROPDOWNLIST VALUENAME V\nITEMLIST\n"
       "NAME a VALUE NUMERIC 1\nNAME A VALUE NUMERIC 2\n",
       8, "two items"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nPART X DROPDOWNLIST VALUENAME V\nITEMLIST\n"
       "VALUE NUMERIC 1\n",
       7, "NAME or END ITEMLIST"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nPART X LISTBOX EXPLICITVALUE\n"
       "VALUEPREFIX p\nEND PART\n",
       5, "cannot be used together"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nPART X EDITTEXT MAXLEN 0\n", 5, "at least 1"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nACTIONLISTON\nVALUENAME V NUMERIC 1\n", 6,
       "NUMERIC where VALUE was expected"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nACTIONLISTON\nEND ACTIONLISTOFF\n", 6,
       "ACTIONLISTOFF where ACTIONLISTON"},
      {"CLASS USER\nCATEGORY A\nKEYNAME K\nPOLICY P\nEND POLICY\nEND CATEGORY\nPOLICY Q\n", 7,
       "CLASS or CATEGORY"},
      {"CLASS USER\nCATEGORY \"\"\n", 2, "CATEGORY needs a name"},
      {"CLASS USER\n#if version >= 2\nCATEGORY A\n", 2, "#if without #endif"},
      {"CLASS USER\n#endif\n", 2, "#endif without #if"},
      {"CLASS USER\n#ifdef X\n#endif\n", 2, "unknown directive"},
      {"CLASS USER\n#if version => 2\n#endif\n", 2, "operators"},
      {"CLASS USER\n#if version >= two\n#endif\n", 2, "whole number"},
      {"CLASS USER\n#if edition >= 2\n#endif\n", 2, "version OPERATOR NUMBER"},
      {"CLASS USER\nCATEGORY A\x01\n", 2, "control character 0x01"},
      {"CLASS USER\r\nCATEGORY A\r\nKEYNAME K\r\nPOLICY P\r\nEXPLAIN x\r\n", 5, "EXPLAIN where"},
  };
  for (const Broken& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseTemplate(c.text, "t.adm");
      ADD_FAILURE() << "accepted";
    } catch (const TemplateError& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind("t.adm(" + std::to_string(c.line) + "): ", 0), 0u) << what;
      EXPECT_NE(what.find(c.says), std::string::npos) << what;
    }
  }

  std::string deep = "CLASS USER\n";
  for (int i = 0; i < 100; ++i) deep += "CATEGORY C\n";
  try {
    ParseTemplate(deep, "deep.adm");
    ADD_FAILURE() << "accepted";
  } catch (const TemplateError& e) {
    EXPECT_STREQ(e.what(), "deep.adm(66): categories are nested too deeply");
  }
}

TEST(TemplateParser, EmptyAndCommentOnlyTemplatesHoldNothing) {
  for (const char* text : {"", "; nothing\n", "CLASS USER\nCLASS MACHINE\n\x1A", "[strings]\n"}) {
    const PolicyTemplate t = ParseTemplate(text, "e.adm");
    EXPECT_TRUE(t.user.empty() && t.machine.empty()) << text;
  }
}

// Sets an environment variable for the scope, putting the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

void WriteBytes(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary);
  out << bytes;
}

std::string OneCategory(const std::string& name) {
  return "CLASS USER\nCATEGORY \"" + name + "\"\nEND CATEGORY\n";
}

std::string Utf16(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

TEST(PolicyTemplates, OwnThenTheFolderByNameThenTheExtraFiles) {
  test::TempMachineDir dir;
  const fs::path folder = dir.Path() / "data" / "tarnwick" / "templates";
  fs::create_directories(folder);
  WriteBytes(folder / "b.adm", OneCategory("B"));
  WriteBytes(folder / "a.ADM", OneCategory("A"));
  WriteBytes(folder / "c.txt", OneCategory("not a template"));
  fs::create_directory(folder / "d.adm");
  WriteBytes(dir.Path() / "extra2.adm", OneCategory("Extra 2"));
  WriteBytes(dir.Path() / "extra1.adm", OneCategory("Extra 1"));
  const ScopedEnv env("XDG_DATA_HOME", (dir.Path() / "data").string());
  EXPECT_EQ(TemplatesFolder(), folder);

  const std::vector<PolicyTemplate> templates =
      LoadTemplates({dir.Path() / "extra2.adm", dir.Path() / "extra1.adm"});
  std::vector<std::string> names;
  for (const PolicyTemplate& t : templates) {
    names.push_back(t.user.empty() ? t.file : t.user.back().name);
  }
  ASSERT_EQ(names.size(), 5u);
  EXPECT_EQ(templates[0].file, "tarnwick.adm");
  EXPECT_EQ(std::vector<std::string>(names.begin() + 1, names.end()),
            (std::vector<std::string>{"A", "B", "Extra 2", "Extra 1"}));
  EXPECT_EQ(templates[1].file, (folder / "a.ADM").string());

  // A link that leads nowhere names its file; a broken template its file and line.
  fs::create_symlink(dir.Path() / "nowhere.adm", folder / "dangling.adm");
  try {
    LoadTemplates({});
    ADD_FAILURE() << "accepted";
  } catch (const TemplateError& e) {
    EXPECT_NE(std::string(e.what()).find((folder / "dangling.adm").string()), std::string::npos)
        << e.what();
  }
  fs::remove(folder / "dangling.adm");
  WriteBytes(folder / "e.adm", "CLASS USER\nNONSENSE\n");
  try {
    LoadTemplates({});
    ADD_FAILURE() << "accepted";
  } catch (const TemplateError& e) {
    EXPECT_EQ(std::string(e.what()), (folder / "e.adm").string() +
                                         "(2): NONSENSE where CLASS or "
                                         "CATEGORY was expected");
  }
}

TEST(PolicyTemplates, WithoutAFolderOnlyTheOwnTemplate) {
  test::TempMachineDir dir;
  const ScopedEnv env("XDG_DATA_HOME", (dir.Path() / "none").string());
  EXPECT_EQ(LoadTemplates({}).size(), 1u);
  EXPECT_THROW(LoadTemplates({dir.Path() / "missing.adm"}), TemplateError);
}

TEST(PolicyTemplates, ReadsAnsiUtf16AndUtf8Text) {
  test::TempMachineDir dir;
  WriteBytes(dir.Path() / "ansi.adm", OneCategory("Caf\xE9 \x80"));
  WriteBytes(dir.Path() / "utf16.adm", Utf16(u"CLASS USER\r\nCATEGORY \"Caf\u00E9 \u20AC\"\r\n"
                                             u"END CATEGORY\r\n"));
  WriteBytes(dir.Path() / "utf8.adm", "\xEF\xBB\xBF" + OneCategory("Caf\xC3\xA9 \xE2\x82\xAC"));
  for (const char* name : {"ansi.adm", "utf16.adm", "utf8.adm"}) {
    const PolicyTemplate t = LoadTemplateFile(dir.Path() / name);
    ASSERT_EQ(t.user.size(), 1u) << name;
    EXPECT_EQ(t.user[0].name, "Caf\xE9 \x80") << name;  // code page 1252
  }

  WriteBytes(dir.Path() / "greek.adm", Utf16(u"CLASS USER\n; \u03A9\n"));
  const std::string greek = (dir.Path() / "greek.adm").string();
  try {
    LoadTemplateFile(greek);
    ADD_FAILURE() << "accepted";
  } catch (const TemplateError& e) {
    EXPECT_EQ(std::string(e.what()), greek + "(2): character U+03A9 has no code page 1252 form");
  }
  WriteBytes(dir.Path() / "bad8.adm", "\xEF\xBB\xBF\nCLASS USER\n\xFF\n");
  EXPECT_THROW(
      {
        try {
          LoadTemplateFile(dir.Path() / "bad8.adm");
        } catch (const TemplateError& e) {
          EXPECT_NE(std::string(e.what()).find("bad8.adm(3): "), std::string::npos) << e.what();
          throw;
        }
      },
      TemplateError);
}

TEST(PolicyTemplates, ClassOfEntries) {
  using Kind = PolicyEntry::Kind;
  EXPECT_EQ(ClassOf({Kind::User, "alice"}), PolicyClass::User);
  EXPECT_EQ(ClassOf({Kind::User, ".default"}), PolicyClass::User);
  EXPECT_EQ(ClassOf({Kind::Group, "staff"}), PolicyClass::User);
  EXPECT_EQ(ClassOf({Kind::Computer, "PC1"}), PolicyClass::Machine);
  EXPECT_EQ(ClassOf({Kind::Computer, ".default"}), PolicyClass::Machine);
}

}  // namespace
}  // namespace tarnwick
