#pragma once
// A soft drop shadow around a skinned top-level window: a layered,
// click-through pop-up behind the window that follows it through a subclass
// of the window's procedure. Inert unless the skin switches it on.
#include <windows.h>

#include "UIValueTypes.h"

namespace Veneer {

class CPaintManagerUI;

class CShadowUI {
public:
    enum StateBits { StateCreated = 1, StateShown = 2, StateWindowVisible = 4, StateDisabled = 8 };

    CShadowUI();
    virtual ~CShadowUI();
    CShadowUI(const CShadowUI&) = delete;
    CShadowUI& operator=(const CShadowUI&) = delete;

    // Once per process: the layered-window function and the shadow class.
    static bool Initialize();
    // Makes the shadow of the manager's window (nothing unless switched on);
    // for a window it already shadows it only redraws.
    void Create(CPaintManagerUI* manager);
    void Show(HWND window);
    void Update(HWND window);

    bool SetSize(int size);
    bool SetSharpness(int sharpness);
    bool SetDarkness(int darkness);
    bool SetPosition(int x, int y);
    bool SetImage(const wchar_t* image);
    bool SetShadowCorner(int left, int top, int right, int bottom);
    bool CopySettings(const CShadowUI& other);
    void SetColor(DWORD color) { m_color = color; }
    void SetShowShadow(bool show) { m_showShadow = show; }

    bool IsShowShadow() const { return m_showShadow; }
    int GetSize() const { return m_size; }
    int GetSharpness() const { return m_sharpness; }
    int GetDarkness() const { return m_darkness; }
    DWORD GetColor() const { return m_color; }
    BYTE GetState() const { return m_state; }
    HWND GetShadowWindow() const { return m_shadowWindow; }

    // The computed shadow into a bottom-up 32-bit bitmap of
    // (width + 2 size) x (height + 2 size) pixels.
    void MakeShadow(DWORD* pixels, HWND window, const RECT& windowRect) const;

    static LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    void PlaceBehind(HWND window, bool moveToo);

    CPaintManagerUI* m_manager = nullptr;
    HWND m_shadowWindow = nullptr;
    WNDPROC m_previousProc = nullptr;
    BYTE m_state = 0;
    bool m_imageMode = false;
    bool m_showShadow = false;
    WORD m_lastWidth = 0;
    WORD m_lastHeight = 0;
    bool m_updatePending = false;
    BYTE m_darkness = 85;
    BYTE m_sharpness = 10;
    signed char m_size = 10;
    signed char m_offsetX = 0;
    signed char m_offsetY = 0;
    DWORD m_color = 0;
    CUIString m_image;
    RECT m_corner = {};
};

}  // namespace Veneer
