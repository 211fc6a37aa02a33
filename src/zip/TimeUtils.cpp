#include "zip/TimeUtils.h"

namespace utils {
namespace time {

time_t datetime_to_timestamp(uint16_t dosDate, uint16_t dosTime) {
  std::tm fields{};
  fields.tm_year = 1980 + ((dosDate >> 9) & 0x7F) - 1900;
  fields.tm_mon = ((dosDate >> 5) & 0x0F) - 1;
  fields.tm_mday = dosDate & 0x1F;
  fields.tm_hour = (dosTime >> 11) & 0x1F;
  fields.tm_min = (dosTime >> 5) & 0x3F;
  fields.tm_sec = 2 * (dosTime & 0x1F);
  fields.tm_isdst = -1;
  return std::mktime(&fields);
}

void timestamp_to_datetime(time_t dateTime, uint16_t& dosDate, uint16_t& dosTime) {
  std::tm fields{};
  localtime_r(&dateTime, &fields);
  int year = fields.tm_year + 1900;
  if (year < 1980) {
    dosDate = (1 << 5) | 1;  // 1980-01-01
    dosTime = 0;
    return;
  }
  if (year > 1980 + 127) year = 1980 + 127;
  dosDate = static_cast<uint16_t>(((year - 1980) << 9) | ((fields.tm_mon + 1) << 5) | fields.tm_mday);
  dosTime = static_cast<uint16_t>((fields.tm_hour << 11) | (fields.tm_min << 5) | (fields.tm_sec / 2));
}

}  // namespace time
}  // namespace utils
