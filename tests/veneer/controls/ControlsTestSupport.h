#pragma once
// What the controls library's tests share: a host window built from a skin
// layout, a recorder of notifications, input as the paint manager receives
// it (window messages, raised events, SendInput) and text measured in
// another device context.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Control.h"
#include "PaintManager.h"
#include "support/UITestHost.h"

namespace ctltest {

struct Notice {
    std::wstring type;
    std::wstring sender;
    Veneer::CControlUI* control;
    WPARAM wParam;
    LPARAM lParam;
};

// Keeps every notification in order.
class Recorder : public Veneer::INotifyUI {
public:
    void Notify(Veneer::NotifyEvent& event) override;
    void Clear() { notices.clear(); }
    // "type:sender" entries, the window's own notifications left out.
    std::vector<std::wstring> Seen() const;
    int Count(const wchar_t* type) const;
    std::vector<WPARAM> WParams(const wchar_t* type) const;
    std::vector<Notice> notices;
};

class ControlsFixture {
public:
    // Builds the skin layout into a new host window.
    void Build(const wchar_t* layout);
    // A host window of this client size with root as its root control.
    void Host(int width, int height, Veneer::CControlUI* root);
    void TearDownHost();
    Veneer::CPaintManagerUI& Manager() { return host->Manager(); }
    template <typename T>
    T* Named(const wchar_t* name) {
        return static_cast<T*>(Manager().FindControlByName(name));
    }
    // Lays out (when pending) and paints now, then captures the window.
    uitest::Capture Paint(const char* name);
    // Window messages at client points, handled at once.
    void Message(UINT message, POINT point, WPARAM keys = 0);
    void Click(POINT point);
    // A real click through SendInput at a client point; pumps until the
    // recorder has seen one more notification of the type.
    bool DesktopClick(POINT point, const wchar_t* type);
    // Raises an event of the type on the control at the point.
    void Raise(Veneer::CControlUI* control, Veneer::ControlEventType type, POINT point, WPARAM wParam = 0,
               WORD key = 0);
    int S(int value) const { return MulDiv(value, scale, 100); }

    std::unique_ptr<uitest::HostWindow> host;
    Recorder recorder;
    int scale = 100;
};

POINT Centre(const RECT& r);
// The font's text height and a text's extent, measured in a device context
// of their own.
int TextHeight(HFONT font);
SIZE TextExtent(HFONT font, const wchar_t* text);
// The cursor the system shows now.
HCURSOR CurrentCursor();
// Runs the thread's queue until the condition holds (false after ms).
bool PumpUntil(const std::function<bool()>& condition, int ms = 10000);
// Runs the queue for a while, for checks that nothing happened.
void Settle(int ms = 300);
// The thread's live top-level windows of a class.
int ThreadWindows(const wchar_t* className);

}  // namespace ctltest
