// A lab served by a real Samba: smbd from Debian's samba package on the loopback address with a
// configuration that includes tarnwick-lab's lines, its own folders in a temporary directory and
// a high port; smbclient speaking NT1 with LAN Manager authentication, as a Windows 95 client
// would, fetches the policy file from NETLOGON and a profile's user.dat from the home share.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "registry/creg_file.h"
#include "registry/reg_tree.h"
#include "support/independent_readers.h"
#include "support/run_program.h"
#include "support/temp_machine_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kPassword[] = "Lab-Pass-95";

// A port on the loopback address that nothing listens on now.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

// The processes of a process group that have not ended (zombies left to init count as ended).
int LiveProcessesIn(pid_t group) {
  int live = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string text;
    if (!std::getline(stat, text)) continue;
    const size_t close = text.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(text.substr(close + 2));
    char state = 0;
    pid_t parent = 0, pgrp = 0;
    fields >> state >> parent >> pgrp;
    if (pgrp == group && state != 'Z') ++live;
  }
  return live;
}

std::string SmbdProgram() {
  return fs::exists("/usr/sbin/smbd") ? "/usr/sbin/smbd" : "smbd";
}

// smbd in a process group of its own, ended with the whole group when the object goes.
class Smbd {
 public:
  Smbd(const fs::path& config, const fs::path& log, int port) {
    const std::string program = SmbdProgram();
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(out, 2);
      execlp(program.c_str(), program.c_str(), "--foreground", "--no-process-group",
             "--debug-stdout", "-d", "1", "-s", config.c_str(), nullptr);
      _exit(127);
    }
    if (pid_ > 0) {
      setpgid(pid_, pid_);
      group_ = pid_;
    }
    for (auto until = std::chrono::steady_clock::now() + 30s;
         std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(100ms)) {
      if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      if (Accepts(port)) {
        running_ = true;
        return;
      }
    }
  }
  ~Smbd() { Stop(); }
  Smbd(const Smbd&) = delete;
  Smbd& operator=(const Smbd&) = delete;

  bool Running() const { return running_; }
  pid_t Group() const { return group_; }

  void Stop() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    for (int i = 0; i < 100 && waitpid(pid_, &status_, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(50ms);
    }
    if (LiveProcessesIn(pid_) > 0) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, &status_, 0);
    }
    for (int i = 0; i < 100 && LiveProcessesIn(pid_) > 0; ++i) std::this_thread::sleep_for(50ms);
    pid_ = -1;
    running_ = false;
  }

 private:
  pid_t pid_ = -1;
  pid_t group_ = -1;  // kept after Stop, for the check that nothing is left
  int status_ = 0;
  bool running_ = false;
};

std::string CurrentUser() {
  const passwd* entry = getpwuid(geteuid());
  return entry ? entry->pw_name : "";
}

// smbclient as a Windows 95 client talks: NT1, LAN Manager authentication allowed, no SPNEGO.
ProgramRun SmbGet(const fs::path& clientConfig, int port, const std::string& user,
                  const std::string& share, const std::string& remote, const fs::path& local) {
  return RunProgram({"smbclient", "//LABSRV/" + share, "-I", "127.0.0.1", "-p",
                     std::to_string(port), "-m", "NT1", "-s", clientConfig.string(), "-U",
                     user + "%" + kPassword, "--option=client min protocol=NT1",
                     "--option=client lanman auth=yes", "--option=client ntlmv2 auth=no",
                     "--option=client use spnego=no", "-c",
                     "get \"" + remote + "\" \"" + local.string() + "\""});
}

void ExpectReadersAccept(const fs::path& file, const RegNode& tree) {
  for (const ReaderOutput& output : {ReadWithCregexport(file), ReadWithParseWin32Registry(file)}) {
    ASSERT_TRUE(output.ok()) << file << ": " << output.diagnostics;
    EXPECT_EQ(FirstDifference(output.keys, ExportTree(tree)), "") << file;
  }
}

TEST(SambaE2eTest, ClientsFetchThePolicyFileAndAProfileFromTheLab) {
  const TempMachineDir temp;
  const fs::path root = temp.Path();
  const std::string user = CurrentUser();
  ASSERT_FALSE(user.empty());

  temp.WriteFile("password", "Teacher\n");
  ProgramRun run = RunProgram({TARNWICK_LAB_PROGRAM, "init", (root / "lab").string(), "--domain",
                               "CLASSROOM", "--server", "LABSRV", "--password-stdin"},
                              root / "password");
  ASSERT_EQ(run.status, 0) << run.err;
  run = RunProgram({TARNWICK_LAB_PROGRAM, "smb-conf", (root / "lab").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  temp.WriteFile("lab.conf", run.out);

  // The user's account, its roaming profile where Windows 95 keeps it: .profiles in the home
  // share.
  run =
      RunProgram({TARNWICK_POLICY_PROGRAM, "--machine", (root / "lab").string(), "add-user", user});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::unique_ptr<RegNode> profile =
      ReadRegistryFile(root / "lab/homes" / user / ".profiles/user.dat");

  const int port = FreePort();
  ASSERT_GT(port, 1024);
  const fs::path state = root / "samba";
  fs::create_directories(state / "log");
  std::string config = "[global]\n\tsmb ports = " + std::to_string(port) +
                       "\n\tinterfaces = 127.0.0.1\n\tbind interfaces only = yes\n"
                       "\tdisable netbios = yes\n\tload printers = no\n"
                       "\tprintcap name = /dev/null\n";
  for (const auto& [parameter, folder] :
       {std::pair{"private dir", "private"}, std::pair{"lock directory", "lock"},
        std::pair{"state directory", "state"}, std::pair{"cache directory", "cache"},
        std::pair{"pid directory", "pid"}, std::pair{"ncalrpc dir", "ncalrpc"}}) {
    fs::create_directories(state / folder);
    config += std::string("\t") + parameter + " = " + (state / folder).string() + "\n";
  }
  config += "\tlog file = " + (state / "log/log.%m").string() + "\n" +
            "\tpassdb backend = tdbsam:" + (state / "private/passdb.tdb").string() + "\n" +
            "\tinclude = " + (root / "lab.conf").string() + "\n";
  temp.WriteFile("smb.conf", config);
  temp.WriteFile("client.conf", "[global]\n");

  // The test account in the server's own passdb.
  temp.WriteFile("new-password", std::string(kPassword) + "\n" + kPassword + "\n");
  run = RunProgram({"pdbedit", "-s", (root / "smb.conf").string(), "-a", "-u", user, "-t"},
                   root / "new-password");
  ASSERT_EQ(run.status, 0) << run.out << run.err;

  Smbd smbd(root / "smb.conf", state / "log/smbd.out", port);
  ASSERT_TRUE(smbd.Running()) << Slurp(state / "log/smbd.out");

  const fs::path policy = root / "CONFIG.POL";
  run = SmbGet(root / "client.conf", port, user, "NETLOGON", "CONFIG.POL", policy);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(Slurp(policy), Slurp(root / "lab/netlogon/CONFIG.POL"));
  ExpectReadersAccept(policy, *ReadRegistryFile(root / "lab/netlogon/CONFIG.POL"));

  const fs::path userDat = root / "user.dat";
  run = SmbGet(root / "client.conf", port, user, user, ".profiles\\user.dat", userDat);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(Slurp(userDat), Slurp(root / "lab/homes" / user / ".profiles/user.dat"));
  ExpectReadersAccept(userDat, *profile);

  // A wrong password is refused, and the netlogon share cannot be written.
  run =
      RunProgram({"smbclient", "//LABSRV/NETLOGON", "-I", "127.0.0.1", "-p", std::to_string(port),
                  "-m", "NT1", "-s", (root / "client.conf").string(), "-U", user + "%" + kPassword,
                  "--option=client min protocol=NT1", "--option=client lanman auth=yes", "-c",
                  "put \"" + policy.string() + "\" OTHER.POL"});
  EXPECT_NE(run.out.find("NT_STATUS_ACCESS_DENIED"), std::string::npos) << run.out << run.err;
  EXPECT_FALSE(fs::exists(root / "lab/netlogon/OTHER.POL"));
  run = RunProgram({"smbclient", "//LABSRV/NETLOGON", "-I", "127.0.0.1", "-p", std::to_string(port),
                    "-m", "NT1", "-s", (root / "client.conf").string(), "-U", user + "%wrong",
                    "--option=client min protocol=NT1", "-c", "ls"});
  EXPECT_NE(run.status, 0) << run.out;

  smbd.Stop();
  EXPECT_EQ(LiveProcessesIn(smbd.Group()), 0);
}

}  // namespace
}  // namespace tarnwick::test
