#include "base/win_time.h"

#include <chrono>
#include <limits>

namespace tarnwick {
namespace {

constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kDosFirst = 315532800;  // 1980-01-01 00:00:00
constexpr int64_t kDosEnd = 4354819200;   // 2108-01-01 00:00:00
constexpr DosDateTime kDosLast = {(127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29};

}  // namespace

uint64_t FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds) {
  if (seconds < -kSecondsFrom1601To1970) return 0;
  // Unsigned: the sum of two int64_t may overflow, and seconds >= -kSecondsFrom1601To1970.
  const uint64_t since1601 =
      static_cast<uint64_t>(seconds) + static_cast<uint64_t>(kSecondsFrom1601To1970);
  const uint64_t max = std::numeric_limits<uint64_t>::max();
  if (since1601 > (max - nanoseconds / 100) / kTicksPerSecond) return max;
  return since1601 * kTicksPerSecond + nanoseconds / 100;
}

int64_t UnixSecondsFromFileTime(uint64_t fileTime) {
  return static_cast<int64_t>(fileTime / kTicksPerSecond) - kSecondsFrom1601To1970;
}

uint64_t FileTimeNow() {
  using namespace std::chrono;
  const auto now = system_clock::now().time_since_epoch();
  const auto whole = floor<seconds>(now);
  return FileTimeFromUnix(whole.count(),
                          static_cast<uint32_t>(duration_cast<nanoseconds>(now - whole).count()));
}

DosDateTime DosDateTimeFromUnix(int64_t seconds) {
  using namespace std::chrono;
  if (seconds < kDosFirst) return {(1 << 5) | 1, 0};
  if (seconds >= kDosEnd) return kDosLast;
  const sys_seconds time{std::chrono::seconds(seconds)};
  const sys_days day = floor<days>(time);
  const year_month_day date(day);
  const hh_mm_ss clock(time - day);
  return {static_cast<uint16_t>((static_cast<int>(date.year()) - 1980) << 9 |
                                static_cast<unsigned>(date.month()) << 5 |
                                static_cast<unsigned>(date.day())),
          static_cast<uint16_t>(clock.hours().count() << 11 | clock.minutes().count() << 5 |
                                clock.seconds().count() / 2)};
}

}  // namespace tarnwick
