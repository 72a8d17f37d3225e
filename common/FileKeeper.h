#pragma once
// The long form of a file path.
#include <windows.h>

// A local path ("X:\...") or one starting with an environment variable gets
// its long form (the file must exist); a bare name or relative path is placed
// in the system folder as it is. The result is a new buffer (array new).
HRESULT GetFileLongPathName(const wchar_t* lpwFilePath, wchar_t** lppwLongPath);
