#pragma once
// Platform of the running system and folder creation.
#include <windows.h>

// Platform codes of GetWindowsOSPlatform.
constexpr DWORD OS_PLATFORM_X64 = 0;  // 64-bit x86 system (AMD64)
constexpr DWORD OS_PLATFORM_X86 = 1;  // 32-bit x86 system (INTEL)

// The system's processor architecture as a platform code; any other
// architecture gives 0x80070032 and leaves the output unchanged.
HRESULT GetWindowsOSPlatform(DWORD* pdwPlatform);
// TRUE only for a 64-bit process on a 64-bit system (never for this 32-bit program).
BOOL IsCurrentProcessX64();
// Creates the folders above a file path; the last component is not created.
HRESULT CreateDirectories(const wchar_t* lpwDirectory);
