// Stands in for the web browser: appends its command-line arguments (the
// part after the program name) as one UTF-8 line to the file named by
// LINK_RECORDER_OUT.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR args, int) {
    wchar_t path[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"LINK_RECORDER_OUT", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    std::wstring line = args ? args : L"";
    line += L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), int(line.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), int(line.size()), &bytes[0], size, nullptr, nullptr);
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return 0;
}
