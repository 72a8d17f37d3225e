// The long form of a file path.
#include "FileKeeper.h"

#include <new>

#include "TraceHelper.h"
#include "UsualInterface.h"

#define TRACE_MODULE L"FileKeeper"

namespace {

HRESULT LongPathOfLocalFile(const wchar_t* lpwPath, wchar_t** lppwLongPath) {
    TRACE_NAME(L"GetFileLongPathName");
    HRESULT hr = S_OK;
    wchar_t* lpwCopy = nullptr;
    wchar_t* lpwLong = nullptr;
    DWORD dwNeeded = 0, dwWritten = 0;

    hr = TransformFilePathInSystem(lpwPath, &lpwCopy);
    CHECK_GOTO(FAILED(hr), L"TransformFilePathInSystem", hr);
    dwNeeded = GetLongPathNameW(lpwCopy, nullptr, 0);
    CHECK_GOTO(dwNeeded == 0, L"GetLongPathNameW(size)", HResultFromLastError());
    lpwLong = new (std::nothrow) wchar_t[dwNeeded + 1]();
    CHECK_GOTO(!lpwLong, L"New buffer", E_OUTOFMEMORY);
    dwWritten = GetLongPathNameW(lpwCopy, lpwLong, dwNeeded + 1);
    CHECK_GOTO(dwWritten == 0 || dwWritten > dwNeeded, L"GetLongPathNameW", HResultFromLastError());
    *lppwLongPath = lpwLong;
    lpwLong = nullptr;
    TRACE_STEP(L"GetLongPathNameW");

exit:
    delete[] lpwCopy;
    delete[] lpwLong;
    return hr;
}

}  // namespace

HRESULT GetFileLongPathName(const wchar_t* lpwFilePath, wchar_t** lppwLongPath) {
    TRACE_SCOPE(L"GetFileLongPathName");
    HRESULT hr = S_OK;
    wchar_t expanded[MAX_PATH + 1] = {};

    CHECK_GOTO(lpwFilePath == NULL || *lpwFilePath == 0 || lppwLongPath == NULL, L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    if (LooksLikeLocalFile(lpwFilePath)) {
        hr = LongPathOfLocalFile(lpwFilePath, lppwLongPath);
        CHECK_GOTO(FAILED(hr), L"Local file", hr);
    } else if (ContainEnvironmentPath(lpwFilePath)) {
        const DWORD dw = ExpandEnvironmentStringsW(lpwFilePath, expanded, MAX_PATH);
        CHECK_GOTO(dw == 0, L"ExpandEnvironmentStringsW", HResultFromLastError());
        CHECK_GOTO(dw > MAX_PATH, L"ExpandEnvironmentStringsW(length)", HResultFromError(ERROR_INSUFFICIENT_BUFFER));
        hr = LongPathOfLocalFile(expanded, lppwLongPath);
        CHECK_GOTO(FAILED(hr), L"Environment path", hr);
    } else {
        hr = CombineFilePath(lpwFilePath, L"%SYSTEM32%", lppwLongPath, TRUE);
        CHECK_GOTO(FAILED(hr), L"CombineFilePath", hr);
    }

exit:
    return hr;
}
