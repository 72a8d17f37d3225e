#pragma once
// Strings, GUIDs, resources and files.
#include <windows.h>

#include <string>
#include <vector>

// Resource of the embedded trust chain: identifier 130, type "CERTCHAIN".
constexpr WORD CERTCHAIN_RESOURCE_ID = 130;

// Appends the pieces of the source cut at each occurrence of the delimiter;
// empty pieces are kept.
HRESULT SplitStrings(std::vector<std::wstring>& list, const wchar_t* lpwSourceString, const wchar_t* lpwDelimiter);
// Replaces every occurrence (case-sensitive); inserted text is not searched again.
void ReplaceStrRStrIW(std::wstring& text, const wchar_t* lpwSearch, const wchar_t* lpwReplacement);
// Reverses the bytes in place.
void SwapByteOrder(BYTE* pbBuffer, DWORD dwLength);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" of a new GUID.
HRESULT CreateGUIDString(std::wstring& guidString);
// Copy of the module's CERTCHAIN resource; the size is written before the
// data are loaded.
HRESULT LoadModuleResource(HMODULE hInstance, BYTE** lppResData, DWORD* pdwResSize);
// The whole file in a new buffer of its size plus one zero byte; with a null
// content pointer only the size.
HRESULT ReadFileSimple(DWORD* pdwFileSize, const wchar_t* lpwFilePathName, BYTE** lppFileContent);
// Creates the file anew with exactly the data.
HRESULT WriteFileSimple(const wchar_t* lpwFilePathName, const BYTE* lpDataToWrite, DWORD dwDataLen);
// Writes the data to "<temp folder><new GUID>.PELQ" and returns the path.
HRESULT DumpDataToTempFile(const BYTE* pbWriteData, DWORD dwDataLen, std::wstring& filePath);
// Clears the read-only attribute.
HRESULT ChangeFileAttribute(const wchar_t* lpwFilePath);
// Deletes the file, read-only or not; a missing file counts as deleted.
HRESULT DeleteSpecialFile(const wchar_t* lpwFilePath);
