// URL splitting for the renewal and time-stamp servers.
#include "Network.h"

#include <cwchar>
#include <cwctype>

#include "TraceHelper.h"

#define TRACE_MODULE L"Network"

namespace {

bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix) {
    return _wcsnicmp(text, prefix, wcslen(prefix)) == 0;
}

INTERNET_PORT ReadPort(const std::wstring& text) { return static_cast<INTERNET_PORT>(_wtoi(text.c_str())); }

constexpr size_t MAX_HOST_PART = 1023;

}  // namespace

bool CheckIsIpV6(const std::wstring& hostPart) {
    TRACE_SCOPE(L"CheckIsIpV6");
    const size_t first = hostPart.find(L':');
    return first != std::wstring::npos && hostPart.find(L':', first + 1) != std::wstring::npos;
}

HRESULT ParseNetworkURL(const wchar_t* lpwUrl, std::wstring& host, INTERNET_PORT& port, std::wstring& objectPath,
                        int& secure) {
    TRACE_SCOPE(L"ParseNetworkURL");
    if (lpwUrl == NULL || wcslen(lpwUrl) == 0) {
        TRACE_FAIL(L"Check Parameter", L"lpwUrl == NULL || wcslen(lpwUrl) == 0", E_INVALIDARG);
        return E_INVALIDARG;
    }
    TRACE_STEP(L"Check Parameter");

    const wchar_t* rest = lpwUrl;
    int isSecure = 0;
    if (StartsWithNoCase(rest, L"https://")) {
        isSecure = 1;
        rest += 8;
    } else if (StartsWithNoCase(rest, L"http://")) {
        rest += 7;
    }

    const wchar_t* slash = wcschr(rest, L'/');
    const std::wstring hostPart(rest, slash ? size_t(slash - rest) : wcslen(rest));
    if (hostPart.size() > MAX_HOST_PART) {
        TRACE_FAIL(L"Check host length", L"hostPart.size() > 1023", E_INVALIDARG);
        return E_INVALIDARG;
    }

    std::wstring hostName = hostPart;
    std::wstring portText;
    if (CheckIsIpV6(hostPart)) {
        const size_t close = hostPart.find(L"]:");
        if (close != std::wstring::npos) {
            hostName = hostPart.substr(0, close + 1);
            portText = hostPart.substr(close + 2);
        }
    } else {
        const size_t colon = hostPart.find(L':');
        if (colon != std::wstring::npos) {
            hostName = hostPart.substr(0, colon);
            portText = hostPart.substr(colon + 1);
        }
    }

    host = hostName;
    port = (hostName.size() == hostPart.size()) ? (isSecure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT)
                                                : ReadPort(portText);
    objectPath = slash ? std::wstring(slash) : std::wstring();
    secure = isSecure;
    TraceValueString(L"Host", host.c_str());
    TraceValue(L"Port", port);
    return S_OK;
}
