#pragma once
// The platform's windowless rich-edit interfaces, declared here in the
// platform's slot order. The three IUnknown slots are __stdcall; every Tx
// slot is a plain C++ virtual (thiscall on i686), which is how the engine
// calls its host and how it answers its own calls.
#include <windows.h>
#include <imm.h>
#include <ole2.h>
#include <richedit.h>

namespace Veneer {

// {C5BDD8D0-D26E-11CE-A89E-00AA006CADC5}
extern const IID IID_VeneerTextHost;
// {8D33F740-CF58-11CE-A89D-00AA006CADC5}
extern const IID IID_VeneerTextServices;

enum TextBackStyle { TextBackTransparent = 0, TextBackOpaque = 1 };

// Property bits the host reports and changes.
const DWORD kTxtBitRichText = 0x1;
const DWORD kTxtBitMultiLine = 0x2;
const DWORD kTxtBitReadOnly = 0x4;
const DWORD kTxtBitShowAccelerator = 0x8;
const DWORD kTxtBitUsePassword = 0x10;
const DWORD kTxtBitHideSelection = 0x20;
const DWORD kTxtBitSaveSelection = 0x40;
const DWORD kTxtBitAutoWordSel = 0x80;
const DWORD kTxtBitVertical = 0x100;
const DWORD kTxtBitSelBarChange = 0x200;
const DWORD kTxtBitWordWrap = 0x400;
const DWORD kTxtBitAllowBeep = 0x800;
const DWORD kTxtBitDisableDrag = 0x1000;
const DWORD kTxtBitViewInsetChange = 0x2000;
const DWORD kTxtBitBackStyleChange = 0x4000;
const DWORD kTxtBitMaxLengthChange = 0x8000;
const DWORD kTxtBitScrollBarChange = 0x10000;
const DWORD kTxtBitCharFormatChange = 0x20000;
const DWORD kTxtBitParaFormatChange = 0x40000;
const DWORD kTxtBitExtentChange = 0x80000;
const DWORD kTxtBitClientRectChange = 0x100000;

const DWORD kNaturalSizeFitToContent = 1;

class ITextServices : public IUnknown {
public:
    virtual HRESULT TxSendMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) = 0;
    virtual HRESULT TxDraw(DWORD drawAspect, LONG index, void* aspect, DVTARGETDEVICE* device, HDC draw,
                           HDC targetDevice, LPCRECTL bounds, LPCRECTL windowBounds, LPRECT update,
                           BOOL(CALLBACK* continueProc)(DWORD), DWORD continueValue, LONG viewId) = 0;
    virtual HRESULT TxGetHScroll(LONG* min, LONG* max, LONG* pos, LONG* page, BOOL* enabled) = 0;
    virtual HRESULT TxGetVScroll(LONG* min, LONG* max, LONG* pos, LONG* page, BOOL* enabled) = 0;
    virtual HRESULT OnTxSetCursor(DWORD drawAspect, LONG index, void* aspect, DVTARGETDEVICE* device, HDC draw,
                                  HDC targetDevice, LPCRECT client, INT x, INT y) = 0;
    virtual HRESULT TxQueryHitPoint(DWORD drawAspect, LONG index, void* aspect, DVTARGETDEVICE* device, HDC draw,
                                    HDC targetDevice, LPCRECT client, INT x, INT y, DWORD* hitResult) = 0;
    virtual HRESULT OnTxInPlaceActivate(LPCRECT client) = 0;
    virtual HRESULT OnTxInPlaceDeactivate() = 0;
    virtual HRESULT OnTxUIActivate() = 0;
    virtual HRESULT OnTxUIDeactivate() = 0;
    virtual HRESULT TxGetText(BSTR* text) = 0;
    virtual HRESULT TxSetText(LPCWSTR text) = 0;
    virtual HRESULT TxGetCurTargetX(LONG* x) = 0;
    virtual HRESULT TxGetBaseLinePos(LONG* pos) = 0;
    virtual HRESULT TxGetNaturalSize(DWORD aspect, HDC draw, HDC targetDevice, DVTARGETDEVICE* device, DWORD mode,
                                     const SIZEL* extent, LONG* width, LONG* height) = 0;
    virtual HRESULT TxGetDropTarget(IDropTarget** target) = 0;
    virtual HRESULT OnTxPropertyBitsChange(DWORD mask, DWORD bits) = 0;
    virtual HRESULT TxGetCachedSize(DWORD* width, DWORD* height) = 0;
};

class ITextHost : public IUnknown {
public:
    virtual HDC TxGetDC() = 0;
    virtual INT TxReleaseDC(HDC hdc) = 0;
    virtual BOOL TxShowScrollBar(INT bar, BOOL show) = 0;
    virtual BOOL TxEnableScrollBar(INT bars, INT arrows) = 0;
    virtual BOOL TxSetScrollRange(INT bar, LONG minPos, INT maxPos, BOOL redraw) = 0;
    virtual BOOL TxSetScrollPos(INT bar, INT pos, BOOL redraw) = 0;
    virtual void TxInvalidateRect(LPCRECT rect, BOOL mode) = 0;
    virtual void TxViewChange(BOOL update) = 0;
    virtual BOOL TxCreateCaret(HBITMAP bitmap, INT width, INT height) = 0;
    virtual BOOL TxShowCaret(BOOL show) = 0;
    virtual BOOL TxSetCaretPos(INT x, INT y) = 0;
    virtual BOOL TxSetTimer(UINT id, UINT timeout) = 0;
    virtual void TxKillTimer(UINT id) = 0;
    virtual void TxScrollWindowEx(INT dx, INT dy, LPCRECT scroll, LPCRECT clip, HRGN updateRegion, LPRECT update,
                                  UINT flags) = 0;
    virtual void TxSetCapture(BOOL capture) = 0;
    virtual void TxSetFocus() = 0;
    virtual void TxSetCursor(HCURSOR cursor, BOOL text) = 0;
    virtual BOOL TxScreenToClient(LPPOINT point) = 0;
    virtual BOOL TxClientToScreen(LPPOINT point) = 0;
    virtual HRESULT TxActivate(LONG* oldState) = 0;
    virtual HRESULT TxDeactivate(LONG newState) = 0;
    virtual HRESULT TxGetClientRect(LPRECT rect) = 0;
    virtual HRESULT TxGetViewInset(LPRECT rect) = 0;
    virtual HRESULT TxGetCharFormat(const CHARFORMATW** format) = 0;
    virtual HRESULT TxGetParaFormat(const PARAFORMAT** format) = 0;
    virtual COLORREF TxGetSysColor(int index) = 0;
    virtual HRESULT TxGetBackStyle(TextBackStyle* style) = 0;
    virtual HRESULT TxGetMaxLength(DWORD* length) = 0;
    virtual HRESULT TxGetScrollBars(DWORD* bars) = 0;
    virtual HRESULT TxGetPasswordChar(WCHAR* ch) = 0;
    virtual HRESULT TxGetAcceleratorPos(LONG* cp) = 0;
    virtual HRESULT TxGetExtent(LPSIZEL extent) = 0;
    virtual HRESULT OnTxCharFormatChange(const CHARFORMATW* format) = 0;
    virtual HRESULT OnTxParaFormatChange(const PARAFORMAT* format) = 0;
    virtual HRESULT TxGetPropertyBits(DWORD mask, DWORD* bits) = 0;
    virtual HRESULT TxNotify(DWORD code, void* data) = 0;
    virtual HIMC TxImmGetContext() = 0;
    virtual void TxImmReleaseContext(HIMC context) = 0;
    virtual HRESULT TxGetSelectionBarWidth(LONG* width) = 0;
};

typedef HRESULT(WINAPI* CreateTextServicesProc)(IUnknown* outer, ITextHost* host, IUnknown** services);

}  // namespace Veneer
