#pragma once
// Certificate status against a given time, and the USB vendor and product
// id of a device interface path.
#include <windows.h>

// Certificate status values.
constexpr DWORD CERT_STATUS_NORMAL = 1;
constexpr DWORD CERT_STATUS_EXPIRING = 2;  // expires within 90 days
constexpr DWORD CERT_STATUS_EXPIRED = 3;

// Classifies NotAfter against ftCurrentTime and counts the days left (whole
// hours rounded up to days; 0 once expired). Always 0; both outputs written.
HRESULT GetUserCertStatus(DWORD* pdwStatus, DWORD* pdwDaysLeft, FILETIME ftCurrentTime, FILETIME ftNotAfter);

// The four hexadecimal digits after the last "USB#VID_" (any case) and the
// four at 17 characters after it, into the low 16 bits of the outputs (the
// caller zeroes them first). 0x80070490 when the mark is missing or the text
// ends before the product id is complete; the outputs are then unchanged.
HRESULT GetVidPidFromUSBDevDesc(const wchar_t* lpwUSBDevDesc, DWORD* pdwVid, DWORD* pdwPid);
