// CREG files: decoding never fails other than with RegistryFileError, and a decoded tree the
// writer accepts reads back the same.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_check.h"
#include "registry/creg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarnwick;
  std::unique_ptr<RegNode> tree;
  try {
    tree = DecodeRegistryFile(std::span(data, size), "fuzz.dat");
  } catch (const RegistryFileError&) {
    return 0;
  }
  tree->KeyCount();
  std::vector<uint8_t> encoded;
  try {
    encoded = EncodeRegistryFile(*tree, "fuzz.dat");
  } catch (const RegistryFileError&) {
    return 0;  // the reader takes foreign files beyond Windows 95's limits; the writer does not
  }
  std::unique_ptr<RegNode> again;
  try {
    again = DecodeRegistryFile(encoded, "fuzz.dat");
  } catch (const RegistryFileError&) {
    fuzz::Fail("a file the writer made does not decode");
  }
  fuzz::Check(SameTree(*tree, *again), "decode, encode, decode gives the same tree");
  fuzz::Check(SameTree(*tree, *tree->Clone()), "a clone is the same tree");
  return 0;
}
