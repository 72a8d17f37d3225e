#include "SkinTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "HostPaths.h"
#include "PaintManager.h"

using Veneer::CPaintManagerUI;

namespace skintest {

std::wstring SkinBuildDir() {
    std::wstring dir = Widen(HostEnvPath("VENEER_SKIN_DIR"));
    for (wchar_t& c : dir)
        if (c == L'/') c = L'\\';
    if (!dir.empty() && dir.back() != L'\\') dir += L'\\';
    return dir;
}

std::wstring SkinFolder() { return SkinBuildDir() + L"skin\\"; }

std::wstring Password() {
    const char* value = std::getenv("VENEER_SKIN_PASSWORD");
    return value ? Widen(value) : std::wstring();
}

std::vector<BYTE> ReadHostFile(const std::wstring& path) {
    std::vector<BYTE> data;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return data;
    const DWORD size = GetFileSize(file, nullptr);
    data.resize(size);
    DWORD read = 0;
    if (size && !ReadFile(file, data.data(), size, &read, nullptr)) read = 0;
    data.resize(read);
    CloseHandle(file);
    return data;
}

bool WriteHostFile(const std::wstring& path, const std::vector<BYTE>& data) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool done = data.empty() || WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    CloseHandle(file);
    return done && written == data.size();
}

std::vector<BYTE> SkinSource(const std::wstring& relativeName) {
    std::wstring path = SkinFolder() + relativeName;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return ReadHostFile(path);
}

std::vector<std::pair<std::string, std::wstring>> Manifest() {
    std::vector<std::pair<std::string, std::wstring>> entries;
    const std::vector<BYTE> text = ReadHostFile(SkinBuildDir() + L"manifest.txt");
    std::istringstream lines(std::string(text.begin(), text.end()));
    std::string kind, name;
    while (lines >> kind >> name) entries.emplace_back(kind, Widen(name));
    return entries;
}

void ResetSkin() {
    CPaintManagerUI::SetSkinArchive(nullptr, false, nullptr);
    CPaintManagerUI::SetResourceFolder(nullptr);
}

void UseFolder(const std::wstring& folder) {
    CPaintManagerUI::SetSkinArchive(nullptr, false, nullptr);
    CPaintManagerUI::SetResourceFolder(folder.c_str());
}

void UseArchive(const wchar_t* name, bool cached, const wchar_t* password) {
    ResetSkin();
    CPaintManagerUI::SetResourceFolder(SkinBuildDir().c_str());
    CPaintManagerUI::SetSkinArchive(name, cached, password);
}

void UseResourceArchive(const wchar_t* password) {
    static void* copy = nullptr;
    static DWORD size = 0;
    if (!copy) {
        HMODULE module = GetModuleHandleW(nullptr);
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), L"ZIPRES");
        size = found ? SizeofResource(module, found) : 0;
        const void* data = size ? LockResource(LoadResource(module, found)) : nullptr;
        if (data) {
            copy = malloc(size);   // like the window base: a heap copy for the process's life
            memcpy(copy, data, size);
        }
    }
    ResetSkin();
    CPaintManagerUI::SetSkinArchiveMemory(copy);
    CPaintManagerUI::SetSkinArchiveFromMemory(size, password);
}

int ExpectedDpi() {
    const char* value = std::getenv("VENEER_TEST_DPI");
    return value && *value ? std::atoi(value) : 96;
}

HWND CreateTestWindow() {
    return CreateWindowExW(0, L"STATIC", L"veneer test", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

}  // namespace skintest
