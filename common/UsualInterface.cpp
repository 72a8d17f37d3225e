// Path combination, path tests, time and hexadecimal conversions.
#include "UsualInterface.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>

#include "Encoding.h"
#include "System.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"UsualInterface"

namespace {

enum class PathTemplate { None, System, Program, Temp, HomeDrive, AppData };

PathTemplate MatchTemplate(const wchar_t* target) {
    static const struct {
        const wchar_t* text;
        PathTemplate kind;
    } templates[] = {
        {L"%SYSTEM%", PathTemplate::System},           {L"%SYSTEM32%", PathTemplate::System},
        {L"%PROGRAM%", PathTemplate::Program},         {L"%PROGRAMFILES%", PathTemplate::Program},
        {L"%PROGRAMFILES(X86)%", PathTemplate::Program}, {L"%TEMP%", PathTemplate::Temp},
        {L"%HOMEDRIVE%", PathTemplate::HomeDrive},     {L"%APPDATA%", PathTemplate::AppData},
    };
    for (const auto& t : templates)
        if (_wcsicmp(target, t.text) == 0) return t.kind;
    return PathTemplate::None;
}

}  // namespace

HRESULT CombineFilePath(const wchar_t* lpwFileName, const wchar_t* lpwTargetPath, wchar_t** lppwFileFullPath,
                        BOOL bIs64) {
    TRACE_SCOPE(L"CombineFilePath");
    HRESULT hr = S_OK;
    wchar_t folder[MAX_PATH + 1] = {};
    DWORD dwPlatform = OS_PLATFORM_X86;
    size_t nTarget = 0, nFolder = 0, nName = 0, nTotal = 0;
    bool bSeparator = false;
    wchar_t* lpwResult = nullptr;

    CHECK_GOTO(lpwFileName == NULL || lppwFileFullPath == NULL, L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    if (lpwTargetPath == NULL || *lpwTargetPath == 0) {
        CHECK_GOTO(GetModuleFileNameW(nullptr, folder, MAX_PATH) == 0, L"GetModuleFileNameW", HResultFromLastError());
        PathRemoveFileSpecW(folder);
        TRACE_STEP(L"Program folder");
    } else {
        hr = GetWindowsOSPlatform(&dwPlatform);
        CHECK_GOTO(FAILED(hr), L"GetWindowsOSPlatform", hr);
        nTarget = wcslen(lpwTargetPath);
        if (lpwTargetPath[0] == L'%' || lpwTargetPath[nTarget - 1] == L'%') {
            const PathTemplate kind = MatchTemplate(lpwTargetPath);
            const bool b64System = dwPlatform == OS_PLATFORM_X64;
            int csidl = -1;
            const wchar_t* lpwExpand = nullptr;
            CHECK_GOTO(kind == PathTemplate::None, L"Invalid Target Path", E_INVALIDARG);
            switch (kind) {
            case PathTemplate::System: csidl = (b64System && !bIs64) ? CSIDL_SYSTEMX86 : CSIDL_SYSTEM; break;
            case PathTemplate::Program:
                if (!b64System)
                    csidl = CSIDL_PROGRAM_FILES;
                else if (IsCurrentProcessX64())
                    csidl = bIs64 ? CSIDL_PROGRAM_FILES : CSIDL_PROGRAM_FILESX86;
                else if (bIs64)
                    lpwExpand = L"%ProgramW6432%";
                else
                    csidl = CSIDL_PROGRAM_FILES;
                break;
            case PathTemplate::HomeDrive: lpwExpand = L"%HOMEDRIVE%"; break;
            case PathTemplate::AppData: lpwExpand = L"%APPDATA%"; break;
            default: break;
            }
            if (csidl >= 0) {
                hr = SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder);
                CHECK_GOTO(hr != S_OK, L"SHGetFolderPathW", HResultFromError(hr));
            } else if (lpwExpand) {
                CHECK_GOTO(ExpandEnvironmentStringsW(lpwExpand, folder, MAX_PATH) == 0, L"ExpandEnvironmentStringsW",
                           HResultFromLastError());
            } else {  // %TEMP%
                CHECK_GOTO(GetTempPathW(MAX_PATH, folder) == 0, L"GetTempPathW", HResultFromLastError());
                nFolder = wcslen(folder);
                if (nFolder > 0 && folder[nFolder - 1] == L'\\') folder[nFolder - 1] = 0;
            }
            TRACE_STEP(L"Resolve template");
        } else {
            CHECK_GOTO(nTarget >= MAX_PATH, L"Target Path too long", HResultFromError(ERROR_BUFFER_OVERFLOW));
            wcscpy(folder, lpwTargetPath);
            if (folder[nTarget - 1] == L'\\') folder[nTarget - 1] = 0;
            TRACE_STEP(L"Target folder");
        }
    }

    nFolder = wcslen(folder);
    nName = wcslen(lpwFileName);
    bSeparator = !(lpwFileName[0] == L'/' || lpwFileName[0] == L'\\');
    nTotal = nFolder + nName + 2;
    lpwResult = new (std::nothrow) wchar_t[nTotal]();
    CHECK_GOTO(!lpwResult, L"New buffer", E_OUTOFMEMORY);
    wcscpy(lpwResult, folder);
    if (bSeparator) wcscat(lpwResult, L"\\");
    wcscat(lpwResult, lpwFileName);
    ReplaceSlashWithBackslash(lpwResult);
    TraceValueString(L"FileFullPath", lpwResult);
    *lppwFileFullPath = lpwResult;

exit:
    return hr;
}

BOOL LooksLikeLocalFile(const wchar_t* lpwPath) {
    if (!lpwPath) return FALSE;
    const wchar_t c = lpwPath[0];
    return ((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z')) && lpwPath[1] == L':' && lpwPath[2] == L'\\';
}

BOOL ContainEnvironmentPath(const wchar_t* lpwPath) {
    return lpwPath && lpwPath[0] == L'%' && wcschr(lpwPath + 1, L'%') != nullptr;
}

void ReplaceSlashWithBackslash(wchar_t* lpwText) {
    if (!lpwText) return;
    for (; *lpwText; ++lpwText)
        if (*lpwText == L'/') *lpwText = L'\\';
}

HRESULT TransformFilePathInSystem(const wchar_t* lpwFilePath, wchar_t** lppwOutPath) {
    TRACE_SCOPE(L"TransformFilePathInSystem");
    HRESULT hr = S_OK;
    wchar_t system[MAX_PATH + 1] = {};
    wchar_t* lpwCopy = nullptr;

    CHECK_GOTO(lpwFilePath == NULL || lppwOutPath == NULL, L"Check Parameter", E_INVALIDARG);
    hr = SHGetFolderPathW(nullptr, CSIDL_SYSTEM, nullptr, SHGFP_TYPE_CURRENT, system);
    CHECK_GOTO(hr != S_OK, L"SHGetFolderPathW", HResultFromError(hr));
    TraceValueString(L"System folder", system);
    TraceValue(L"Path in system folder", StrStrIW(lpwFilePath, system) != nullptr);

    lpwCopy = new (std::nothrow) wchar_t[wcslen(lpwFilePath) + 1];
    *lppwOutPath = lpwCopy;
    CHECK_GOTO(!lpwCopy, L"New buffer", E_OUTOFMEMORY);
    wcscpy(lpwCopy, lpwFilePath);
    TRACE_STEP(L"Copy path");

exit:
    return hr;
}

HRESULT StringTimeToFileTime(const wchar_t* lpwStrTime, FILETIME* pFileTime) {
    TRACE_SCOPE(L"StringTimeToFileTime");
    HRESULT hr = S_OK;
    SYSTEMTIME st = {};
    SYSTEMTIME back = {};
    FILETIME ft = {};
    auto field = [lpwStrTime](int start, int count) {
        WORD value = 0;
        for (int i = 0; i < count; ++i) {
            const wchar_t c = lpwStrTime[start + i];
            value = static_cast<WORD>(value * 10 + ((c >= L'0' && c <= L'9') ? c - L'0' : 0));
        }
        return value;
    };

    CHECK_GOTO(lpwStrTime == NULL || pFileTime == NULL || wcslen(lpwStrTime) < 14, L"Check Parameter",
               E_INVALIDARG);
    st.wYear = field(0, 4);
    st.wMonth = field(4, 2);
    st.wDay = field(6, 2);
    st.wHour = field(8, 2);
    st.wMinute = field(10, 2);
    st.wSecond = field(12, 2);
    CHECK_GOTO(!SystemTimeToFileTime(&st, &ft), L"SystemTimeToFileTime", HResultFromLastError());
    // Some implementations roll an impossible day (29 February of a common
    // year) over into the next month; refuse it as Windows does.
    CHECK_GOTO(!FileTimeToSystemTime(&ft, &back) || back.wYear != st.wYear || back.wMonth != st.wMonth ||
                   back.wDay != st.wDay || back.wHour != st.wHour || back.wMinute != st.wMinute ||
                   back.wSecond != st.wSecond,
               L"SystemTimeToFileTime(invalid date)", HResultFromError(ERROR_INVALID_PARAMETER));
    *pFileTime = ft;
    TRACE_STEP(L"SystemTimeToFileTime");

exit:
    return hr;
}

HRESULT FileTimeToStringTime(const FILETIME* pFileTime, wchar_t** lppwDateStr, wchar_t** lppwTimeStr) {
    TRACE_SCOPE(L"FileTimeToStringTime");
    HRESULT hr = S_OK;
    FILETIME local = {};
    SYSTEMTIME st = {};
    const size_t nChars = 32;

    CHECK_GOTO(pFileTime == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(!FileTimeToLocalFileTime(pFileTime, &local), L"FileTimeToLocalFileTime", HResultFromLastError());
    CHECK_GOTO(!FileTimeToSystemTime(&local, &st), L"FileTimeToSystemTime", HResultFromLastError());
    TRACE_STEP(L"FileTimeToSystemTime");

    if (lppwDateStr) {
        *lppwDateStr = new (std::nothrow) wchar_t[nChars]();
        CHECK_GOTO(!*lppwDateStr, L"New buffer(date)", E_OUTOFMEMORY);
        swprintf(*lppwDateStr, nChars, L"%04d-%02d-%02d", st.wYear, st.wMonth, st.wDay);
    }
    if (lppwTimeStr) {
        *lppwTimeStr = new (std::nothrow) wchar_t[nChars]();
        CHECK_GOTO(!*lppwTimeStr, L"New buffer(time)", E_OUTOFMEMORY);
        swprintf(*lppwTimeStr, nChars, L"%02d:%02d:%02d", st.wHour, st.wMinute, st.wSecond);
    }
    TRACE_STEP(L"Format time");

exit:
    return hr;
}

HRESULT HexStrToUnsignedLong(const wchar_t* lpwHexStr, ULONG* pulValue) {
    TRACE_SCOPE(L"HexStrToUnsignedLong");
    HRESULT hr = S_OK;
    BYTE* lpBytes = nullptr;
    DWORD dwLength = 0;

    CHECK_GOTO(pulValue == NULL, L"Check Parameter", E_INVALIDARG);
    if (lpwHexStr == NULL || *lpwHexStr == 0) {
        *pulValue = 0;
        goto exit;
    }
    hr = ConvertStringToBinaryData(lpwHexStr, &lpBytes, &dwLength);
    CHECK_GOTO(FAILED(hr), L"ConvertStringToBinaryData", HResultFromError(hr));
    // Least significant byte first, as a little-endian number reads.
    memcpy(pulValue, lpBytes, dwLength < sizeof(ULONG) ? dwLength : sizeof(ULONG));
    TRACE_STEP(L"Convert text");

exit:
    delete[] lpBytes;
    return hr;
}
