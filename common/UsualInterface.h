#pragma once
// Path combination, path tests, time and hexadecimal conversions. Outputs
// are new buffers (array new) that the caller frees with array delete.
#include <windows.h>

// The target folder (a template such as "%SYSTEM%", a folder, or NULL/empty
// for the program's folder), a backslash and the file name.
HRESULT CombineFilePath(const wchar_t* lpwFileName, const wchar_t* lpwTargetPath, wchar_t** lppwFileFullPath,
                        BOOL bIs64);
// "X:\..." with a letter A-Z or a-z.
BOOL LooksLikeLocalFile(const wchar_t* lpwPath);
// Begins with "%" and has a second "%" later.
BOOL ContainEnvironmentPath(const wchar_t* lpwPath);
// Every "/" becomes "\" in place.
void ReplaceSlashWithBackslash(wchar_t* lpwText);
// A new copy of the path (the system folder is only looked up and traced).
HRESULT TransformFilePathInSystem(const wchar_t* lpwFilePath, wchar_t** lppwOutPath);
// "YYYYMMDDhhmmss..." (14 characters at least) as a FILETIME, no zone conversion.
HRESULT StringTimeToFileTime(const wchar_t* lpwStrTime, FILETIME* pFileTime);
// Local "YYYY-MM-DD" and "hh:mm:ss"; either output may be NULL.
HRESULT FileTimeToStringTime(const FILETIME* pFileTime, wchar_t** lppwDateStr, wchar_t** lppwTimeStr);
// Hexadecimal text to a number: writes only the bytes the text has (at most
// four), so the caller sets the output to 0 first; NULL or empty gives 0.
HRESULT HexStrToUnsignedLong(const wchar_t* lpwHexStr, ULONG* pulValue);
