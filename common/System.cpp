// Platform of the running system and folder creation.
#include "System.h"

#include <shlwapi.h>

#include <cwchar>
#include <new>

#include "TraceHelper.h"

#define TRACE_MODULE L"System"

HRESULT GetWindowsOSPlatform(DWORD* pdwPlatform) {
    TRACE_SCOPE(L"GetWindowsOSPlatform");
    HRESULT hr = S_OK;
    SYSTEM_INFO info = {};

    CHECK_GOTO(pdwPlatform == NULL, L"Check Parameter", E_INVALIDARG);
    GetNativeSystemInfo(&info);
    TraceValue(L"wProcessorArchitecture", info.wProcessorArchitecture);
    switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64: *pdwPlatform = OS_PLATFORM_X64; break;
    case PROCESSOR_ARCHITECTURE_INTEL: *pdwPlatform = OS_PLATFORM_X86; break;
    default: CHECK_GOTO(TRUE, L"Check processor architecture", HResultFromError(ERROR_NOT_SUPPORTED));
    }
    TRACE_STEP(L"GetNativeSystemInfo");

exit:
    return hr;
}

BOOL IsCurrentProcessX64() {
    TRACE_SCOPE(L"IsCurrentProcessX64");
    HRESULT hr = S_OK;
    DWORD dwPlatform = OS_PLATFORM_X86;
    BOOL bWow64 = TRUE;  // without IsWow64Process the process counts as WOW64
    BOOL bX64 = FALSE;
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    IsWow64ProcessFn pfnIsWow64Process = nullptr;
    HMODULE hKernel = GetModuleHandleW(L"kernel32");

    hr = GetWindowsOSPlatform(&dwPlatform);
    CHECK_GOTO(FAILED(hr), L"GetWindowsOSPlatform", hr);

    pfnIsWow64Process =
        hKernel ? reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(GetProcAddress(hKernel, "IsWow64Process"))) : nullptr;
    if (pfnIsWow64Process) {
        CHECK_GOTO(!pfnIsWow64Process(GetCurrentProcess(), &bWow64), L"IsWow64Process", HResultFromLastError());
    }
    TRACE_STEP(L"IsWow64Process");
    bX64 = dwPlatform == OS_PLATFORM_X64 && !bWow64;

exit:
    return bX64;
}

HRESULT CreateDirectories(const wchar_t* lpwDirectory) {
    TRACE_SCOPE(L"CreateDirectories");
    HRESULT hr = S_OK;
    size_t nLength = 0;
    wchar_t* lpwParent = nullptr;
    wchar_t* lpwPart = nullptr;
    WIN32_FIND_DATAW findData = {};
    HANDLE hFind = INVALID_HANDLE_VALUE;

    CHECK_GOTO(lpwDirectory == NULL || *lpwDirectory == 0, L"Check Parameter", E_INVALIDARG);
    nLength = wcslen(lpwDirectory);
    CHECK_GOTO(nLength >= 2 * MAX_PATH, L"Check Parameter(length)", E_OUTOFMEMORY);
    TRACE_STEP(L"Check Parameter");

    lpwParent = new (std::nothrow) wchar_t[2 * MAX_PATH]();
    lpwPart = new (std::nothrow) wchar_t[2 * MAX_PATH]();
    CHECK_GOTO(!lpwParent || !lpwPart, L"New buffer", E_OUTOFMEMORY);
    wcscpy(lpwParent, lpwDirectory);
    CHECK_GOTO(!PathRemoveFileSpecW(lpwParent), L"PathRemoveFileSpecW", HResultFromLastError());
    TRACE_STEP(L"PathRemoveFileSpecW");

    hFind = FindFirstFileW(lpwParent, &findData);
    if (hFind != INVALID_HANDLE_VALUE) {
        FindClose(hFind);
        TRACE_STEP(L"Parent folder exists");
        goto exit;
    }

    // Each "\" ends one folder of the path; a drive ("C:") is never created.
    for (size_t i = 0; i < nLength; ++i) {
        if (lpwDirectory[i] != L'\\' || i == 0) continue;
        wcsncpy(lpwPart, lpwDirectory, i);
        lpwPart[i] = 0;
        if (i > 1 && lpwPart[i - 1] == L':') continue;
        hFind = FindFirstFileW(lpwPart, &findData);
        if (hFind != INVALID_HANDLE_VALUE) {
            FindClose(hFind);
            continue;
        }
        CHECK_GOTO(!CreateDirectoryW(lpwPart, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS,
                   L"CreateDirectoryW", HResultFromLastError());
        TraceValueString(L"Created folder", lpwPart);
    }
    TRACE_STEP(L"Create folders");

exit:
    delete[] lpwParent;
    delete[] lpwPart;
    return hr;
}
