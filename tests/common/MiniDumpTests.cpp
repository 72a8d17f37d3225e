// A child that crashes after EnableAutoDump leaves a minidump below its own
// folder and a message box naming it; the test reads and closes the box.
#include <gtest/gtest.h>
// dbghelp.h after windows.h.
#include <windows.h>
#include <dbghelp.h>

#include <string>
#include <vector>

#include "HostPaths.h"
#include "TestFiles.h"
#include "WindowCapture.h"

namespace {

struct FoundBox {
    HWND hwnd = nullptr;
    std::wstring text;
};

BOOL CALLBACK FindStaticText(HWND child, LPARAM param) {
    wchar_t cls[32] = {}, text[1024] = {};
    GetClassNameW(child, cls, 32);
    GetWindowTextW(child, text, 1024);
    if (_wcsicmp(cls, L"Static") == 0 && wcsstr(text, L"Dump File Path")) {
        reinterpret_cast<FoundBox*>(param)->text = text;
        return FALSE;
    }
    return TRUE;
}

struct SearchArgs {
    DWORD pid;
    FoundBox* box;
};

BOOL CALLBACK FindBoxOfProcess(HWND hwnd, LPARAM param) {
    auto* args = reinterpret_cast<SearchArgs*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t caption[128] = {};
    GetWindowTextW(hwnd, caption, 128);
    if (pid == args->pid && wcscmp(caption, L"Application Crash Handler") == 0 && IsWindowVisible(hwnd)) {
        args->box->hwnd = hwnd;
        return FALSE;
    }
    return TRUE;
}


TEST(MiniDump, CrashLeavesDumpAndMessage) {
    // Run a copy of the child from a scratch folder: its Dump folder goes there.
    const std::wstring dir = NewScratchFolder(L"crash");
    ASSERT_FALSE(dir.empty());
    const std::wstring child = dir + L"\\crash_child.exe";
    const std::wstring source = Widen(HostEnvPath("CRASH_CHILD"));
    ASSERT_TRUE(CopyFileW(source.c_str(), child.c_str(), FALSE)) << "CRASH_CHILD";

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = L"\"" + child + L"\"";
    ASSERT_TRUE(CreateProcessW(child.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si, &pi));

    // Wait for the box of that process (or for the process to end without one).
    FoundBox box;
    SearchArgs args = {pi.dwProcessId, &box};
    while (!box.hwnd && WaitForSingleObject(pi.hProcess, 100) == WAIT_TIMEOUT) EnumWindows(FindBoxOfProcess, reinterpret_cast<LPARAM>(&args));
    ASSERT_NE(box.hwnd, nullptr) << "the child ended without a message box";
    EnumChildWindows(box.hwnd, FindStaticText, reinterpret_cast<LPARAM>(&box));
    const std::wstring prefix = L"The Program Crashed.\r\nDump File Path: ";
    ASSERT_EQ(box.text.compare(0, prefix.size(), prefix), 0) << std::string(box.text.begin(), box.text.end());
    const std::wstring dumpPath = box.text.substr(prefix.size());
    EXPECT_FALSE(SaveWindowCapture(box.hwnd, L"crash-handler-message").empty());
    PostMessageW(box.hwnd, WM_COMMAND, IDOK, 0);
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeProcess(pi.hProcess, &exitCode);
    EXPECT_EQ(exitCode, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    // <folder>\Dump\YYYYMMDD_hhmmss.dmp
    const std::wstring dumpDir = dir + L"\\Dump\\";
    ASSERT_EQ(dumpPath.compare(0, dumpDir.size(), dumpDir), 0);
    const std::wstring name = dumpPath.substr(dumpDir.size());
    ASSERT_EQ(name.size(), 19u);
    for (size_t i = 0; i < 15; ++i) {
        if (i != 8) {
            EXPECT_TRUE(iswdigit(name[i])) << i;
        }
    }
    EXPECT_EQ(name[8], L'_');
    EXPECT_EQ(name.substr(15), L".dmp");

    const std::vector<BYTE> dump = ReadAllBytes(dumpPath);
    ASSERT_GE(dump.size(), sizeof(MINIDUMP_HEADER));
    const auto* header = reinterpret_cast<const MINIDUMP_HEADER*>(dump.data());
    EXPECT_EQ(header->Signature, 0x504D444Du);  // "MDMP"
    ASSERT_LE(header->StreamDirectoryRva + header->NumberOfStreams * sizeof(MINIDUMP_DIRECTORY), dump.size());
    const auto* dirs = reinterpret_cast<const MINIDUMP_DIRECTORY*>(dump.data() + header->StreamDirectoryRva);
    bool foundException = false;
    for (ULONG32 i = 0; i < header->NumberOfStreams; ++i) {
        if (dirs[i].StreamType != ExceptionStream) continue;
        ASSERT_LE(dirs[i].Location.Rva + sizeof(MINIDUMP_EXCEPTION_STREAM), dump.size());
        const auto* ex = reinterpret_cast<const MINIDUMP_EXCEPTION_STREAM*>(dump.data() + dirs[i].Location.Rva);
        EXPECT_EQ(ex->ExceptionRecord.ExceptionCode, static_cast<ULONG32>(EXCEPTION_ACCESS_VIOLATION));
        ASSERT_EQ(ex->ExceptionRecord.NumberParameters, 2u);
        EXPECT_EQ(ex->ExceptionRecord.ExceptionInformation[0], 1u);  // a write
        EXPECT_EQ(ex->ExceptionRecord.ExceptionInformation[1], 0u);  // to address 0
        foundException = true;
    }
    EXPECT_TRUE(foundException);

    DeleteFileW(dumpPath.c_str());
    RemoveDirectoryW(dumpDir.c_str());
    DeleteFileW(child.c_str());
    RemoveDirectoryW(dir.c_str());
}

}  // namespace
