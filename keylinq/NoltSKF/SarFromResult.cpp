// The result mapping of the exports. An HRESULT made from a Win32 or
// library code is first reduced to that code; the table then gives the SAR_*
// code. Every export answers SAR_OK, a SAR_* code or a key's status word
// under 0xAA00, never a bare Win32 number: a reduced code without a row is
// SAR_FAIL. Every mapping that changes the code is traced under flag 0x02.
#include "SarFromResult.h"

#include <cwchar>

#include "SKFApi.h"
#include "TraceHelper.h"

namespace {

struct ResultRow {
    uint32_t code;
    uint32_t sar;
};

// Codes after the HRESULT reduction, in lookup order.
const ResultRow kRows[] = {
    {6, SAR_FAIL},                    // a system library or the device mutex is missing
    {8, SAR_MEMORYERR},               // not enough memory (Win32)
    {13, SAR_FAIL},                   // the key's reply is shorter than it must be, or no answer at all
    {14, SAR_MEMORYERR},              // E_OUTOFMEMORY
    {34, SAR_NOT_EVENTERR},           // no device-event wait to cancel
    {55, SAR_DEVICE_REMOVED},         // ERROR_DEV_NOT_EXIST: the key's device is gone
    {87, SAR_INVALIDPARAMERR},        // invalid parameter (Win32)
    {100, SAR_GENRANDERR},            // the host's random generator failed
    {170, SAR_FAIL},                  // ERROR_BUSY: the device still has objects open
    {234, SAR_DECRYPTPADERR},         // a host cipher's final step: the padding does not hold
    {257, SAR_INVALIDPARAMERR},       // a required pointer or object is missing
    {258, SAR_MEMORYERR},             // an allocation of the library failed
    {259, SAR_BUFFER_TOO_SMALL},
    {260, SAR_INDATALENERR},
    {261, SAR_MODULUSLENERR},
    {263, SAR_NOTINITIALIZEERR},      // secure messaging before a session key was set up
    {264, SAR_NOTSUPPORTYETERR},
    {273, SAR_DEVICE_REMOVED},        // the key's device is gone or unreachable
    {274, SAR_NAMELENERR},
    {275, SAR_INVALIDHANDLEERR},
    {276, SAR_KEYINFOTYPEERR},
    {277, SAR_FAIL},
    {278, SAR_KEYUSAGEERR},
    {523, SAR_FILEERR},
    {528, SAR_FAIL},                  // a host cipher's key set-up or a digest's start
    {529, SAR_FAIL},                  // a host cipher's update
    {1167, SAR_DEVICE_REMOVED},       // ERROR_DEVICE_NOT_CONNECTED: the key was pulled out
    {1460, SAR_TIMEOUTERR},           // ERROR_TIMEOUT: the device mutex stayed taken
    {6000, SAR_INDATAERR},            // a host public-key operation refused its input (at or above the modulus)
    {6001, SAR_INDATAERR},            // the raw RSA operation refused its input
    {0x80006982u, SAR_USER_NOT_LOGGED_IN},
    {0x80006983u, SAR_PIN_LOCKED},
    {0x800063C0u, SAR_PIN_LOCKED},    // no try left
    {0x8000F102u, SAR_FILE_NOT_EXIST},
    {0x8000F104u, SAR_NO_ROOM},
    {0x8000F10Eu, SAR_FAIL},
    {0x8000F20Cu, SAR_CERTNOTFOUNTERR},
    {0x8000F20Du, SAR_KEYNOTFOUNTERR},
    {0x8000F323u, SAR_TIMEOUTERR},
    {0x8000F525u, SAR_DECRYPTPADERR},
    {0x8000F530u, SAR_NOTINITIALIZEERR},
    {0x8010000Au, SAR_TIMEOUTERR},    // the confirmation countdown ended
    {0x8010006Eu, SAR_FAIL},          // the user cancelled the confirmation
    {0x80004005u, SAR_FAIL},          // E_FAIL
};

uint32_t Lookup(uint32_t code) {
    for (const ResultRow& row : kRows)
        if (row.code == code) return row.sar;
    if ((code & 0xFFFFFFF0u) == 0x800063C0u) return SAR_PIN_INCORRECT;  // x tries left, x = 1..15
    if ((code & 0x80090000u) == 0x80090000u) return SAR_FAIL;
    if (code & 0x80000000u) return (code & 0xFFFFu) | 0xAA000000u;
    if (code == 0 || (code & 0xFFFF0000u) == 0x0A000000u) return code;  // SAR_OK and the SAR_* codes
    // A Win32 or library number without a row of its own: never handed to
    // the caller as a bare number.
    return SAR_FAIL;
}

}  // namespace

uint32_t FoldObjectResult(uint32_t code) { return uint32_t(HResultFromError(LONG(code))); }

uint32_t SarFromResult(uint32_t code) {
    uint32_t reduced = code;
    if ((reduced & 0x80070000u) == 0x80070000u) reduced &= 0x2000FFFFu;
    // A failure whose reduction leaves nothing (0x80070000 from a positive
    // code with an empty low half) must not read as success.
    uint32_t result = (code != 0 && reduced == 0) ? SAR_FAIL : Lookup(reduced);
    if (result != reduced && TraceIsEnabled(GetTraceFlags().resultMapping)) {
        wchar_t line[64];
        swprintf(line, 64, L"SarFromResult 0x%08X -> 0x%08X", reduced, result);
        WriteTraceMessage(GetTraceFlags().resultMapping, {TraceMessageKind::ValueNumber, line, nullptr, result});
    }
    return result;
}
