#pragma once
// One registry value, read in the caller's expected form.
#include <windows.h>

// What the caller expects the value to be, and so what lppvData points at.
enum RegistryDataKind {
    // REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_LINK, REG_MULTI_SZ:
    // lppvData is a BYTE**; it receives a new buffer (array new) with the
    // value's bytes followed by at least one whole wide NUL.
    RegistryData_Buffer,
    RegistryData_DWord,  // REG_DWORD: lppvData is a DWORD*
    RegistryData_QWord,  // REG_QWORD: lppvData is a ULONGLONG*
};

// Reads one value; bIs64 chooses the 64-bit view on a 64-bit system.
// A type outside the three kinds gives 0x80070032; a stored type of another
// kind than the one expected gives 0x8007065D; either way nothing is written.
HRESULT ReadRegistryData(HKEY hKey, const wchar_t* lpwSubKey, const wchar_t* lpwValueName, void* lppvData,
                         BOOL bIs64, RegistryDataKind kind);
