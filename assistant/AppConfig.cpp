#include "AppConfig.h"

#include <cwchar>

#include "HttpWinNet.h"
#include "TimeSource.h"
#include "UsualInterface.h"

namespace {
constexpr wchar_t KEY_LIBRARY_FILE[] = L"Keylinq.dll";

#ifdef CERTAIDE_TEST_BINDING
bool CopyEnv(const wchar_t* name, wchar_t* buffer, DWORD capacity) {
    wchar_t value[1024];
    DWORD n = GetEnvironmentVariableW(name, value, 1024);
    if (n == 0 || n >= capacity || n >= 1024) return false;
    wcsncpy(buffer, value, capacity - 1);
    buffer[capacity - 1] = 0;
    return true;
}
#endif
}  // namespace

HRESULT GetKeyLibraryPath(wchar_t** ppwPath) {
    if (!ppwPath) return E_INVALIDARG;
    *ppwPath = nullptr;
#ifdef CERTAIDE_TEST_BINDING
    wchar_t value[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"CERTAIDE_KEY_LIBRARY", value, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        *ppwPath = new wchar_t[n + 1];
        wcscpy(*ppwPath, value);
        return S_OK;
    }
#endif
    return CombineFilePath(KEY_LIBRARY_FILE, L"%SYSTEM%", ppwPath, FALSE);
}

void ApplyTestBindingUrls() {
#ifdef CERTAIDE_TEST_BINDING
    CopyEnv(L"CERTAIDE_RENEWAL_URL", g_wszServerUrl, 260);
    CopyEnv(L"CERTAIDE_TIMESTAMP_URL", g_wszTimeStampUrl, 260);
#endif
}
