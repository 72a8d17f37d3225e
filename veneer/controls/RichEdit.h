#pragma once
// The rich text field: the platform's windowless rich-edit engine keeps,
// edits and draws the text inside the skinned window, hosted by
// CTxtWinHost. The control is a container: the engine drives its two scroll
// bars, and child controls sit from left to right over it.
#include "Container.h"
#include "PaintManager.h"
#include "TextServices.h"

namespace Veneer {

class CRichEditUI;

class CTxtWinHost : public ITextHost {
public:
    CTxtWinHost();
    virtual ~CTxtWinHost();
    CTxtWinHost(const CTxtWinHost&) = delete;
    CTxtWinHost& operator=(const CTxtWinHost&) = delete;

    // A new host with its text services; false (out untouched) when the
    // engine cannot be had.
    static bool CreateTextHost(CRichEditUI* control, const CREATESTRUCTW* create, CTxtWinHost** out);
    // The engine's library (a test seam; "Msftedit.dll" unless set).
    static void SetEngineLibrary(const wchar_t* name);
    static const wchar_t* GetEngineLibrary();

    bool Init(CRichEditUI* control, const CREATESTRUCTW* create);
    void InitDefaultCharFormat(CHARFORMAT2W& format, CRichEditUI* control);
    void SetFont(HFONT font);
    void SetTextColor(DWORD argb);
    void SetClientRect(const RECT& rect);
    bool OnSetCursor(POINT point);

    ITextServices* GetTextServices() const { return m_services; }
    const RECT& GetClientRect() const { return m_client; }
    bool IsCaptured() const { return (m_flags & FlagCaptured) != 0; }
    void SetRichTextFlag(bool on) { SetFlag(FlagRichText, on); }
    void SetTransparent(bool on) { SetFlag(FlagTransparent, on); }
    void SetInPlaceActive(bool on) { SetFlag(FlagInPlaceActive, on); }
    bool IsInPlaceActive() const { return (m_flags & FlagInPlaceActive) != 0; }
    void SetMaxLength(DWORD length) { m_maxLength = length; }
    // Marks the host in place active and tells the engine; a refusal clears the mark.
    void ActivateInPlace();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // ITextHost
    HDC TxGetDC() override;
    INT TxReleaseDC(HDC hdc) override;
    BOOL TxShowScrollBar(INT bar, BOOL show) override;
    BOOL TxEnableScrollBar(INT bars, INT arrows) override;
    BOOL TxSetScrollRange(INT bar, LONG minPos, INT maxPos, BOOL redraw) override;
    BOOL TxSetScrollPos(INT bar, INT pos, BOOL redraw) override;
    void TxInvalidateRect(LPCRECT rect, BOOL mode) override;
    void TxViewChange(BOOL update) override;
    BOOL TxCreateCaret(HBITMAP bitmap, INT width, INT height) override;
    BOOL TxShowCaret(BOOL show) override;
    BOOL TxSetCaretPos(INT x, INT y) override;
    BOOL TxSetTimer(UINT id, UINT timeout) override;
    void TxKillTimer(UINT id) override;
    void TxScrollWindowEx(INT dx, INT dy, LPCRECT scroll, LPCRECT clip, HRGN updateRegion, LPRECT update,
                          UINT flags) override;
    void TxSetCapture(BOOL capture) override;
    void TxSetFocus() override;
    void TxSetCursor(HCURSOR cursor, BOOL text) override;
    BOOL TxScreenToClient(LPPOINT point) override;
    BOOL TxClientToScreen(LPPOINT point) override;
    HRESULT TxActivate(LONG* oldState) override;
    HRESULT TxDeactivate(LONG newState) override;
    HRESULT TxGetClientRect(LPRECT rect) override;
    HRESULT TxGetViewInset(LPRECT rect) override;
    HRESULT TxGetCharFormat(const CHARFORMATW** format) override;
    HRESULT TxGetParaFormat(const PARAFORMAT** format) override;
    COLORREF TxGetSysColor(int index) override;
    HRESULT TxGetBackStyle(TextBackStyle* style) override;
    HRESULT TxGetMaxLength(DWORD* length) override;
    HRESULT TxGetScrollBars(DWORD* bars) override;
    HRESULT TxGetPasswordChar(WCHAR* ch) override;
    HRESULT TxGetAcceleratorPos(LONG* cp) override;
    HRESULT TxGetExtent(LPSIZEL extent) override;
    HRESULT OnTxCharFormatChange(const CHARFORMATW* format) override;
    HRESULT OnTxParaFormatChange(const PARAFORMAT* format) override;
    HRESULT TxGetPropertyBits(DWORD mask, DWORD* bits) override;
    HRESULT TxNotify(DWORD code, void* data) override;
    HIMC TxImmGetContext() override;
    void TxImmReleaseContext(HIMC context) override;
    HRESULT TxGetSelectionBarWidth(LONG* width) override;

private:
    enum Flags { FlagWordWrap = 1, FlagRichText = 2, FlagInPlaceActive = 4, FlagTransparent = 8, FlagCaptured = 16 };
    void SetFlag(DWORD flag, bool on) { m_flags = on ? (m_flags | flag) : (m_flags & ~flag); }
    CPaintManagerUI* Manager() const;
    HWND Window() const;
    void ChangeCharFormat();

    CRichEditUI* m_owner = nullptr;
    ULONG m_refs = 0;
    ITextServices* m_services = nullptr;
    DWORD m_style = 0;
    DWORD m_flags = 0;
    LONG m_selBarWidth = 0;
    DWORD m_maxLength = 32767;
    RECT m_client = {};
    SIZEL m_extent = {};
    CHARFORMAT2W m_charFormat = {};
    PARAFORMAT2 m_paraFormat = {};
    LONG m_acceleratorPos = -1;
    WCHAR m_passwordChar = 0;
};

class CRichEditUI : public CContainerUI, public IMessageFilterUI, public ITabKeyWantedUI {
public:
    CRichEditUI();
    ~CRichEditUI() override;

    static CControlUI* CreateRichEditUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    UINT GetBehaviorFlags() const override;
    CUIString GetText() const override;
    void SetText(const wchar_t* text) override;
    void SetPos(RECT rect, bool invalidate = true) override;
    void MoveBy(int dx, int dy, bool invalidate = true) override;
    void SetEnabled(bool enabled = true) override;
    void OnInitialize() override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    SIZE MeasureSize(SIZE available) override;
    void Paint(HDC hdc, const RECT& paint) override;
    void PaintStateImage(HDC hdc) override;
    void SetScrollPos(SIZE position, bool notify = true) override;
    void ScrollLineUp() override;
    void ScrollLineDown() override;
    void ScrollPageUp() override;
    void ScrollPageDown() override;
    void ScrollToTop() override;
    void ScrollToBottom() override;
    void ScrollLineLeft() override;
    void ScrollLineRight() override;
    void ScrollPageLeft() override;
    void ScrollPageRight() override;
    void ScrollToLeftEnd() override;
    void ScrollToRightEnd() override;

    // The one road to the engine: S_FALSE without a host.
    HRESULT SendTextMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual bool OnTextViewChanged();
    virtual void OnTextNotify(DWORD code, void* data);

    // IMessageFilterUI
    LRESULT FilterMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    // ITabKeyWantedUI
    bool IsTabWanted() const override { return m_wantTab; }

    void SetWantTab(bool on) { m_wantTab = on; }
    void SetWantReturn(bool on) { m_wantReturn = on; }
    void SetWantCtrlReturn(bool on) { m_wantCtrlReturn = on; }
    bool IsRichText() const { return m_richText; }
    void SetRichText(bool on);
    bool IsReadOnly() const { return m_readOnly; }
    DWORD GetTextColor() const { return m_textColor; }
    void SetTextColor(DWORD argb);
    int GetFont() const { return m_fontId; }
    void SetFont(int id);
    LONG GetMaxChar() const { return m_maxChar; }
    void SetMaxChar(LONG count);
    DWORD GetEditStyle() const { return m_editStyle; }
    RECT GetTextPadding() const;
    void SetTextPadding(const RECT& padding);
    const CUIString& GetTipValue() const { return m_tipValue; }
    DWORD GetTipValueColor() const { return m_tipColor; }
    UINT GetTipValueFormat() const { return m_tipFormat; }
    CTxtWinHost* GetHost() const { return m_host; }
    bool IsVerticalBarForOverflow() const { return m_vBarForOverflow; }
    // Shows or hides one of the control's bars for the engine.
    void ShowBar(CScrollBarUI* bar, bool show);

    LRESULT SelectAll();
    bool CanUndo();
    bool CanRedo();
    bool Undo();
    bool Redo();
    void ClearAll();

private:
    void SetStateImage(CUIString& image, const wchar_t* value);
    // The engine's natural text height for the text rectangle's width.
    bool NaturalHeight(const RECT& text, LONG& height);
    void SendScroll(UINT message, WPARAM code);
    void ShowContextMenu(LPARAM lParam);
    // The content rectangle less the text padding.
    RECT TextRect(const RECT& content) const;
    void LayoutChildren(const RECT& content);

    CTxtWinHost* m_host = nullptr;
    bool m_vBarForOverflow = false;
    bool m_wantTab = true;
    bool m_wantReturn = true;
    bool m_wantCtrlReturn = true;
    bool m_richText = true;
    bool m_readOnly = false;
    DWORD m_textColor = 0;
    int m_fontId = -1;
    LONG m_maxChar = 32767;
    DWORD m_editStyle = ES_MULTILINE;
    bool m_initialised = false;
    bool m_placing = false;
    UINT m_state = 0;
    CUIString m_normalImage;
    CUIString m_hotImage;
    CUIString m_focusedImage;
    CUIString m_disabledImage;
    RECT m_textPadding = {};
    CUIString m_tipValue;
    DWORD m_tipColor = 0xFFBAC0C5;
    UINT m_tipFormat = DT_SINGLELINE;
};

}  // namespace Veneer
