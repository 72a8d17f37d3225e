#pragma once
// Crash handler: an unhandled exception writes a minidump to
// <program folder>\Dump\YYYYMMDD_hhmmss.dmp and tells the user where.
#include <windows.h>

class MiniDumper {
public:
    // Installs ApplicationCrashHandler as the unhandled-exception filter.
    static void EnableAutoDump();
    // The filter: writes the dump, shows its path, returns EXCEPTION_EXECUTE_HANDLER.
    static LONG WINAPI ApplicationCrashHandler(EXCEPTION_POINTERS* pExceptionInfo);
    // A normal minidump of this process, with the exception of the calling thread.
    static HRESULT CreateDumpFile(const wchar_t* lpstrDumpFilePathName, EXCEPTION_POINTERS* pException);
};
