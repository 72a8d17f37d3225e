// The paint manager's core in real windows: Tab order, shortcuts, the
// message loop's translators and filters, notifications, deferred deletion,
// names, option groups, capture, timers, destruction and threads.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Label.h"
#include "PaintManager.h"
#include "SkinTestSupport.h"
#include "support/UITestHost.h"

using namespace Veneer;
using uitest::HostWindow;
using uitest::TestPanel;

namespace {

std::vector<std::string> g_log;

// A Tab stop that notes its events, activations and destruction.
class Stop : public CControlUI {
public:
    explicit Stop(const char* tag = "") : tag(tag) {}
    ~Stop() override { g_log.push_back(std::string("delete ") + tag); }
    UINT GetBehaviorFlags() const override { return 1; }
    bool Activate() override {
        ++activations;
        return CControlUI::Activate();
    }
    void HandleEvent(ControlEvent& event) override {
        events.push_back(event);
        if (event.type == EventButtonDown && queueSelf && m_manager) {
            m_manager->QueueForDelete(this);
            return;
        }
        CControlUI::HandleEvent(event);
    }
    std::string tag;
    int activations = 0;
    bool queueSelf = false;
    std::vector<ControlEvent> events;
};

class MessageLog : public IMessageFilterUI {
public:
    LRESULT FilterMessage(UINT message, WPARAM wParam, LPARAM, bool& handled) override {
        if (message == WM_KEYDOWN || message == WM_SYSKEYDOWN || message == WM_SYSCHAR || message == WM_TIMER) {
            messages.push_back(message);
            params.push_back(wParam);
        }
        handled = consume;
        return 0;
    }
    bool Saw(UINT message) const {
        for (UINT m : messages)
            if (m == message) return true;
        return false;
    }
    std::vector<UINT> messages;
    std::vector<WPARAM> params;
    bool consume = false;
};

class Translator : public ITranslateAccelerator {
public:
    LRESULT TranslateAccelerator(MSG*) override {
        threads.push_back(GetCurrentThreadId());
        return answer;
    }
    LRESULT answer = 1;
    std::vector<DWORD> threads;
};

class Listener : public INotifyUI {
public:
    void Notify(NotifyEvent& event) override {
        g_log.push_back("listener " + std::string(event.type.GetData(), event.type.GetData() + event.type.GetLength()));
        events.push_back(event);
    }
    std::vector<NotifyEvent> events;
};

bool NotedByDelegate(void* parameter) {
    NotifyEvent* event = static_cast<NotifyEvent*>(parameter);
    g_log.push_back("delegate " + std::string(event->type.GetData(), event->type.GetData() + event->type.GetLength()));
    return true;
}

class ManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_log.clear();
        skintest::UseFolder(skintest::SkinFolder());
        host.reset(new HostWindow(200, 120));
        root = new TestPanel;
        Manager().AddNotifyListener(&listener);
        Manager().AddMessageFilter(&messages);
    }
    void Start() {
        Manager().SetRootControl(root);
        host->Repaint();   // lays out and takes the first Tab stop
        uitest::Pump();
    }
    void TearDown() override {
        uitest::SetKeyHeld(VK_SHIFT, false);
        uitest::SetKeyHeld(VK_MENU, false);
        host.reset();
    }
    CPaintManagerUI& Manager() { return host->Manager(); }
    template <typename T>
    T* Add(T* control, RECT pos = RECT{0, 0, 10, 10}) {
        root->Add(control);
        control->SetPos(pos, false);
        return control;
    }
    void Key(UINT message, WPARAM key) { uitest::RunPosted(host->Window(), message, key, 0); }

    std::unique_ptr<HostWindow> host;
    TestPanel* root = nullptr;
    Listener listener;
    MessageLog messages;
};

TEST_F(ManagerTest, TabWrapsBothWaysAndIsHandled) {
    Stop* a = Add(new Stop("a"));
    Add(new CLabelUI);
    Stop* b = Add(new Stop("b"));
    Stop* c = Add(new Stop("c"));
    Start();
    ASSERT_EQ(Manager().GetFocus(), a);
    Key(WM_KEYDOWN, VK_TAB);
    EXPECT_EQ(Manager().GetFocus(), b);
    Key(WM_KEYDOWN, VK_TAB);
    Key(WM_KEYDOWN, VK_TAB);
    EXPECT_EQ(Manager().GetFocus(), a);   // wrapped
    uitest::SetKeyHeld(VK_SHIFT, true);
    Key(WM_KEYDOWN, VK_TAB);
    EXPECT_EQ(Manager().GetFocus(), c);   // wrapped backwards
    Key(WM_KEYDOWN, VK_TAB);
    EXPECT_EQ(Manager().GetFocus(), b);
    EXPECT_FALSE(messages.Saw(WM_KEYDOWN));   // handled: never reached the window
    // Focus moves send kill and set notifications.
    int sets = 0;
    for (const NotifyEvent& e : listener.events) sets += e.type == L"setfocus";
    EXPECT_EQ(sets, 6);
}

TEST_F(ManagerTest, TabWithoutStopsChangesNothing) {
    CLabelUI* label = Add(new CLabelUI);
    Start();
    Manager().SetFocusedControl(label);
    Key(WM_KEYDOWN, VK_TAB);
    EXPECT_EQ(Manager().GetFocus(), label);
    EXPECT_FALSE(messages.Saw(WM_KEYDOWN));
    // Other keys reach the window.
    Key(WM_KEYDOWN, 'A');
    EXPECT_TRUE(messages.Saw(WM_KEYDOWN));
}

TEST_F(ManagerTest, AltLetterOnLabelActivatesNextControl) {
    Stop* a = Add(new Stop("a"));
    CLabelUI* label = Add(new CLabelUI);
    label->SetShortcut(L'N');
    Stop* b = Add(new Stop("b"));
    Start();
    Manager().SetFocusedControl(b);
    // The walk runs last child first: b, the label, then a.
    Key(WM_SYSCHAR, 'n');
    EXPECT_EQ(Manager().GetFocus(), a);
    EXPECT_EQ(a->activations, 1);
    EXPECT_FALSE(messages.Saw(WM_SYSCHAR));
    Key(WM_SYSCHAR, 'q');   // no match: not handled
    EXPECT_TRUE(messages.Saw(WM_SYSCHAR));

    a->events.clear();
    uitest::SetKeyHeld(VK_MENU, true);
    Key(WM_SYSKEYDOWN, 'X');
    ASSERT_FALSE(a->events.empty());
    EXPECT_EQ(a->events.back().type, EventSysKey);
    EXPECT_EQ(a->events.back().sender, nullptr);
    EXPECT_EQ(a->events.back().key, 'X');
    EXPECT_EQ(a->events.back().keyState & 0x20, 0x20);
    EXPECT_TRUE(messages.Saw(WM_SYSKEYDOWN));
}

TEST_F(ManagerTest, TranslatorConsumesBeforePreFilter) {
    Add(new Stop("a"));
    Start();
    Translator translator;
    MessageLog pre;
    Manager().AddKeyTranslator(&translator);
    Manager().AddPreFilter(&pre);
    translator.answer = 0;
    Key(WM_KEYDOWN, 'A');
    EXPECT_EQ(translator.threads.size(), 1u);
    EXPECT_TRUE(pre.messages.empty());
    EXPECT_FALSE(messages.Saw(WM_KEYDOWN));
    translator.answer = 1;
    pre.consume = true;
    Key(WM_KEYDOWN, 'B');
    EXPECT_EQ(pre.messages.size(), 1u);
    EXPECT_FALSE(messages.Saw(WM_KEYDOWN));   // the pre-filter handled it
    EXPECT_TRUE(Manager().RemovePreFilter(&pre));
    EXPECT_FALSE(Manager().RemovePreFilter(&pre));
    Manager().RemoveKeyTranslator(&translator);
}

// The window's own notifications ("windowinit", "windowsize") may be
// delivered by any pump: the checks below look at their own kinds only.
std::vector<std::string> LogOf(const char* kind) {
    std::vector<std::string> out;
    for (const std::string& line : g_log)
        if (line.find(kind) != std::string::npos) out.push_back(line);
    return out;
}

const NotifyEvent* LastOfType(const std::vector<NotifyEvent>& events, const wchar_t* type) {
    for (auto it = events.rbegin(); it != events.rend(); ++it)
        if (it->type == type) return &*it;
    return nullptr;
}

TEST_F(ManagerTest, NotificationsSyncAsyncAndDeadSenders) {
    Stop* a = Add(new Stop("a"));
    Start();
    uitest::Pump();
    g_log.clear();
    a->OnNotify += CDelegateFunction(NotedByDelegate);
    Manager().SendNotification(a, L"click");
    ASSERT_EQ(g_log.size(), 2u);
    EXPECT_EQ(g_log[0], "delegate click");
    EXPECT_EQ(g_log[1], "listener click");

    g_log.clear();
    Manager().SetMousePos(POINT{12, 34});
    const DWORD queued = GetTickCount();
    Manager().SendNotification(a, L"later", 5, 6, true);
    EXPECT_TRUE(LogOf("later").empty());
    Sleep(60);
    Manager().SetMousePos(POINT{99, 99});
    uitest::Pump();
    const std::vector<std::string> laterLog = LogOf("later");
    ASSERT_EQ(laterLog.size(), 2u);
    EXPECT_EQ(laterLog[0], "delegate later");
    ASSERT_NE(LastOfType(listener.events, L"later"), nullptr);
    const NotifyEvent& later = *LastOfType(listener.events, L"later");
    EXPECT_EQ(later.mouse.x, 12);
    EXPECT_EQ(later.mouse.y, 34);
    EXPECT_LT(later.timestamp - queued, 50u);
    EXPECT_EQ(later.wParam, 5u);

    // A sender destroyed while its notification waits arrives as null.
    Stop* doomed = new Stop("doomed");
    doomed->AttachManager(&Manager(), nullptr, false);
    Manager().SendNotification(doomed, L"orphan", 0, 0, true);
    delete doomed;
    uitest::Pump();
    const NotifyEvent* orphan = LastOfType(listener.events, L"orphan");
    ASSERT_NE(orphan, nullptr);
    EXPECT_EQ(orphan->sender, nullptr);
}

TEST_F(ManagerTest, SelfQueuedControlLivesUntilDeferredWork) {
    Stop* a = Add(new Stop("a"));
    Stop* self = new Stop("self");
    self->queueSelf = true;
    self->AttachManager(&Manager(), nullptr, false);
    Start();
    g_log.clear();
    ControlEvent down = uitest::MouseEvent(EventButtonDown, self, 1, 1);
    self->RaiseEvent(down);
    EXPECT_TRUE(g_log.empty());
    EXPECT_EQ(self->events.size(), 1u);   // still alive
    uitest::Pump();
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0], "delete self");
    (void)a;
}

TEST_F(ManagerTest, NamesOptionGroupsAndCapture) {
    Stop* first = Add(new Stop("first"));
    first->SetName(L"twin");
    TestPanel* box = Add(new TestPanel);
    Stop* inner = new Stop("inner");
    inner->SetName(L"twin");
    box->Add(inner);
    box->SetName(L"box");
    Start();
    // Children come before their container; the last visited keeps the name.
    EXPECT_EQ(Manager().FindControlByName(L"twin"), inner);
    EXPECT_EQ(Manager().FindControlByName(L"box"), box);
    EXPECT_EQ(Manager().FindControlByName(L"nobody"), nullptr);
    Stop* other = new Stop("other");
    other->SetName(L"twin");
    other->AttachManager(&Manager(), nullptr, false);
    delete other;   // not the registered one: the name stays
    EXPECT_EQ(Manager().FindControlByName(L"twin"), inner);

    EXPECT_TRUE(Manager().AddToOptionGroup(L"g", first));
    EXPECT_FALSE(Manager().AddToOptionGroup(L"g", first));
    EXPECT_TRUE(Manager().AddToOptionGroup(L"g", inner));
    EXPECT_EQ(Manager().GetOptionGroup(L"g")->GetSize(), 2);
    Manager().RemoveFromOptionGroup(L"g", first);
    Manager().RemoveFromOptionGroup(L"g", inner);
    EXPECT_EQ(Manager().GetOptionGroup(L"g"), nullptr);

    Manager().CaptureMouse();
    EXPECT_EQ(GetCapture(), host->Window());
    EXPECT_TRUE(Manager().IsCaptured());
    Manager().ReleaseMouse();
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_FALSE(Manager().IsCaptured());

    POINT at = {5, 5};
    first->SetPos(RECT{0, 0, 10, 10}, false);
    box->SetPos(RECT{0, 0, 0, 0}, false);
    EXPECT_EQ(Manager().FindControlAt(at), first);
}

TEST_F(ManagerTest, TimerIdsWrapAndSkipHeldIds) {
    Stop* a = Add(new Stop("a"));
    Stop* b = Add(new Stop("b"));
    Stop* c = Add(new Stop("c"));
    Start();
    std::vector<UINT> ids;
    for (UINT id = 0; id < 254; ++id) {
        ASSERT_TRUE(Manager().SetControlTimer(a, id, 60000)) << id;
        ids.push_back(Manager().FindTimer(a, id)->systemId);
    }
    EXPECT_EQ(ids[0], 17u);
    EXPECT_EQ(ids[237], 254u);
    EXPECT_EQ(ids[238], 0u);
    EXPECT_EQ(ids[239], 1u);
    ASSERT_TRUE(Manager().SetControlTimer(b, 1, 60000));
    EXPECT_EQ(Manager().FindTimer(b, 1)->systemId, 16u);
    // All 255 ids held, live or killed: a new timer fails.
    EXPECT_FALSE(Manager().SetControlTimer(c, 1, 10));
    EXPECT_TRUE(Manager().KillControlTimer(a, 3));
    EXPECT_FALSE(Manager().SetControlTimer(c, 1, 10));
    // A restart keeps its id; a live timer is not started twice.
    EXPECT_FALSE(Manager().SetControlTimer(a, 4, 10));
    EXPECT_TRUE(Manager().SetControlTimer(a, 3, 10));
    EXPECT_EQ(Manager().FindTimer(a, 3)->systemId, ids[3]);
    EXPECT_FALSE(Manager().FindTimer(a, 3)->killed);
    // A freed id is found again past all those still held.
    Manager().KillControlTimers(b);
    ASSERT_TRUE(Manager().SetControlTimer(c, 1, 60000));
    EXPECT_EQ(Manager().FindTimer(c, 1)->systemId, 16u);
    Manager().KillAllTimers();
    EXPECT_EQ(Manager().FindTimer(a, 0), nullptr);
}

TEST_F(ManagerTest, TimerEventsAndRealTicks) {
    Stop* a = Add(new Stop("a"));
    Start();
    ASSERT_TRUE(Manager().SetControlTimer(a, 42, 10));
    const UINT systemId = Manager().FindTimer(a, 42)->systemId;
    SendMessageW(host->Window(), WM_TIMER, systemId, 0);
    ASSERT_FALSE(a->events.empty());
    EXPECT_EQ(a->events.back().type, EventTimer);
    EXPECT_EQ(a->events.back().wParam, 42u);
    EXPECT_EQ(a->events.back().sender, a);
    // The "timer" notification follows from the base handling.
    EXPECT_EQ(listener.events.back().type, L"timer");
    // A real tick carries the same system id.
    messages.messages.clear();
    const DWORD start = GetTickCount();
    while (!messages.Saw(WM_TIMER) && GetTickCount() - start < 2000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        uitest::Pump();
    }
    ASSERT_TRUE(messages.Saw(WM_TIMER));
    EXPECT_EQ(messages.params.back(), systemId);
    Manager().KillControlTimers(a);
    EXPECT_EQ(Manager().FindTimer(a, 42), nullptr);
}

TEST_F(ManagerTest, DestructionOrder) {
    Stop* a = Add(new Stop("tree"));
    Start();
    Stop* queued = new Stop("queued");
    queued->AttachManager(&Manager(), nullptr, false);
    Manager().QueueForDelete(queued);
    Manager().SendNotification(a, L"never", 0, 0, true);
    const int managers = CPaintManagerUI::GetManagerCount();
    g_log.clear();
    host->DestroyManager();
    ASSERT_EQ(g_log.size(), 2u);
    EXPECT_EQ(g_log[0], "delete queued");
    EXPECT_EQ(g_log[1], "delete tree");
    EXPECT_EQ(CPaintManagerUI::GetManagerCount(), managers - 1);
}

TEST_F(ManagerTest, DeferredFocusAndSmallHelpers) {
    Stop* a = Add(new Stop("a"));
    Stop* b = Add(new Stop("b"));
    Stop* c = Add(new Stop("c"));
    Start();
    Manager().SetFocusedControl(c);
    // The focus goes to the stop before b now, silently, and to b at the next paint.
    listener.events.clear();
    Manager().DeferFocus(b);
    EXPECT_EQ(Manager().GetFocus(), a);
    EXPECT_TRUE(Manager().IsFocusPending());
    EXPECT_TRUE(Manager().IsLayoutPending());
    ASSERT_EQ(listener.events.size(), 1u);
    EXPECT_EQ(listener.events[0].type, L"killfocus");
    host->Repaint();
    EXPECT_EQ(Manager().GetFocus(), b);
    EXPECT_FALSE(Manager().IsFocusPending());

    // Invalidation clamps the rectangle and collects the layered dirty area.
    RECT area = {-5, -5, 20, 10};
    Manager().InvalidateArea(area);
    EXPECT_EQ(area.left, 0);
    EXPECT_EQ(area.top, 0);
    EXPECT_GE(Manager().GetLayeredDirtyRect().right, 20);   // a union until a layered paint clears it
    HWND child = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 30, 40, 20, 10, host->Window(), nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    RECT placed = {};
    ChildWindowClientRect(child, placed, host->Window());
    EXPECT_EQ(placed.left, 30);
    EXPECT_EQ(placed.bottom, 50);
    EXPECT_TRUE(Manager().RegisterNativeWindow(child));
    EXPECT_FALSE(Manager().RegisterNativeWindow(child));
    EXPECT_TRUE(Manager().UnregisterNativeWindow(child));
    EXPECT_FALSE(Manager().UnregisterNativeWindow(child));
    DestroyWindow(child);

    uitest::SetKeyHeld(VK_SHIFT, true);
    uitest::SetKeyHeld(VK_MENU, true);
    EXPECT_EQ(GetModifierKeyFlags(), MK_SHIFT | 0x20);

    struct Dib {
        DWORD size;
        WORD bits;
        DWORD used, compression;
        unsigned long long count, bytes;
    } dibs[] = {
        {sizeof(BITMAPCOREHEADER), 8, 0, 0, 256, 768},
        {sizeof(BITMAPINFOHEADER), 4, 0, BI_RGB, 16, 64},
        {sizeof(BITMAPINFOHEADER), 8, 3, BI_RGB, 3, 12},
        {sizeof(BITMAPINFOHEADER), 24, 0, BI_RGB, 0, 0},
        {sizeof(BITMAPINFOHEADER), 16, 0, BI_BITFIELDS, 0, 12},
        // Counts from foreign data: at most 256 up to 8 bits, and sizes that never wrap.
        {sizeof(BITMAPINFOHEADER), 8, 0x40000001, BI_RGB, 256, 1024},
        {sizeof(BITMAPINFOHEADER), 1, 300, BI_RGB, 256, 1024},
        {sizeof(BITMAPINFOHEADER), 24, 0x40000001, BI_RGB, 0x40000001, 0x100000004ull},
        {sizeof(BITMAPINFOHEADER), 32, 0xFFFFFFFF, BI_BITFIELDS, 0xFFFFFFFF, 0x400000008ull},
    };
    for (const Dib& d : dibs) {
        BYTE block[sizeof(BITMAPINFOHEADER)] = {};
        if (d.size == sizeof(BITMAPCOREHEADER)) {
            BITMAPCOREHEADER* core = reinterpret_cast<BITMAPCOREHEADER*>(block);
            core->bcSize = d.size;
            core->bcBitCount = d.bits;
        } else {
            BITMAPINFOHEADER* info = reinterpret_cast<BITMAPINFOHEADER*>(block);
            info->biSize = d.size;
            info->biBitCount = d.bits;
            info->biClrUsed = d.used;
            info->biCompression = d.compression;
        }
        const BITMAPINFOHEADER* header = reinterpret_cast<const BITMAPINFOHEADER*>(block);
        EXPECT_EQ(static_cast<unsigned long long>(DibColorCount(header)), d.count) << d.bits << " " << d.used;
        EXPECT_EQ(static_cast<unsigned long long>(DibColorTableBytes(header)), d.bytes) << d.bits << " " << d.used;
    }
}

// ------------------------------------------------------------------ threads

TEST_F(ManagerTest, OtherThreadsNeverCallThisThreadsManager) {
    Stop* a = Add(new Stop("a"));
    Add(new Stop("b"));
    Start();
    Translator translator;
    Manager().AddKeyTranslator(&translator);
    const DWORD mine = GetCurrentThreadId();
    const HWND owner = host->Window();
    std::atomic<bool> done(false);
    std::atomic<int> made(0);
    std::thread worker([&] {
        // A dialog owned by this window, with a child that gets a key: the
        // walk up from the child reaches the owner.
        HWND popup = CreateWindowExW(0, L"STATIC", L"popup", WS_POPUP, 0, 0, 50, 50, owner, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
        HWND child = CreateWindowExW(0, L"STATIC", L"child", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, popup, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
        {
            CPaintManagerUI popupManager;
            popupManager.AttachWindow(popup);
            for (int i = 0; i < 20; ++i) uitest::RunPosted(child, WM_KEYDOWN, 'K', 0);
        }
        DestroyWindow(popup);
        for (int i = 0; i < 1000; ++i) {
            HWND window = CreateWindowExW(0, L"STATIC", L"w", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                          GetModuleHandleW(nullptr), nullptr);
            CPaintManagerUI* manager = new CPaintManagerUI;
            manager->AttachWindow(window);
            delete manager;
            DestroyWindow(window);
            ++made;
        }
        done = true;
    });
    int tabs = 0;
    while (!done) {
        Key(WM_KEYDOWN, VK_TAB);
        ++tabs;
    }
    worker.join();
    EXPECT_EQ(made.load(), 1000);
    EXPECT_GT(tabs, 0);
    for (DWORD thread : translator.threads) ASSERT_EQ(thread, mine);
    EXPECT_EQ(translator.threads.size(), static_cast<size_t>(tabs));
    EXPECT_TRUE(Manager().GetFocus() != nullptr);
    Manager().RemoveKeyTranslator(&translator);
    (void)a;
}

}  // namespace
