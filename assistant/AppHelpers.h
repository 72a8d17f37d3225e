#pragma once
// Small helpers of the application: the text of a result code for the
// result line, the release of a seal list, and the registration pages
// opened in the user's browser.
#include <windows.h>

#include <string>
#include <vector>

#include "SKFDeviceHandler.h"

// The system's description of a result code without line breaks; "0x%08x"
// for a customer code (bit 0x20000000, never looked up); "(0x%08x)" when
// the system has no text. Returns 0.
HRESULT GetLastErrorDesc(std::wstring& text, HRESULT code);

// Frees every entry's buffer, then empties the list.
void ClearSealDataList(std::vector<SealData>& sealList);

// The browser's program path from the "chrome.exe" App Paths entry
// (HKLM 32-bit, HKLM 64-bit, HKCU 32-bit, HKCU 64-bit view), or a failure.
HRESULT ReadChromeInstallLocationfromRegistry(std::wstring& path);

// Opens the URL in Chrome when installed, else in Internet Explorer. Returns 0.
HRESULT OpenSpecialQuickLink(const wchar_t* url);
