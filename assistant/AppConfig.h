#pragma once
// Where Certaide finds its key library and servers.
#include <windows.h>

// The key library's full path: "Keylinq.dll" in the system folder of this
// process's word size (CombineFilePath of "%SYSTEM%"). Test builds take
// CERTAIDE_KEY_LIBRARY from the environment instead when it is set. A new
// buffer (array new) the caller frees; on failure it stays null.
HRESULT GetKeyLibraryPath(wchar_t** ppwPath);

// Test builds: the renewal server's and the time-stamp server's URLs from
// CERTAIDE_RENEWAL_URL and CERTAIDE_TIMESTAMP_URL when set (over what
// LoadServerUrlConfig and the build put there). Release builds: nothing.
void ApplyTestBindingUrls();
