#pragma once
// What the library's two dialogs share: their module, fonts and the white
// background of their texts.
#include <windows.h>

// The module holding the dialogs and texts.
HMODULE DialogModule();
// The dialogs' face "微软雅黑" at the given height, width and weight.
HFONT CreateDialogFont(int height, int width, int weight, bool underline);
void DeleteDialogFont(HFONT& font);
// Brings the dialog forward.
void BringDialogForward(HWND hDlg);
