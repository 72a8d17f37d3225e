#pragma once
// Result folding of the device stack: a positive value coming back from a
// call (a Win32 error number) becomes 0x8007xxxx (0xA007xxxx with the
// customer bit); 0 and failure codes pass unchanged.
#include <cstdint>

#include "ResultCodes.h"

inline uint32_t FoldResult(uint32_t result) { return uint32_t(HResultFromError(LONG(result))); }
// The thread's last error, folded; a failed call with no error set is E_FAIL.
inline uint32_t FoldedLastError() { return uint32_t(HResultFromLastError()); }
