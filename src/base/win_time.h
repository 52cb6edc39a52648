// Windows file times: FILETIME, 100 ns ticks since 1601-01-01 UTC, and the DOS date and time of
// FAT directory entries and shortcut items, in UTC.
#pragma once

#include <cstdint>

namespace tarnwick {

// The FILETIME of a Unix time: 0 before 1601, the largest FILETIME after the last it can hold.
uint64_t FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds = 0);
// The whole seconds since 1970 of a FILETIME, rounded down.
int64_t UnixSecondsFromFileTime(uint64_t fileTime);
uint64_t FileTimeNow();

// date: bits 15-9 the year since 1980, 8-5 the month, 4-0 the day; time: bits 15-11 the hour,
// 10-5 the minute, 4-0 the seconds halved.
struct DosDateTime {
  uint16_t date = 0;
  uint16_t time = 0;
};
// Times before 1980 become 1980-01-01 00:00:00, times after 2107 become 2107-12-31 23:59:58.
DosDateTime DosDateTimeFromUnix(int64_t seconds);

}  // namespace tarnwick
