#pragma once

#include <cstdint>

#include "platform/local_time.h"

// DOS date-time: the DOS date in the high 16 bits, the time in the low 16.
// 1980-01-01 00:01:00 stands in where no date is available.
inline constexpr uint32_t kDefaultDosDateTime = 0x00210020;

// Calendar date-time: days since 1899-12-30, the fraction being the time of day.
using TDateTime = double;

// 0 and values that name no valid date and time give kDefaultDosDateTime's instant.
TDateTime DosDateTimeToDateTime(uint32_t dosDateTime);

// The DOS date-time of a local date and time; years outside 1980..2107 give
// kDefaultDosDateTime.
uint32_t LocalToDosDateTime(const platform::LocalDateTime& time);

// The local date and time a DOS date-time names, without validation.
platform::LocalDateTime DosDateTimeToLocal(uint32_t dosDateTime);
