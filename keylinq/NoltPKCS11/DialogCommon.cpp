// Pieces shared by the PIN entry and confirmation dialogs.
#include "DialogCommon.h"

extern HMODULE g_hModule;

HMODULE DialogModule() { return g_hModule ? g_hModule : GetModuleHandleW(nullptr); }

HFONT CreateDialogFont(int height, int width, int weight, bool underline) {
    return CreateFontW(height, width, 0, 0, weight, FALSE, underline ? TRUE : FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_CHARACTER_PRECIS, CLIP_CHARACTER_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                       L"\x5FAE\x8F6F\x96C5\x9ED1");
}

void DeleteDialogFont(HFONT& font) {
    if (font) DeleteObject(font);
    font = nullptr;
}

void BringDialogForward(HWND hDlg) {
    SetForegroundWindow(hDlg);
    BringWindowToTop(hDlg);
}
