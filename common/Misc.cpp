// Strings, GUIDs, the embedded resource and simple whole-file I/O.
#include "Misc.h"

#include <objbase.h>

#include <cwchar>
#include <new>

#include "TraceHelper.h"

#define TRACE_MODULE L"Misc"

HRESULT SplitStrings(std::vector<std::wstring>& list, const wchar_t* lpwSourceString, const wchar_t* lpwDelimiter) {
    TRACE_SCOPE(L"SplitStrings");
    HRESULT hr = S_OK;
    std::wstring source;
    size_t delimLen = 0, start = 0, found = 0;

    CHECK_GOTO(lpwSourceString == NULL || wcslen(lpwSourceString) == 0, L"Check Parameter(Source String)",
               E_INVALIDARG);
    CHECK_GOTO(lpwDelimiter == NULL || wcslen(lpwDelimiter) == 0, L"Check Parameter(Delimiter)", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    source = lpwSourceString;
    delimLen = wcslen(lpwDelimiter);
    while ((found = source.find(lpwDelimiter, start)) != std::wstring::npos) {
        list.push_back(source.substr(start, found - start));
        start = found + delimLen;
    }
    list.push_back(source.substr(start));
    TRACE_STEP(L"Split strings");

exit:
    return hr;
}

void ReplaceStrRStrIW(std::wstring& text, const wchar_t* lpwSearch, const wchar_t* lpwReplacement) {
    TRACE_SCOPE(L"ReplaceStrRStrIW");
    if (!lpwSearch || !*lpwSearch) return;
    const std::wstring replacement = lpwReplacement ? lpwReplacement : L"";
    const size_t searchLen = wcslen(lpwSearch);
    size_t pos = 0;
    while ((pos = text.find(lpwSearch, pos)) != std::wstring::npos) {
        text.replace(pos, searchLen, replacement);
        pos += replacement.size();
    }
}

void SwapByteOrder(BYTE* pbBuffer, DWORD dwLength) {
    TRACE_SCOPE(L"SwapByteOrder");
    if (!pbBuffer || dwLength < 2) return;
    for (DWORD i = 0, j = dwLength - 1; i < j; ++i, --j) {
        const BYTE t = pbBuffer[i];
        pbBuffer[i] = pbBuffer[j];
        pbBuffer[j] = t;
    }
}

HRESULT CreateGUIDString(std::wstring& guidString) {
    TRACE_SCOPE(L"CreateGUIDString");
    HRESULT hr = S_OK;
    GUID guid = {};
    wchar_t text[64] = {};
    int nStringLen = 0;

    hr = HResultFromError(CoCreateGuid(&guid));
    CHECK_GOTO(hr != S_OK, L"CoCreateGuid", hr);
    TRACE_STEP(L"CoCreateGuid");

    nStringLen = StringFromGUID2(guid, text, 64);
    CHECK_GOTO(nStringLen == 0, L"StringFromGUID2", E_FAIL);
    TRACE_STEP(L"StringFromGUID2");
    guidString = text;

exit:
    return hr;
}

HRESULT LoadModuleResource(HMODULE hInstance, BYTE** lppResData, DWORD* pdwResSize) {
    TRACE_SCOPE(L"LoadModuleResource");
    HRESULT hr = S_OK;
    const wchar_t* lpwSection = L"CERTCHAIN";
    HRSRC hResHandle = nullptr;
    DWORD dwResDataSize = 0;
    HGLOBAL hResData = nullptr;
    const void* lpResEntry = nullptr;

    CHECK_GOTO(hInstance == NULL || lpwSection == NULL || lppResData == NULL, L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    hResHandle = FindResourceW(hInstance, MAKEINTRESOURCEW(CERTCHAIN_RESOURCE_ID), lpwSection);
    CHECK_GOTO(hResHandle == NULL, L"FindResourceW", HResultFromLastError());
    TRACE_STEP(L"FindResourceW");

    dwResDataSize = SizeofResource(hInstance, hResHandle);
    CHECK_GOTO(dwResDataSize == 0, L"SizeofResource", HResultFromLastError());
    if (pdwResSize) *pdwResSize = dwResDataSize;
    TRACE_STEP(L"SizeofResource");

    hResData = LoadResource(hInstance, hResHandle);
    lpResEntry = hResData ? LockResource(hResData) : nullptr;
    CHECK_GOTO(lpResEntry == NULL, L"LoadResource", HResultFromLastError());
    TRACE_STEP(L"LoadResource");

    *lppResData = new (std::nothrow) BYTE[dwResDataSize];
    CHECK_GOTO(!*lppResData, L"New buffer", E_OUTOFMEMORY);
    memcpy(*lppResData, lpResEntry, dwResDataSize);
    TRACE_STEP(L"Copy resource");

exit:
    return hr;
}

HRESULT ReadFileSimple(DWORD* pdwFileSize, const wchar_t* lpwFilePathName, BYTE** lppFileContent) {
    TRACE_SCOPE(L"ReadFileSimple");
    HRESULT hr = S_OK;
    BOOL bRetCode = FALSE;
    HANDLE hFile = INVALID_HANDLE_VALUE;
    LARGE_INTEGER fileSize = {};
    DWORD dwFileSize = 0;
    DWORD dwBytesOfRead = 0;
    BYTE* lpFileContent = nullptr;

    CHECK_GOTO(lpwFilePathName == NULL, L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    bRetCode = GetFileAttributesW(lpwFilePathName) != INVALID_FILE_ATTRIBUTES;
    CHECK_GOTO(bRetCode == FALSE, L"Check file exists", HResultFromLastError());
    TRACE_STEP(L"Check file exists");

    hFile = CreateFileW(lpwFilePathName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    CHECK_GOTO(hFile == INVALID_HANDLE_VALUE, L"CreateFileW", HResultFromLastError());
    TRACE_STEP(L"CreateFileW");

    bRetCode = GetFileSizeEx(hFile, &fileSize);
    CHECK_GOTO(bRetCode == FALSE, L"GetFileSizeEx", HResultFromLastError());
    // The content buffer holds the size plus a terminator in 32 bits.
    CHECK_GOTO(fileSize.QuadPart >= 0xFFFFFFFFLL, L"Check file size",
               HResultFromError(ERROR_FILE_TOO_LARGE));
    dwFileSize = static_cast<DWORD>(fileSize.QuadPart);
    TRACE_STEP(L"GetFileSizeEx");

    if (lppFileContent) {
        lpFileContent = new (std::nothrow) BYTE[dwFileSize + 1]();
        CHECK_GOTO(!lpFileContent, L"New buffer", E_OUTOFMEMORY);
        TRACE_STEP(L"New buffer");

        bRetCode = ReadFile(hFile, lpFileContent, dwFileSize, &dwBytesOfRead, nullptr);
        CHECK_GOTO(bRetCode == FALSE || dwFileSize != dwBytesOfRead, L"ReadFile", HResultFromLastError());
        TRACE_STEP(L"ReadFile");
        *lppFileContent = lpFileContent;
        lpFileContent = nullptr;
    }
    // Only a read that succeeded hands out the size.
    if (pdwFileSize) *pdwFileSize = dwFileSize;

exit:
    delete[] lpFileContent;
    if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
    return hr;
}

HRESULT WriteFileSimple(const wchar_t* lpwFilePathName, const BYTE* lpDataToWrite, DWORD dwDataLen) {
    TRACE_SCOPE(L"WriteFileSimple");
    HRESULT hr = S_OK;
    HRESULT hResult = S_OK;
    HANDLE hFile = INVALID_HANDLE_VALUE;
    BOOL bRetCode = FALSE;
    DWORD dwWritten = 0;

    CHECK_GOTO(lpwFilePathName == NULL || lpDataToWrite == NULL, L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    if (GetFileAttributesW(lpwFilePathName) != INVALID_FILE_ATTRIBUTES) {
        hResult = DeleteSpecialFile(lpwFilePathName);
        CHECK_GOTO(hResult != S_OK, L"DeleteSpecialFile", HResultFromLastError());
        TRACE_STEP(L"DeleteSpecialFile");
    }

    hFile = CreateFileW(lpwFilePathName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    CHECK_GOTO(hFile == INVALID_HANDLE_VALUE, L"CreateFileW", HResultFromLastError());
    TRACE_STEP(L"CreateFileW");

    // A short write is a failure: the file would not hold the data.
    bRetCode = WriteFile(hFile, lpDataToWrite, dwDataLen, &dwWritten, nullptr);
    CHECK_GOTO(bRetCode == FALSE || dwWritten != dwDataLen, L"WriteFile", HResultFromLastError());
    TRACE_STEP(L"WriteFile");

exit:
    if (hFile != INVALID_HANDLE_VALUE) {
        CloseHandle(hFile);
        if (FAILED(hr)) DeleteFileW(lpwFilePathName);  // never leave a partial file behind
    }
    return hr;
}

HRESULT DumpDataToTempFile(const BYTE* pbWriteData, DWORD dwDataLen, std::wstring& filePath) {
    TRACE_SCOPE(L"DumpDataToTempFile");
    HRESULT hr = S_OK;
    std::wstring guid;
    wchar_t tempPath[MAX_PATH + 1] = {};
    DWORD dwTempPathSize = 0;
    std::wstring path;

    CHECK_GOTO(pbWriteData == NULL, L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    hr = CreateGUIDString(guid);
    CHECK_GOTO(hr != S_OK, L"CreateGUIDString", hr);
    TRACE_STEP(L"CreateGUIDString");

    dwTempPathSize = GetTempPathW(MAX_PATH + 1, tempPath);
    CHECK_GOTO(dwTempPathSize == 0, L"GetTempPathW", HResultFromLastError());
    // A larger value is the room the path would need: it was not written.
    CHECK_GOTO(dwTempPathSize > MAX_PATH, L"GetTempPathW", HResultFromError(ERROR_FILENAME_EXCED_RANGE));
    TRACE_STEP(L"GetTempPathW");

    path = std::wstring(tempPath) + guid + L".PELQ";
    hr = WriteFileSimple(path.c_str(), pbWriteData, dwDataLen);
    CHECK_GOTO(hr != S_OK, L"WriteFileSimple", hr);
    TRACE_STEP(L"WriteFileSimple");
    filePath = path;

exit:
    return hr;
}

HRESULT ChangeFileAttribute(const wchar_t* lpwFilePath) {
    TRACE_SCOPE(L"ChangeFileAttribute");
    HRESULT hr = S_OK;
    DWORD dwFileAttributes = 0;
    BOOL bRetCode = FALSE;

    CHECK_GOTO(NULL == lpwFilePath || 0 == wcslen(lpwFilePath), L"Check Parameter",
               HResultFromError(ERROR_FILE_NOT_FOUND));
    TRACE_STEP(L"Check Parameter");

    dwFileAttributes = GetFileAttributesW(lpwFilePath);
    CHECK_GOTO(INVALID_FILE_ATTRIBUTES == dwFileAttributes, L"GetFileAttributesW", HResultFromLastError());
    TRACE_STEP(L"GetFileAttributesW");
    if (!(dwFileAttributes & FILE_ATTRIBUTE_READONLY)) goto exit;

    bRetCode = SetFileAttributesW(lpwFilePath, dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
    CHECK_GOTO(FALSE == bRetCode, L"SetFileAttributesW", HResultFromLastError());
    TRACE_STEP(L"SetFileAttributesW");

exit:
    return hr;
}

HRESULT DeleteSpecialFile(const wchar_t* lpwFilePath) {
    TRACE_SCOPE(L"DeleteSpecialFile");
    HRESULT hr = S_OK;
    HRESULT hResult = S_OK;
    BOOL bResult = FALSE;
    DWORD dwError = 0;

    CHECK_GOTO(lpwFilePath == NULL || wcslen(lpwFilePath) == 0, L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    bResult = DeleteFileW(lpwFilePath);
    if (bResult) {
        TRACE_STEP(L"DeleteFile");
        goto exit;
    }
    dwError = GetLastError();
    if (dwError == ERROR_PATH_NOT_FOUND || dwError == ERROR_FILE_NOT_FOUND) {
        TRACE_STEP(L"DeleteFile(file not exist)");
        goto exit;
    }
    CHECK_GOTO(dwError != ERROR_ACCESS_DENIED, L"DeleteFile", HResultFromLastError());

    hResult = ChangeFileAttribute(lpwFilePath);
    CHECK_GOTO(FAILED(hResult), L"ChangeFileAttribute", hResult);
    bResult = DeleteFileW(lpwFilePath);
    CHECK_GOTO(bResult == FALSE, L"DeleteFile(has modify file attribute)", HResultFromLastError());
    TRACE_STEP(L"DeleteFile(has modify file attribute)");

exit:
    return hr;
}
