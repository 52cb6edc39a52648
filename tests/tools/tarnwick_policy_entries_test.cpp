// tarnwick-policy's commands on template policies, groups, computers and what a logon applies,
// run as a program on a fresh demo machine; its files judged by the independent readers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/independent_readers.h"
#include "support/policy_test_machine.h"
#include "support/run_program.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

// Every part type, a policy of its own value, a [strings] name and a machine policy.
constexpr const char* kKioskTemplate = R"(CLASS USER
CATEGORY "Kiosk"
  KEYNAME "Software\Kiosk"
  POLICY "Every part"
    PART "Read me" TEXT END PART
    PART "Sound" CHECKBOX
      VALUENAME Sound
    END PART
    PART "Title" EDITTEXT REQUIRED
      VALUENAME Title
      MAXLEN 10
    END PART
    PART "Timeout" NUMERIC
      VALUENAME Timeout
      MIN 5 MAX 60 DEFAULT 30
    END PART
    PART "Page" COMBOBOX
      VALUENAME Page
      SUGGESTIONS home about END SUGGESTIONS
    END PART
    PART "Mode" DROPDOWNLIST
      VALUENAME Mode
      ITEMLIST
        NAME "Quiet" VALUE NUMERIC 1
        NAME "Loud" VALUE NUMERIC 2
      END ITEMLIST
    END PART
    PART "Sites" LISTBOX
      KEYNAME "Software\Kiosk\Sites"
      VALUEPREFIX Site
    END PART
    PART "Paths" LISTBOX EXPLICITVALUE
      KEYNAME "Software\Kiosk\Paths"
    END PART
  END POLICY
  POLICY !!Lock
    VALUENAME Locked
  END POLICY
END CATEGORY

CLASS MACHINE
CATEGORY "Kiosk machine"
  POLICY "Locked screen"
    KEYNAME "Software\Kiosk"
    VALUENAME Locked
  END POLICY
END CATEGORY

[strings]
Lock="Lock the kiosk"
)";

constexpr const char* kEveryPart = "Kiosk\\Every part";
constexpr const char* kKioskKey = "Users\\ann\\Software\\Kiosk";

class TarnwickPolicyEntriesTest : public ::testing::Test {
 protected:
  TarnwickPolicyEntriesTest()
      : dir_(fs::temp_directory_path() /
             ("tarnwick-policy-entries-\xC3\xA9-" + std::to_string(::getpid()))) {
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "data");
    std::ofstream(Kiosk(), std::ios::binary) << kKioskTemplate;
  }
  ~TarnwickPolicyEntriesTest() override { fs::remove_all(dir_); }

  fs::path Machine() const { return dir_ / "machine"; }
  fs::path Kiosk() const { return dir_ / "kiosk.adm"; }
  fs::path Windows(const std::string& name) const { return Machine() / "c" / "WINDOWS" / name; }
  fs::path PolicyFile() const { return Windows("Tarnex.pol"); }

  // The templates folder is the test's own, empty unless a test puts a template there.
  ProgramRun Tool(std::vector<std::string> args, const fs::path& machine = {}) {
    args.insert(args.begin(),
                {"env", "XDG_DATA_HOME=" + (dir_ / "data").string(), TARNWICK_POLICY_PROGRAM,
                 "--machine", (machine.empty() ? Machine() : machine).string()});
    return RunProgram(args);
  }
  ProgramRun KioskTool(std::vector<std::string> args) {
    args.insert(args.begin(), {"--template", Kiosk().string()});
    return Tool(args);
  }
  std::string Ok(const ProgramRun& run) {
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
  }

  // The value as both readers read it from the policy file; they must agree.
  std::optional<ExportedValue> Read(const std::string& key, const std::string& name) {
    const ReaderOutput creg = ReadWithCregexport(PolicyFile());
    const ReaderOutput perl = ReadWithParseWin32Registry(PolicyFile());
    EXPECT_TRUE(creg.ok()) << creg.diagnostics;
    EXPECT_TRUE(perl.ok()) << perl.diagnostics;
    const ExportedValue* fromCreg = FindExported(creg, key, name);
    const ExportedValue* fromPerl = FindExported(perl, key, name);
    EXPECT_EQ(fromCreg == nullptr, fromPerl == nullptr) << key << " " << name;
    if (fromCreg == nullptr) return std::nullopt;
    if (fromPerl != nullptr) {
      EXPECT_EQ(*fromCreg, *fromPerl);
    }
    return *fromCreg;
  }
  // The names and data of a key's values, as cregexport reads them.
  std::map<std::string, ExportedValue> Values(const std::string& key) {
    const ReaderOutput creg = ReadWithCregexport(PolicyFile());
    std::map<std::string, ExportedValue> values;
    for (const ExportedKey& each : creg.keys) {
      if (!EqualsIgnoreCaseAscii(each.path, key)) continue;
      for (const ExportedValue& value : each.values) values[value.name] = value;
    }
    return values;
  }
  static bool EqualsIgnoreCaseAscii(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) ==
                    std::tolower(static_cast<unsigned char>(y));
           });
  }

  fs::path dir_;
};

ExportedValue DwordValue(const std::string& name, uint32_t number) {
  return {name, 4, Dword(number)};
}
// Windows 95 stores REG_SZ data without its closing zero.
ExportedValue SzValue(const std::string& name, const std::string& text) {
  return {name, 1, std::vector<uint8_t>(text.begin(), text.end())};
}

TEST_F(TarnwickPolicyEntriesTest, HelpNamesTheCommandsAndMalformedLinesChangeNothing) {
  const ProgramRun help = RunProgram({TARNWICK_POLICY_PROGRAM, "--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* text :
       {"--template FILE", "~/.local/share/tarnwick/templates", "policies ENTRY",
        "policy ENTRY PATH on|off|unset [PART=VALUE]...", "group-priority NAME...",
        "effective USER [--group NAME]... [--computer NAME]", "PART=NAME=VALUE"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }
  const std::pair<std::vector<std::string>, std::string> malformed[] = {
      {{"policies"}, "wrong number of arguments"},
      {{"policies", "ann"}, "ann"},
      {{"policies", "usr:ann"}, "usr:ann"},
      {{"policy", "user:ann", "Kiosk\\Lock the kiosk"}, "wrong number of arguments"},
      {{"policy", "user:ann", "Kiosk\\Lock the kiosk", "maybe"}, "on, off or unset, not 'maybe'"},
      {{"policy", "user:ann", kEveryPart, "off", "Sound=1"}, "only with on"},
      {{"policy", "user:ann", kEveryPart, "on", "Sound"}, "PART=VALUE, not 'Sound'"},
      {{"groups", "staff"}, "wrong number of arguments"},
      {{"add-group"}, "wrong number of arguments"},
      {{"remove-computer", "a", "b"}, "wrong number of arguments"},
      {{"group-priority"}, "wrong number of arguments"},
      {{"effective"}, "wrong number of arguments"},
      {{"effective", "--group", "staff"}, "user's name first"},
      {{"effective", "ann", "--group"}, "--group needs a name"},
      {{"effective", "ann", "--computer", "a", "--computer", "b"}, "--computer is given once"},
      {{"apply-logon", "ann", "--everyone"}, "unknown option '--everyone' for apply-logon"},
      {{"--template"}, "--template needs a file"},
  };
  for (const auto& [args, reason] : malformed) {
    const ProgramRun result = Tool(args);
    EXPECT_EQ(result.status, 2) << args[0];
    EXPECT_NE(result.err.find(reason), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("Try 'tarnwick-policy --help'"), std::string::npos) << result.err;
  }
  EXPECT_FALSE(fs::exists(Machine()));
}

TEST_F(TarnwickPolicyEntriesTest, ATemplateThatCannotBeReadIsNamedAndNothingIsMade) {
  const ProgramRun missing =
      Tool({"--template", (dir_ / "gone.adm").string(), "policies", "user:.default"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("gone.adm"), std::string::npos) << missing.err;

  std::ofstream(dir_ / "broken.adm") << "CLASS USER\nCATEGORY \"A\"\n  POLICY \"B\"\n  FROB\n";
  const ProgramRun broken =
      Tool({"--template", (dir_ / "broken.adm").string(), "policy", "user:.default", "A\\B", "on"});
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.err.find("broken.adm(4)"), std::string::npos) << broken.err;
  EXPECT_FALSE(fs::exists(Machine()));
}

TEST_F(TarnwickPolicyEntriesTest, PoliciesListsTheEntrysClassWithStatesAndResolvedNames) {
  Ok(Tool({"add-user", "ann"}));
  const std::string ann = Ok(KioskTool({"policies", "user:ann"}));
  // The pages write their restrictions' off values for a new account.
  for (const char* line : {"off\tShell\\Restrictions\\Remove 'Run' command\n",
                           "unset\tShell\\Restrictions\\Disable Shut Down command\n",
                           "unset\tKiosk\\Every part\nunset\tKiosk\\Lock the kiosk\n"}) {
    EXPECT_NE(ann.find(line), std::string::npos) << line << "in\n" << ann;
  }
  EXPECT_EQ(ann.find("Logon banner"), std::string::npos);
  EXPECT_EQ(ann.find("Kiosk machine"), std::string::npos);

  const std::string defaultUser = Ok(KioskTool({"policies", "user:.DEFAULT"}));
  EXPECT_NE(defaultUser.find("unset\tShell\\Restrictions\\Remove 'Run' command\n"),
            std::string::npos);
  const std::string defaultComputer = Ok(KioskTool({"policies", "computer:.default"}));
  EXPECT_NE(defaultComputer.find("unset\tNetwork\\Logon\\Logon banner\n"), std::string::npos);
  EXPECT_TRUE(defaultComputer.ends_with("unset\tKiosk machine\\Locked screen\n"))
      << defaultComputer;
  EXPECT_EQ(defaultComputer.find("Kiosk\\"), std::string::npos);

  // Without --template only Tarnwick's own; a template in the templates folder comes too.
  EXPECT_EQ(Ok(Tool({"policies", "user:ann"})).find("Kiosk"), std::string::npos);
  fs::create_directories(dir_ / "data" / "tarnwick" / "templates");
  fs::copy_file(Kiosk(), dir_ / "data" / "tarnwick" / "templates" / "kiosk.adm");
  EXPECT_NE(Ok(Tool({"policies", "user:ann"})).find("unset\tKiosk\\Lock the kiosk\n"),
            std::string::npos);

  // A name outside ASCII is code page 1252 in the template and UTF-8 on the terminal.
  std::ofstream(dir_ / "cafe.adm", std::ios::binary)
      << "CLASS USER\nCATEGORY \"Caf\xE9\"\n POLICY \"Men\xFC\"\n  KEYNAME K\n  VALUENAME V\n"
         " END POLICY\nEND CATEGORY\n";
  EXPECT_NE(Ok(Tool({"--template", (dir_ / "cafe.adm").string(), "policies", "user:.default"}))
                .find("unset\tCaf\xC3\xA9\\Men\xC3\xBC\n"),
            std::string::npos);
}

TEST_F(TarnwickPolicyEntriesTest, PolicyWritesEachPartTypeAndKeepsPartsNotGiven) {
  Ok(Tool({"add-user", "ann"}));
  Ok(KioskTool({"policy", "user:ann", kEveryPart, "on", "sound=1", "Title=Welcome", "Timeout=45",
                "Page=about", "Mode=loud", "Sites=example.org", "Sites=example.net",
                "Paths=Home=C:\\KIOSK", "Paths=Web=C:\\WEB=1"}));
  EXPECT_EQ(Read(kKioskKey, "Sound"), DwordValue("Sound", 1));
  EXPECT_EQ(Read(kKioskKey, "Title"), SzValue("Title", "Welcome"));
  EXPECT_EQ(Read(kKioskKey, "Timeout"), DwordValue("Timeout", 45));
  EXPECT_EQ(Read(kKioskKey, "Page"), SzValue("Page", "about"));
  EXPECT_EQ(Read(kKioskKey, "Mode"), DwordValue("Mode", 2));
  const std::string sites = std::string(kKioskKey) + "\\Sites";
  EXPECT_TRUE(Read(sites, "**delvals."));
  EXPECT_EQ(Read(sites, "Site1"), SzValue("Site1", "example.org"));
  EXPECT_EQ(Read(sites, "Site2"), SzValue("Site2", "example.net"));
  const std::string paths = std::string(kKioskKey) + "\\Paths";
  EXPECT_EQ(Read(paths, "Home"), SzValue("Home", "C:\\KIOSK"));
  EXPECT_EQ(Read(paths, "Web"), SzValue("Web", "C:\\WEB=1"));
  EXPECT_NE(Ok(KioskTool({"policies", "user:ann"})).find("on\tKiosk\\Every part\n"),
            std::string::npos);

  // Parts not given keep their values; a list given replaces the list; PART= empties it.
  Ok(KioskTool(
      {"policy", "user:ann", kEveryPart, "on", "Timeout=5", "Sites=example.com", "Paths="}));
  EXPECT_EQ(Read(kKioskKey, "Title"), SzValue("Title", "Welcome"));
  EXPECT_EQ(Read(kKioskKey, "Timeout"), DwordValue("Timeout", 5));
  EXPECT_EQ(Read(kKioskKey, "Mode"), DwordValue("Mode", 2));
  EXPECT_EQ(Read(sites, "Site1"), SzValue("Site1", "example.com"));
  EXPECT_FALSE(Read(sites, "Site2"));
  EXPECT_FALSE(Read(paths, "Home"));

  // A policy of its own value: off deletes it where the policy download applies the entry.
  Ok(KioskTool({"policy", "user:ann", "kiosk\\lock THE kiosk", "on"}));
  EXPECT_EQ(Read(kKioskKey, "Locked"), DwordValue("Locked", 1));
  Ok(KioskTool({"policy", "user:ann", "Kiosk\\Lock the kiosk", "off"}));
  EXPECT_FALSE(Read(kKioskKey, "Locked"));
  EXPECT_TRUE(Read(kKioskKey, "**del.Locked"));
  EXPECT_NE(Ok(KioskTool({"policies", "user:ann"})).find("off\tKiosk\\Lock the kiosk\n"),
            std::string::npos);

  // Unset takes away everything the policy wrote, and nothing else.
  Ok(KioskTool({"policy", "user:ann", "Kiosk\\Lock the kiosk", "unset"}));
  Ok(KioskTool({"policy", "user:ann", kEveryPart, "unset"}));
  EXPECT_TRUE(Values(kKioskKey).empty());
  EXPECT_TRUE(Values(sites).empty());
  EXPECT_EQ(
      Read("Users\\ann\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer", "NoRun"),
      DwordValue("NoRun", 0));
  const std::string listed = Ok(KioskTool({"policies", "user:ann"}));
  EXPECT_NE(listed.find("unset\tKiosk\\Every part\nunset\tKiosk\\Lock the kiosk\n"),
            std::string::npos)
      << listed;
}

TEST_F(TarnwickPolicyEntriesTest, PolicyRefusesWhatIsWrongByNameAndWritesNothing) {
  Ok(Tool({"add-user", "ann"}));
  Ok(Tool({"add-group", "staff"}));
  Ok(KioskTool({"policy", "user:ann", kEveryPart, "on", "Title=Hello"}));
  const std::string before = Slurp(PolicyFile());
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"policy", "user:bob", kEveryPart, "on"}, "There is no user named bob"},
      {{"policy", "group:family", kEveryPart, "on"}, "There is no group named family"},
      {{"policy", "computer:KIOSK1", "Kiosk machine\\Locked screen", "on"},
       "There is no computer named KIOSK1"},
      {{"policy", "user:ann", "Kiosk\\Nothing", "on"},
       "There is no user policy \"Kiosk\\Nothing\" in the templates"},
      {{"policy", "computer:.default", kEveryPart, "on"},
       "\"Kiosk\\Every part\" is a user policy; a computer entry does not take it"},
      {{"policy", "user:ann", kEveryPart, "on", "Volume=3"},
       "\"Every part\" has no part named \"Volume\"; its parts are \"Sound\", \"Title\", "
       "\"Timeout\", \"Page\", \"Mode\", \"Sites\", \"Paths\""},
      {{"policy", "user:ann", "Kiosk\\Lock the kiosk", "on", "Sound=1"},
       "\"Lock the kiosk\" has no part named \"Sound\"; it has no parts that take a value"},
      {{"policy", "user:ann", kEveryPart, "on", "Read me=x"},
       "The part \"Read me\" of \"Every part\" is a text and takes no value"},
      {{"policy", "user:ann", kEveryPart, "on", "Mode=Silent"},
       "\"Silent\" is not an item of the part \"Mode\" of \"Every part\"; its items are "
       "\"Quiet\", \"Loud\""},
      {{"policy", "user:ann", kEveryPart, "on", "Title=a", "Title=b"},
       "The part \"Title\" of \"Every part\" is given twice"},
      {{"policy", "user:ann", kEveryPart, "on", "Paths=C:\\KIOSK"},
       "The part \"Paths\" of \"Every part\" takes entries as NAME=VALUE, not \"C:\\KIOSK\""},
      {{"policy", "user:ann", kEveryPart, "on", "Timeout=61"}, "Timeout"},
      {{"policy", "user:ann", kEveryPart, "on", "Timeout=4"}, "Timeout"},
      {{"policy", "user:ann", kEveryPart, "on", "Timeout=ten"}, "Timeout"},
      {{"policy", "user:ann", kEveryPart, "on", "Title="}, "Title"},
      {{"policy", "user:ann", kEveryPart, "on", "Title=Much too long"}, "Title"},
      {{"policy", "user:ann", kEveryPart, "on", "Sound=2"}, "Sound"},
  };
  for (const auto& [args, reason] : refused) {
    const ProgramRun result = KioskTool(args);
    EXPECT_EQ(result.status, 1) << args[1] << " " << args.back();
    EXPECT_NE(result.err.find(reason), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
  }
  // A required part that has no value yet.
  const ProgramRun required = KioskTool({"policy", "user:.default", kEveryPart, "on"});
  EXPECT_EQ(required.status, 1);
  EXPECT_NE(required.err.find("Title"), std::string::npos) << required.err;
  EXPECT_EQ(Slurp(PolicyFile()), before);
}

TEST_F(TarnwickPolicyEntriesTest, GroupsAndComputersAreAddedOrderedAndRemoved) {
  EXPECT_EQ(Ok(Tool({"groups"})), "");
  Ok(Tool({"add-group", "Staff"}));
  Ok(Tool({"add-group", "pupils"}));
  Ok(Tool({"add-group", "guests"}));
  EXPECT_EQ(Ok(Tool({"groups"})), "Staff\npupils\nguests\n");
  Ok(Tool({"group-priority", "guests", "Staff", "pupils"}));
  EXPECT_EQ(Ok(Tool({"groups"})), "guests\nStaff\npupils\n");
  // The priority list as the policy download reads it: "1" the highest.
  const std::string priority = "GroupData\\UserGroups\\Priority";
  EXPECT_EQ(Read(priority, "1"), SzValue("1", "guests"));
  EXPECT_EQ(Read(priority, "3"), SzValue("3", "pupils"));

  Ok(KioskTool({"policy", "group:STAFF", "Kiosk\\Lock the kiosk", "on"}));
  EXPECT_EQ(Read("UserGroups\\Staff\\Software\\Kiosk", "Locked"), DwordValue("Locked", 1));
  EXPECT_NE(Ok(KioskTool({"policies", "group:staff"})).find("on\tKiosk\\Lock the kiosk\n"),
            std::string::npos);
  Ok(Tool({"remove-group", "staff"}));
  EXPECT_EQ(Ok(Tool({"groups"})), "guests\npupils\n");
  EXPECT_EQ(Read(priority, "2"), SzValue("2", "pupils"));
  EXPECT_FALSE(Read(priority, "3"));
  EXPECT_FALSE(Read("UserGroups\\Staff\\Software\\Kiosk", "Locked"));

  Ok(Tool({"add-computer", "KIOSK1"}));
  Ok(KioskTool({"policy", "computer:kiosk1", "Kiosk machine\\Locked screen", "on"}));
  EXPECT_EQ(Read("Computers\\KIOSK1\\Software\\Kiosk", "Locked"), DwordValue("Locked", 1));
  Ok(Tool({"remove-computer", "KIOSK1"}));
  EXPECT_FALSE(Read("Computers\\KIOSK1\\Software\\Kiosk", "Locked"));

  const std::string before = Slurp(PolicyFile());
  for (const std::vector<std::string>& args : {std::vector<std::string>{"add-group", "GUESTS"},
                                               {"remove-group", "staff"},
                                               {"group-priority", "guests"},
                                               {"group-priority", "guests", "pupils", "staff"},
                                               {"add-group", ""},
                                               {"add-group", "a\\b"},
                                               {"remove-computer", "KIOSK1"}}) {
    const ProgramRun result = Tool(args);
    EXPECT_EQ(result.status, 1) << args[0] << " " << args.back();
    EXPECT_FALSE(result.err.empty());
  }
  EXPECT_EQ(Slurp(PolicyFile()), before);
  EXPECT_EQ(Ok(Tool({"groups"})), "guests\npupils\n");

  // A group of a file made elsewhere that the priority list lacks is shown, and can be listed.
  std::ofstream(dir_ / "old.reg", std::ios::binary) << "REGEDIT4\r\n\r\n[UserGroups\\Old]\r\n";
  ASSERT_EQ(RunProgram({TARNWICK_REG_PROGRAM, "import", (dir_ / "old.reg").string(),
                        PolicyFile().string()})
                .status,
            0);
  EXPECT_EQ(Ok(Tool({"groups"})),
            "guests\npupils\nOld\t(not in the priority list: never applied)\n");
  Ok(KioskTool({"policy", "group:old", "Kiosk\\Lock the kiosk", "on"}));
  Ok(Tool({"group-priority", "Old", "guests", "pupils"}));
  EXPECT_EQ(Ok(Tool({"groups"})), "Old\nguests\npupils\n");
}

// The expected texts follow the documented download (Q168121 "How Windows 95 Determines Which
// Policies to Enforce"): the computer's entry or Default Computer; then the user's own entry, else
// the user's groups from the lowest priority to the highest, else Default User.
TEST_F(TarnwickPolicyEntriesTest, EffectiveAndApplyLogonFollowTheDownloadsOrder) {
  const std::string explorer =
      "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer]\r\n";
  const std::string noRun = "Shell\\Restrictions\\Remove 'Run' command";
  Ok(Tool({"add-user", "ann"}));
  EXPECT_EQ(Ok(Tool({"effective", "guest"})), "REGEDIT4\r\n");
  Ok(Tool({"policy", "user:.default", "Shell\\Restrictions\\Disable Shut Down command", "on"}));
  Ok(Tool({"add-group", "kiosk"}));
  Ok(Tool({"add-group", "staff"}));
  Ok(Tool({"group-priority", "staff", "kiosk"}));
  Ok(Tool({"policy", "group:kiosk", noRun, "on"}));
  Ok(Tool({"policy", "group:staff", noRun, "off"}));
  Ok(Tool({"add-computer", "KIOSK1"}));
  Ok(Tool({"policy", "computer:KIOSK1", "Network\\Logon\\Logon banner", "on", "Caption=Welcome"}));
  Ok(Tool({"policy", "user:ann", "Shell\\Restrictions\\Hide all items on desktop", "on"}));

  EXPECT_EQ(Ok(Tool({"effective", "guest"})),
            "REGEDIT4\r\n\r\n" + explorer + "\"NoClose\"=dword:00000001\r\n\r\n");
  // A group the priority list lacks, or one the user is not a member of, is not applied.
  std::ofstream(dir_ / "old.reg", std::ios::binary)
      << "REGEDIT4\r\n\r\n[UserGroups\\Old\\Software\\Microsoft\\Windows\\CurrentVersion\\"
         "Policies\\Explorer]\r\n\"NoFind\"=dword:00000001\r\n";
  ASSERT_EQ(RunProgram({TARNWICK_REG_PROGRAM, "import", (dir_ / "old.reg").string(),
                        PolicyFile().string()})
                .status,
            0);
  EXPECT_EQ(Ok(Tool({"effective", "guest", "--group", "Old", "--group", "nobody"})),
            "REGEDIT4\r\n\r\n" + explorer + "\"NoClose\"=dword:00000001\r\n\r\n");
  // Groups replace Default User, the lowest priority first so that staff's off wins.
  EXPECT_EQ(
      Ok(Tool(
          {"effective", "guest", "--group", "STAFF", "--group", "kiosk", "--computer", "kiosk1"})),
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Winlogon]\r\n"
      "\"LegalNoticeCaption\"=\"Welcome\"\r\n"
      "\"LegalNoticeText\"=\"Do not attempt to log on unless you are an authorized user.\"\r\n"
      "\r\n" +
          explorer + "\"NoRun\"=dword:00000001\r\n\"NoRun\"=dword:00000000\r\n\r\n");
  // The user's own entry replaces both.
  const std::string own = Ok(Tool({"effective", "ann", "--group", "kiosk"}));
  EXPECT_NE(own.find("\"NoDesktop\"=dword:00000001\r\n"), std::string::npos) << own;
  EXPECT_EQ(own.find("NoClose"), std::string::npos) << own;
  EXPECT_EQ(own.find("\"NoRun\"=dword:00000001"), std::string::npos) << own;

  // apply-logon makes the changes in user.dat and SYSTEM.DAT; a user without a profile is refused.
  const fs::path userDat = Windows("Profiles/ann/user.dat");
  const std::string system = Slurp(Windows("SYSTEM.DAT"));
  const ProgramRun guest = Tool({"apply-logon", "guest", "--computer", "KIOSK1"});
  EXPECT_EQ(guest.status, 1);
  EXPECT_NE(guest.err.find("The user guest has no profile"), std::string::npos) << guest.err;
  EXPECT_EQ(Slurp(Windows("SYSTEM.DAT")), system);
  EXPECT_EQ(Ok(Tool({"apply-logon", "ann", "--computer", "KIOSK1"})),
            "computer:KIOSK1\nuser:ann\n");
  for (const ReaderOutput& read :
       {ReadWithCregexport(userDat), ReadWithParseWin32Registry(userDat)}) {
    ASSERT_TRUE(read.ok()) << read.diagnostics;
    const ExportedValue* noDesktop = FindExported(
        read, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer", "NoDesktop");
    ASSERT_NE(noDesktop, nullptr);
    EXPECT_EQ(*noDesktop, DwordValue("NoDesktop", 1));
  }
  const fs::path systemDat = Windows("SYSTEM.DAT");
  for (const ReaderOutput& read :
       {ReadWithCregexport(systemDat), ReadWithParseWin32Registry(systemDat)}) {
    ASSERT_TRUE(read.ok()) << read.diagnostics;
    const ExportedValue* caption = FindExported(
        read, "Software\\Microsoft\\Windows\\CurrentVersion\\Winlogon", "LegalNoticeCaption");
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(*caption, SzValue("LegalNoticeCaption", "Welcome"));
  }
}

// Before, show and users created policy keys in Tarnex.pol; the new readers must not either.
TEST_F(TarnwickPolicyEntriesTest, ReadingCommandsChangeNoFile) {
  Ok(Tool({"users"}));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"policies", "user:.default"},
        {"policies", "computer:.default"},
        {"groups"},
        {"effective", "ann"}}) {
    Ok(KioskTool(args));
  }
  EXPECT_FALSE(fs::exists(PolicyFile()));

  Ok(Tool({"add-user", "ann"}));
  Ok(Tool({"add-group", "staff"}));
  Ok(Tool({"add-computer", "KIOSK1"}));
  fs::remove(Windows("SYSTEM.DA0"));
  fs::remove(Windows("USER.DA0"));
  std::map<std::string, std::string> before;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(Machine())) {
    if (entry.is_regular_file()) before[entry.path().string()] = Slurp(entry.path());
  }
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"policies", "user:ann"},
        {"policies", "group:staff"},
        {"policies", "computer:KIOSK1"},
        {"groups"},
        {"effective", "ann", "--group", "staff", "--computer", "KIOSK1"},
        {"effective", "nobody"}}) {
    Ok(KioskTool(args));
  }
  std::map<std::string, std::string> after;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(Machine())) {
    if (entry.is_regular_file()) after[entry.path().string()] = Slurp(entry.path());
  }
  EXPECT_EQ(after, before);
}

// What the account pages write, through the commands that mirror them. The file was made by the
// same commands with the tool of the commit before policy templates came.
const std::vector<std::vector<std::string>>& PageCommands() {
  static const std::vector<std::vector<std::string>> commands = [] {
    std::vector<std::vector<std::string>> list = {{"add-user", "ann"},
                                                  {"add-user", "bob", "--restrict", "NoRun,NoFind",
                                                   "--hide-drives", "A", "--allow", "calc.exe"}};
    for (const char* flag :
         {"NoRun", "NoFind", "NoDesktop", "NoSetFolders", "NoSetTaskbar", "RestrictRun",
          "NoPrinterChanges", "DisableRegistryTools", "NoDispSettingsPage", "NoSystemPages",
          "NoPasswordPages", "NoNetSetup", "NoDOS", "NoRealMode", "NoConfigure"}) {
      list.push_back({"set", "ann", flag, "1"});
    }
    list.push_back({"set", "ann", "NoDrives", "4"});
    list.push_back({"allow", "ann", "notepad.exe"});
    list.push_back({"set", "ann", "StartMenuFolder", "C:\\WINDOWS\\Profiles\\ann\\Start Menu"});
    list.push_back({"set", "ann", "NoRun", "0"});
    list.push_back({"set", "ann", "NoConfigure", "0"});
    list.push_back({"set", "bob", "NoFind", "0"});
    list.push_back({"remove-user", "bob"});
    return list;
  }();
  return commands;
}

TEST_F(TarnwickPolicyEntriesTest, TheAccountPagesWriteTheSameBytesAsBefore) {
  for (const std::vector<std::string>& args : PageCommands()) Ok(Tool(args));
  EXPECT_EQ(Slurp(PolicyFile()), Slurp(fs::path(TARNWICK_TOOLS_DATA) / "account-pages.pol"));
}

// The fifteen restrictions by their template paths, as the pages name them.
const std::pair<const char*, const char*> kFifteen[] = {
    {"NoRun", "Shell\\Restrictions\\Remove 'Run' command"},
    {"NoFind", "Shell\\Restrictions\\Remove 'Find' command"},
    {"NoDesktop", "Shell\\Restrictions\\Hide all items on desktop"},
    {"NoSetFolders", "Shell\\Restrictions\\Remove folders from 'Settings' on Start menu"},
    {"NoSetTaskbar", "Shell\\Restrictions\\Remove Taskbar from 'Settings' on Start menu"},
    {"RestrictRun", "System\\Restrictions\\Only run allowed Windows applications"},
    {"NoPrinterChanges", "Control Panel\\Printers\\Disable adding and deleting printers"},
    {"DisableRegistryTools", "System\\Restrictions\\Disable Registry editing tools"},
    {"NoDispSettingsPage", "Control Panel\\Display\\Hide Settings page"},
    {"NoSystemPages", "Control Panel\\System\\Hide Device Manager, File System and Virtual Memory"},
    {"NoPasswordPages",
     "Control Panel\\Passwords\\Hide Remote Administration and User Profiles pages"},
    {"NoNetSetup", "Control Panel\\Network\\Disable Network Control Panel"},
    {"NoDOS", "System\\Restrictions\\Disable MS-DOS prompt"},
    {"NoRealMode", "System\\Restrictions\\Disable single-mode MS-DOS applications"},
    {"NoConfigure", "Control Panel\\Disable System Configuration Settings in Control Panel"},
};

// Each of the fifteen through set on one machine and through policy on another, one at a time:
// the user's keys hold the same values, and each page reads the other's restriction back.
TEST_F(TarnwickPolicyEntriesTest, PolicyGivesWhatThePagesGiveForTheFifteen) {
  const fs::path pages = dir_ / "pages";
  Ok(Tool({"add-user", "ann"}, pages));
  Ok(Tool({"add-user", "ann"}));
  const auto userKeys = [](const fs::path& file) {
    ReaderOutput read = ReadWithCregexport(file);
    EXPECT_TRUE(read.ok()) << read.diagnostics;
    std::vector<ExportedKey> keys;
    for (ExportedKey& key : read.keys) {
      if (key.path.starts_with("Users\\ann\\")) {
        std::sort(key.values.begin(), key.values.end(),
                  [](const ExportedValue& a, const ExportedValue& b) { return a.name < b.name; });
        keys.push_back(std::move(key));
      }
    }
    std::sort(keys.begin(), keys.end(),
              [](const ExportedKey& a, const ExportedKey& b) { return a.path < b.path; });
    return keys;
  };
  for (const char* state : {"1", "0"}) {
    for (const auto& [flag, path] : kFifteen) {
      Ok(Tool({"set", "ann", flag, state}, pages));
      // The page's switch sets NoSetTaskbar with NoSetFolders; set sets one value.
      if (flag == std::string("NoSetFolders"))
        Ok(Tool({"set", "ann", "NoSetTaskbar", state}, pages));
      Ok(Tool({"policy", "user:ann", path, state == std::string("1") ? "on" : "off"}));
      const std::vector<ExportedKey> byPages = userKeys(pages / "c" / "WINDOWS" / "Tarnex.pol");
      EXPECT_EQ(FirstDifference(userKeys(PolicyFile()), byPages), "") << flag << "=" << state;
    }
  }
  // show reads what policy wrote, and policies what set wrote.
  Ok(Tool({"policy", "user:ann", "Shell\\Restrictions\\Hide all items on desktop", "on"}));
  EXPECT_NE(Ok(Tool({"show", "ann"})).find("\nNoDesktop=1\n"), std::string::npos);
  Ok(Tool({"set", "ann", "NoDOS", "1"}));
  EXPECT_NE(
      Ok(Tool({"policies", "user:ann"})).find("on\tSystem\\Restrictions\\Disable MS-DOS prompt\n"),
      std::string::npos);
}

}  // namespace
}  // namespace tarnwick::test
