// Decoding a CREG file into a key tree. Every offset and size is checked against the bytes it
// points into before use, so a damaged file ends in a RegistryFileError, never a wild read. Each
// record belongs to one key and records do not overlap, so the names and data decoded add up to
// at most the file's size, and the whole tree takes at most about eight times the file's size.
#include <algorithm>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/byte_reader.h"
#include "registry/creg_file.h"
#include "registry/creg_format.h"
#include "registry/registry_limits.h"

namespace tarnwick {
namespace {

using namespace creg;

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

class Decoder {
 public:
  Decoder(std::span<const uint8_t> bytes, const std::string& fileName)
      : file_(bytes), fileName_(fileName) {}

  std::unique_ptr<RegNode> Decode() {
    try {
      ReadHeaders();
      IndexDataBlocks();
      return ReadTree();
    } catch (const ByteRangeError& e) {
      Fail("a field at " + Hex(e.Offset()) + " runs past the end of the file");
    }
  }

 private:
  struct Record {
    size_t offset;           // file offset of the key record
    size_t size;             // bytes from there to the next record
    uint32_t owner = kNone;  // RGKN offset of the key entry that read it
  };

  [[noreturn]] void Fail(const std::string& what) const {
    throw RegistryFileError(fileName_ + ": damaged registry file: " + what);
  }

  void ReadHeaders() {
    if (file_.Size() < kFileHeaderSize + kRgknHeaderSize) {
      Fail("the file is too short to hold the headers (" + std::to_string(file_.Size()) +
           " bytes)");
    }
    if (!HasSignature(0, "CREG")) Fail("no CREG signature at the start");
    if (!HasSignature(kRgknOffset, "RGKN")) Fail("no RGKN signature at offset 0x20");
    rgknSize_ = file_.U32At(kRgknOffset + 4);
    if (rgknSize_ < kRgknHeaderSize + kEntrySize || rgknSize_ > file_.Size() - kRgknOffset) {
      Fail("the key navigation block size " + Hex(rgknSize_) + " is out of range");
    }
    uint32_t root = file_.U32At(kRgknOffset + 8);
    if (root != kRootEntry) Fail("the root key offset is " + Hex(root) + ", not 0x20");
    firstBlock_ = file_.U32At(8);
    blockCount_ = file_.U16At(0x10);
    if (firstBlock_ < kRgknOffset + rgknSize_ || firstBlock_ > file_.Size()) {
      Fail("the first data block offset " + Hex(firstBlock_) + " is out of range");
    }
  }

  bool HasSignature(size_t at, std::string_view signature) const {
    return std::ranges::equal(file_.BytesAt(at, signature.size()), signature,
                              [](uint8_t b, char c) { return static_cast<uint8_t>(c) == b; });
  }

  void IndexDataBlocks() {
    records_.reserve(rgknSize_ / kEntrySize);  // a record per key entry
    size_t at = firstBlock_;
    for (size_t block = 0; block < blockCount_; ++block) {
      auto name = [block] { return "data block " + std::to_string(block); };
      if (file_.Size() - at < kBlockHeaderSize) Fail(name() + " runs past the end of the file");
      if (!HasSignature(at, "RGDB")) Fail(name() + " has no RGDB signature at " + Hex(at));
      uint32_t size = file_.U32At(at + 4);
      if (size < kBlockHeaderSize) Fail(name() + " has the impossible size " + Hex(size));
      if (size > file_.Size() - at) Fail(name() + " runs past the end of the file");
      IndexRecords(block, at, at + size);
      at += size;
    }
  }

  void IndexRecords(size_t block, size_t start, size_t end) {
    size_t at = start + kBlockHeaderSize;
    while (at < end) {
      auto where = [&] {
        return "the record at " + Hex(at) + " in data block " + std::to_string(block);
      };
      if (end - at < kKeyRecordHeaderSize) Fail(where() + " is cut off by the block end");
      uint32_t size = file_.U32At(at);
      if (size < kKeyRecordHeaderSize || size > end - at) {
        Fail(where() + " has the impossible size " + Hex(size));
      }
      uint16_t keyNumber = file_.U16At(at + 4);
      if (keyNumber != kNoId) {
        uint16_t recordBlock = file_.U16At(at + 6);
        if (recordBlock != block) {
          Fail(where() + " claims block number " + std::to_string(recordBlock));
        }
        uint32_t id = static_cast<uint32_t>(block) << 16 | keyNumber;
        if (!records_.emplace(id, Record{at, size}).second) {
          Fail(where() + " repeats key number " + std::to_string(keyNumber));
        }
      }
      at += size;
    }
  }

  std::unique_ptr<RegNode> ReadTree() {
    visited_.assign(rgknSize_, false);
    auto root = std::make_unique<RegNode>();
    CheckEntry(kRootEntry);
    visited_[kRootEntry] = true;
    // Depth-first with an explicit stack: a file may nest keys thousands deep.
    std::vector<std::pair<uint32_t, RegNode*>> pending{{kRootEntry, root.get()}};
    while (!pending.empty()) {
      auto [entry, node] = pending.back();
      pending.pop_back();
      for (uint32_t child = EntryField(entry, 0x10); child != kNone;
           child = EntryField(child, 0x14)) {
        CheckEntry(child);
        if (visited_[child]) Fail("the key entry at " + Hex(child) + " is linked twice (a loop)");
        visited_[child] = true;
        auto subkey = std::make_unique<RegNode>();
        ReadKey(child, *subkey);
        pending.emplace_back(child, &node->subkeys.Append(std::move(subkey)));
      }
    }
    return root;
  }

  void CheckEntry(uint32_t entry) const {
    if (entry < kRgknHeaderSize || entry > rgknSize_ || rgknSize_ - entry < kEntrySize) {
      Fail("a key link points outside the key navigation block (" + Hex(entry) + ")");
    }
    if (EntryField(entry, 0) != kEntryInUse) {
      Fail("the key entry at " + Hex(entry) + " is not marked in use");
    }
  }

  uint32_t EntryField(uint32_t entry, size_t field) const {
    return file_.U32At(kRgknOffset + entry + field);
  }

  void ReadKey(uint32_t entry, RegNode& key) {
    key.storedHash = EntryField(entry, 0x04);
    uint32_t id =
        file_.U16At(kRgknOffset + entry + 0x1A) << 16 | file_.U16At(kRgknOffset + entry + 0x18);
    auto found = records_.find(id);
    if (found == records_.end()) {
      Fail("the key entry at " + Hex(entry) + " has no record (block " + std::to_string(id >> 16) +
           ", key number " + std::to_string(id & 0xFFFF) + ")");
    }
    Record& record = found->second;
    auto where = [&] { return "the key record at " + Hex(record.offset); };
    // Windows never shares a record; a shared one would multiply its values with every key.
    if (record.owner != kNone) {
      Fail(where() + " is claimed by the key entries at " + Hex(record.owner) + " and " +
           Hex(entry));
    }
    record.owner = entry;
    size_t end = record.offset + record.size;
    size_t nameLength = file_.U16At(record.offset + 0x0C);
    size_t valueCount = file_.U16At(record.offset + 0x0E);
    size_t at = record.offset + kKeyRecordHeaderSize;
    if (nameLength > end - at) Fail(where() + " has a name longer than the record");
    key.name = Text(at, nameLength);
    at += nameLength;
    key.values.reserve(std::min(valueCount, (end - at) / kValueRecordHeaderSize));
    for (size_t i = 0; i < valueCount; ++i) {
      auto overrun = [&] {
        Fail(where() + ", value " + std::to_string(i) + " runs past the record end");
      };
      if (end - at < kValueRecordHeaderSize) overrun();
      RegValue& v = key.values.emplace_back();
      v.type = file_.U32At(at);
      size_t valueNameLength = file_.U16At(at + 0x08);
      size_t dataLength = file_.U16At(at + 0x0A);
      at += kValueRecordHeaderSize;
      if (valueNameLength + dataLength > end - at) overrun();
      if (dataLength > kMaxRegDataSize) {
        Fail(where() + ", value " + std::to_string(i) + " holds " + std::to_string(dataLength) +
             " bytes, more than the " + std::to_string(kMaxRegDataSize) + " Windows 95 allows");
      }
      v.name = Text(at, valueNameLength);
      at += valueNameLength;
      const auto data = file_.BytesAt(at, dataLength);
      v.data.assign(data.begin(), data.end());
      at += dataLength;
    }
  }

  std::string Text(size_t at, size_t length) const {
    const auto text = file_.BytesAt(at, length);
    return std::string(text.begin(), text.end());
  }

  ByteReader file_;
  const std::string& fileName_;
  uint32_t rgknSize_ = 0;
  uint32_t firstBlock_ = 0;
  size_t blockCount_ = 0;
  std::unordered_map<uint32_t, Record> records_;
  std::vector<bool> visited_;  // by RGKN offset
};

}  // namespace

std::unique_ptr<RegNode> DecodeRegistryFile(std::span<const uint8_t> bytes,
                                            const std::string& fileName) {
  return Decoder(bytes, fileName).Decode();
}

}  // namespace tarnwick
