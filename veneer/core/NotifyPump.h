#pragma once
// Dispatch of notifications to member functions through static notify maps,
// and forwarding to named virtual windows (page objects with maps of their
// own).
#include <windows.h>

#include <cstring>

#include "PaintManager.h"
#include "UIValueTypes.h"

namespace Veneer {

class CNotifyPump;

// A handler of either signature, stored as a member pointer of the pump
// and called as the entry's signature says.
typedef void (CNotifyPump::*NotifyHandler)(NotifyEvent&);
typedef void (CNotifyPump::*NotifyParamsHandler)(WPARAM, LPARAM);

// The same member pointer under the other signature's type (both have one
// representation).
template <class To, class From>
To NotifyHandlerCast(From from) {
    static_assert(sizeof(To) == sizeof(From), "member pointers of one class have one size");
    To to;
    memcpy(&to, &from, sizeof(to));
    return to;
}

enum NotifySignature {
    NotifyEndOfTable = 0,
    NotifyWithParams = 1,  // handler(wParam, lParam)
    NotifyWithEvent = 2,   // handler(NotifyEvent&)
};

struct NotifyMapEntry {
    CUIString type;         // compared exactly
    CUIString controlName;  // empty: any control
    UINT signature;
    NotifyHandler handler;
};

struct NotifyMap {
    const NotifyMap* base;
    const NotifyMapEntry* entries;
};

// A derived class's handler as the pump's member pointer (the adjustment
// from the pump part to the derived object travels with it).
template <class T>
NotifyHandler AsNotifyHandler(void (T::*handler)(NotifyEvent&)) {
    return static_cast<NotifyHandler>(handler);
}
template <class T>
NotifyHandler AsNotifyHandler(void (T::*handler)(WPARAM, LPARAM)) {
    return NotifyHandlerCast<NotifyHandler>(static_cast<NotifyParamsHandler>(handler));
}

class CNotifyPump {
public:
    CNotifyPump() = default;
    virtual ~CNotifyPump() = default;
    CNotifyPump(const CNotifyPump&) = delete;
    CNotifyPump& operator=(const CNotifyPump&) = delete;

    virtual const NotifyMap* GetNotifyMap() const;

    // The pump is not owned; false when the name is taken.
    bool AddVirtualWnd(const wchar_t* name, CNotifyPump* pump);
    bool RemoveVirtualWnd(const wchar_t* name);
    void RouteNotification(NotifyEvent& event);
    bool DispatchByMap(NotifyEvent& event);
    static const NotifyMapEntry* FindNotifyEntry(const NotifyEvent& event, const NotifyMapEntry* table);

protected:
    static const NotifyMapEntry s_notifyEntries[];
    static const NotifyMap s_notifyMap;

private:
    CStringKeyMap m_virtualWnds{83};
};

}  // namespace Veneer

// Notify maps of a class derived from CNotifyPump:
//   in the class:  VENEER_DECLARE_NOTIFY_MAP()
//   in its source: VENEER_BEGIN_NOTIFY_MAP(CMyWindow, CWindowUI)
//                    VENEER_ON_NOTIFY(L"selectchanged", &CMyWindow::OnSelect)
//                    VENEER_ON_NOTIFY_NAMED(L"click", L"okbtn", &CMyWindow::OnOk)
//                    VENEER_ON_NOTIFY_PARAMS(L"timer", L"", &CMyWindow::OnTimerParams)
//                  VENEER_END_NOTIFY_MAP()
#define VENEER_DECLARE_NOTIFY_MAP()                              \
protected:                                                       \
    static const ::Veneer::NotifyMapEntry s_notifyEntries[];     \
    static const ::Veneer::NotifyMap s_notifyMap;                \
                                                                 \
public:                                                          \
    const ::Veneer::NotifyMap* GetNotifyMap() const override;

#define VENEER_BEGIN_NOTIFY_MAP(theClass, baseClass)                                                  \
    const ::Veneer::NotifyMap theClass::s_notifyMap = {&baseClass::s_notifyMap, theClass::s_notifyEntries}; \
    const ::Veneer::NotifyMap* theClass::GetNotifyMap() const { return &theClass::s_notifyMap; }     \
    const ::Veneer::NotifyMapEntry theClass::s_notifyEntries[] = {

#define VENEER_ON_NOTIFY(type, handler) {type, L"", ::Veneer::NotifyWithEvent, ::Veneer::AsNotifyHandler(handler)},
#define VENEER_ON_NOTIFY_NAMED(type, name, handler) \
    {type, name, ::Veneer::NotifyWithEvent, ::Veneer::AsNotifyHandler(handler)},
#define VENEER_ON_NOTIFY_PARAMS(type, name, handler) \
    {type, name, ::Veneer::NotifyWithParams, ::Veneer::AsNotifyHandler(handler)},

#define VENEER_END_NOTIFY_MAP()                        \
    {L"", L"", ::Veneer::NotifyEndOfTable, nullptr} \
    };
