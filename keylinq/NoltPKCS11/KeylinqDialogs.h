#pragma once
// Installs the library's own PIN entry and confirmation dialogs as the SKF
// objects' windows.
void InstallKeylinqDialogs();
