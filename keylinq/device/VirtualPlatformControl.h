#pragma once
// Test controls of the test binding's system libraries (test builds only):
// WinSCard.dll and winusb.dll are pseudo-modules whose functions talk to the
// virtual key. A test can make a library or one function name missing, and
// can read what is still loaded or allocated.
#include <windows.h>

namespace DevicePlatform {
namespace Virtual {

// LoadLibraryExW of this library name fails (ERROR_MOD_NOT_FOUND); null: none.
void HideLibrary(const wchar_t* name);
// GetProcAddress of this function name fails (ERROR_PROC_NOT_FOUND); null: none.
void HideFunction(const char* name);
// Pseudo-modules loaded and not freed.
int LoadedModules();
// PC/SC contexts not released, reader lists not freed, card handles not disconnected.
int OpenPcscContexts();
int PcscAllocations();
int OpenCardHandles();

}  // namespace Virtual
}  // namespace DevicePlatform
