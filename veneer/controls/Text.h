#pragma once
// Marked-up text with clickable links.
#include "Label.h"

namespace Veneer {

class CTextUI : public CLabelUI {
public:
    enum { kMaxLinks = 8 };

    CTextUI();
    ~CTextUI() override;

    static CControlUI* CreateTextUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    UINT GetBehaviorFlags() const override;
    void HandleEvent(ControlEvent& event) override;
    SIZE MeasureSize(SIZE available) override;
    void PaintText(HDC hdc) override;

    int GetLinkCount() const { return m_linkCount; }
    const RECT& GetLinkRect(int index) const { return m_links[index]; }
    const CUIString& GetLinkText(int index) const { return m_linkTexts[index]; }
    int GetHoverLink() const { return m_hoverLink; }

private:
    int LinkAt(POINT point) const;

    int m_linkCount = 0;
    RECT m_links[kMaxLinks] = {};
    CUIString m_linkTexts[kMaxLinks];
    int m_hoverLink = -1;
};

}  // namespace Veneer
