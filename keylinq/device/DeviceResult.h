#pragma once
// Result folding of the device stack, Keylinq's fold (HResultFromError of
// Keylinq's build): a positive value coming back from a call (a Win32 error
// number) becomes 0x8007xxxx, a GM/T 0016 result code (0x0A00xxxx) stays;
// 0 and failure codes pass unchanged.
#include <cstdint>

#include "ResultCodes.h"

inline uint32_t FoldResult(uint32_t result) { return uint32_t(HResultFromError(LONG(result))); }
// The thread's last error, folded; a failed call with no error set is E_FAIL.
inline uint32_t FoldedLastError() { return uint32_t(HResultFromLastError()); }
