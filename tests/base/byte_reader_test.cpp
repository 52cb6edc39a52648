#include "base/byte_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace tarnwick::test {
namespace {

constexpr size_t kHuge = std::numeric_limits<size_t>::max();
const std::vector<uint8_t> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A};

// The offset a failing read reports; nothing when it did not fail.
template <typename Read>
std::optional<size_t> FailedAt(Read read) {
  try {
    read();
  } catch (const ByteRangeError& e) {
    return e.Offset();
  }
  return std::nullopt;
}

TEST(ByteReader, ReadsLittleEndianUpToTheLastByte) {
  const ByteReader reader(kBytes);
  EXPECT_EQ(reader.U16At(8), 0x0A09);
  EXPECT_EQ(reader.U32At(6), 0x0A090807u);
  EXPECT_EQ(reader.U64At(2), 0x0A09080706050403u);
  EXPECT_EQ(reader.U32BigEndianAt(0), 0x01020304u);
  EXPECT_TRUE(reader.BytesAt(10, 0).empty());

  EXPECT_EQ(FailedAt([&] { reader.U8At(10); }), 10u);
  EXPECT_EQ(FailedAt([&] { reader.U16At(9); }), 9u);
  EXPECT_EQ(FailedAt([&] { reader.U32At(7); }), 7u);
  EXPECT_EQ(FailedAt([&] { reader.U64At(3); }), 3u);
  EXPECT_EQ(FailedAt([&] { reader.BytesAt(11, 0); }), 11u);
  EXPECT_EQ(FailedAt([] { ByteReader(std::span<const uint8_t>()).U8At(0); }), 0u);
}

TEST(ByteReader, OffsetsThatWouldOverflowFail) {
  const ByteReader reader(kBytes);
  EXPECT_FALSE(reader.Has(kHuge, 2));
  EXPECT_FALSE(reader.Has(2, kHuge - 1));
  EXPECT_TRUE(FailedAt([&] { reader.U16At(kHuge); }));
  EXPECT_TRUE(FailedAt([&] { reader.U32At(kHuge - 2); }));
  EXPECT_TRUE(FailedAt([&] { reader.BytesAt(1, kHuge); }));
  EXPECT_TRUE(FailedAt([&] { reader.Sub(4, kHuge - 3); }));

  ByteReader cursor(kBytes);
  cursor.Skip(1);
  EXPECT_TRUE(FailedAt([&] { cursor.Skip(kHuge); }));
  EXPECT_EQ(cursor.Position(), 1u);  // a failed read leaves the cursor where it was
}

TEST(ByteReader, PartsReportOffsetsInTheWholeAndStayInsideThemselves) {
  const ByteReader whole(kBytes);
  const ByteReader part = whole.Sub(4, 4);
  EXPECT_EQ(part.U32At(0), 0x08070605u);
  EXPECT_EQ(FailedAt([&] { part.U8At(4); }), 8u);  // byte 8 exists in the whole, not in the part
  const ByteReader inner = part.Sub(1, 2);
  EXPECT_EQ(inner.Origin(), 5u);
  EXPECT_EQ(FailedAt([&] { inner.U16At(1); }), 6u);
}

TEST(ByteReader, CursorAdvancesAndStopsAtTheEnd) {
  ByteReader cursor(kBytes);
  EXPECT_EQ(cursor.U16(), 0x0201);
  EXPECT_EQ(cursor.U32(), 0x06050403u);
  cursor.Skip(2);
  EXPECT_EQ(cursor.U16(), 0x0A09);
  EXPECT_EQ(cursor.Position(), 10u);
  EXPECT_EQ(FailedAt([&] { cursor.U16(); }), 10u);
  EXPECT_EQ(FailedAt([&] { cursor.Skip(1); }), 10u);
  cursor.Skip(0);
}

}  // namespace
}  // namespace tarnwick::test
