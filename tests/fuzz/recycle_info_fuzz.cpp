// Recycle Bin index files (INFO, INFO2): parsing fails only with RecycleBinError and keeps to
// the records the bytes hold.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/recycle_bin.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarnwick;
  try {
    const RecycleIndex index = ParseRecycleIndex(std::span(data, size));
    fuzz::Check(index.records.size() * index.recordSize <= size,
                "no more records than the bytes hold");
  } catch (const RecycleBinError&) {
  }
  return 0;
}
