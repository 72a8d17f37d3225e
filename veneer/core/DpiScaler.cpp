#include "DpiScaler.h"

namespace Veneer {

CDpiScaler::CDpiScaler() : m_monitorScale(0), m_systemScale(0), m_mode(Unaware) {}

int CDpiScaler::GetSystemDpi() {
    typedef UINT(WINAPI * GetDpiForSystemFn)();
    HMODULE user32 = GetModuleHandleW(L"USER32");
    if (!user32) return 96;
    GetDpiForSystemFn getDpi = reinterpret_cast<GetDpiForSystemFn>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForSystem")));
    if (!getDpi) return 96;
    return static_cast<int>(getDpi());
}

int CDpiScaler::GetMonitorDpi(HMONITOR monitor) {
    typedef HRESULT(WINAPI * GetDpiForMonitorFn)(HMONITOR, int, UINT*, UINT*);
    HMODULE shcore = LoadLibraryW(L"Shcore.dll");
    if (!shcore) {
        HDC screen = GetDC(nullptr);
        const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
        ReleaseDC(nullptr, screen);
        return dpi;
    }
    int dpi = 96;
    GetDpiForMonitorFn getDpi = reinterpret_cast<GetDpiForMonitorFn>(
        reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")));
    if (getDpi) {
        UINT x = 0, y = 0;
        if (SUCCEEDED(getDpi(monitor, 0 /* effective DPI */, &x, &y))) dpi = static_cast<int>(x);
    }
    FreeLibrary(shcore);
    return dpi;
}

bool CDpiScaler::SetProcessAware(CDpiScaler* scaler) {
    typedef HRESULT(WINAPI * SetAwarenessFn)(int);
    if (scaler) scaler->m_mode = SystemAware;
    HMODULE shcore = LoadLibraryW(L"Shcore.dll");
    if (!shcore) return false;
    bool done = false;
    SetAwarenessFn setAwareness = reinterpret_cast<SetAwarenessFn>(
        reinterpret_cast<void*>(GetProcAddress(shcore, "SetProcessDpiAwareness")));
    if (setAwareness) done = SUCCEEDED(setAwareness(1 /* system aware */));
    FreeLibrary(shcore);
    return done;
}

int CDpiScaler::GetScale() const {
    switch (m_mode) {
    case SystemAware: return m_systemScale;
    case PerMonitorAware: return m_monitorScale;
    default: return 100;
    }
}

int CDpiScaler::ScaleValue(int value) const {
    if (m_mode == Unaware) return value;
    return MulDiv(value, GetScale(), 100);
}

RECT CDpiScaler::ScaledRect(int left, int top, int right, int bottom) const {
    RECT rect = {left, top, right, bottom};
    ScaleRect(rect);
    return rect;
}

void CDpiScaler::ScaleRect(RECT& rect) const {
    if (m_mode == Unaware) return;
    const int scale = GetScale();
    // Origin and extent separately, so rounding never changes the width.
    const int width = MulDiv(rect.right - rect.left, scale, 100);
    const int height = MulDiv(rect.bottom - rect.top, scale, 100);
    rect.left = MulDiv(rect.left, scale, 100);
    rect.top = MulDiv(rect.top, scale, 100);
    rect.right = rect.left + width;
    rect.bottom = rect.top + height;
}

void CDpiScaler::UnscaleRect(RECT& rect) const {
    if (m_mode == Unaware) return;
    const int scale = GetScale();
    if (scale == 0) return;
    const int width = MulDiv(rect.right - rect.left, 100, scale);
    const int height = MulDiv(rect.bottom - rect.top, 100, scale);
    rect.left = MulDiv(rect.left, 100, scale);
    rect.top = MulDiv(rect.top, 100, scale);
    rect.right = rect.left + width;
    rect.bottom = rect.top + height;
}

void CDpiScaler::ScaleSize(SIZE& size) const {
    if (m_mode == Unaware) return;
    size.cx = MulDiv(size.cx, GetScale(), 100);
    size.cy = MulDiv(size.cy, GetScale(), 100);
}

SIZE CDpiScaler::ScaledSize(int cx, int cy) const {
    SIZE size = {cx, cy};
    ScaleSize(size);
    return size;
}

}  // namespace Veneer
