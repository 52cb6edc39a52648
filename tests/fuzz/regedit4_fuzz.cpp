// REGEDIT4 import: errors are Regedit4Error, a failed import leaves the tree alone, and an
// imported tree exports and imports back the same (unless its text then reads as UTF-8).
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/cp1252.h"
#include "fuzz/fuzz_check.h"
#include "registry/regedit4.h"

namespace {

using namespace tarnwick;

// Export writes a REG_SZ with one closing zero as plain text, which imports without the zero.
void DropClosingZeros(RegNode& root) {
  std::vector<RegNode*> pending{&root};
  while (!pending.empty()) {
    RegNode* node = pending.back();
    pending.pop_back();
    for (RegValue& value : node->values) {
      if (value.type != kRegSz || value.data.empty() || value.data.back() != 0) continue;
      const std::string_view text(reinterpret_cast<const char*>(value.data.data()),
                                  value.data.size() - 1);
      if (text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos) {
        value.data.pop_back();
      }
    }
    for (const auto& subkey : node->subkeys) pending.push_back(subkey.get());
  }
}

std::unique_ptr<RegNode> Import(std::string_view text) {
  auto root = std::make_unique<RegNode>();
  ImportRegedit4(text, *root);
  return root;
}

std::string Export(const RegNode& root) {
  std::ostringstream out;
  ExportRegedit4(root, out);
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  // Merging into a tree that already has keys and values, which an error must leave as it was.
  RegNode existing;
  existing.AddSubkey("Software").AddSubkey("Tarnwick").SetValue("Name", kRegSz, {'a', 'b'});
  existing.AddSubkey("a").SetValue("", kRegDword, {1, 0, 0, 0});
  const std::unique_ptr<RegNode> before = existing.Clone();
  try {
    ImportRegedit4(text, existing);
  } catch (const Regedit4Error&) {
    fuzz::Check(SameTree(existing, *before), "a failed import leaves the tree unchanged");
  }

  std::unique_ptr<RegNode> first;
  try {
    first = Import(text);
  } catch (const Regedit4Error&) {
    return 0;
  }
  std::string exported;
  try {
    exported = Export(*first);
  } catch (const Regedit4Error& e) {
    std::fprintf(stderr, "%s\n", e.what());
    fuzz::Fail("an imported tree exports");
  }
  std::unique_ptr<RegNode> second;
  try {
    second = Import(exported);
  } catch (const Regedit4Error& e) {
    // Import takes text whose every byte above 0x7F forms UTF-8 for UTF-8 and refuses it, also
    // when it is the export of a tree whose names and texts happen to read so.
    if (IsValidUtf8(exported)) return 0;
    std::fprintf(stderr, "%s\n", e.what());
    fuzz::Fail("exported text imports");
  }
  DropClosingZeros(*first);
  fuzz::Check(SameTree(*first, *second), "import, export, import gives the same tree");
  fuzz::Check(Export(*second) == exported, "export of the reimported tree is the same");
  return 0;
}
