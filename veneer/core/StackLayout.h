#pragma once
// The stacking layouts: children top to bottom (vertical) or left to right
// (horizontal), fixed sizes first and the rest shared among the children
// without a size, aligned across the stacking direction, with an optional
// separator band that the user drags to resize the layout.
#include "Container.h"

namespace Veneer {

// What the two stacking layouts share; each differs only in its axis.
class CStackLayoutUI : public CContainerUI {
public:
    enum { StateDragging = 0x40 };

    UINT GetBehaviorFlags() const override;
    void SetPos(RECT rect, bool invalidate = true) override;
    void HandleEvent(ControlEvent& event) override;
    void PaintOverlay(HDC hdc, const RECT& paint) override;

    void SetSeparatorImmediate(bool on);
    bool IsSeparatorImmediate() const { return m_immediate; }
    int GetSeparatorSize() const { return m_separator; }
    void SetSeparatorSize(int size) { m_separator = size; }
    RECT GetSeparatorRect(bool useDragRect) const;
    bool IsSeparatorDragging() const { return (m_separatorState & StateDragging) != 0; }

protected:
    explicit CStackLayoutUI(bool vertical) : m_vertical(vertical) {}

    bool m_vertical;
    int m_separator = 0;
    UINT m_separatorState = 0;
    POINT m_lastMouse = {};
    RECT m_dragRect = {};
    bool m_immediate = false;
};

class CVerticalLayoutUI : public CStackLayoutUI {
public:
    CVerticalLayoutUI() : CStackLayoutUI(true) {}
    static CControlUI* CreateVerticalLayoutUI();
    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
};

class CHorizontalLayoutUI : public CStackLayoutUI {
public:
    CHorizontalLayoutUI() : CStackLayoutUI(false) {}
    static CControlUI* CreateHorizontalLayoutUI();
    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
};

}  // namespace Veneer
