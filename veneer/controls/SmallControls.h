#pragma once
// Four small controls of the layout vocabulary: the rotate button (a knob
// dragged around a centre), the ring (a picture turning on a timer), the
// roll text (a label whose text slides through its area) and the colour
// palette (a hue/lightness field with a saturation bar).
#include "Label.h"

namespace Gdiplus { class Image; }

namespace Veneer {

// HSL fractions to 0x00RRGGBB, in single precision.
DWORD HslToRgb(float hue, float saturation, float lightness);

class CRotateButtonUI : public CControlUI {
public:
    CRotateButtonUI();
    ~CRotateButtonUI() override;

    static CControlUI* CreateRotateButtonUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    UINT GetBehaviorFlags() const override;
    bool Activate() override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    SIZE MeasureSize(SIZE available) override;
    void PaintStateImage(HDC hdc) override;

    void RotateTo(POINT point);
    void SetCenterPoint(int x, int y);
    void SetNormalImage(const wchar_t* image) { m_normalImage = image ? image : L""; }
    void SetHotImage(const wchar_t* image) { m_hotImage = image ? image : L""; }
    float GetAngle() const { return m_angle; }
    POINT GetLastPoint() const { return m_last; }
    void SetLastPoint(POINT point) { m_last = point; }
    int GetRadius() const { return m_radius; }

private:
    int m_radius = 1;
    UINT m_state = 0;
    float m_angle = 0;
    POINT m_centre = {};
    POINT m_last = {};
    CUIString m_normalImage;
    CUIString m_hotImage;
};

class CRingUI : public CLabelUI {
public:
    enum { kTimerId = 101 };

    CRingUI();
    ~CRingUI() override;

    static CControlUI* CreateRingUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void PaintBackgroundImage(HDC hdc) override;

    void SetBkImage(const wchar_t* image);
    float GetAngle() const { return m_angle; }
    int GetStep() const { return m_step; }

private:
    void InitImage();
    void ReleaseImage();

    float m_angle = 0;
    int m_step = 18;
    Gdiplus::Image* m_image = nullptr;
};

class CRollTextUI : public CLabelUI {
public:
    enum { kRollTimerId = 20, kRollEndTimerId = 21 };

    CRollTextUI();
    ~CRollTextUI() override;

    static CControlUI* CreateRollTextUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetText(const wchar_t* text) override;
    void HandleEvent(ControlEvent& event) override;
    void PaintText(HDC hdc) override;

    virtual void SetRect(RECT rect);

    int GetOffset() const { return m_offset; }
    int GetTextExtent() const { return m_extent; }

    enum RollDirection { RollLeft = 0, RollRight = 1, RollUp = 2, RollDown = 3 };

protected:
    int m_direction = RollLeft;

private:
    int m_step = 5;
    int m_offset = -1;
    int m_extent = 0;
    int m_textHeight = 0;  // measured with the extent, for the vertical rolls
    UINT m_state = 0;
};

class CColorPaletteUI : public CControlUI {
public:
    enum { kBitmapWidth = 400, kBitmapHeight = 360, kBarTop = 210, kMaxBarHeight = 150 };

    CColorPaletteUI();
    ~CColorPaletteUI() override;

    static CControlUI* CreateColorPaletteUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetPos(RECT rect, bool invalidate = true) override;
    void OnInitialize() override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void PaintBackgroundColor(HDC hdc) override;

    virtual void PaintPallet(HDC hdc);

    void UpdatePalletMap();
    void UpdateBarMap();
    DWORD GetColor() const;   // 0xFFRRGGBB
    void SetThumbImage(const wchar_t* image);
    int GetHue() const { return m_hue; }
    int GetSaturation() const { return m_saturation; }
    int GetLightness() const { return m_lightness; }
    int GetFieldHeight() const { return m_fieldHeight; }
    int GetBarHeight() const { return m_barHeight; }
    POINT GetFieldCursor() const { return m_cursor; }

private:
    void PutPixel(int column, int row, DWORD rgb);
    void FlushBitmap();
    void PickInField(POINT point);

    HDC m_memoryDC = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_oldBitmap = nullptr;
    BITMAP m_bitmapInfo = {};
    BYTE* m_pixels = nullptr;
    UINT m_dragFlags = 0;
    bool m_draggingField = false;
    bool m_draggingBar = false;
    int m_hue = 180;
    int m_saturation = 200;
    int m_lightness = 100;
    int m_fieldHeight = 200;
    int m_barHeight = 10;
    POINT m_cursor = {};
    CUIString m_thumbImage;
};

}  // namespace Veneer
