#include "AppHelpers.h"

#include <cwchar>

#include "Misc.h"

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
