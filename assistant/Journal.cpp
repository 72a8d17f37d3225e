#include "Journal.h"

#ifdef CERTAIDE_TEST_BINDING
#include <windows.h>

#include <cwchar>
#include <string>

#include "TraceHelper.h"

namespace {

INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;
CRITICAL_SECTION g_lock;
DWORD g_startTick;

BOOL CALLBACK InitJournal(PINIT_ONCE, PVOID, PVOID*) {
    InitializeCriticalSection(&g_lock);
    g_startTick = GetTickCount();
    return TRUE;
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

void JournalWrite(const wchar_t* kind, const std::wstring& details) {
    wchar_t path[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"CERTAIDE_JOURNAL", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    InitOnceExecuteOnce(&g_once, InitJournal, nullptr, nullptr);
    std::wstring line = std::to_wstring(GetTickCount() - g_startTick) + L" " + (kind ? kind : L"") + L" " + details;
    for (wchar_t& c : line)
        if (c == L'\r' || c == L'\n') c = L' ';
    std::string bytes = ToUtf8(line) + "\n";
    EnterCriticalSection(&g_lock);
    // Other processes append too: open, append, close for every line.
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    LeaveCriticalSection(&g_lock);
}
#endif

#ifdef CERTAIDE_TEST_BINDING
namespace {
void WriteFailureToJournal(ULONG64, const TraceMessageArgs& message) {
    if (message.kind != TraceMessageKind::Failure || !message.text) return;
    wchar_t code[16];
    swprintf(code, 16, L"0x%08lx ", static_cast<unsigned long>(message.code));
    JournalWrite(L"trace", code + std::wstring(message.text));
}
}  // namespace

void JournalTraceFailures() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"CERTAIDE_JOURNAL", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    SetTraceWriter(&WriteFailureToJournal);
    SetTraceControlState(true, 1, GetTraceFlags().negativeFailure);
}
#endif
