// ActiveX hosting against the stand-in control: creation (attributes, module
// look-up, the order of the OLE calls), windowless painting and input,
// the windowed host window, release, the container's enumerator, and the
// Flash host's events.
#include <windows.h>

#include <gtest/gtest.h>

#include <exdisp.h>
#include <olectl.h>

#include <memory>
#include <string>
#include <vector>

#include "ActiveX.h"
#include "ControlFactory.h"
#include "ControlsTestSupport.h"
#include "Flash.h"
#include "StandInSupport.h"

using namespace Veneer;
using standintest::Count;
using standintest::EventArgs;
using standintest::Number;
using standintest::Text;
using standintest::Find;
using standintest::Join;
using standintest::Module;

namespace {

std::wstring GuidText(REFGUID guid) {
    wchar_t text[64] = {};
    StringFromGUID2(guid, text, 64);
    return text;
}

// Notes "showactivex" in the stand-in's log, where it lands among the calls.
class ShowNoter : public INotifyUI {
public:
    void Notify(NotifyEvent& event) override {
        if (event.type == L"showactivex") Module::Get().Note(L"showactivex");
    }
};

class ActiveXTest : public ::testing::Test, public ctltest::ControlsFixture {
protected:
    void SetUp() override {
        Module::Get().Reset();
        panel = new uitest::TestPanel;
        panel->SetAttribute(L"bkcolor", L"#FFFFFFFF");
        Host(S(300), S(200), panel);
        Manager().AddNotifyListener(&noter);
    }
    void TearDown() override {
        TearDownHost();
        EXPECT_EQ(0, Module::Get().LiveObjects()) << Join(Module::Get().Log());
    }
    template <class T = CActiveXUI>
    T* Add(const CLSID& clsid, bool withModule = true) {
        T* control = new T;
        panel->Add(control);
        if (withModule) control->SetAttribute(L"modulename", Module::Path().c_str());
        control->SetClsid(clsid);
        return control;
    }
    RECT Item() const { return RECT{S(40), S(30), S(140), S(110)}; }
    std::vector<std::wstring> Log() { return Module::Get().Log(); }
    void Post(UINT message, POINT point, WPARAM wParam = 0) {
        PostMessageW(host->Window(), message, wParam, MAKELPARAM(point.x, point.y));
        uitest::Pump();
    }
    int Delivered(UINT message) {
        const std::vector<std::wstring> log = Log();
        wchar_t prefix[32];
        swprintf(prefix, 32, L"OnWindowMessage(0x%x,", message);
        int count = 0;
        for (const std::wstring& line : log) count += line.compare(0, wcslen(prefix), prefix) == 0;
        return count;
    }

    uitest::TestPanel* panel = nullptr;
    ShowNoter noter;
};

// ------------------------------------------------------------------ creation

TEST_F(ActiveXTest, ClsidAttributeTakesBracedTextAndProgIdsAndIgnoresTheRest) {
    CActiveXUI* control = new CActiveXUI;
    panel->Add(control);
    const struct {
        const wchar_t* text;
        CLSID expected;
    } cases[] = {
        {L"{4C1E2A7B-93D0-4F4B-A60E-517C2D881001}", standin::kWindowless},
        {L"Shell.Explorer.2", CLSID_WebBrowser},
        {L"{4C1E2A7B-93D0-4F4B", CLSID_WebBrowser},       // malformed: unchanged
        {L"No.Such.ProgId.Anywhere", CLSID_WebBrowser},   // unknown: unchanged
        {L"", CLSID_WebBrowser},
    };
    for (const auto& c : cases) {
        control->SetAttribute(L"clsid", c.text);
        EXPECT_EQ(GuidText(c.expected), GuidText(control->GetClsid())) << c.text;
    }
    EXPECT_FALSE(control->SetClsid(GUID_NULL));
    EXPECT_EQ(GuidText(CLSID_WebBrowser), GuidText(control->GetClsid()));
    // The factory knows the three tags.
    for (const wchar_t* name : {L"CActiveXUI", L"CFlashUI", L"CWebBrowserUI"}) {
        std::unique_ptr<CControlUI> made(CControlFactory::GetInstance()->CreateControlByClass(name));
        ASSERT_NE(nullptr, made) << name;
        EXPECT_NE(nullptr, made->FindInterface(L"activex")) << name;
    }
}

TEST_F(ActiveXTest, CreationWaitsForThePositionUnlessDelayIsOff) {
    void* object = nullptr;
    CActiveXUI* delayed = Add(standin::kWindowless);
    EXPECT_EQ(E_PENDING, delayed->QueryHostedControl(IID_IOleObject, &object));
    EXPECT_EQ(E_POINTER, delayed->QueryHostedControl(IID_IOleObject, nullptr));
    delayed->SetPos(Item());
    standintest::Control(delayed)->Release();

    CActiveXUI* now = new CActiveXUI;
    panel->Add(now);
    now->SetAttribute(L"modulename", Module::Path().c_str());
    now->SetAttribute(L"clsid", GuidText(standin::kWindowless).c_str());
    now->SetAttribute(L"delaycreate", L"FALSE");
    standin::IStandInControl* created = standintest::Control(now);
    ASSERT_NE(nullptr, created);
    created->Release();
    EXPECT_EQ(2, Count(Log(), L"CreateInstance"));
}

TEST_F(ActiveXTest, AFailedCreationIsNotRetriedUntilTheClsidChanges) {
    CActiveXUI* control = Add(standin::kWindowless, false);
    control->SetModuleName(L"Z:\\no\\such\\folder\\standin.dll");
    control->SetPos(Item());   // no module, CLSID not registered: nothing
    void* object = nullptr;
    EXPECT_EQ(E_PENDING, control->QueryHostedControl(IID_IUnknown, &object));
    control->SetModuleName(Module::Path().c_str());
    control->SetPos(Item());
    EXPECT_EQ(E_PENDING, control->QueryHostedControl(IID_IUnknown, &object));
    EXPECT_EQ(0, Count(Log(), L"CreateInstance"));
    control->SetClsid(standin::kWindowless);
    control->SetPos(Item());
    ASSERT_EQ(S_OK, control->QueryHostedControl(IID_IUnknown, &object));
    static_cast<IUnknown*>(object)->Release();
}

TEST_F(ActiveXTest, ARelativeModuleNameIsNeverLoadedFromTheCurrentFolder) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount());
    const std::wstring folder = std::wstring(temp) + L"standin-" + tag;
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring name = L"standin-copy-" + tag + L".dll";
    const std::wstring copy = folder + L"\\" + name;
    ASSERT_TRUE(CopyFileW(Module::Path().c_str(), copy.c_str(), FALSE));
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(folder.c_str());

    CActiveXUI* control = Add(standin::kWindowless, false);
    control->SetModuleName(name.c_str());
    control->SetPos(Item());
    void* object = nullptr;
    EXPECT_EQ(E_PENDING, control->QueryHostedControl(IID_IUnknown, &object));
    EXPECT_EQ(nullptr, GetModuleHandleW(name.c_str()));

    control->SetModuleName(copy.c_str());
    control->SetClsid(standin::kWindowless);
    control->SetPos(Item());
    EXPECT_EQ(S_OK, control->QueryHostedControl(IID_IUnknown, &object));
    if (object) static_cast<IUnknown*>(object)->Release();
    EXPECT_NE(nullptr, GetModuleHandleW(name.c_str()));
    SetCurrentDirectoryW(previous);
}

TEST_F(ActiveXTest, CreationCallsTheObjectInOrder) {
    const struct {
        const char* what;
        DWORD status;
        HRESULT initNew;
        bool attached;
    } cases[] = {
        {"plain", OLEMISC_RECOMPOSEONRESIZE, S_OK, true},
        {"site first", OLEMISC_SETCLIENTSITEFIRST, S_OK, true},
        {"invisible at run time", OLEMISC_INVISIBLEATRUNTIME, S_OK, true},
        {"no manager", 0, S_OK, false},
        {"failing InitNew", OLEMISC_SETCLIENTSITEFIRST, E_FAIL, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        standin::Settings settings;
        settings.miscStatus = c.status;
        settings.initNewResult = c.initNew;
        Module::Get().Reset(settings);
        std::unique_ptr<CActiveXUI> control(new CActiveXUI);
        if (c.attached) control->AttachManager(&Manager(), panel);
        control->SetModuleName(Module::Path().c_str());
        control->SetClsid(standin::kWindowless);
        control->SetPos(Item());
        const std::vector<std::wstring> log = Log();
        const int site = Find(log, L"SetClientSite"), init = Find(log, L"InitNew");
        const int verb = Find(log, L"DoVerb(-5)"), shown = Find(log, L"showactivex");
        ASSERT_GE(init, 0) << Join(log);
        void* object = nullptr;
        if (FAILED(c.initNew)) {
            EXPECT_EQ(E_PENDING, control->QueryHostedControl(IID_IUnknown, &object));
            EXPECT_EQ(-1, verb) << Join(log);
            EXPECT_EQ(0, Module::Get().LiveObjects());
            continue;
        }
        EXPECT_EQ(S_OK, control->QueryHostedControl(IID_IUnknown, &object));
        if (object) static_cast<IUnknown*>(object)->Release();
        EXPECT_EQ((c.status & OLEMISC_SETCLIENTSITEFIRST) != 0, site < init) << Join(log);
        EXPECT_GE(Find(log, L"SetHostNames(UIActiveX,null)"), 0) << Join(log);
        EXPECT_EQ(c.attached, shown >= 0) << Join(log);
        const bool activates = c.attached && !(c.status & OLEMISC_INVISIBLEATRUNTIME);
        EXPECT_EQ(activates, verb > shown) << Join(log);
        // SetSite ends the creation; only the positioning follows it.
        const int withSite = Find(log, L"SetSite");
        ASSERT_GE(withSite, 0) << Join(log);
        for (size_t i = size_t(withSite) + 1; i < log.size(); ++i) {
            EXPECT_TRUE(log[i].rfind(L"SetExtent(", 0) == 0 || log[i].rfind(L"SetObjectRects(", 0) == 0) << Join(log);
        }
        if (c.attached) control->ReleaseHostedControl();   // the filter leaves the manager before the control
    }
}

// ------------------------------------------------------------------ windowless

TEST_F(ActiveXTest, WindowlessDrawsItsItemAndTakesInputWhereItHits) {
    CActiveXUI* control = Add(standin::kWindowless);
    control->SetPos(Item());
    ASSERT_EQ(host->Window(), control->GetHostWindow());

    const uitest::Capture capture = Paint("windowless");
    const RECT item = Item();
    EXPECT_EQ(0x20A040u, capture.At(item.left, item.top));
    EXPECT_EQ(0x20A040u, capture.At(item.right - 1, item.bottom - 1));
    EXPECT_EQ(0xFFFFFFu, capture.At(item.left - 1, item.top));
    EXPECT_EQ(0xFFFFFFu, capture.At(item.right, item.bottom - 1));

    // The stand-in hits (10,10)-(30,30) of its bounds.
    const POINT inside = {item.left + 15, item.top + 15}, outside = {item.left + 50, item.top + 50};
    Post(WM_MOUSEMOVE, inside);
    Post(WM_MOUSEMOVE, outside);
    EXPECT_EQ(1, Delivered(WM_MOUSEMOVE));
    Post(WM_LBUTTONDOWN, inside, MK_LBUTTON);   // the stand-in takes the capture
    Post(WM_MOUSEMOVE, outside, MK_LBUTTON);
    Post(WM_LBUTTONUP, outside);                // and gives it back
    Post(WM_MOUSEMOVE, outside);
    EXPECT_EQ(2, Delivered(WM_MOUSEMOVE)) << Join(Log());
    EXPECT_EQ(1, Delivered(WM_LBUTTONUP)) << Join(Log());
    control->SetMouseEnabled(false);
    Post(WM_LBUTTONDOWN, inside, MK_LBUTTON);
    EXPECT_EQ(1, Delivered(WM_LBUTTONDOWN));
    ReleaseCapture();

    PostMessageW(host->Window(), WM_KEYDOWN, 'A', 0);
    uitest::Pump();
    EXPECT_EQ(0, Delivered(WM_KEYDOWN));
    Manager().SetFocusedControl(control);
    PostMessageW(host->Window(), WM_KEYDOWN, 'A', 0);
    uitest::Pump();
    EXPECT_EQ(1, Delivered(WM_KEYDOWN));

    IOleInPlaceSiteWindowless* site = standintest::Site(control);
    ASSERT_NE(nullptr, site);
    HDC dc = reinterpret_cast<HDC>(1);
    EXPECT_EQ(S_FALSE, site->GetDC(nullptr, 0, &dc));
    EXPECT_EQ(nullptr, dc);
    EXPECT_EQ(E_POINTER, site->GetDC(nullptr, 0, nullptr));
    site->Release();
}

TEST_F(ActiveXTest, ASecondWindowlessActivationLeavesOneFilterThatReleaseRemoves) {
    CActiveXUI* control = Add(standin::kWindowless);
    control->SetPos(Item());
    EXPECT_EQ(1, standintest::FilterEntries(Manager(), control));
    IOleInPlaceObject* inPlace = nullptr;
    ASSERT_EQ(S_OK, control->QueryHostedControl(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)));
    inPlace->InPlaceDeactivate();
    inPlace->Release();
    IOleObject* object = nullptr;
    ASSERT_EQ(S_OK, control->QueryHostedControl(IID_IOleObject, reinterpret_cast<void**>(&object)));
    RECT item = Item();
    EXPECT_EQ(S_OK, object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, host->Window(), &item));
    object->Release();
    EXPECT_EQ(2, Count(Log(), L"activated(0x0)"));
    EXPECT_EQ(1, standintest::FilterEntries(Manager(), control));
    control->ReleaseHostedControl();
    EXPECT_EQ(0, standintest::FilterEntries(Manager(), control));
}

// ------------------------------------------------------------------ windowed

TEST_F(ActiveXTest, WindowedChildFollowsPositionAndVisibility) {
    CActiveXUI* control = Add(standin::kWindowed);
    control->SetPos(Item());
    const HWND window = control->GetHostWindow();
    ASSERT_NE(nullptr, window);
    ASSERT_EQ(window, FindWindowExW(host->Window(), nullptr, L"VeneerActiveXWnd", nullptr));
    auto placed = [&](HWND w) {
        RECT r;
        GetWindowRect(w, &r);
        MapWindowPoints(nullptr, GetParent(w), reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    auto same = [](const RECT& a, const RECT& b) { return EqualRect(&a, &b) != FALSE; };
    EXPECT_TRUE(same(Item(), placed(window)));
    HWND child = nullptr;
    standin::IStandInControl* standIn = standintest::Control(control);
    ASSERT_NE(nullptr, standIn);
    standIn->GetChildWindow(&child);
    standIn->Release();
    ASSERT_NE(nullptr, child);
    EXPECT_EQ(window, GetParent(child));
    const RECT item = Item();
    EXPECT_TRUE(same(RECT{0, 0, item.right - item.left, item.bottom - item.top}, placed(child)));
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    uitest::SavePng(uitest::GrabWindow(child), "windowed");
    EXPECT_EQ(0x20A040u, uitest::GrabWindow(child).At(2, 2));

    const RECT moved = {S(60), S(50), S(200), S(150)};
    control->SetPos(moved);
    EXPECT_TRUE(same(moved, placed(window)));
    MoveWindow(window, 0, 0, 5, 5, FALSE);
    control->MoveBy(S(5), S(5));
    EXPECT_TRUE(same(moved, placed(window)));

    control->SetVisible(false);
    EXPECT_FALSE(IsWindowVisible(window));
    control->SetVisible(true);
    EXPECT_TRUE(IsWindowVisible(window));
    panel->SetVisible(false);   // the parent hides its children
    EXPECT_FALSE(IsWindowVisible(window));
    panel->SetVisible(true);
    EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(ActiveXTest, InALayeredWindowTheHostWindowIsPrintedWithTheCaret) {
    Manager().SetLayeredModeFlag(true);
    CActiveXUI* control = Add(standin::kWindowed);
    control->SetPos(Item());
    const HWND window = control->GetHostWindow();
    ASSERT_NE(nullptr, window);
    auto registered = [&] { return Manager().GetNativeWindows().Find(window) >= 0; };
    EXPECT_FALSE(registered());
    SendMessageW(window, WM_TIMER, 6553, 0);   // each blink registers the window again
    EXPECT_TRUE(registered());

    // The thread's caret inside the item shows as a line once the blink
    // counter has flipped (every tenth tick).
    const RECT item = Item();
    const POINT caret = {item.left + S(5), item.top + S(5)};
    CreateCaret(host->Window(), nullptr, 1, S(10));
    SetCaretPos(caret.x, caret.y);
    for (int i = 0; i < 9; ++i) SendMessageW(window, WM_TIMER, 6553, 0);
    uitest::Surface surface(item.right - item.left, item.bottom - item.top, 0xFFFFFF);
    EXPECT_EQ(1, SendMessageW(window, WM_PRINT, WPARAM(surface.DC()), PRF_CLIENT));
    uitest::SavePng(surface.Grab(), "layered_print");
    DestroyCaret();
    EXPECT_EQ(0x20A040u, surface.At(2, 2));   // the view object drew the client area
    EXPECT_EQ(0x000000u, surface.At(caret.x, caret.y + S(2)));
    EXPECT_EQ(0x20A040u, surface.At(caret.x + 2, caret.y + S(2)));

    control->ReleaseHostedControl();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(registered());
    Manager().SetLayeredModeFlag(false);
}

TEST_F(ActiveXTest, WindowContextHandsOutOneAcceleratorTablePerSite) {
    CActiveXUI* control = Add(standin::kWindowed);
    control->SetPos(Item());
    IOleInPlaceSiteWindowless* site = standintest::Site(control);
    ASSERT_NE(nullptr, site);
    HACCEL tables[2] = {};
    for (HACCEL& table : tables) {
        IOleInPlaceFrame* frame = nullptr;
        IOleInPlaceUIWindow* document = reinterpret_cast<IOleInPlaceUIWindow*>(1);
        RECT position = {}, clip = {};
        OLEINPLACEFRAMEINFO info = {};
        ASSERT_EQ(S_OK, site->GetWindowContext(&frame, &document, &position, &clip, &info));
        EXPECT_EQ(20u, info.cb);
        EXPECT_FALSE(info.fMDIApp);
        EXPECT_EQ(host->Window(), info.hwndFrame);
        EXPECT_EQ(1u, info.cAccelEntries);
        EXPECT_EQ(1, CopyAcceleratorTableW(info.haccel, nullptr, 0));
        EXPECT_EQ(nullptr, document);
        const RECT item = Item();
        EXPECT_EQ(item.right - item.left, position.right);
        HWND frameWindow = nullptr;
        ASSERT_NE(nullptr, frame);
        EXPECT_EQ(S_OK, frame->GetWindow(&frameWindow));
        EXPECT_EQ(host->Window(), frameWindow);
        EXPECT_EQ(INPLACE_E_NOTOOLSPACE, frame->RequestBorderSpace(nullptr));
        frame->Release();
        table = info.haccel;
    }
    EXPECT_EQ(tables[0], tables[1]);
    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* document = nullptr;
    RECT position = {};
    OLEINPLACEFRAMEINFO info = {};
    EXPECT_EQ(E_POINTER, site->GetWindowContext(&frame, &document, &position, nullptr, &info));
    control->ReleaseHostedControl();
    EXPECT_EQ(0u, site->Release());
    EXPECT_EQ(0, CopyAcceleratorTableW(tables[0], nullptr, 0));
}

// ------------------------------------------------------------------ release

TEST_F(ActiveXTest, ReleaseUndoesTheSiteInOrder) {
    const struct {
        const char* what;
        CLSID clsid;
        bool unmanaged;
    } cases[] = {
        {"windowless", standin::kWindowless, false},
        {"windowed", standin::kWindowed, false},
        {"windowless, unmanaged", standin::kWindowless, true},
        {"windowed, unmanaged", standin::kWindowed, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Module::Get().Reset();
        CActiveXUI* control = Add(c.clsid);
        control->SetUnmanaged(c.unmanaged);
        control->SetPos(Item());
        IOleInPlaceSiteWindowless* site = standintest::Site(control);
        ASSERT_NE(nullptr, site);
        Module::Get().Note(L"release");
        control->ReleaseHostedControl();
        EXPECT_EQ(0u, site->Release());   // nothing else holds the site
        const std::vector<std::wstring> log = standintest::After(Log(), L"release");
        const int unsite = Find(log, L"SetSite(null)"), close = Find(log, L"Close(1)");
        const int unclient = Find(log, L"SetClientSite(null)"), last = Find(log, L"Release(0)");
        EXPECT_EQ(0, unsite) << Join(log);
        EXPECT_EQ(c.unmanaged, close < 0) << Join(log);
        EXPECT_LT(std::max(unsite, close), unclient) << Join(log);
        EXPECT_LT(unclient, last) << Join(log);
        EXPECT_EQ(0, standintest::HostWindowCount(host->Window()));
        EXPECT_EQ(nullptr, control->GetHostWindow());
        EXPECT_EQ(0, Module::Get().LiveObjects());
    }
}

TEST_F(ActiveXTest, AClsidChangeReleasesTheOldObjectFirst) {
    CActiveXUI* control = Add(standin::kWindowed);
    control->SetDelayCreate(false);
    control->SetPos(Item());
    Module::Get().Note(L"change");
    control->SetClsid(standin::kWindowless);
    const std::vector<std::wstring> log = standintest::After(Log(), L"change");
    const int last = Find(log, L"Release(0)"), created = Find(log, L"CreateInstance");
    EXPECT_EQ(0, Find(log, L"SetSite(null)")) << Join(log);
    EXPECT_GE(last, 0) << Join(log);
    EXPECT_LT(last, created) << Join(log);
    EXPECT_EQ(0, standintest::HostWindowCount(host->Window()));
    EXPECT_EQ(host->Window(), control->GetHostWindow());
}

TEST_F(ActiveXTest, TheContainerEnumeratesItsOneObject) {
    CActiveXUI* control = Add(standin::kWindowless);
    control->SetPos(Item());
    IOleInPlaceSiteWindowless* site = standintest::Site(control);
    ASSERT_NE(nullptr, site);
    IOleContainer* container = nullptr;
    ASSERT_EQ(S_OK, site->QueryInterface(IID_IOleContainer, reinterpret_cast<void**>(&container)));
    site->Release();
    IEnumUnknown* items = nullptr;
    ASSERT_EQ(S_OK, container->EnumObjects(OLECONTF_EMBEDDINGS, &items));
    container->Release();
    IUnknown* identity = nullptr;
    control->QueryHostedControl(IID_IUnknown, reinterpret_cast<void**>(&identity));

    IUnknown* sentinel = reinterpret_cast<IUnknown*>(0x5A5A);
    IUnknown* got[2] = {sentinel, sentinel};
    ULONG fetched = 7;
    EXPECT_EQ(S_OK, items->Next(0, got, &fetched));   // nothing asked, nothing written
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(sentinel, got[0]);
    EXPECT_EQ(S_OK, items->Next(1, got, nullptr));    // a null count is allowed for one
    EXPECT_EQ(identity, got[0]);
    EXPECT_EQ(sentinel, got[1]);
    got[0]->Release();
    got[0] = sentinel;
    EXPECT_EQ(S_FALSE, items->Next(1, got, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(sentinel, got[0]);
    EXPECT_EQ(S_OK, items->Reset());
    EXPECT_EQ(S_FALSE, items->Next(2, got, &fetched));   // fewer than asked for
    EXPECT_EQ(1u, fetched);
    EXPECT_EQ(identity, got[0]);
    EXPECT_EQ(sentinel, got[1]);
    got[0]->Release();
    items->Release();
    identity->Release();
}

// ------------------------------------------------------------------ Flash

class FakeFlashReceiver : public IFlashEventReceiver {
public:
    void Release() override { ++released; }
    void Reserved() override { calls.push_back(L"Reserved"); }
    HRESULT OnReadyStateChange(long state) override { return Record(L"OnReadyStateChange(" + std::to_wstring(state) + L")"); }
    HRESULT OnProgress(long percent) override { return Record(L"OnProgress(" + std::to_wstring(percent) + L")"); }
    HRESULT FSCommand(BSTR command, BSTR arguments) override {
        return Record(std::wstring(L"FSCommand(") + command + L"," + arguments + L")");
    }
    HRESULT FlashCall(BSTR request) override { return Record(std::wstring(L"FlashCall(") + request + L")"); }
    HRESULT Record(const std::wstring& call) {
        calls.push_back(call);
        return S_FALSE;
    }
    std::vector<std::wstring> calls;
    int released = 0;
};

TEST_F(ActiveXTest, FlashEventsReachTheReceiverWhenTheirArgumentsFit) {
    std::unique_ptr<FakeFlashReceiver> receiver(new FakeFlashReceiver);
    std::unique_ptr<CFlashUI> flash(new CFlashUI);
    flash->AttachManager(&Manager(), panel);
    flash->SetModuleName(Module::Path().c_str());
    flash->SetEventReceiver(receiver.get());
    flash->SetPos(Item());
    EXPECT_EQ(flash.get(), flash->FindInterface(L"FLASH"));
    EXPECT_EQ(0, standintest::TranslatorEntries(Manager(), flash.get()));   // offered, not registered
    std::vector<std::wstring> log = Log();
    EXPECT_LT(Find(log, L"CreateInstance"), Find(log, L"Advise(256)")) << Join(log);
    standin::IStandInControl* standIn = standintest::Control(flash.get());
    ASSERT_NE(nullptr, standIn);
    const struct {
        const char* what;
        DISPID id;
        std::vector<VARIANT> args;
        HRESULT answer;
        const wchar_t* call;   // what the receiver got, or null
    } cases[] = {
        {"FSCommand", 150, {Text(L"play"), Text(L"loop")}, S_FALSE, L"FSCommand(play,loop)"},
        {"FSCommand, one argument", 150, {Text(L"play")}, DISP_E_BADPARAMCOUNT, nullptr},
        {"FSCommand, a number", 150, {Text(L"play"), Number(3)}, DISP_E_TYPEMISMATCH, nullptr},
        {"FlashCall", 197, {Text(L"<invoke/>")}, S_FALSE, L"FlashCall(<invoke/>)"},
        {"FlashCall, a number", 197, {Number(1)}, E_INVALIDARG, nullptr},
        {"OnProgress", 1958, {Number(55)}, S_FALSE, L"OnProgress(55)"},
        {"OnReadyStateChange", DISPID_READYSTATECHANGE, {Number(4)}, S_FALSE, L"OnReadyStateChange(4)"},
        {"OnProgress, no arguments", 1958, {}, DISP_E_BADPARAMCOUNT, nullptr},
        {"OnReadyStateChange, a text", DISPID_READYSTATECHANGE, {Text(L"4")}, DISP_E_TYPEMISMATCH, nullptr},
        {"unknown", 4242, {Number(1)}, S_OK, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        receiver->calls.clear();
        EventArgs args(c.args);
        HRESULT answer = E_FAIL;
        ASSERT_EQ(S_OK, standIn->Fire(c.id, &args.params, &answer));
        EXPECT_EQ(c.answer, answer);
        EXPECT_EQ(c.call ? 1u : 0u, receiver->calls.size());
        if (c.call && !receiver->calls.empty()) {
            EXPECT_EQ(c.call, receiver->calls[0]);
        }
    }
    // Without a receiver the events are answered all the same.
    flash->SetEventReceiver(nullptr);
    EventArgs progress({Number(10)});
    HRESULT answer = E_FAIL;
    standIn->Fire(1958, &progress.params, &answer);
    EXPECT_EQ(S_OK, answer);
    standIn->Release();
    flash->SetEventReceiver(receiver.get());
    flash.reset();
    EXPECT_EQ(1, receiver->released);
    log = Log();
    EXPECT_EQ(1, Count(log, L"Unadvise(256)")) << Join(log);
    EXPECT_LT(Find(log, L"Unadvise(256)"), Find(log, L"Release(0)")) << Join(log);
}

TEST_F(ActiveXTest, FlashClsidChangeReleasesThePlayerAndItsObject) {
    CFlashUI* flash = Add<CFlashUI>(standin::kFlash);
    flash->SetPos(Item());
    Module::Get().Note(L"change");
    flash->SetClsid(standin::kWindowless);
    flash->SetPos(Item());
    const std::vector<std::wstring> log = standintest::After(Log(), L"change");
    const int unadvise = Find(log, L"Unadvise(256)"), unsite = Find(log, L"SetSite(null)");
    const int close = Find(log, L"Close(1)"), last = Find(log, L"Release(0)");
    EXPECT_EQ(0, unadvise) << Join(log);
    EXPECT_LT(unadvise, unsite) << Join(log);
    EXPECT_LT(unsite, close) << Join(log);
    EXPECT_LT(close, last) << Join(log);
    EXPECT_LT(last, Find(log, L"CreateInstance")) << Join(log);
    EXPECT_EQ(1, standintest::FilterEntries(Manager(), flash));
}

TEST_F(ActiveXTest, FlashWithoutItsPlayerStaysEmpty) {
    CFlashUI* flash = Add<CFlashUI>(standin::kFlash, false);   // not registered here
    flash->SetPos(Item());
    void* object = nullptr;
    EXPECT_EQ(E_PENDING, flash->QueryHostedControl(IID_IUnknown, &object));
    EXPECT_EQ(S_FALSE, flash->ConnectEvents(true));
    MSG key = {host->Window(), WM_KEYDOWN, 'A', 0, 0, {}};
    EXPECT_EQ(LRESULT(E_NOTIMPL), flash->TranslateAccelerator(&key));
    MSG move = {host->Window(), WM_MOUSEMOVE, 0, 0, 0, {}};
    EXPECT_EQ(LRESULT(S_FALSE), flash->TranslateAccelerator(&move));
    EXPECT_EQ(0, standintest::TranslatorEntries(Manager(), flash));
}

}  // namespace
