#pragma once
// Shared helpers of the UI library's tests: where the test skin lies and how
// to point the process-wide skin settings at its folder or archives.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace skintest {

std::wstring SkinBuildDir();          // Z:\...\skin-build\ (ends in a backslash)
std::wstring SkinFolder();            // the skin as a folder, ending in a backslash
std::wstring Password();
std::vector<BYTE> ReadHostFile(const std::wstring& path);
bool WriteHostFile(const std::wstring& path, const std::vector<BYTE>& data);
std::vector<BYTE> SkinSource(const std::wstring& relativeName);   // the file an entry was made from

// The archive's file entries: (kind "enc", "plain" or "bzip2", name).
std::vector<std::pair<std::string, std::wstring>> Manifest();

// Folder mode: no archive, resources from the folder.
void UseFolder(const std::wstring& folder);
// Archive mode: an archive in the skin build folder.
void UseArchive(const wchar_t* name, bool cached, const wchar_t* password);
// The program's "ZIPRES" resource as the archive in memory.
void UseResourceArchive(const wchar_t* password);
// No archive and no folder.
void ResetSkin();

int ExpectedDpi();   // 96, or the DPI the prefix was made with

// A plain window for a manager's device context.
HWND CreateTestWindow();

}  // namespace skintest
