// The web browser host: against the stand-in browser (navigation, the
// browser's events, the key translator, the document UI handler, the
// command target and the security manager) and against Wine's own browser.
#include <windows.h>

#include <gtest/gtest.h>

#include <exdisp.h>
#include <exdispid.h>

#include <memory>
#include <string>
#include <vector>

#include "ControlsTestSupport.h"
#include "StandInSupport.h"
#include "WebBrowser.h"

using namespace Veneer;
using standintest::Count;
using standintest::EventArgs;
using standintest::Find;
using standintest::Join;
using standintest::Module;
using standintest::Number;
using standintest::Pointer;
using standintest::Text;

namespace {

const GUID kCgidDocHostCommandHandler = {0xF38BC242, 0xB950, 0x11D1, {0x89, 0x18, 0x00, 0xC0, 0x4F, 0xC2, 0xC8, 0x36}};
const GUID kDownloadManager = {0x988934A4, 0x064B, 0x11D3, {0xBB, 0x80, 0x00, 0x10, 0x4B, 0x35, 0xE7, 0xF9}};

std::wstring Bstr(const VARIANT* v) { return v && V_VT(v) == VT_BSTR && V_BSTR(v) ? V_BSTR(v) : L"?"; }

// Records the events; the UI handler's operations answer a marker.
class FakeWebReceiver : public IWebBrowserEventReceiver {
public:
    static constexpr HRESULT kAnswer = 0x00000042;
    void BeforeNavigate2(IDispatch*, VARIANT* url, VARIANT* flags, VARIANT* target, VARIANT* postData,
                         VARIANT* headers, VARIANT_BOOL* cancel) override {
        calls.push_back(L"BeforeNavigate2(" + Bstr(url) + L"," + std::to_wstring(V_I4(flags)) + L"," + Bstr(target) +
                        L"," + std::to_wstring(V_VT(postData)) + L"," + Bstr(headers) + L")");
        *cancel = VARIANT_TRUE;
    }
    void NavigateError(IDispatch*, VARIANT* url, VARIANT* frame, VARIANT* status, VARIANT_BOOL* cancel) override {
        calls.push_back(L"NavigateError(" + Bstr(url) + L"," + Bstr(frame) + L"," + std::to_wstring(V_I4(status)) +
                        L")");
        *cancel = VARIANT_TRUE;
    }
    void NavigateComplete2(IDispatch*, VARIANT* url) override {
        Module::Get().Note(L"receiver:NavigateComplete2");
        calls.push_back(L"NavigateComplete2(" + Bstr(url) + L")");
    }
    void Reserved() override { calls.push_back(L"Reserved"); }
    void NewWindow3(IDispatch**, VARIANT_BOOL* cancel, DWORD flags, BSTR context, BSTR url) override {
        calls.push_back(L"NewWindow3(" + std::to_wstring(flags) + L"," + context + L"," + url + L")");
        *cancel = VARIANT_TRUE;
    }
    void CommandStateChange(long command, VARIANT_BOOL enable) override {
        calls.push_back(L"CommandStateChange(" + std::to_wstring(command) + L"," + std::to_wstring(enable) + L")");
    }
    void TitleChange(BSTR title) override { calls.push_back(std::wstring(L"TitleChange(") + title + L")"); }
    void DocumentComplete(IDispatch*, VARIANT* url) override {
        calls.push_back(L"DocumentComplete(" + Bstr(url) + L")");
    }
    HRESULT ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override { return kAnswer; }
    HRESULT GetHostInfo(DOCHOSTUIINFO*) override { return kAnswer; }
    HRESULT ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                   IOleInPlaceUIWindow*) override {
        return kAnswer;
    }
    HRESULT HideUI() override { return kAnswer; }
    HRESULT UpdateUI() override { return kAnswer; }
    HRESULT EnableModeless(BOOL) override { return kAnswer; }
    HRESULT OnDocWindowActivate(BOOL) override { return kAnswer; }
    HRESULT OnFrameWindowActivate(BOOL) override { return kAnswer; }
    HRESULT ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return kAnswer; }
    HRESULT TranslateAccelerator(LPMSG, const GUID*, DWORD) override { return kAnswer; }
    HRESULT GetOptionKeyPath(LPOLESTR*, DWORD) override { return kAnswer; }
    HRESULT GetDropTarget(IDropTarget*, IDropTarget**) override { return kAnswer; }
    HRESULT GetExternal(IDispatch**) override { return kAnswer; }
    HRESULT TranslateUrl(DWORD, LPWSTR, LPWSTR*) override { return kAnswer; }
    HRESULT FilterDataObject(IDataObject*, IDataObject**) override { return kAnswer; }
    HRESULT ProcessUrlAction(LPCWSTR, DWORD action, BYTE*, DWORD, BYTE*, DWORD, DWORD, DWORD) override {
        calls.push_back(L"ProcessUrlAction(" + std::to_wstring(action) + L")");
        return kAnswer;
    }
    std::vector<std::wstring> calls;
};

class WebTest : public ::testing::Test, public ctltest::ControlsFixture {
protected:
    void SetUp() override {
        Module::Get().Reset();
        panel = new uitest::TestPanel;
        panel->SetAttribute(L"bkcolor", L"#FFFFFFFF");
        Host(S(300), S(200), panel);
    }
    void TearDown() override {
        TearDownHost();
        EXPECT_EQ(0, Module::Get().LiveObjects()) << Join(Module::Get().Log());
    }
    // A stand-in browser, created (the module named) or not yet.
    CWebBrowserUI* Add(bool create = true, bool withModule = true) {
        CWebBrowserUI* web = new CWebBrowserUI;
        panel->Add(web);
        if (withModule) web->SetAttribute(L"modulename", Module::Path().c_str());
        if (create) web->SetPos(Item());
        return web;
    }
    RECT Item() const { return RECT{S(20), S(20), S(220), S(160)}; }
    std::vector<std::wstring> Log() { return Module::Get().Log(); }

    uitest::TestPanel* panel = nullptr;
};

// ------------------------------------------------------------------ stand-in browser

TEST_F(WebTest, TheHomePageIsNavigatedOnlyWithAutoNavigation) {
    const struct {
        const wchar_t* autonavi;
        int navigations;
    } cases[] = {{L"true", 1}, {L"TRUE", 1}, {L"false", 0}, {nullptr, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.autonavi ? c.autonavi : L"(missing)");
        Module::Get().Reset();
        CWebBrowserUI* web = Add(false);
        web->SetAttribute(L"homepage", L"http://home.test/start");
        if (c.autonavi) web->SetAttribute(L"autonavi", c.autonavi);
        web->SetPos(Item());
        ASSERT_NE(nullptr, web->GetWebBrowser());
        EXPECT_EQ(c.navigations,
                  Count(Log(), L"Navigate2(8:http://home.test/start,3:12,null,null,null)")) << Join(Log());
        web->ReleaseHostedControl();
    }
    CWebBrowserUI* web = Add();
    Module::Get().Reset();
    web->Navigate(L"");
    web->Navigate(nullptr);
    EXPECT_EQ(0, Count(Log(), L"Navigate2"));
}

TEST_F(WebTest, BrowserEventsReachTheReceiverWhenTheirArgumentsFit) {
    CWebBrowserUI* web = Add();
    EXPECT_EQ(web, web->FindInterface(L"webbrowser"));
    FakeWebReceiver receiver;
    web->SetEventReceiver(&receiver);
    standin::IStandInControl* standIn = standintest::Control(web);
    ASSERT_NE(nullptr, standIn);
    EXPECT_GE(Find(Log(), L"Advise(256)"), 0) << Join(Log());

    VARIANT url = Text(L"http://a.test/"), flags = Number(2), target = Text(L"main"), headers = Text(L"H: 1");
    VARIANT post;
    VariantInit(&post);
    VARIANT frame = Text(L"top"), status = Number(404);
    VARIANT_BOOL cancel = VARIANT_FALSE;
    IDispatch* window = nullptr;
    const VARTYPE ref = VT_VARIANT | VT_BYREF;
    auto before = [&] {
        return std::vector<VARIANT>{Pointer(VT_DISPATCH, nullptr), Pointer(ref, &url),    Pointer(ref, &flags),
                                    Pointer(ref, &target),          Pointer(ref, &post),   Pointer(ref, &headers),
                                    Pointer(VT_BOOL | VT_BYREF, &cancel)};
    };
    std::vector<VARIANT> shortBefore = before();
    shortBefore.pop_back();
    std::vector<VARIANT> wrongBefore = before();
    wrongBefore[1] = Text(L"http://a.test/");
    const struct {
        const char* what;
        DISPID id;
        std::vector<VARIANT> args;
        HRESULT answer;
        const wchar_t* call;   // what the receiver got, or null
        bool cancels;
    } cases[] = {
        {"BeforeNavigate2", DISPID_BEFORENAVIGATE2, before(), S_OK, L"BeforeNavigate2(http://a.test/,2,main,0,H: 1)",
         true},
        {"BeforeNavigate2, six", DISPID_BEFORENAVIGATE2, shortBefore, DISP_E_BADPARAMCOUNT, nullptr, false},
        {"BeforeNavigate2, a plain text", DISPID_BEFORENAVIGATE2, wrongBefore, DISP_E_TYPEMISMATCH, nullptr, false},
        {"DocumentComplete", DISPID_DOCUMENTCOMPLETE, {Pointer(VT_DISPATCH, nullptr), Pointer(ref, &url)}, S_OK,
         L"DocumentComplete(http://a.test/)", false},
        {"NavigateError", DISPID_NAVIGATEERROR,
         {Pointer(VT_DISPATCH, nullptr), Pointer(ref, &url), Pointer(ref, &frame), Pointer(ref, &status),
          Pointer(VT_BOOL | VT_BYREF, &cancel)},
         S_OK, L"NavigateError(http://a.test/,top,404)", true},
        {"NewWindow3", DISPID_NEWWINDOW3,
         {Pointer(VT_DISPATCH | VT_BYREF, &window), Pointer(VT_BOOL | VT_BYREF, &cancel), Number(6),
          Text(L"http://ctx/"), Text(L"http://new/")},
         S_OK, L"NewWindow3(6,http://ctx/,http://new/)", true},
        {"CommandStateChange", DISPID_COMMANDSTATECHANGE, {Number(1), Pointer(VT_BOOL, nullptr)}, S_OK,
         L"CommandStateChange(1,0)", false},
        {"TitleChange", DISPID_TITLECHANGE, {Text(L"Title")}, S_OK, L"TitleChange(Title)", false},
        {"TitleChange, none", DISPID_TITLECHANGE, {}, DISP_E_BADPARAMCOUNT, nullptr, false},
        {"StatusTextChange", DISPID_STATUSTEXTCHANGE, {Text(L"status")}, S_OK, nullptr, false},
        {"ProgressChange", DISPID_PROGRESSCHANGE, {Number(1), Number(2)}, DISP_E_MEMBERNOTFOUND, nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        receiver.calls.clear();
        cancel = VARIANT_FALSE;
        EventArgs args(c.args);
        HRESULT answer = E_FAIL;
        ASSERT_EQ(S_OK, standIn->Fire(c.id, &args.params, &answer));
        EXPECT_EQ(c.answer, answer);
        EXPECT_EQ(c.call ? 1u : 0u, receiver.calls.size());
        if (c.call && !receiver.calls.empty()) {
            EXPECT_EQ(c.call, receiver.calls[0]);
        }
        EXPECT_EQ(c.cancels ? VARIANT_TRUE : VARIANT_FALSE, cancel);   // the receiver's answer reached the caller
    }

    // NavigateComplete2 makes the control the document's UI handler first.
    Module::Get().Note(L"complete");
    {
        EventArgs args({Pointer(VT_DISPATCH, nullptr), Pointer(ref, &url)});
        HRESULT answer = E_FAIL;
        standIn->Fire(DISPID_NAVIGATECOMPLETE2, &args.params, &answer);
        EXPECT_EQ(S_OK, answer);
    }
    const std::vector<std::wstring> log = standintest::After(Log(), L"complete");
    EXPECT_LT(Find(log, L"SetUIHandler"), Find(log, L"receiver:NavigateComplete2")) << Join(log);
    EXPECT_GE(Find(log, L"SetUIHandler"), 0) << Join(log);
    IUnknown* handler = nullptr;
    standIn->GetUIHandler(&handler);
    EXPECT_EQ(static_cast<IDocHostUIHandler*>(web), handler);
    if (handler) handler->Release();
    ASSERT_EQ(1u, receiver.calls.size());
    EXPECT_EQ(L"NavigateComplete2(http://a.test/)", receiver.calls[0]);

    // An interface id other than IID_NULL is refused outright.
    EventArgs title({Text(L"T")});
    receiver.calls.clear();
    EXPECT_EQ(E_INVALIDARG, static_cast<IDispatch*>(web)->Invoke(DISPID_TITLECHANGE, IID_IDispatch, 0, DISPATCH_METHOD,
                                                                 &title.params, nullptr, nullptr, nullptr));
    EXPECT_TRUE(receiver.calls.empty());
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, static_cast<IDispatch*>(web)->Invoke(DISPID_TITLECHANGE, IID_NULL, 0,
                                                                         DISPATCH_METHOD, nullptr, nullptr, nullptr,
                                                                         nullptr));
    standIn->Release();
    for (VARIANT* v : {&url, &flags, &target, &headers, &frame, &status}) VariantClear(v);
    web->SetEventReceiver(nullptr);
}

TEST_F(WebTest, KeysGoToTheBrowserOnlyWhileTheFocusIsInIt) {
    CWebBrowserUI* web = Add();
    EXPECT_EQ(1, standintest::TranslatorEntries(Manager(), web));
    standin::IStandInControl* standIn = standintest::Control(web);
    ASSERT_NE(nullptr, standIn);
    standIn->SetTranslateAnswer(S_OK);
    HWND child = nullptr;
    standIn->GetChildWindow(&child);
    standIn->Release();
    ASSERT_NE(nullptr, child);
    EXPECT_EQ(web->GetHostWindow(), GetParent(child));

    SetForegroundWindow(host->Window());
    SetFocus(child);
    ASSERT_EQ(child, GetFocus());
    MSG key = {child, WM_KEYDOWN, VK_F5, 0, 0, {}};
    EXPECT_EQ(LRESULT(S_OK), web->TranslateAccelerator(&key));
    EXPECT_EQ(1, Count(Log(), L"TranslateAccelerator(0x100)"));
    // Through the message loop's translators the key is consumed.
    EXPECT_TRUE(CPaintManagerUI::FilterQueuedMessage(&key));
    EXPECT_EQ(2, Count(Log(), L"TranslateAccelerator(0x100)"));
    MSG move = {child, WM_MOUSEMOVE, 0, 0, 0, {}};
    EXPECT_EQ(LRESULT(S_FALSE), web->TranslateAccelerator(&move));
    SetFocus(host->Window());
    EXPECT_EQ(LRESULT(S_FALSE), web->TranslateAccelerator(&key));
    EXPECT_EQ(2, Count(Log(), L"TranslateAccelerator(0x100)"));

    web->ReleaseHostedControl();
    EXPECT_EQ(0, standintest::TranslatorEntries(Manager(), web));
    EXPECT_EQ(LRESULT(E_NOTIMPL), web->TranslateAccelerator(&key));
}

TEST_F(WebTest, TheControlAnswersAsHandlerServiceAndSecurityManager) {
    CWebBrowserUI* web = Add(false, false);
    IUnknown* self = static_cast<IDocHostUIHandler*>(web);
    const IID* given[] = {&IID_IDocHostUIHandler, &IID_IDispatch,        &IID_IServiceProvider,
                          &IID_IInternetSecurityManager, &IID_IOleCommandTarget, &IID_IUnknown};
    for (const IID* iid : given) {
        void* object = nullptr;
        EXPECT_EQ(S_OK, self->QueryInterface(*iid, &object));
        EXPECT_NE(nullptr, object);
        if (object) static_cast<IUnknown*>(object)->Release();
    }
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, self->QueryInterface(IID_IOleObject, &object));
    EXPECT_EQ(nullptr, object);

    IServiceProvider* services = static_cast<IServiceProvider*>(web);
    object = nullptr;
    EXPECT_EQ(S_OK, services->QueryService(SID_SInternetSecurityManager, IID_IInternetSecurityManager, &object));
    EXPECT_EQ(static_cast<IInternetSecurityManager*>(web), object);
    for (const GUID* service : {&kDownloadManager, &IID_IOleObject}) {
        object = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE, services->QueryService(*service, IID_IUnknown, &object));
        EXPECT_EQ(nullptr, object);
    }

    // The security manager leaves every decision to the browser and writes nothing.
    IInternetSecurityManager* security = static_cast<IInternetSecurityManager*>(web);
    DWORD zone = 0xABCD, size = 0xABCD;
    BYTE policy[4] = {0x5A, 0x5A, 0x5A, 0x5A};
    BYTE* custom = policy;
    IInternetSecurityMgrSite* site = reinterpret_cast<IInternetSecurityMgrSite*>(1);
    IEnumString* mappings = reinterpret_cast<IEnumString*>(1);
    const HRESULT answers[] = {
        security->SetSecuritySite(nullptr),
        security->GetSecuritySite(&site),
        security->MapUrlToZone(L"http://a.test/", &zone, 0),
        security->GetSecurityId(L"http://a.test/", policy, &size, 0),
        security->ProcessUrlAction(L"http://a.test/", 0x1400, policy, sizeof(policy), nullptr, 0, 0, 0),
        security->QueryCustomPolicy(L"http://a.test/", GUID_NULL, &custom, &size, nullptr, 0, 0),
        security->SetZoneMapping(3, L"*.test", 0),
        security->GetZoneMappings(3, &mappings, 0),
    };
    for (HRESULT answer : answers) EXPECT_EQ(INET_E_DEFAULT_ACTION, answer);
    EXPECT_EQ(0xABCDu, zone);
    EXPECT_EQ(0xABCDu, size);
    EXPECT_EQ(0x5A, policy[0]);
    EXPECT_EQ(policy, custom);
    EXPECT_EQ(reinterpret_cast<IInternetSecurityMgrSite*>(1), site);
    EXPECT_EQ(reinterpret_cast<IEnumString*>(1), mappings);
    // The forwarding of URL actions is the embedding code's.
    EXPECT_EQ(S_OK, web->ForwardUrlAction(L"http://a.test/", 0x1400, policy, 4, nullptr, 0, 0, 0));
    FakeWebReceiver receiver;
    web->SetEventReceiver(&receiver);
    EXPECT_EQ(FakeWebReceiver::kAnswer, web->ForwardUrlAction(L"http://a.test/", 0x1400, policy, 4, nullptr, 0, 0, 0));

    // The UI handler: the receiver's answers, or the defaults without one.
    IDocHostUIHandler* ui = static_cast<IDocHostUIHandler*>(web);
    DOCHOSTUIINFO info = {};
    info.cbSize = sizeof(info);
    info.dwFlags = 0x1;
    EXPECT_EQ(FakeWebReceiver::kAnswer, ui->GetHostInfo(&info));
    EXPECT_EQ(0x200005u, info.dwFlags);
    EXPECT_EQ(FakeWebReceiver::kAnswer, ui->ShowContextMenu(0, nullptr, nullptr, nullptr));
    web->SetEventReceiver(nullptr);
    info.dwFlags = 0;
    EXPECT_EQ(S_OK, ui->GetHostInfo(&info));
    EXPECT_EQ(0x200004u, info.dwFlags);
    LPWSTR translated = reinterpret_cast<LPWSTR>(1);
    IDataObject* filtered = reinterpret_cast<IDataObject*>(1);
    const struct {
        const char* what;
        HRESULT got, expected;
    } defaults[] = {
        {"ShowContextMenu", ui->ShowContextMenu(0, nullptr, nullptr, nullptr), S_FALSE},
        {"ShowUI", ui->ShowUI(0, nullptr, nullptr, nullptr, nullptr), S_OK},
        {"HideUI", ui->HideUI(), S_OK},
        {"UpdateUI", ui->UpdateUI(), S_OK},
        {"EnableModeless", ui->EnableModeless(TRUE), E_NOTIMPL},
        {"OnDocWindowActivate", ui->OnDocWindowActivate(TRUE), E_NOTIMPL},
        {"OnFrameWindowActivate", ui->OnFrameWindowActivate(TRUE), E_NOTIMPL},
        {"ResizeBorder", ui->ResizeBorder(nullptr, nullptr, TRUE), E_NOTIMPL},
        {"TranslateAccelerator", ui->TranslateAccelerator(nullptr, nullptr, 0), S_FALSE},
        {"GetOptionKeyPath", ui->GetOptionKeyPath(nullptr, 0), E_NOTIMPL},
        {"GetDropTarget", ui->GetDropTarget(nullptr, nullptr), S_FALSE},
        {"GetExternal", ui->GetExternal(nullptr), S_FALSE},
        {"TranslateUrl", ui->TranslateUrl(0, nullptr, &translated), E_NOTIMPL},
        {"FilterDataObject", ui->FilterDataObject(nullptr, &filtered), E_NOTIMPL},
    };
    for (const auto& d : defaults) EXPECT_EQ(d.expected, d.got) << d.what;
    EXPECT_EQ(nullptr, translated);
    EXPECT_EQ(nullptr, filtered);
}

TEST_F(WebTest, AScriptErrorIsReadAndAnsweredTrue) {
    CWebBrowserUI* web = Add();
    standin::IStandInControl* standIn = standintest::Control(web);
    ASSERT_NE(nullptr, standIn);
    IUnknown* document = nullptr;
    standIn->GetDocument(&document);
    standIn->Release();
    ASSERT_NE(nullptr, document);
    IOleCommandTarget* target = static_cast<IOleCommandTarget*>(web);
    EXPECT_EQ(OLECMDERR_E_NOTSUPPORTED, target->QueryStatus(nullptr, 0, nullptr, nullptr));

    VARIANT in;
    VariantInit(&in);
    V_VT(&in) = VT_UNKNOWN;
    V_UNKNOWN(&in) = document;
    VARIANT empty;
    VariantInit(&empty);
    const struct {
        const char* what;
        const GUID* group;
        DWORD command;
        VARIANT* in;
        bool out;
        HRESULT answer;
        bool answered;   // the out variant holds VARIANT_TRUE
    } cases[] = {
        {"no group", nullptr, OLECMDID_SHOWSCRIPTERROR, &in, true, OLECMDERR_E_UNKNOWNGROUP, false},
        {"another group", &IID_IOleObject, OLECMDID_SHOWSCRIPTERROR, &in, true, OLECMDERR_E_UNKNOWNGROUP, false},
        {"another command", &kCgidDocHostCommandHandler, OLECMDID_PRINT, &in, true, OLECMDERR_E_NOTSUPPORTED, false},
        {"no out variant", &kCgidDocHostCommandHandler, OLECMDID_SHOWSCRIPTERROR, &in, false, E_POINTER, false},
        {"no document", &kCgidDocHostCommandHandler, OLECMDID_SHOWSCRIPTERROR, &empty, true, S_OK, true},
        {"no in variant", &kCgidDocHostCommandHandler, OLECMDID_SHOWSCRIPTERROR, nullptr, true, S_OK, true},
        {"script error", &kCgidDocHostCommandHandler, OLECMDID_SHOWSCRIPTERROR, &in, true, S_OK, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Module::Get().Reset();
        VARIANT out;
        VariantInit(&out);
        EXPECT_EQ(c.answer, target->Exec(c.group, c.command, 0, c.in, c.out ? &out : nullptr));
        EXPECT_EQ(c.answered ? VT_BOOL : VT_EMPTY, V_VT(&out));
        if (c.answered) {
            EXPECT_EQ(VARIANT_TRUE, V_BOOL(&out));
        }
        const std::vector<std::wstring> log = Log();
        if (c.in != &in || !c.answered) {
            EXPECT_TRUE(log.empty()) << Join(log);
            continue;
        }
        const std::vector<std::wstring> expected = {
            L"get_parentWindow",
            L"get_event",
            L"GetIDsOfNames(errorLine,0x800)",
            L"Invoke(errorLine,2,0)",
            L"GetIDsOfNames(errorCharacter,0x800)",
            L"Invoke(errorCharacter,2,0)",
            L"GetIDsOfNames(errorCode,0x800)",
            L"Invoke(errorCode,2,0)",
            L"GetIDsOfNames(errorMessage,0x800)",
            L"Invoke(errorMessage,2,0)",
            L"GetIDsOfNames(errorUrl,0x800)",
            L"Invoke(errorUrl,2,0)",
        };
        EXPECT_EQ(Join(expected), Join(log));
    }
    document->Release();
}

TEST_F(WebTest, ReleaseDisconnectsAndReleasesTheBrowser) {
    CWebBrowserUI* web = Add();
    ASSERT_NE(nullptr, web->GetWebBrowser());
    Module::Get().Note(L"release");
    web->ReleaseHostedControl();
    const std::vector<std::wstring> log = standintest::After(Log(), L"release");
    const int unadvise = Find(log, L"Unadvise(256)"), unsite = Find(log, L"SetSite(null)");
    EXPECT_EQ(0, unadvise) << Join(log);
    EXPECT_LT(unadvise, unsite) << Join(log);
    EXPECT_LT(unsite, Find(log, L"Close(1)")) << Join(log);
    EXPECT_GE(Find(log, L"Release(0)"), 0) << Join(log);
    EXPECT_EQ(nullptr, web->GetWebBrowser());
    EXPECT_EQ(0, standintest::HostWindowCount(host->Window()));
    // Released, the next position creates it again.
    web->SetPos(Item());
    EXPECT_NE(nullptr, web->GetWebBrowser());
}

// ------------------------------------------------------------------ Wine's own browser

TEST_F(WebTest, TheSystemBrowserRunsWindowedWithItsEventsAndKeys) {
    CWebBrowserUI* web = Add(true, false);
    IWebBrowser2* browser = web->GetWebBrowser();
    ASSERT_NE(nullptr, browser) << "the system's CLSID_WebBrowser was not created";
    const HWND window = web->GetHostWindow();
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(window, FindWindowExW(host->Window(), nullptr, L"VeneerActiveXWnd", nullptr));
    EXPECT_EQ(1, standintest::TranslatorEntries(Manager(), web));
    // The browser holds the control's event sink.
    const ULONG held = static_cast<IDispatch*>(web)->AddRef();
    static_cast<IDispatch*>(web)->Release();
    EXPECT_GT(held, 1u);
    web->Navigate(L"about:blank");
    uitest::Pump();
    uitest::SavePng(uitest::GrabWindow(host->Window()), "system_browser");
    web->ReleaseHostedControl();
    uitest::Pump();
    EXPECT_EQ(0, standintest::HostWindowCount(host->Window()));
    EXPECT_EQ(0, standintest::TranslatorEntries(Manager(), web));
}

}  // namespace
