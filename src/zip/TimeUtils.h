// Conversion between MS-DOS date/time fields (16 bits each, no time zone) and
// time_t, taking the DOS fields as local time.
//
// Daylight saving is left to the C library (tm_isdst = -1). Out-of-range
// fields (month 0, second 60+) are normalised by mktime as it does for any
// struct tm; a time mktime cannot represent gives -1.
#pragma once

#include <cstdint>
#include <ctime>

namespace utils {
namespace time {

time_t datetime_to_timestamp(uint16_t dosDate, uint16_t dosTime);
// Inverse of datetime_to_timestamp for times from 1980 to 2107; earlier or
// later times are clamped to those years.
void timestamp_to_datetime(time_t dateTime, uint16_t& dosDate, uint16_t& dosTime);

}  // namespace time
}  // namespace utils
