// Certificate status and the ids of a USB device path.
#include "USBKeyInterface.h"

#include <shlwapi.h>

#include "TraceHelper.h"
#include "UsualInterface.h"

#define TRACE_MODULE L"USBKeyInterface"

namespace {

constexpr ULONGLONG kNinetyDays = 0x46B8E92D8000ULL;  // 90 days in 100-ns units
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070490);

ULONGLONG AsUInt64(const FILETIME& ft) { return (ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

// Offsets from the start of the mark.
constexpr size_t kVidOffset = 8;
constexpr size_t kPidOffset = 17;
constexpr size_t kIdDigits = 4;

}  // namespace

HRESULT GetUserCertStatus(DWORD* pdwStatus, DWORD* pdwDaysLeft, FILETIME ftCurrentTime, FILETIME ftNotAfter) {
    TRACE_SCOPE(L"GetUserCertStatus");
    DWORD dwStatus = CERT_STATUS_EXPIRED;
    DWORD dwDays = 0;
    const ULONGLONG now = AsUInt64(ftCurrentTime);
    const ULONGLONG end = AsUInt64(ftNotAfter);
    if (end > now) {
        // now + 90 days cannot overflow for any time a certificate carries;
        // compare the difference so that it cannot at all.
        dwStatus = end - now <= kNinetyDays ? CERT_STATUS_EXPIRING : CERT_STATUS_NORMAL;
        const ULONGLONG hours = (end - now) / 10000000ULL / 60ULL / 60ULL;
        dwDays = DWORD((hours + 23) / 24);
    }
    if (pdwStatus) *pdwStatus = dwStatus;
    if (pdwDaysLeft) *pdwDaysLeft = dwDays;
    return S_OK;
}

HRESULT GetVidPidFromUSBDevDesc(const wchar_t* lpwUSBDevDesc, DWORD* pdwVid, DWORD* pdwPid) {
    TRACE_SCOPE(L"GetVidPidFromUSBDevDesc");
    HRESULT hr = S_OK;
    const wchar_t* lpwStartPos = nullptr;
    wchar_t wszVid[kIdDigits + 1] = {};
    wchar_t wszPid[kIdDigits + 1] = {};
    ULONG ulVid = 0, ulPid = 0;

    CHECK_GOTO(lpwUSBDevDesc == NULL || wcslen(lpwUSBDevDesc) == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pdwVid == NULL || pdwPid == NULL, L"Check Parameter", E_INVALIDARG);
    lpwStartPos = StrRStrIW(lpwUSBDevDesc, nullptr, L"USB#VID_");
    CHECK_GOTO(lpwStartPos == NULL, L"DEVNAME_VID_PREFIX", kNotFound);
    // Nothing past the text is read: a path that ends before the product
    // id's last digit has no ids.
    CHECK_GOTO(wcsnlen(lpwStartPos, kPidOffset + kIdDigits) < kPidOffset + kIdDigits, L"DEVNAME_PID",
               kNotFound);
    wcsncpy(wszVid, lpwStartPos + kVidOffset, kIdDigits);
    wcsncpy(wszPid, lpwStartPos + kPidOffset, kIdDigits);
    ulVid = *pdwVid;
    ulPid = *pdwPid;
    if (HexStrToUnsignedLong(wszVid, &ulVid) == S_OK) *pdwVid = ulVid;
    if (HexStrToUnsignedLong(wszPid, &ulPid) == S_OK) *pdwPid = ulPid;
exit:
    return hr;
}
