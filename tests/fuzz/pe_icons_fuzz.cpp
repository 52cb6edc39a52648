// Icon resources of executables: the state agrees with the group list, and every group's icon
// rebuilds as an icon file that reads.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/ico_file.h"
#include "formats/pe_icons.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarnwick;
  const std::span<const uint8_t> file(data, size);
  const ExeIcons state = ExeIconState(file);
  const std::vector<ExeIconGroup> groups = ListExeIconGroups(file);
  fuzz::Check((state == ExeIcons::Some) == !groups.empty(), "Some exactly when groups are listed");
  std::vector<int32_t> indexes{-1, static_cast<int32_t>(groups.size())};
  for (size_t i = 0; i < groups.size(); ++i) {
    indexes.push_back(static_cast<int32_t>(i));
    if (groups[i].id) indexes.push_back(-static_cast<int32_t>(*groups[i].id));
  }
  for (int32_t index : indexes) {
    if (const auto ico = ExtractExeIcon(file, index)) {
      fuzz::Check(ReadIcoDirectory(*ico).has_value(), "an extracted icon is an icon file");
      LoadIconPicture(*ico, 32);
    }
  }
  return 0;
}
