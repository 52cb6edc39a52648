#include "support/test_lab.h"

#include <fstream>

#include "registry/creg_file.h"
#include "registry/reg_tree.h"
#include "support/policy_test_machine.h"

namespace tarnwick::test {

void WriteTestLab(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir / "netlogon");
  std::filesystem::create_directories(dir / "homes");
  std::ofstream(dir / "lab.ini", std::ios::binary)
      << "[Lab]\nDomain=CLASS\nServer=LABSRV\nNetlogon=netlogon\nHomes=homes\n";
  RegNode root;
  root.AddSubkey("Users").AddSubkey(".default");
  root.AddSubkey("Computers")
      .AddSubkey(".default")
      .AddSubkey("System")
      .AddSubkey("CurrentControlSet")
      .AddSubkey("control")
      .AddSubkey("Update")
      .SetValue("UpdateMode", kRegDword, Dword(1));
  const std::vector<uint8_t> bytes = EncodeRegistryFile(root, "CONFIG.POL");
  std::ofstream(dir / "netlogon" / "CONFIG.POL", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

}  // namespace tarnwick::test
