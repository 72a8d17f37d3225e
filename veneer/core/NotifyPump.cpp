#include "NotifyPump.h"

namespace Veneer {

const NotifyMapEntry CNotifyPump::s_notifyEntries[] = {
    {L"", L"", NotifyEndOfTable, nullptr},
};
const NotifyMap CNotifyPump::s_notifyMap = {nullptr, CNotifyPump::s_notifyEntries};

const NotifyMap* CNotifyPump::GetNotifyMap() const { return &s_notifyMap; }

bool CNotifyPump::AddVirtualWnd(const wchar_t* name, CNotifyPump* pump) {
    if (!name || m_virtualWnds.Find(name, false)) return false;
    return m_virtualWnds.Insert(name, pump);
}

bool CNotifyPump::RemoveVirtualWnd(const wchar_t* name) {
    if (!name || !m_virtualWnds.Find(name, false)) return false;
    return m_virtualWnds.Remove(name);
}

void CNotifyPump::RouteNotification(NotifyEvent& event) {
    if (!event.virtualWnd.IsEmpty()) {
        for (int i = 0; i < m_virtualWnds.GetSize(); ++i) {
            const wchar_t* key = m_virtualWnds.GetKeyAt(i);
            if (!key || event.virtualWnd.CompareNoCase(key) != 0) continue;
            CNotifyPump* pump = static_cast<CNotifyPump*>(m_virtualWnds.Find(key, false));
            if (pump && pump->DispatchByMap(event)) return;
        }
    }
    DispatchByMap(event);
}

bool CNotifyPump::DispatchByMap(NotifyEvent& event) {
    for (const NotifyMap* map = GetNotifyMap(); map; map = map->base) {
        const NotifyMapEntry* entry = FindNotifyEntry(event, map->entries);
        if (!entry) continue;
        if (entry->signature == NotifyWithEvent) {
            (this->*entry->handler)(event);
            return true;
        }
        if (entry->signature == NotifyWithParams) {
            (this->*NotifyHandlerCast<NotifyParamsHandler>(entry->handler))(event.wParam, event.lParam);
            return true;
        }
        return false;
    }
    return false;
}

const NotifyMapEntry* CNotifyPump::FindNotifyEntry(const NotifyEvent& event, const NotifyMapEntry* table) {
    if (!table) return nullptr;
    const NotifyMapEntry* anyControl = nullptr;
    for (const NotifyMapEntry* entry = table; entry->signature != NotifyEndOfTable; ++entry) {
        if (entry->type != event.type) continue;
        if (entry->controlName.IsEmpty()) {
            anyControl = entry;
        } else if (event.sender && entry->controlName == event.sender->GetName()) {
            return entry;
        }
    }
    return anyControl;
}

}  // namespace Veneer
