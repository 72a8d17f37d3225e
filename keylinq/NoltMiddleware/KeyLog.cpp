// The operation log on the key: each logged operation appends one entry to
// a ring of 64 in data file 0xA000, overwriting the oldest. Sequence numbers
// count modulo 255, so the oldest entry is the one 63 behind its neighbour
// before it.
#include "KeyLog.h"

#include <cstring>
#include <ctime>

#include "APDUFile.h"
#include "ContainerRecord.h"
#include "DeviceContext.h"
#include "DeviceOperator.h"
#include "DeviceResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceOperator"

namespace {

constexpr uint32_t VM_ERR_FILE_NO_EXISTS = 0x8000F102;
constexpr uint32_t SEQUENCE_MODULUS = 255;
constexpr uint32_t RING_BEHIND = 63;  // the oldest entry's distance behind the newest

uint32_t HostClock() { return uint32_t(std::time(nullptr)); }

KeyLogClock g_keyLogClock = HostClock;

// The entry to overwrite and the sequence byte of the entry before it.
uint32_t ChooseEntry(const KEY_LOG_RECORD* entries, uint8_t* pbyPrev) {
    uint32_t prev = entries[0].bySequence;
    for (uint32_t i = 0; i < KEY_LOG_ENTRIES; ++i) {
        const uint32_t s = entries[i].bySequence;
        if (s == KEY_LOG_EMPTY || s == (prev + SEQUENCE_MODULUS - RING_BEHIND) % SEQUENCE_MODULUS) {
            *pbyPrev = uint8_t(prev);
            return i;
        }
        prev = s;
    }
    *pbyPrev = entries[KEY_LOG_ENTRIES - 1].bySequence;
    return 0;
}

}  // namespace

KeyLogClock SetKeyLogClock(KeyLogClock clock) {
    KeyLogClock previous = g_keyLogClock;
    g_keyLogClock = clock ? clock : HostClock;
    return previous;
}

uint32_t CDeviceOperator::RecordVemuLog(const char* pszTag) {
    TRACE_NAME(L"CDeviceOperator::RecordVemuLog");
    uint32_t hr = 0;
    CAPDUFile* file = m_pDeviceContext ? m_pDeviceContext->GetAPDUFile() : nullptr;
    KEY_LOG_RECORD entries[KEY_LOG_ENTRIES];
    uint32_t received = KEY_LOG_FILE_LEN;
    uint32_t index = 0;
    uint8_t prev = 0;
    uint32_t now = 0;
    static_assert(sizeof entries == KEY_LOG_FILE_LEN, "the log file holds the ring");

    CHECK_GOTO(!pszTag || std::strlen(pszTag) >= sizeof entries[0].szTag, L"CHECK pszTag", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!file, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);

    hr = FoldResult(file->GetFileInfo(KEY_LOG_FILE_ID, 0, nullptr, nullptr));
    if (hr == VM_ERR_FILE_NO_EXISTS) {
        // A new log: created, then marked empty throughout so that the ring
        // advances from entry 0 (a fresh data file reads as zero bytes).
        hr = FoldResult(file->CreateDataFile(KEY_LOG_FILE_ID, uint16_t(KEY_LOG_FILE_LEN)));
        CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUFile()->CreateDataFile", hr);
        TRACE_STEP(L"m_pDeviceContext->GetAPDUFile()->CreateDataFile");
        std::memset(entries, KEY_LOG_EMPTY, sizeof entries);
        hr = FoldResult(file->WriteFile(KEY_LOG_FILE_ID, 0, reinterpret_cast<const uint8_t*>(entries), sizeof entries));
        CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUFile()->WriteFile", hr);
        hr = FoldResult(file->GetFileInfo(KEY_LOG_FILE_ID, 0, nullptr, nullptr));
    }
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUFile()->GetFileInfo", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUFile()->GetFileInfo");

    std::memset(entries, 0, sizeof entries);
    hr = FoldResult(file->ReadFile(KEY_LOG_FILE_ID, 0, reinterpret_cast<uint8_t*>(entries), &received));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUFile()->ReadFile", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUFile()->ReadFile");

    index = ChooseEntry(entries, &prev);
    entries[index].bySequence = (prev == KEY_LOG_LAST_SEQUENCE || prev == KEY_LOG_EMPTY) ? 0 : uint8_t(prev + 1);
    now = g_keyLogClock();
    for (uint32_t i = 0; i < 4; ++i) entries[index].abyTime[i] = uint8_t(now >> (8 * i));
    std::memcpy(entries[index].szTag, pszTag, std::strlen(pszTag) + 1);

    hr = FoldResult(file->WriteFile(KEY_LOG_FILE_ID, uint16_t(index * sizeof(KEY_LOG_RECORD)),
                                    reinterpret_cast<const uint8_t*>(&entries[index]), sizeof(KEY_LOG_RECORD)));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUFile()->WriteFile", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUFile()->WriteFile");
exit:
    return hr;
}
