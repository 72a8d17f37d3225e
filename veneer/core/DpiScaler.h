#pragma once
// Turns the skin's pixel values, designed for 96 DPI, into device pixels.
#include <windows.h>

namespace Veneer {

class CDpiScaler {
public:
    enum Awareness { Unaware = 0, SystemAware = 1, PerMonitorAware = 2 };

    CDpiScaler();

    static int GetSystemDpi();
    static int GetMonitorDpi(HMONITOR monitor);
    static bool SetProcessAware(CDpiScaler* scaler);

    int GetScale() const;
    int ScaleValue(int value) const;
    RECT ScaledRect(int left, int top, int right, int bottom) const;
    void ScaleRect(RECT& rect) const;
    void UnscaleRect(RECT& rect) const;
    void ScaleSize(SIZE& size) const;
    SIZE ScaledSize(int cx, int cy) const;

    // Settings (the manager's creation step, and tests that need a scale).
    void SetScales(int monitorScale, int systemScale) { m_monitorScale = monitorScale; m_systemScale = systemScale; }
    void SetScale(int scale) { m_monitorScale = m_systemScale = scale; }
    void SetAwareness(int mode) { m_mode = mode; }
    int GetAwareness() const { return m_mode; }

private:
    int m_monitorScale;
    int m_systemScale;
    int m_mode;
};

}  // namespace Veneer
