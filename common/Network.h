#pragma once
// Splitting of the servers' URLs.
#include <windows.h>
#include <wininet.h>

#include <string>

// Splits "scheme://host[:port]/path": the secure flag is 1 for "https://"
// (any case), 0 for "http://" or no scheme; the port defaults to 443 or 80;
// an IPv6 literal keeps its brackets; the path starts with its "/" or is
// empty. E_INVALIDARG for a null or empty URL or a host part over 1023
// characters.
HRESULT ParseNetworkURL(const wchar_t* lpwUrl, std::wstring& host, INTERNET_PORT& port, std::wstring& objectPath,
                        int& secure);

// True when the host part holds more than one ":" (an IPv6 literal).
bool CheckIsIpV6(const std::wstring& hostPart);
