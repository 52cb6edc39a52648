#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "demo/demo_machine.h"
#include "machine/machine.h"
#include "policy/password_store.h"
#include "policy/policy_store.h"
#include "policy/scramble.h"
#include "registry/creg_file.h"
#include "support/image_machine.h"
#include "support/independent_readers.h"
#include "support/policy_test_machine.h"
#include "support/run_program.h"
#include "support/unwritable_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

class TarnwickLabTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tarnwick-lab-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  static ProgramRun Lab(std::vector<std::string> args, const fs::path& input = {}) {
    args.insert(args.begin(), TARNWICK_LAB_PROGRAM);
    return RunProgram(std::move(args), input);
  }
  fs::path Path(const std::string& name) const { return dir_ / name; }
  void Put(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  // Makes the lab "lab" of domain CLASSROOM on server LABSRV.
  void Init(std::vector<std::string> extra = {}, const fs::path& input = {}) const {
    std::vector<std::string> args = {"init",      Path("lab").string(), "--domain",
                                     "classroom", "--server",           "LabSrv"};
    args.insert(args.end(), extra.begin(), extra.end());
    const ProgramRun run = Lab(args, input);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
  }
  // The names in a folder, sorted.
  static std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

// What a joined client's SYSTEM.DAT holds, checked in what a reader reports.
void ExpectJoined(const ReaderOutput& output) {
  ASSERT_TRUE(output.ok()) << output.diagnostics;
  const ExportedValue* profiles = FindExported(output, "Network\\Logon", "UserProfiles");
  ASSERT_NE(profiles, nullptr);
  EXPECT_EQ(profiles->type, 4u);
  EXPECT_EQ(profiles->data, Dword(1));
  const ExportedValue* mode =
      FindExported(output, "System\\CurrentControlSet\\control\\Update", "UpdateMode");
  ASSERT_NE(mode, nullptr);
  EXPECT_EQ(mode->type, 4u);
  EXPECT_EQ(mode->data, Dword(1));
  const ExportedValue* agent =
      FindExported(output, "System\\CurrentControlSet\\Services\\MSNP32\\NetworkProvider",
                   "AuthenticatingAgent");
  ASSERT_NE(agent, nullptr);
  EXPECT_EQ(agent->type, 1u);
  EXPECT_EQ(SzText(agent->data), "CLASSROOM");
}

TEST_F(TarnwickLabTest, InitMakesTheLabAndItsPolicyFile) {
  Put("password", "Geheim\n");
  Init({"--password-stdin"}, Path("password"));
  EXPECT_EQ(Names(Path("lab")), (std::vector<std::string>{"homes", "lab.ini", "netlogon"}));
  EXPECT_EQ(Names(Path("lab/netlogon")), (std::vector<std::string>{"CONFIG.POL", "LOGON.BAT"}));
  EXPECT_TRUE(fs::is_empty(Path("lab/homes")));
  EXPECT_EQ(Slurp(Path("lab/lab.ini")),
            "[Lab]\nDomain=CLASSROOM\nServer=LABSRV\nNetlogon=netlogon\nHomes=homes\n");
  const std::string script = Slurp(Path("lab/netlogon/LOGON.BAT"));
  EXPECT_TRUE(script.starts_with("@ECHO OFF\r\n")) << script;
  EXPECT_EQ(std::count(script.begin(), script.end(), '\n'),
            std::count(script.begin(), script.end(), '\r'));
  // Nothing is left beside the lab.
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"lab", "password"}));

  const fs::path policy = Path("lab/netlogon/CONFIG.POL");
  for (const ReaderOutput& output :
       {ReadWithCregexport(policy), ReadWithParseWin32Registry(policy)}) {
    ASSERT_TRUE(output.ok()) << output.diagnostics;
    EXPECT_TRUE(HasExportedKey(output, "Users\\.default"));
    const ExportedValue* mode = FindExported(
        output, "Computers\\.default\\System\\CurrentControlSet\\control\\Update", "UpdateMode");
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(mode->data, Dword(1));
    const ExportedValue* password = FindExported(output, "Config", "Mode");
    ASSERT_NE(password, nullptr);
    EXPECT_EQ(password->type, 1u);
  }
  // The program reads the password back from the file as its own policy file.
  PolicyMachine machine;
  fs::copy_file(policy, machine.PolicyFile());
  machine.Restart();
  AttachedPolicyFile attached(machine.Store());
  EXPECT_EQ(ReadStoredPassword(machine.Store()), "Geheim");
}

TEST_F(TarnwickLabTest, PasswordsThatScrambleToAZeroByteAndNoPassword) {
  ASSERT_EQ(ScrambleText("a", kScrambleSeed), std::string(1, '\0'));
  Put("password", "a\r\n");
  Init({"--password-stdin"}, Path("password"));
  {
    PolicyMachine machine;
    fs::copy_file(Path("lab/netlogon/CONFIG.POL"), machine.PolicyFile());
    machine.Restart();
    AttachedPolicyFile attached(machine.Store());
    EXPECT_EQ(ReadStoredPassword(machine.Store()), "a");
  }
  const ProgramRun run = Lab({"init", Path("open").string(), "--domain", "D", "--server", "S"});
  ASSERT_EQ(run.status, 0) << run.err;
  const ReaderOutput output = ReadWithCregexport(Path("open/netlogon/CONFIG.POL"));
  ASSERT_TRUE(output.ok()) << output.diagnostics;
  EXPECT_TRUE(HasExportedKey(output, "Config"));
  EXPECT_EQ(FindExported(output, "Config", "Mode"), nullptr);  // the first start asks for one
}

TEST_F(TarnwickLabTest, InitFoldersElsewhere) {
  fs::create_directory(Path("srv"));
  fs::create_directory(Path("srv/homes"));  // an empty folder is taken
  Init({"--netlogon", Path("srv/netlogon").string(), "--homes", Path("srv/homes").string()});
  EXPECT_EQ(Names(Path("lab")), (std::vector<std::string>{"lab.ini"}));
  EXPECT_EQ(Names(Path("srv")), (std::vector<std::string>{"homes", "netlogon"}));
  EXPECT_TRUE(fs::exists(Path("srv/netlogon/CONFIG.POL")));
  const ProgramRun conf = Lab({"smb-conf", Path("lab").string()});
  ASSERT_EQ(conf.status, 0) << conf.err;
  EXPECT_NE(conf.out.find("\tpath = " + Path("srv/netlogon").string() + "\n"), std::string::npos)
      << conf.out;
  EXPECT_NE(conf.out.find("\tpath = " + Path("srv/homes").string() + "/%u\n"), std::string::npos);
}

TEST_F(TarnwickLabTest, InitRefusesAndLeavesNothingBehind) {
  Init();
  auto refused = [&](std::vector<std::string> args, const std::string& error) {
    const std::vector<std::string> before = Names(dir_);
    args.insert(args.begin(), "init");
    const ProgramRun run = Lab(args);
    EXPECT_EQ(run.status, 1) << args[1];
    EXPECT_NE(run.err.find(error), std::string::npos) << run.err;
    EXPECT_EQ(Names(dir_), before) << error;
  };
  const std::string lab = Path("lab").string();
  const std::string other = Path("other").string();
  refused({lab, "--domain", "D", "--server", "S"}, "holds a lab already");
  fs::create_directory(Path("full"));
  Put("full/x", "x");
  refused({Path("full").string(), "--domain", "D", "--server", "S"}, "is not empty");
  refused({other, "--domain", "SIXTEEN-LETTERS1", "--server", "S"},
          "the domain name is longer than 15 characters");
  refused({other, "--domain", "D", "--server", "LAB SERVER"}, "the server name holds \" \"");
  refused({other, "--domain", "D", "--server", "100%"}, "the server name holds \"%\"");
  refused({other, "--domain", "Same", "--server", "SAME"}, "need different names");
  refused({other, "--domain", "D", "--server", "S", "--netlogon", "../x"},
          "the netlogon folder leaves the lab directory");
  refused({other, "--domain", "D", "--server", "S", "--homes", "netlogon"},
          "the netlogon and homes folders must differ");
  refused({other, "--domain", "D", "--server", "S", "--homes", Path("full").string()},
          "is not empty");
  refused({Path("none/lab").string(), "--domain", "D", "--server", "S"}, "no such folder");
  {
    fs::create_directory(Path("locked"));
    UnwritableDir locked(Path("locked"));
    refused({Path("locked/lab").string(), "--domain", "D", "--server", "S"},
            "cannot make a folder there");
    // The lab's own folder can be made, a homes folder elsewhere cannot: the lab goes again.
    refused({other, "--domain", "D", "--server", "S", "--homes", Path("locked/homes").string()},
            "cannot make a folder there");
    EXPECT_TRUE(fs::is_empty(Path("locked")));
  }
  const ProgramRun usage = Lab({"init", other, "--domain", "D"});
  EXPECT_EQ(usage.status, 2);
  EXPECT_NE(usage.err.find("init needs --domain and --server"), std::string::npos);
}

TEST_F(TarnwickLabTest, SmbConfPassesTestparm) {
  Init();
  const ProgramRun conf = Lab({"smb-conf", Path("lab").string()});
  ASSERT_EQ(conf.status, 0) << conf.err;
  Put("lab.conf", conf.out);
  for (const char* line :
       {"\tworkgroup = CLASSROOM\n", "\tnetbios name = LABSRV\n",
        "\tserver role = classic primary domain controller\n", "\tdomain logons = yes\n",
        "\tserver min protocol = LANMAN1\n", "\tlanman auth = yes\n",
        "\tntlm auth = ntlmv1-permitted\n", "\tlogon home = \\\\%L\\%U\\.profiles\n",
        "\tlogon script = LOGON.BAT\n", "\tpreserve case = yes\n", "\tshort preserve case = yes\n",
        "\tcase sensitive = no\n", "[netlogon]\n", "\tread only = yes\n", "[homes]\n"}) {
    EXPECT_NE(conf.out.find(line), std::string::npos) << line;
  }
  // A server's smb.conf that includes the lines, as the help says.
  Put("smb.conf",
      "[global]\n\tload printers = no\n\tinclude = " + Path("lab.conf").string() + "\n");
  const ProgramRun testparm = RunProgram({"testparm", "-s", Path("smb.conf").string()});
  ASSERT_EQ(testparm.status, 0) << testparm.err;
  std::vector<std::string> complaints;
  size_t start = 0;
  for (size_t end; (end = testparm.err.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = testparm.err.substr(start, end - start);
    if (line.find("WARNING") != std::string::npos || line.find("ERROR") != std::string::npos) {
      complaints.push_back(line);
    }
  }
  EXPECT_EQ(complaints,
            (std::vector<std::string>{
                "lpcfg_do_global_parameter: WARNING: The \"domain logons\" option is deprecated",
                "lpcfg_do_global_parameter: WARNING: The \"lanman auth\" option is deprecated"}))
      << testparm.err;
  EXPECT_NE(testparm.err.find("Server role: ROLE_DOMAIN_PDC"), std::string::npos) << testparm.err;
}

TEST_F(TarnwickLabTest, SmbConfRefusesALabWithoutAGoodPolicyFile) {
  Init();
  const fs::path policy = Path("lab/netlogon/CONFIG.POL");
  std::string bytes = Slurp(policy);
  bytes.resize(bytes.size() / 2);
  Put("lab/netlogon/CONFIG.POL", bytes);
  ProgramRun run = Lab({"smb-conf", Path("lab").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("CONFIG.POL"), std::string::npos) << run.err;
  fs::remove(policy);
  run = Lab({"smb-conf", Path("lab").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("the lab's policy file is missing"), std::string::npos) << run.err;
  run = Lab({"smb-conf", dir_.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("holds no lab"), std::string::npos) << run.err;
  Put("lab/lab.ini", "[Lab]\nDomain=CLASSROOM\nServer=A/B\nNetlogon=netlogon\nHomes=homes\n");
  run = Lab({"join-reg", Path("lab").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Server=A/B holds \"/\""), std::string::npos) << run.err;
}

TEST_F(TarnwickLabTest, JoinAMachineDirectory) {
  Init();
  const fs::path client = Path("client");
  CreateDemoMachine(client);
  const fs::path systemDat = Machine::Open(client).HostPath("C:\\WINDOWS\\SYSTEM.DAT").value();
  const ReaderOutput before = ReadWithCregexport(systemDat);
  ASSERT_TRUE(before.ok()) << before.diagnostics;
  const ProgramRun run = Lab({"join", Path("lab").string(), "--machine", client.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const ReaderOutput creg = ReadWithCregexport(systemDat);
  ExpectJoined(creg);
  ExpectJoined(ReadWithParseWin32Registry(systemDat));
  // Everything the client held before is still there; the old file is kept.
  for (const ExportedKey& key : before.keys) {
    if (key.values.empty()) continue;
    const auto found = std::find_if(creg.keys.begin(), creg.keys.end(),
                                    [&](const ExportedKey& k) { return k.path == key.path; });
    ASSERT_NE(found, creg.keys.end()) << key.path;
    for (const ExportedValue& value : key.values) {
      if (key.path == "System\\CurrentControlSet\\control\\Update" && value.name == "UpdateMode") {
        continue;
      }
      EXPECT_NE(std::find(found->values.begin(), found->values.end(), value), found->values.end())
          << key.path << "\\" << value.name;
    }
  }
  EXPECT_TRUE(fs::exists(systemDat.parent_path() / "SYSTEM.DA0"));
  // The icons the lab's shortcuts name are on the client's own disk.
  EXPECT_TRUE(ExistingFile(Machine::Open(client), "C:\\TARNEX\\default.ico"));

  // Refused while Tarnwick administers the client, and on a damaged SYSTEM.DAT, which stays as
  // it was.
  const std::string joined = Slurp(systemDat);
  {
    const Machine machine = Machine::Open(client);
    const std::optional<MachineLock> lock = MachineLock::TryAcquire(machine);
    ASSERT_TRUE(lock);
    const ProgramRun locked = Lab({"join", Path("lab").string(), "--machine", client.string()});
    EXPECT_EQ(locked.status, 1);
    EXPECT_NE(locked.err.find("Tarnwick is running on the machine"), std::string::npos)
        << locked.err;
  }
  const std::string damaged = joined.substr(0, joined.size() / 3);
  std::ofstream(systemDat, std::ios::binary | std::ios::trunc) << damaged;
  const ProgramRun bad = Lab({"join", Path("lab").string(), "--machine", client.string()});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("SYSTEM.DAT"), std::string::npos) << bad.err;
  EXPECT_EQ(Slurp(systemDat), damaged);
}

TEST_F(TarnwickLabTest, JoinDiskImages) {
  Init();
  for (const auto& [bits, kind, image] :
       {std::tuple{16, ImageMachine::Kind::Raw, "c.img"},
        std::tuple{32, ImageMachine::Kind::DynamicVhd, "c.vhd"}}) {
    const ImageMachine client(bits, {{"WINDOWS/", ""}}, kind);
    const ProgramRun run =
        Lab({"join", Path("lab").string(), "--image", (client.Dir() / image).string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const fs::path systemDat = client.Extract("WINDOWS/SYSTEM.DAT");
    ExpectJoined(ReadWithCregexport(systemDat));
    ExpectJoined(ReadWithParseWin32Registry(systemDat));
    EXPECT_FALSE(client.Type("TARNEX/default.ico").empty());
    client.ExpectClean();
  }
  const ProgramRun missing =
      Lab({"join", Path("lab").string(), "--image", Path("none.img").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("no such disk image"), std::string::npos) << missing.err;
  const ProgramRun both = Lab({"join", Path("lab").string(), "--image", "a", "--machine", "b"});
  EXPECT_EQ(both.status, 2);
}

TEST_F(TarnwickLabTest, JoinRegImportsToTheSameValues) {
  Init();
  const ProgramRun text = Lab({"join-reg", Path("lab").string()});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_TRUE(text.out.starts_with("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Network\\Logon]\r\n"))
      << text.out;
  Put("LAB.REG", text.out);
  const ProgramRun import =
      RunProgram({TARNWICK_REG_PROGRAM, "import", "--root", "HKEY_LOCAL_MACHINE",
                  Path("LAB.REG").string(), Path("SYSTEM.DAT").string()});
  ASSERT_EQ(import.status, 0) << import.err;
  ExpectJoined(ReadWithCregexport(Path("SYSTEM.DAT")));
  ExpectJoined(ReadWithParseWin32Registry(Path("SYSTEM.DAT")));
}

TEST_F(TarnwickLabTest, SambaUsersCommands) {
  fs::create_directory(Path("it's"));
  const ProgramRun init =
      Lab({"init", Path("it's/lab").string(), "--domain", "D", "--server", "S"});
  ASSERT_EQ(init.status, 0) << init.err;
  Put("class.csv",
      "group,Name\n\"Pupils, 4b\",Anna\n\n,ben.k\nIt's 2024,carl\n\"PUPILS, 4B\",dora\n");
  const ProgramRun run =
      Lab({"samba-users", Path("class.csv").string(), "--lab", Path("it's/lab").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  // Run the script with stand-ins for the commands that print each argument on its own line;
  // no group exists and "net groupmap list" finds no mapping.
  fs::create_directory(Path("bin"));
  for (const char* command :
       {"useradd", "install", "pdbedit", "getent", "groupadd", "net", "usermod"}) {
    const std::string name = command;
    Put("bin/" + name, name == "getent" ? "#!/bin/sh\nexit 2\n"
                                        : "#!/bin/sh\necho " + name +
                                              "\nfor a in \"$@\"; do echo \"<$a>\"; done\n"
                                              "[ \"$2\" != list ]\n");
    fs::permissions(Path("bin/" + name), fs::perms::owner_all);
  }
  Put("script.sh", run.out);
  const ProgramRun script = RunProgram(
      {"env", "PATH=" + Path("bin").string() + ":/usr/bin:/bin", "sh", Path("script.sh").string()});
  ASSERT_EQ(script.status, 0) << script.err;
  // What the stand-ins print for an account without a group.
  auto account = [&](const std::string& name) {
    const std::string home = Path("it's/lab/homes/" + name).string();
    return "useradd\n<--user-group>\n<--no-create-home>\n<--home-dir>\n<" + home +
           ">\n<--shell>\n</usr/sbin/nologin>\n<-->\n<" + name + ">\ninstall\n<-d>\n<-o>\n<" +
           name + ">\n<-g>\n<" + name + ">\n<-m>\n<0700>\n<-->\n<" + home + ">\n<" + home +
           "/.profiles>\npdbedit\n<-a>\n<-u>\n<" + name + ">\n";
  };
  // Each group is made and mapped once, before the accounts, whatever letter case names it.
  EXPECT_EQ(script.out,
            "groupadd\n<-->\n<pupils_4b>\n"
            "net\n<groupmap>\n<add>\n<ntgroup=Pupils, 4b>\n<unixgroup=pupils_4b>\n<type=domain>\n"
            "groupadd\n<-->\n<it_s_2024>\n"
            "net\n<groupmap>\n<add>\n<ntgroup=It's 2024>\n<unixgroup=it_s_2024>\n<type=domain>\n" +
                account("anna") + "usermod\n<-a>\n<-G>\n<pupils_4b>\n<-->\n<anna>\n" +
                account("ben.k") + account("carl") +
                "usermod\n<-a>\n<-G>\n<it_s_2024>\n<-->\n<carl>\n" + account("dora") +
                "usermod\n<-a>\n<-G>\n<pupils_4b>\n<-->\n<dora>\n");
}

TEST_F(TarnwickLabTest, SambaUsersRefusesNamesWithTheirPlace) {
  auto error = [&](const std::string& csv) {
    Put("class.csv", csv);
    const ProgramRun run = Lab({"samba-users", Path("class.csv").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");  // nothing printed when a row is bad
    return run.err;
  };
  const std::string file = Path("class.csv").string();
  EXPECT_EQ(error("name\nanna\nAnna Lee\n"),
            "tarnwick-lab: " + file +
                ", line 3, column 1: the name \"Anna Lee\" holds \" \"; an "
                "account name takes the letters a to z, digits, \".\", \"-\" and \"_\"\n");
  EXPECT_EQ(error("group,name\nx,\"it's\"\n"),
            "tarnwick-lab: " + file +
                ", line 2, column 2: the name \"it's\" holds \"'\"; an "
                "account name takes the letters a to z, digits, \".\", \"-\" and \"_\"\n");
  EXPECT_EQ(error("name\nabcdefghijklmnopqrstu\n"),
            "tarnwick-lab: " + file +
                ", line 2, column 1: the name \"abcdefghijklmnopqrstu\" is longer than 20 "
                "characters\n");
  EXPECT_NE(error("name\n-rf\n").find("begins with \"-\""), std::string::npos);
  EXPECT_NE(error("name\n1234\n").find("is only digits"), std::string::npos);
  EXPECT_NE(error("name\nanna\nANNA\n").find("line 3, column 1: the name \"ANNA\" is on line 2"),
            std::string::npos);
  EXPECT_NE(error("name\n\"anna\n").find("the quoted cell never closes"), std::string::npos);
  EXPECT_NE(error("nom\nanna\n").find("unknown column \"nom\""), std::string::npos);
}

TEST_F(TarnwickLabTest, SambaUsersRefusesGroupsWithTheirPlace) {
  auto error = [&](const std::string& csv) {
    Put("class.csv", csv);
    const ProgramRun run = Lab({"samba-users", Path("class.csv").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    return run.err;
  };
  const std::string file = Path("class.csv").string();
  EXPECT_EQ(
      error("name,group\nanna,Pupils 4b\nben,PUPILS 4B\ncarl,pupils_4b\n"),
      "tarnwick-lab: " + file +
          ", line 4, column 2: the group \"pupils_4b\" makes the Unix group \"pupils_4b\", as "
          "the group \"Pupils 4b\" on line 2 does\n");
  EXPECT_NE(error("group,name\n2024,anna\n-_2024,ben\n")
                .find("line 3, column 1: the group \"-_2024\" makes the Unix group \"_2024\", as "
                      "the group \"2024\" on line 2 does"),
            std::string::npos);
  EXPECT_NE(error("name,group\nanna,Ben\nben,\n")
                .find("line 2, column 2: the group \"Ben\" makes the Unix group \"ben\", the own "
                      "group of the account on line 3"),
            std::string::npos);
  EXPECT_NE(error("name,group\nanna,Sch\xc3\xbcler\n")
                .find("line 2, column 2: the group \"Sch\xc3\xbcler\" holds \"\xc3\xbc\""),
            std::string::npos);
  EXPECT_NE(error("name,group\nanna,(!)\n").find("holds no letter or digit"), std::string::npos);
  EXPECT_NE(error("name,group\nanna," + std::string(33, 'g') + "\n").find("longer than 32"),
            std::string::npos);
}

}  // namespace
}  // namespace tarnwick::test
