#include "base/win_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <utility>

namespace tarnwick::test {
namespace {

constexpr int64_t k1601 = -11644473600;
using DosPair = std::pair<uint16_t, uint16_t>;

TEST(WinTime, FileTimesOfKnownDates) {
  EXPECT_EQ(FileTimeFromUnix(0), 116444736000000000u);
  EXPECT_EQ(FileTimeFromUnix(946684800), 0x01BF53EB256D4000u);  // 2000-01-01 00:00:00
  EXPECT_EQ(FileTimeFromUnix(0, 123456789), 116444736001234567u);
  EXPECT_EQ(FileTimeFromUnix(k1601), 0u);
  EXPECT_EQ(FileTimeFromUnix(k1601 + 1), 10000000u);
  EXPECT_EQ(FileTimeFromUnix(k1601 - 1), 0u);
  EXPECT_EQ(FileTimeFromUnix(std::numeric_limits<int64_t>::min()), 0u);
  EXPECT_EQ(FileTimeFromUnix(std::numeric_limits<int64_t>::max(), 999999999),
            std::numeric_limits<uint64_t>::max());

  EXPECT_EQ(UnixSecondsFromFileTime(0x01BF53EB256D4000u + 9999999), 946684800);
  EXPECT_EQ(UnixSecondsFromFileTime(0), k1601);
  const int64_t now = UnixSecondsFromFileTime(FileTimeNow());
  EXPECT_LE(std::abs(now - static_cast<int64_t>(std::time(nullptr))), 2);
}

TEST(WinTime, DosDateAndTimeOfKnownDatesAndTheEdges) {
  auto dos = [](int64_t seconds) {
    const DosDateTime value = DosDateTimeFromUnix(seconds);
    return std::pair(value.date, value.time);
  };
  EXPECT_EQ(dos(951831931), DosPair(0x285D, 0x6DAF));  // 2000-02-29 13:45:31
  EXPECT_EQ(dos(315532800), DosPair(0x0021, 0));       // 1980-01-01
  EXPECT_EQ(dos(315532799), dos(315532800));
  EXPECT_EQ(dos(std::numeric_limits<int64_t>::min()), dos(315532800));
  const DosPair last(0xFF9F, 0xBF7D);  // 2107-12-31 23:59:58
  EXPECT_EQ(dos(4354819199), last);
  EXPECT_EQ(dos(4354819200), last);
  EXPECT_EQ(dos(std::numeric_limits<int64_t>::max()), last);
}

}  // namespace
}  // namespace tarnwick::test
