// One registry value, read in the caller's expected form.
#include "Registry.h"

#include <cstring>
#include <new>

#include "System.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"Registry"

namespace {

// The kind a stored type belongs to; false for types this reader does not handle.
bool KindOfType(DWORD dwType, RegistryDataKind* kind) {
    switch (dwType) {
    case REG_NONE:
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_BINARY:
    case REG_LINK:
    case REG_MULTI_SZ: *kind = RegistryData_Buffer; return true;
    case REG_DWORD: *kind = RegistryData_DWord; return true;
    case REG_QWORD: *kind = RegistryData_QWord; return true;
    default: return false;
    }
}

}  // namespace

HRESULT ReadRegistryData(HKEY hKey, const wchar_t* lpwSubKey, const wchar_t* lpwValueName, void* lppvData,
                         BOOL bIs64, RegistryDataKind kind) {
    TRACE_SCOPE(L"ReadRegistryData");
    HRESULT hr = S_OK;
    LONG lRet = ERROR_SUCCESS;
    DWORD dwPlatform = OS_PLATFORM_X86;
    REGSAM samDesired = KEY_READ;
    HKEY hSubKey = nullptr;
    DWORD dwType = REG_NONE;
    DWORD dwSize = 0;
    DWORD dwRead = 0;
    RegistryDataKind storedKind = RegistryData_Buffer;
    BYTE* lpData = nullptr;
    ULONGLONG qwValue = 0;

    CHECK_GOTO(lpwSubKey == NULL || lpwValueName == NULL || lppvData == NULL, L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    // A failed platform query opens the key as on a 32-bit system.
    if (SUCCEEDED(GetWindowsOSPlatform(&dwPlatform)) && dwPlatform == OS_PLATFORM_X64)
        samDesired = KEY_READ | (bIs64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
    TraceValue(L"samDesired", samDesired);

    lRet = RegOpenKeyExW(hKey, lpwSubKey, 0, samDesired, &hSubKey);
    CHECK_GOTO(lRet != ERROR_SUCCESS, L"RegOpenKeyExW", HResultFromError(lRet));
    TRACE_STEP(L"RegOpenKeyExW");

    lRet = RegQueryValueExW(hSubKey, lpwValueName, nullptr, &dwType, nullptr, &dwSize);
    CHECK_GOTO(lRet != ERROR_SUCCESS, L"RegQueryValueExW(size)", HResultFromError(lRet));
    TraceValue(L"dwType", dwType);
    TraceValue(L"dwSize", dwSize);

    CHECK_GOTO(!KindOfType(dwType, &storedKind), L"Not supported data type", HResultFromError(ERROR_NOT_SUPPORTED));
    CHECK_GOTO(storedKind != kind, L"Data type mismatch", HResultFromError(ERROR_DATATYPE_MISMATCH));

    if (kind == RegistryData_Buffer) {
        // Room for the bytes, one byte to even out an odd length and a whole
        // wide NUL, so string values always read as terminated wide text.
        lpData = new (std::nothrow) BYTE[static_cast<size_t>(dwSize) + 3]();
        CHECK_GOTO(!lpData, L"New buffer", E_OUTOFMEMORY);
        dwRead = dwSize;
        lRet = RegQueryValueExW(hSubKey, lpwValueName, nullptr, &dwType, lpData, &dwRead);
        CHECK_GOTO(lRet != ERROR_SUCCESS, L"RegQueryValueExW", HResultFromError(lRet));
        // The value may have changed kind between the two calls.
        CHECK_GOTO(!KindOfType(dwType, &storedKind) || storedKind != kind, L"Data type mismatch",
                   HResultFromError(ERROR_DATATYPE_MISMATCH));
        *static_cast<BYTE**>(lppvData) = lpData;
        lpData = nullptr;
    } else {
        dwRead = sizeof(qwValue);
        lRet = RegQueryValueExW(hSubKey, lpwValueName, nullptr, &dwType, reinterpret_cast<BYTE*>(&qwValue), &dwRead);
        CHECK_GOTO(lRet != ERROR_SUCCESS, L"RegQueryValueExW", HResultFromError(lRet));
        CHECK_GOTO(!KindOfType(dwType, &storedKind) || storedKind != kind, L"Data type mismatch",
                   HResultFromError(ERROR_DATATYPE_MISMATCH));
        if (kind == RegistryData_DWord) {
            DWORD dwValue = static_cast<DWORD>(qwValue);
            memcpy(lppvData, &dwValue, sizeof(dwValue));
        } else {
            memcpy(lppvData, &qwValue, sizeof(qwValue));
        }
    }
    TRACE_STEP(L"RegQueryValueExW");

exit:
    delete[] lpData;
    if (hSubKey) RegCloseKey(hSubKey);
    return hr;
}
