// The tools racing each other on one policy file or one disk lose no change, and a command that
// fails changes no file.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "demo/demo_machine.h"
#include "machine/machine.h"
#include "support/run_program.h"
#include "support/temp_machine_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

ProgramRun Policy(const fs::path& machine, std::vector<std::string> args) {
  args.insert(args.begin(), {TARNWICK_POLICY_PROGRAM, "--machine", machine.string()});
  return RunProgram(std::move(args));
}

ProgramRun Reg(std::vector<std::string> args) {
  args.insert(args.begin(), TARNWICK_REG_PROGRAM);
  return RunProgram(std::move(args));
}

void Put(const fs::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

// Makes a demo machine in dir with the account ann; with disk, drive C lies there instead, outside
// the machine directory.
void MakeMachine(const fs::path& dir, const fs::path& disk = {}) {
  OpenOrCreateMachine(dir);
  if (!disk.empty()) {
    fs::rename(dir / "c", disk);
    std::string ini = Slurp(dir / "machine.ini");
    ini.replace(ini.find("Path=c\n"), 7, "Path=" + disk.string() + "\n");
    Put(dir / "machine.ini", ini);
  }
  ASSERT_EQ(Policy(dir, {"add-user", "ann"}).status, 0);
}

// Counts of a race: changes reported done, refused because the other run held the lock, and done
// but missing at the end.
struct Tally {
  int done = 0;
  int refused = 0;
  int lost = 0;
};

// Runs both changes of each pair at once. A change either succeeds or is refused for the lock.
// present(i, which) tells at the end whether change which (0 or 1) of pair i is there.
Tally Race(int pairs, const std::function<ProgramRun(int, int)>& change,
           const std::function<bool(int, int)>& present) {
  Tally tally;
  std::vector<std::array<bool, 2>> done(pairs);
  for (int i = 0; i < pairs; ++i) {
    auto first = std::async(std::launch::async, [&] { return change(i, 0); });
    const ProgramRun results[] = {change(i, 1), first.get()};
    for (int which = 0; which < 2; ++which) {
      const ProgramRun& run = results[1 - which];
      done[i][which] = run.status == 0;
      if (run.status == 0) {
        ++tally.done;
      } else if (run.err.find("close it and try again") != std::string::npos) {
        ++tally.refused;
      } else {
        ADD_FAILURE() << "pair " << i << ": " << run.err;
      }
    }
  }
  for (int i = 0; i < pairs; ++i) {
    for (int which = 0; which < 2; ++which) tally.lost += done[i][which] && !present(i, which);
  }
  return tally;
}

std::string App(int i, int which) {
  return (which == 0 ? "a" : "b") + std::to_string(i) + ".exe";
}

// tarnwick-policy and tarnwick-reg import into one Tarnex.pol, the file inside its machine's
// directory and, on a machine whose drive C lies elsewhere, outside it.
TEST(ToolRaces, AnImportIntoAPolicyFileLosesNoChange) {
  TempMachineDir temp;
  for (const bool inside : {true, false}) {
    const fs::path machine = temp.Path() / (inside ? "inside" : "outside");
    const fs::path disk = inside ? fs::path() : temp.Path() / "disk";
    MakeMachine(machine, disk);
    const fs::path policyFile = (inside ? machine / "c" : disk) / "WINDOWS" / "Tarnex.pol";
    const Tally tally = Race(
        100,
        [&](int i, int which) {
          if (which == 0) return Policy(machine, {"allow", "ann", App(i, 0)});
          const fs::path text = temp.Path() / ("import" + std::to_string(i) + ".reg");
          Put(text, "REGEDIT4\r\n\r\n[Users\\ann\\Imported]\r\n\"v" + std::to_string(i) +
                        "\"=\"x\"\r\n\r\n");
          return Reg({"import", text.string(), policyFile.string()});
        },
        [&, show = std::string(), exported = std::string()](int i, int which) mutable {
          if (show.empty()) show = Policy(machine, {"show", "ann"}).out;
          if (exported.empty()) exported = Reg({"export", policyFile.string()}).out;
          return which == 0 ? show.find("=" + App(i, 0) + "\n") != std::string::npos
                            : exported.find("\"v" + std::to_string(i) + "\"=") != std::string::npos;
        });
    std::cout << (inside ? "inside" : "outside") << " the machine directory: " << tally.done
              << " done, " << tally.refused << " refused, " << tally.lost << " lost\n";
    EXPECT_EQ(tally.lost, 0);
    EXPECT_GE(tally.done, 100);
  }
}

// Two machine directories whose drive C is one host directory.
TEST(ToolRaces, TwoMachinesOnOneDiskLoseNoChange) {
  TempMachineDir temp;
  const fs::path first = temp.Path() / "first";
  const fs::path second = temp.Path() / "second";
  MakeMachine(first);
  fs::create_directories(second);
  std::string ini = Slurp(first / "machine.ini");
  ini.replace(ini.find("Path=c\n"), 7, "Path=" + (first / "c").string() + "\n");
  Put(second / "machine.ini", ini);
  const Tally tally = Race(
      200,
      [&](int i, int which) {
        return Policy(which == 0 ? first : second, {"allow", "ann", App(i, which)});
      },
      [&, show = std::string()](int i, int which) mutable {
        if (show.empty()) show = Policy(second, {"show", "ann"}).out;
        return show.find("=" + App(i, which) + "\n") != std::string::npos;
      });
  std::cout << "two machines on one disk: " << tally.done << " done, " << tally.refused
            << " refused, " << tally.lost << " lost\n";
  EXPECT_EQ(tally.lost, 0);
  EXPECT_GE(tally.done, 200);
}

// A SYSTEM.DAT with a NUL byte in a key name: the reader takes it, the writer refuses it.
TEST(ToolCommits, AFailingCommandChangesNoFileNorTheBackup) {
  TempMachineDir temp;
  const fs::path machine = temp.Path() / "m";
  MakeMachine(machine);
  const fs::path windows = machine / "c" / "WINDOWS";
  const fs::path damaged = temp.Path() / "damaged.reg";
  Put(damaged, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Damaged]\r\n\r\n");
  ASSERT_EQ(Reg({"--machine", machine.string(), "import", damaged.string()}).status, 0);
  std::string system = Slurp(windows / "SYSTEM.DAT");
  const size_t at = system.find("Damaged");
  ASSERT_NE(at, std::string::npos);
  system[at + 3] = '\0';
  Put(windows / "SYSTEM.DAT", system);

  auto files = [&] {
    std::map<std::string, std::string> contents;
    for (const auto& entry : fs::directory_iterator(windows)) {
      if (entry.is_regular_file()) contents[entry.path().filename()] = Slurp(entry.path());
    }
    return contents;
  };
  const std::map<std::string, std::string> before = files();
  const fs::path both = temp.Path() / "both.reg";
  Put(both,
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Both]\r\n\r\n[HKEY_USERS\\.DEFAULT\\Both]\r\n\r\n");
  const std::vector<std::vector<std::string>> commands = {
      {TARNWICK_POLICY_PROGRAM, "--machine", machine.string(), "add-user", "zed"},
      {TARNWICK_POLICY_PROGRAM, "--machine", machine.string(), "remove-user", "ann"},
      {TARNWICK_REG_PROGRAM, "--machine", machine.string(), "import", both.string()},
  };
  for (const std::vector<std::string>& command : commands) {
    const ProgramRun run = RunProgram(command);
    EXPECT_EQ(run.status, 1) << command[3];
    EXPECT_NE(run.err.find("NUL byte"), std::string::npos) << run.err;
    EXPECT_TRUE(files() == before) << command[3] << " changed a file";
    EXPECT_EQ(Policy(machine, {"users"}).out, "ann\n") << command[3];
  }
  EXPECT_FALSE(fs::exists(windows / "Profiles" / "zed" / "user.dat"));
}

}  // namespace
}  // namespace tarnwick::test
