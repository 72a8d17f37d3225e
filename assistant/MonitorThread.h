#pragma once
// The key monitor thread: scans the plugged keys and their certificates on
// each rescan request and posts 2026 to the main window after each scan
// (2025 once, and ends, when the key library file is missing).
#include <windows.h>

// lpParam: the AppContext. Returns 0.
DWORD WINAPI MonitorThread(LPVOID lpParam);
