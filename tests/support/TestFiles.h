#pragma once
// File helpers of the Windows test programs (Certaide's common library).
#include <windows.h>

#include <string>
#include <vector>

#include "Misc.h"

// The whole file, or nothing when it cannot be read.
inline std::vector<BYTE> ReadAllBytes(const std::wstring& path) {
    BYTE* data = nullptr;
    DWORD size = 0;
    if (ReadFileSimple(&size, path.c_str(), &data) != S_OK) return {};
    std::vector<BYTE> out(data, data + size);
    delete[] data;
    return out;
}

// A new folder "<temp folder><prefix><GUID>"; empty when it cannot be made.
inline std::wstring NewScratchFolder(const wchar_t* prefix) {
    std::wstring guid;
    if (CreateGUIDString(guid) != S_OK) return std::wstring();
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring dir = std::wstring(temp) + prefix + guid;
    return CreateDirectoryW(dir.c_str(), nullptr) ? dir : std::wstring();
}
