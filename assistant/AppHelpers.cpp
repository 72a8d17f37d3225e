#include "AppHelpers.h"

#include <cwchar>

#include <shellapi.h>

#include "Misc.h"
#include "Registry.h"

HRESULT GetLastErrorDesc(std::wstring& text, HRESULT code) {
    text.clear();
    wchar_t buffer[32];
    if (DWORD(code) & 0x20000000u) {
        swprintf(buffer, 32, L"0x%08x", unsigned(code));
        text = buffer;
        return S_OK;
    }
    // Inserts are never filled: a message that takes them would otherwise
    // fail (or leave partial text behind).
    wchar_t message[512] = {0};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(code), 0,
                             message, 511, nullptr);
    if (n > 0 && n < 512) {
        text.assign(message, n);
        ReplaceStrRStrIW(text, L"\r\n", L"");
        ReplaceStrRStrIW(text, L"\n", L"");
    }
    if (text.empty()) {
        swprintf(buffer, 32, L"(0x%08x)", unsigned(code));
        text = buffer;
    }
    return S_OK;
}

void ClearSealDataList(std::vector<SealData>& sealList) {
    for (SealData& seal : sealList) {
        delete[] seal.pbySealData;
        seal.pbySealData = nullptr;
        seal.dwSealDataSize = 0;
    }
    sealList.clear();
}

HRESULT ReadChromeInstallLocationfromRegistry(std::wstring& path) {
    path.clear();
    wchar_t subKey[512];
    swprintf(subKey, 512, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\%ls", L"chrome.exe");
    struct {
        HKEY root;
        BOOL is64;
    } const reads[] = {{HKEY_LOCAL_MACHINE, FALSE}, {HKEY_LOCAL_MACHINE, TRUE}, {HKEY_CURRENT_USER, FALSE},
                       {HKEY_CURRENT_USER, TRUE}};
    HRESULT hr = E_FAIL;
    for (size_t i = 0; i < 4; ++i) {
        BYTE* data = nullptr;
        hr = ReadRegistryData(reads[i].root, subKey, L"", &data, reads[i].is64, RegistryData_Buffer);
        // The buffer ends with at least one whole wide NUL.
        const wchar_t* value = reinterpret_cast<const wchar_t*>(data);
        const bool last = i == 3;
        if (hr == S_OK && (last || (value && *value))) {
            path = value ? value : L"";
            delete[] data;
            return S_OK;
        }
        delete[] data;
    }
    return hr;
}

HRESULT OpenSpecialQuickLink(const wchar_t* url) {
    std::wstring browser;
    if (ReadChromeInstallLocationfromRegistry(browser) != S_OK)
        ShellExecuteW(nullptr, L"open", L"IEXPLORE", url, nullptr, SW_SHOWMAXIMIZED);
    else
        ShellExecuteW(nullptr, L"open", browser.c_str(), url, nullptr, SW_SHOWMAXIMIZED);
    return S_OK;
}
