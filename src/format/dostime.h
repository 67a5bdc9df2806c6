// MS-DOS date and time stamps: the one codec for the whole system.
//
// A stamp packs a wall-clock reading (local time) into 32 bits, date in the high 16:
// bits 31-25 year - 1980, 24-21 month (1-12), 20-16 day (1-31), 15-11 hour (0-23),
// 10-5 minute (0-59), 4-0 seconds / 2 (0-29). A stamp is valid when every field is
// in range and the day exists in that month of that year (no 31 February, no 29
// February outside leap years), which is what Windows' own conversion accepts.
#pragma once

#include <stdint.h>

namespace vek {

struct DosTime {
  int year = 1980;  // 1980-2107
  int month = 1;    // 1-12
  int day = 1;      // 1-31
  int hour = 0;     // 0-23
  int minute = 0;   // 0-59
  int second = 0;   // 0-59; a stamp keeps it in 2-second steps
};

inline constexpr int kDosFirstYear = 1980;
inline constexpr int kDosLastYear = 2107;

// The fields of stamp; false when the stamp is not valid (*out is then unchanged).
bool DecodeDosTime(uint32_t stamp, DosTime* out);
inline bool IsValidDosTime(uint32_t stamp) {
  DosTime ignored;
  return DecodeDosTime(stamp, &ignored);
}

// The stamp of a reading, seconds rounded down to 2; a reading before 1980 becomes
// 1980-01-01 00:00:00 and one after 2107 becomes 2107-12-31 23:59:58, with *clamped
// set (it is cleared otherwise; it may be nullptr). The fields must be in range.
uint32_t EncodeDosTime(const DosTime& time, bool* clamped = nullptr);

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int year, int month, int day);

// "1999-03-14 12:30:44"; buffer must hold 20 bytes. Writes "" for a stamp that is not
// valid and returns false.
bool FormatDosTime(uint32_t stamp, char buffer[20]);

}  // namespace vek
