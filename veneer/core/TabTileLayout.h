#pragma once
// Containers with a placement of their own: a tab layout shows one selected
// child at a time, a tile layout arranges its children in equal cells.
#include "Container.h"

namespace Veneer {

class CTabLayoutUI : public CContainerUI {
public:
    static CControlUI* CreateTabLayoutUI();
    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetPos(RECT rect, bool invalidate = true) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;

    bool AddItem(CControlUI* control) override;
    bool InsertItemAt(CControlUI* control, int index) override;
    bool RemoveItem(CControlUI* control) override;
    void RemoveAllItems() override;

    virtual bool SelectItemControl(CControlUI* control);
    virtual bool SelectItem(int index);
    int GetCurSel() const { return m_selected; }

protected:
    int m_selected = -1;
};

class CTileLayoutUI : public CContainerUI {
public:
    static CControlUI* CreateTileLayoutUI();
    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetPos(RECT rect, bool invalidate = true) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;

    void SetItemSize(int width, int height);
    SIZE GetItemSize() const { return m_itemSize; }
    void SetColumns(int columns);
    int GetColumns() const { return m_columns; }

private:
    SIZE m_itemSize = {};
    int m_columns = 1;
};

}  // namespace Veneer
