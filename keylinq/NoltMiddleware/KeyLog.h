#pragma once
// The operation log that the library keeps on the key: a ring of 64
// KEY_LOG_RECORD entries in data file 0xA000 of the key's application,
// appended by CDeviceOperator::RecordVemuLog.
#include <cstdint>

constexpr uint16_t KEY_LOG_FILE_ID = 0xA000;
constexpr uint32_t KEY_LOG_ENTRIES = 64;
constexpr uint32_t KEY_LOG_FILE_LEN = 1024;  // 64 entries of 16 bytes
constexpr uint8_t KEY_LOG_EMPTY = 0xFF;      // sequence byte of an empty entry
constexpr uint8_t KEY_LOG_LAST_SEQUENCE = 254;

// Where the log takes the time (seconds since 1970, UTC) from; the host's
// clock by default.
using KeyLogClock = uint32_t (*)();
// Replaces the clock (null restores the host's) and returns the previous one. For tests.
KeyLogClock SetKeyLogClock(KeyLogClock clock);
