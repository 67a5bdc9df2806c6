#include "dostime.h"

#include "text.h"

namespace vek {
namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const unsigned char kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

bool DecodeDosTime(uint32_t stamp, DosTime* out) {
  DosTime t;
  t.year = kDosFirstYear + static_cast<int>(stamp >> 25);
  t.month = static_cast<int>((stamp >> 21) & 0x0F);
  t.day = static_cast<int>((stamp >> 16) & 0x1F);
  t.hour = static_cast<int>((stamp >> 11) & 0x1F);
  t.minute = static_cast<int>((stamp >> 5) & 0x3F);
  t.second = static_cast<int>(stamp & 0x1F) * 2;
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > DaysInMonth(t.year, t.month) || t.hour > 23 ||
      t.minute > 59 || t.second > 58) {
    return false;
  }
  *out = t;
  return true;
}

uint32_t EncodeDosTime(const DosTime& time, bool* clamped) {
  DosTime t = time;
  bool clamp = false;
  if (t.year < kDosFirstYear) {
    t = DosTime{};
    clamp = true;
  } else if (t.year > kDosLastYear) {
    t = DosTime{kDosLastYear, 12, 31, 23, 59, 58};
    clamp = true;
  }
  if (clamped) *clamped = clamp;
  return (static_cast<uint32_t>(t.year - kDosFirstYear) << 25) | (static_cast<uint32_t>(t.month) << 21) |
         (static_cast<uint32_t>(t.day) << 16) | (static_cast<uint32_t>(t.hour) << 11) |
         (static_cast<uint32_t>(t.minute) << 5) | static_cast<uint32_t>(t.second / 2);
}

int64_t DaysFromCivil(int year, int month, int day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

bool FormatDosTime(uint32_t stamp, char buffer[20]) {
  DosTime t;
  if (!DecodeDosTime(stamp, &t)) {
    buffer[0] = 0;
    return false;
  }
  // YYYY-MM-DD HH:MM:SS
  TextBuilder out(buffer, 20);
  out.Decimal(t.year, 4).Text("-").Decimal(t.month, 2).Text("-").Decimal(t.day, 2);
  out.Text(" ").Decimal(t.hour, 2).Text(":").Decimal(t.minute, 2).Text(":").Decimal(t.second, 2);
  return true;
}

}  // namespace vek
