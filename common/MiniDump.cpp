// Crash handler writing a minidump next to the program.
#include "MiniDump.h"

// dbghelp.h needs the definitions of windows.h first.
#include <dbghelp.h>
#include <shlwapi.h>

#include <cstdio>
#include <cwchar>

#include "System.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"MiniDump"

void MiniDumper::EnableAutoDump() {
    TRACE_SCOPE(L"MiniDumper::EnableAutoDump");
    SetUnhandledExceptionFilter(ApplicationCrashHandler);
}

LONG WINAPI MiniDumper::ApplicationCrashHandler(EXCEPTION_POINTERS* pExceptionInfo) {
    TRACE_SCOPE(L"MiniDumper::ApplicationCrashHandler");
    HRESULT hr = S_OK;
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t dumpPath[MAX_PATH + 1] = {};
    wchar_t message[2 * MAX_PATH + 1] = {};
    SYSTEMTIME st = {};
    size_t nFolder = 0;

    CHECK_GOTO(GetModuleFileNameW(nullptr, folder, MAX_PATH) == 0, L"GetModuleFileNameW", HResultFromLastError());
    PathRemoveFileSpecW(folder);
    nFolder = wcslen(folder);
    if (nFolder > 0 && (folder[nFolder - 1] == L'\\' || folder[nFolder - 1] == L'/')) folder[nFolder - 1] = 0;

    GetLocalTime(&st);
    swprintf(dumpPath, MAX_PATH, L"%ls\\Dump\\%04d%02d%02d_%02d%02d%02d.dmp", folder, st.wYear, st.wMonth, st.wDay,
             st.wHour, st.wMinute, st.wSecond);
    TraceValueString(L"Dump path", dumpPath);

    hr = CreateDirectories(dumpPath);
    CHECK_GOTO(FAILED(hr), L"CreateDirectories", hr);
    hr = CreateDumpFile(dumpPath, pExceptionInfo);
    CHECK_GOTO(FAILED(hr), L"CreateDumpFile", hr);
    TRACE_STEP(L"CreateDumpFile");

    swprintf(message, 2 * MAX_PATH, L"The Program Crashed.\r\nDump File Path: %ls", dumpPath);
    MessageBoxW(nullptr, message, L"Application Crash Handler", MB_ICONERROR);

exit:
    return EXCEPTION_EXECUTE_HANDLER;
}

HRESULT MiniDumper::CreateDumpFile(const wchar_t* lpstrDumpFilePathName, EXCEPTION_POINTERS* pException) {
    TRACE_SCOPE(L"MiniDumper::CreateDumpFile");
    HRESULT hr = S_OK;
    HANDLE hFile = INVALID_HANDLE_VALUE;
    MINIDUMP_EXCEPTION_INFORMATION exceptionInfo = {};

    CHECK_GOTO(lpstrDumpFilePathName == NULL, L"Check Parameter", E_INVALIDARG);
    hFile = CreateFileW(lpstrDumpFilePathName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
    CHECK_GOTO(hFile == INVALID_HANDLE_VALUE, L"CreateFileW", HResultFromLastError());
    TRACE_STEP(L"CreateFileW");

    exceptionInfo.ThreadId = GetCurrentThreadId();
    exceptionInfo.ExceptionPointers = pException;
    exceptionInfo.ClientPointers = TRUE;
    CHECK_GOTO(!MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), hFile, MiniDumpNormal,
                                  pException ? &exceptionInfo : nullptr, nullptr, nullptr),
               L"MiniDumpWriteDump", HResultFromLastError());
    TRACE_STEP(L"MiniDumpWriteDump");

exit:
    if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
    return hr;
}
