// Encoding a key tree as a fresh, compact CREG file: keys in depth-first pre-order on the RGKN
// chunk grid, their records packed into data blocks of at most 255 keys and 0xF000 bytes.
#include <algorithm>
#include <unordered_set>
#include <vector>

#include "base/bytes.h"
#include "base/cp1252.h"
#include "base/text.h"
#include "registry/creg_file.h"
#include "registry/creg_format.h"
#include "registry/registry_limits.h"

namespace tarnwick {
namespace {

using namespace creg;

constexpr size_t kFirstChunkSlots = (kFirstChunkSize - kRgknHeaderSize) / kEntrySize;
constexpr size_t kChunkSlots = kChunkSize / kEntrySize;
constexpr uint32_t kBlockFlags = 0x0D;
constexpr uint16_t kFileFlags = 0x0005;

struct Key {
  const RegNode* node;
  uint32_t parent = kNone;  // index into the key list
  uint32_t firstChild = kNone;
  uint32_t nextSibling = kNone;
  uint32_t lastChild = kNone;
  uint16_t block = kNoId;
  uint16_t number = kNoId;
  size_t recordSize = 0;
};

struct Block {
  size_t firstKey;  // index into the key list
  size_t keyCount = 0;
  size_t used = kBlockHeaderSize;
};

// RGKN offset of the n-th entry slot; slot 0 is the root's.
uint32_t SlotOffset(size_t slot) {
  if (slot < kFirstChunkSlots) return static_cast<uint32_t>(kRgknHeaderSize + slot * kEntrySize);
  slot -= kFirstChunkSlots;
  return static_cast<uint32_t>(kFirstChunkSize + slot / kChunkSlots * kChunkSize +
                               slot % kChunkSlots * kEntrySize);
}

// A name as error texts show it: control bytes as "?".
std::string Shown(std::string name) {
  for (char& c : name) {
    if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return name;
}

void StoreChecksum(std::span<uint8_t> area, size_t field) {
  Put32(area, field, 0);
  uint32_t sum = 0;
  for (size_t at = 0; at < area.size(); at += 4) sum += Get32(area, at);
  Put32(area, field, 0 - sum);
}

class Encoder {
 public:
  Encoder(const RegNode& root, const std::string& fileName) : fileName_(fileName) {
    if (!root.values.empty()) Fail("the root key cannot hold values");
    ListKeys(root);
    PlaceRecords();
  }

  std::vector<uint8_t> Encode() {
    size_t entries = keys_.size();
    uint32_t freeEntry = SlotOffset(entries);
    uint32_t rgknSize = ChunkEnd(freeEntry);
    size_t fileSize = kRgknOffset + rgknSize;
    for (const Block& block : blocks_) fileSize += BlockSize(block);
    std::vector<uint8_t> file(fileSize, 0);
    std::span<uint8_t> bytes(file);

    std::span<uint8_t> rgkn = bytes.subspan(kRgknOffset, rgknSize);
    WriteRgkn(rgkn, freeEntry);
    size_t at = kRgknOffset + rgknSize;
    for (size_t i = 0; i < blocks_.size(); ++i) {
      std::span<uint8_t> block = bytes.subspan(at, BlockSize(blocks_[i]));
      WriteBlock(block, i);
      at += block.size();
    }

    std::span<uint8_t> header = bytes.first(kFileHeaderSize);
    std::copy_n("CREG", 4, header.begin());
    Put32(header, 0x04, 0x00010000);
    Put32(header, 0x08, static_cast<uint32_t>(kRgknOffset + rgknSize));
    Put16(header, 0x10, static_cast<uint16_t>(blocks_.size()));
    Put16(header, 0x12, kFileFlags);
    Put32(header, 0x14, 0x00010000);
    StoreChecksum(header, 0x0C);
    return file;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw RegistryFileError(fileName_ + ": cannot be written: " + what);
  }

  std::string PathOf(size_t index) const {
    std::vector<size_t> chain;
    for (size_t i = index; i != 0 && i != kNone; i = keys_[i].parent) chain.push_back(i);
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      if (!path.empty()) path += '\\';
      path += Shown(keys_[*it].node->name);
    }
    return path;
  }

  // Depth-first pre-order with an explicit stack; checks every key on the way.
  void ListKeys(const RegNode& root) {
    keys_.push_back({&root});
    std::vector<std::pair<const RegNode*, uint32_t>> pending;
    auto pushSubkeys = [&](const RegNode& node, uint32_t index) {
      for (auto it = node.subkeys.rbegin(); it != node.subkeys.rend(); ++it) {
        pending.emplace_back(it->get(), index);
      }
    };
    pushSubkeys(root, 0);
    while (!pending.empty()) {
      auto [node, parent] = pending.back();
      pending.pop_back();
      auto index = static_cast<uint32_t>(keys_.size());
      keys_.push_back({node, parent});
      Key& parentKey = keys_[parent];
      if (parentKey.lastChild == kNone) {
        parentKey.firstChild = index;
      } else {
        keys_[parentKey.lastChild].nextSibling = index;
      }
      parentKey.lastChild = index;
      CheckKey(index);
      pushSubkeys(*node, index);
    }
  }

  void CheckKey(size_t index) {
    const RegNode& node = *keys_[index].node;
    auto problem = [&](const std::string& what) { Fail("key \"" + PathOf(index) + "\" " + what); };
    CheckName(node.name, problem, "key");
    if (node.name.empty()) problem("has an empty name");
    if (node.name.find('\\') != std::string::npos) problem("has a backslash in its name");
    std::unordered_set<std::string> names;
    for (const auto& subkey : node.subkeys) {
      if (!names.insert(UpperAscii(subkey->name)).second) {
        problem("has two subkeys named \"" + Shown(subkey->name) + "\"");
      }
    }
    names.clear();
    size_t recordSize = kKeyRecordHeaderSize + node.name.size();
    for (const RegValue& value : node.values) {
      std::string shown =
          value.name.empty() ? "the unnamed value" : "value \"" + Shown(value.name) + "\"";
      auto valueProblem = [&](const std::string& what) {
        Fail("key \"" + PathOf(index) + "\", " + shown + " " + what);
      };
      CheckName(value.name, valueProblem, "value");
      if (!names.insert(UpperAscii(value.name)).second) valueProblem("appears twice");
      if (value.data.size() > kMaxRegDataSize) {
        valueProblem("holds " + std::to_string(value.data.size()) + " bytes, more than the " +
                     std::to_string(kMaxRegDataSize) + " Windows 95 allows");
      }
      if (value.type == kRegDword && value.data.size() != 4) {
        valueProblem("is a REG_DWORD of " + std::to_string(value.data.size()) +
                     " bytes instead of 4");
      }
      recordSize += kValueRecordHeaderSize + value.name.size() + value.data.size();
    }
    if (recordSize > kMaxKeyRecordSize) {
      problem("needs " + std::to_string(recordSize) + " bytes for its name and values, more than " +
              "the " + std::to_string(kMaxKeyRecordSize) + " a data block can hold");
    }
    keys_[index].recordSize = recordSize;
  }

  template <typename Problem>
  static void CheckName(const std::string& name, Problem problem, const char* kind) {
    if (name.size() > kMaxRegNameLength) {
      problem(std::string("has a ") + kind + " name of " + std::to_string(name.size()) +
              " bytes, more than " + std::to_string(kMaxRegNameLength));
    }
    for (char c : name) {
      if (c == '\0') problem(std::string("has a NUL byte in its ") + kind + " name");
      if (IsUndefinedInCp1252(c)) {
        problem(std::string("has a character code page 1252 does not define in its ") + kind +
                " name");
      }
    }
  }

  void PlaceRecords() {
    blocks_.push_back({1});
    for (size_t i = 1; i < keys_.size(); ++i) {
      Key& key = keys_[i];
      if (blocks_.back().keyCount == kMaxKeysPerBlock ||
          blocks_.back().used + key.recordSize > kMaxBlockSize) {
        if (blocks_.size() == kMaxBlockCount) Fail("the tree needs more than 65,535 data blocks");
        blocks_.push_back({i});
      }
      Block& block = blocks_.back();
      key.block = static_cast<uint16_t>(blocks_.size() - 1);
      key.number = static_cast<uint16_t>(block.keyCount++);
      block.used += key.recordSize;
    }
  }

  static uint32_t ChunkEnd(uint32_t offset) {
    if (offset < kFirstChunkSize) return kFirstChunkSize;
    return static_cast<uint32_t>(kFirstChunkSize +
                                 ((offset - kFirstChunkSize) / kChunkSize + 1) * kChunkSize);
  }

  static size_t BlockSize(const Block& block) {
    return (block.used + kBlockGranularity - 1) / kBlockGranularity * kBlockGranularity;
  }

  void WriteRgkn(std::span<uint8_t> rgkn, uint32_t freeEntry) const {
    auto slot = [](uint32_t index) { return index == kNone ? kNone : SlotOffset(index); };
    for (size_t i = 0; i < keys_.size(); ++i) {
      const Key& key = keys_[i];
      std::span<uint8_t> entry = rgkn.subspan(SlotOffset(i), kEntrySize);
      Put32(entry, 0x00, kEntryInUse);
      uint32_t hash = i == 0 ? 0 : key.node->storedHash.value_or(KeyNameHash(key.node->name));
      Put32(entry, 0x04, hash);
      Put32(entry, 0x08, kNone);
      Put32(entry, 0x0C, slot(key.parent));
      Put32(entry, 0x10, slot(key.firstChild));
      Put32(entry, 0x14, slot(key.nextSibling));
      Put16(entry, 0x18, key.number);
      Put16(entry, 0x1A, key.block);
    }
    uint32_t size = static_cast<uint32_t>(rgkn.size());
    std::span<uint8_t> free = rgkn.subspan(freeEntry, kEntrySize);
    Put32(free, 0x00, kEntryFree);
    Put32(free, 0x04, ChunkEnd(freeEntry) - freeEntry);
    Put32(free, 0x08, kNone);

    std::copy_n("RGKN", 4, rgkn.begin());
    Put32(rgkn, 0x04, size);
    Put32(rgkn, 0x08, kRootEntry);
    Put32(rgkn, 0x0C, freeEntry);
    Put32(rgkn, 0x10, kBlockFlags);
    StoreChecksum(rgkn, 0x14);
  }

  void WriteBlock(std::span<uint8_t> block, size_t index) const {
    const Block& info = blocks_[index];
    size_t at = kBlockHeaderSize;
    size_t lastRecord = 0;
    for (size_t k = info.firstKey; k < info.firstKey + info.keyCount; ++k) {
      lastRecord = at;
      at += WriteRecord(block.subspan(at), keys_[k]);
    }
    size_t free = block.size() - at;
    uint32_t unused = 0;
    uint32_t freeOffset = kNone;
    if (free >= kKeyRecordHeaderSize) {
      Put32(block, at, static_cast<uint32_t>(free));
      Put16(block, at + 4, kNoId);
      Put16(block, at + 6, kNoId);
      Put32(block, at + 8, kNone);
      unused = static_cast<uint32_t>(free);
      freeOffset = static_cast<uint32_t>(at);
    } else if (free > 0) {
      Put32(block, lastRecord, Get32(block, lastRecord) + static_cast<uint32_t>(free));
    }
    std::copy_n("RGDB", 4, block.begin());
    Put32(block, 0x04, static_cast<uint32_t>(block.size()));
    Put32(block, 0x08, unused);
    Put16(block, 0x0C, kBlockFlags);
    Put16(block, 0x0E, static_cast<uint16_t>(index));
    Put32(block, 0x10, freeOffset);
    Put16(block, 0x14, static_cast<uint16_t>(info.keyCount == 0 ? 0 : info.keyCount - 1));
    Put16(block, 0x16, static_cast<uint16_t>(info.keyCount));
    StoreChecksum(block, 0x1C);
  }

  // Returns the record size.
  static size_t WriteRecord(std::span<uint8_t> out, const Key& key) {
    const RegNode& node = *key.node;
    auto size = static_cast<uint32_t>(key.recordSize);
    Put32(out, 0x00, size);
    Put16(out, 0x04, key.number);
    Put16(out, 0x06, key.block);
    Put32(out, 0x08, size);
    Put16(out, 0x0C, static_cast<uint16_t>(node.name.size()));
    Put16(out, 0x0E, static_cast<uint16_t>(node.values.size()));
    size_t at = kKeyRecordHeaderSize;
    at = std::copy(node.name.begin(), node.name.end(), out.begin() + at) - out.begin();
    for (const RegValue& value : node.values) {
      Put32(out, at, value.type);
      Put16(out, at + 0x08, static_cast<uint16_t>(value.name.size()));
      Put16(out, at + 0x0A, static_cast<uint16_t>(value.data.size()));
      at += kValueRecordHeaderSize;
      at = std::copy(value.name.begin(), value.name.end(), out.begin() + at) - out.begin();
      at = std::copy(value.data.begin(), value.data.end(), out.begin() + at) - out.begin();
    }
    return size;
  }

  const std::string& fileName_;
  std::vector<Key> keys_;  // pre-order; the root first
  std::vector<Block> blocks_;
};

}  // namespace

std::vector<uint8_t> EncodeRegistryFile(const RegNode& root, const std::string& fileName) {
  return Encoder(root, fileName).Encode();
}

}  // namespace tarnwick
