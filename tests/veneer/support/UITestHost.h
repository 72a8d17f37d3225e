#pragma once
// The UI tests' host: a real window whose procedure hands its messages to a
// paint manager, lays the root out and paints it through a 32-bit DIB (until
// the manager paints by itself), and captures what the window shows.
#include <windows.h>

#include <string>
#include <vector>

#include "Control.h"
#include "PaintManager.h"

namespace uitest {

// A panel with children that it owns, paints after itself and searches as
// the find flags say.
class TestPanel : public Veneer::CControlUI {
public:
    ~TestPanel() override;
    const wchar_t* GetClassTag() const override { return L"TestPanel"; }
    void Add(Veneer::CControlUI* child);
    bool Remove(Veneer::CControlUI* child);   // deletes it
    int GetCount() const { return static_cast<int>(m_children.size()); }
    Veneer::CControlUI* GetAt(int i) const { return m_children[i]; }
    void AttachManager(Veneer::CPaintManagerUI* manager, Veneer::CControlUI* parent, bool init = true) override;
    Veneer::CControlUI* FindControl(Veneer::FindControlProc callback, void* data, UINT flags) override;
    void SetVisible(bool show = true) override;
    void Paint(HDC hdc, const RECT& paint) override;

private:
    std::vector<Veneer::CControlUI*> m_children;
};

// Pixels of a capture, top-down, 0x00RRGGBB.
struct Capture {
    int width = 0;
    int height = 0;
    std::vector<DWORD> pixels;
    DWORD At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF; }
};

class HostWindow {
public:
    HostWindow(int width, int height, bool show = true);
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    HWND Window() const { return m_window; }
    Veneer::CPaintManagerUI& Manager() { return *m_manager; }
    // Deletes the manager (and its tree) before the window, as a window object does.
    void DestroyManager();
    // Repaints now (layout first when pending).
    void Repaint();
    Capture Grab();
    // Where the window first was: the background every case starts on.
    void Fill(DWORD color) { m_background = color; }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    void PaintInto(HDC hdc, const RECT& area);

    HWND m_window = nullptr;
    Veneer::CPaintManagerUI* m_manager = nullptr;
    DWORD m_background = 0xFFFFFFFF;
};

// A 32-bit memory surface for drawing tests.
class Surface {
public:
    Surface(int width, int height, DWORD fill = 0xFFFFFF);
    ~Surface();
    HDC DC() const { return m_dc; }
    DWORD At(int x, int y) const;     // 0x00RRGGBB
    void Set(int x, int y, DWORD rgb);
    Capture Grab() const;
    int Width() const { return m_width; }
    int Height() const { return m_height; }

private:
    int m_width, m_height;
    HDC m_dc;
    HBITMAP m_bitmap;
    HGDIOBJ m_old;
    DWORD* m_bits;
};

// What the screen shows in a rectangle (under the desktop_input lock: other
// programs' windows would show), and a window's client area from its own DC.
Capture GrabScreen(const RECT& screen);
Capture GrabWindow(HWND window);
// Saves a capture as build/<arch>/test-artifacts/<program>[_<dpi>dpi]/<name>.png.
void SavePng(const Capture& capture, const std::string& name);
// Runs the thread's queue until it is empty (no waiting).
void Pump();
// Posts the message, then WM_QUIT, and runs CPaintManagerUI::RunMessageLoop.
void RunPosted(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Holds or releases a key in this thread's keyboard state.
void SetKeyHeld(int key, bool held);
// A mouse event as the manager builds it from a button message.
Veneer::ControlEvent MouseEvent(Veneer::ControlEventType type, Veneer::CControlUI* sender, int x, int y);
int ChannelDistance(DWORD a, DWORD b);   // the largest per-channel difference

}  // namespace uitest
