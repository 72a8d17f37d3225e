// The result mapping of the exports. An HRESULT made from a Win32 or
// library code is first reduced to that code; the table then gives the SAR_*
// code. Every mapping that changes the code is traced under flag 0x02.
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
    {8, SAR_MEMORYERR},               // not enough memory (Win32)
    {14, SAR_MEMORYERR},              // E_OUTOFMEMORY
    {34, SAR_NOT_EVENTERR},           // no device-event wait to cancel
    {87, SAR_INVALIDPARAMERR},        // invalid parameter (Win32)
    {170, SAR_FAIL},                  // ERROR_BUSY: the device still has objects open
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
    {1460, SAR_TIMEOUTERR},           // ERROR_TIMEOUT: the device mutex stayed taken
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
    return code;
}

}  // namespace

uint32_t FoldObjectResult(uint32_t code) {
    if (code != 0 && (code & 0x80000000u) == 0 && (code & 0x0A000000u) != 0x0A000000u)
        return (code & 0xFFFFu) | 0x80070000u;
    return code;
}

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
