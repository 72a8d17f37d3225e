// The stand-in control's COM server. Every object of the module writes the
// calls a host makes on it into one log ("Name(arguments)" entries); slots
// that no host uses answer E_NOTIMPL.
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <olectl.h>
#include <exdisp.h>
#include <exdispid.h>
#include <mshtmhst.h>

#include <cwchar>
#include <string>
#include <vector>

#include "StandInControl.h"
#include "StandInStubs.h"

using namespace standin;

namespace {

const IID kIidShockwaveFlash = {0xD27CDB6C, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const IID kDiidFlashEvents = {0xD27CDB6D, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const IID kIidCustomDoc = {0x3050F3F0, 0x98B5, 0x11CF, {0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B}};

std::vector<std::wstring> g_log;
std::wstring g_logText;
Settings g_settings;
LONG g_live = 0;
HMODULE g_module = nullptr;

void Log(const wchar_t* format, ...) {
    wchar_t line[512];
    va_list args;
    va_start(args, format);
    vswprintf(line, 512, format, args);
    va_end(args);
    g_log.push_back(line);
}

std::wstring Describe(const VARIANT* value) {
    if (!value) return L"null";
    wchar_t text[300];
    switch (V_VT(value)) {
    case VT_BSTR:
        swprintf(text, 300, L"%d:%ls", V_VT(value), V_BSTR(value) ? V_BSTR(value) : L"");
        break;
    case VT_I4:
        swprintf(text, 300, L"%d:%ld", V_VT(value), long(V_I4(value)));
        break;
    default:
        swprintf(text, 300, L"%d", V_VT(value));
        break;
    }
    return text;
}

// ------------------------------------------------------------------ the browser's document

template <class T>
class Counted : public T {
public:
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG count = InterlockedDecrement(&m_refs);
        if (count == 0) delete this;
        return ULONG(count);
    }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    virtual ~Counted() = default;

protected:
    bool Answer(REFIID riid, REFIID own, void** object) {
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != own) return false;
        *object = static_cast<T*>(this);
        AddRef();
        return true;
    }

    LONG m_refs = 1;
};

// The page's event object: its properties are read by name.
class FakeEvent : public Counted<StubHTMLEventObj> {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        return Answer(riid, IID_IHTMLEventObj, object) ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override {
        if (!names || !ids || count != 1) return E_INVALIDARG;
        Log(L"GetIDsOfNames(%ls,0x%lx)", names[0], locale);
        m_names.push_back(names[0]);
        ids[0] = DISPID(m_names.size());
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        if (id < 1 || size_t(id) > m_names.size()) return DISP_E_MEMBERNOTFOUND;
        Log(L"Invoke(%ls,%u,%u)", m_names[id - 1].c_str(), flags, params ? params->cArgs : 99u);
        if (result) {
            V_VT(result) = VT_I4;
            V_I4(result) = id;
        }
        return S_OK;
    }

private:
    std::vector<std::wstring> m_names;
};

class FakeWindow : public Counted<StubHTMLWindow2> {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        return Answer(riid, IID_IHTMLWindow2, object) ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP get_event(IHTMLEventObj** event) override {
        Log(L"get_event");
        *event = new FakeEvent;
        return S_OK;
    }
};

class FakeDocument : public Counted<StubHTMLDocument2>, public ICustomDoc {
public:
    ~FakeDocument() override {
        if (m_handler) m_handler->Release();
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == kIidCustomDoc) {
            *object = static_cast<ICustomDoc*>(this);
            AddRef();
            return S_OK;
        }
        return Answer(riid, IID_IHTMLDocument2, object) ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return Counted::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return Counted::Release(); }
    STDMETHODIMP get_parentWindow(IHTMLWindow2** window) override {
        Log(L"get_parentWindow");
        *window = new FakeWindow;
        return S_OK;
    }
    STDMETHODIMP SetUIHandler(IDocHostUIHandler* handler) override {
        Log(L"SetUIHandler");
        if (handler) handler->AddRef();
        if (m_handler) m_handler->Release();
        m_handler = handler;
        return S_OK;
    }
    IDocHostUIHandler* Handler() const { return m_handler; }

private:
    IDocHostUIHandler* m_handler = nullptr;
};

// ------------------------------------------------------------------ the control

enum Kind { KindWindowless, KindWindowed, KindFlash, KindBrowser };

class StandIn;

// The events connection point (a part of the control, sharing its count).
class EventPoint : public IConnectionPoint {
public:
    EventPoint(StandIn* owner, REFIID events) : m_owner(owner), m_events(events) {}
    ~EventPoint() {
        for (Sink& sink : m_sinks) sink.dispatch->Release();
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetConnectionInterface(IID* iid) override {
        if (!iid) return E_POINTER;
        *iid = m_events;
        return S_OK;
    }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer**) override { return E_NOTIMPL; }
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
        if (!sink || !cookie) return E_POINTER;
        IDispatch* dispatch = nullptr;
        if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) || !dispatch) {
            Log(L"Advise(refused)");
            return CONNECT_E_CANNOTCONNECT;
        }
        *cookie = m_nextCookie++;
        m_sinks.push_back(Sink{*cookie, dispatch});
        Log(L"Advise(%lu)", *cookie);
        return S_OK;
    }
    STDMETHODIMP Unadvise(DWORD cookie) override {
        Log(L"Unadvise(%lu)", cookie);
        for (size_t i = 0; i < m_sinks.size(); ++i) {
            if (m_sinks[i].cookie != cookie) continue;
            m_sinks[i].dispatch->Release();
            m_sinks.erase(m_sinks.begin() + i);
            return S_OK;
        }
        return CONNECT_E_NOCONNECTION;
    }
    STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

    HRESULT Fire(DISPID id, DISPPARAMS* params) {
        HRESULT answer = S_FALSE;
        std::vector<Sink> sinks = m_sinks;
        for (const Sink& sink : sinks) {
            answer = sink.dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, nullptr,
                                           nullptr, nullptr);
        }
        return answer;
    }
    REFIID Events() const { return m_events; }

private:
    struct Sink {
        DWORD cookie;
        IDispatch* dispatch;
    };
    StandIn* m_owner;
    IID m_events;
    DWORD m_nextCookie = 0x100;
    std::vector<Sink> m_sinks;
};

const wchar_t kChildClass[] = L"StandInControlChild";

LRESULT CALLBACK ChildProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        HBRUSH brush = CreateSolidBrush(COLORREF(GetWindowLongPtrW(window, GWLP_USERDATA)));
        RECT client;
        GetClientRect(window, &client);
        FillRect(dc, &client, brush);
        DeleteObject(brush);
        EndPaint(window, &ps);
        return 0;
    }
    if (message == WM_ERASEBKGND) return 1;
    return DefWindowProcW(window, message, wParam, lParam);
}

class StandIn final : public IOleObject,
                public IOleInPlaceObjectWindowless,
                public IOleInPlaceActiveObject,
                public IViewObjectEx,
                public IPersistStreamInit,
                public IObjectWithSite,
                public IConnectionPointContainer,
                public StubWebBrowser2,
                public IStandInControl {
public:
    explicit StandIn(Kind kind)
        : m_kind(kind), m_settings(g_settings), m_events(this, kind == KindFlash ? kDiidFlashEvents : DIID_DWebBrowserEvents2) {
        InterlockedIncrement(&g_live);
    }
    ~StandIn() {
        Deactivate();
        if (m_clientSite) m_clientSite->Release();
        if (m_objectSite) m_objectSite->Release();
        if (m_document) m_document->Release();
        InterlockedDecrement(&g_live);
    }

    bool Windowless() const { return m_kind == KindWindowless || m_kind == KindFlash; }
    bool HasEvents() const { return m_kind == KindFlash || m_kind == KindBrowser; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleObject) {
            *object = static_cast<IOleObject*>(this);
        } else if (riid == IID_IOleInPlaceObject || riid == IID_IOleWindow) {
            *object = static_cast<IOleInPlaceObjectWindowless*>(this);
        } else if (riid == IID_IOleInPlaceObjectWindowless && Windowless()) {
            *object = static_cast<IOleInPlaceObjectWindowless*>(this);
        } else if (riid == IID_IOleInPlaceActiveObject) {
            *object = static_cast<IOleInPlaceActiveObject*>(this);
        } else if (riid == IID_IViewObject || riid == IID_IViewObject2 || riid == IID_IViewObjectEx) {
            *object = static_cast<IViewObjectEx*>(this);
        } else if (riid == IID_IPersistStreamInit) {
            *object = static_cast<IPersistStreamInit*>(this);
        } else if (riid == IID_IObjectWithSite) {
            *object = static_cast<IObjectWithSite*>(this);
        } else if (riid == IID_IConnectionPointContainer && HasEvents()) {
            *object = static_cast<IConnectionPointContainer*>(this);
        } else if ((riid == kIidShockwaveFlash && m_kind == KindFlash) ||
                   ((riid == IID_IWebBrowser2 || riid == IID_IWebBrowserApp || riid == IID_IWebBrowser) &&
                    m_kind == KindBrowser) ||
                   (riid == IID_IDispatch && HasEvents())) {
            *object = static_cast<StubWebBrowser2*>(this);
        } else if (riid == kIidStandInControl) {
            *object = static_cast<IStandInControl*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG count = InterlockedDecrement(&m_refs);
        if (count == 0) {
            Log(L"Release(0)");
            delete this;
        }
        return ULONG(count);
    }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override {
        Log(site ? L"SetClientSite" : L"SetClientSite(null)");
        if (!site) Deactivate();
        if (site) site->AddRef();
        if (m_clientSite) m_clientSite->Release();
        m_clientSite = site;
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** site) override {
        if (!site) return E_POINTER;
        *site = m_clientSite;
        if (m_clientSite) m_clientSite->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR application, LPCOLESTR object) override {
        Log(L"SetHostNames(%ls,%ls)", application ? application : L"null", object ? object : L"null");
        return S_OK;
    }
    STDMETHODIMP Close(DWORD option) override {
        Log(L"Close(%lu)", option);
        Deactivate();
        return S_OK;
    }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT rect) override {
        Log(L"DoVerb(%ld)", verb);
        (void)parent;
        if (verb != OLEIVERB_INPLACEACTIVATE && verb != OLEIVERB_UIACTIVATE && verb != OLEIVERB_SHOW) return S_OK;
        return Activate(site ? site : m_clientSite, rect);
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    STDMETHODIMP Update() override { return E_NOTIMPL; }
    STDMETHODIMP IsUpToDate() override { return E_NOTIMPL; }
    STDMETHODIMP GetUserClassID(CLSID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override {
        if (size) Log(L"SetExtent(%lu,%ld,%ld)", aspect, size->cx, size->cy);
        return S_OK;
    }
    STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override {
        if (!status) return E_POINTER;
        *status = m_settings.miscStatus;
        return S_OK;
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleWindow, IOleInPlaceObject(Windowless), IOleInPlaceActiveObject
    STDMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = m_child;
        return m_child ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override {
        Log(L"InPlaceDeactivate");
        Deactivate();
        return S_OK;
    }
    STDMETHODIMP UIDeactivate() override { return S_OK; }
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override {
        if (!position || !clip) return E_POINTER;
        Log(L"SetObjectRects(%ld,%ld,%ld,%ld)", position->left, position->top, position->right, position->bottom);
        m_rect = *position;
        if (m_child) {
            MoveWindow(m_child, m_rect.left, m_rect.top, m_rect.right - m_rect.left, m_rect.bottom - m_rect.top, TRUE);
        }
        return S_OK;
    }
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnWindowMessage(UINT message, WPARAM, LPARAM lParam, LRESULT* result) override {
        Log(L"OnWindowMessage(0x%x,%d,%d)", message, int(short(LOWORD(lParam))), int(short(HIWORD(lParam))));
        if (result) *result = 0;
        if ((message == WM_LBUTTONDOWN || message == WM_LBUTTONUP) && m_inPlaceSite) {
            IOleInPlaceSiteWindowless* windowless = nullptr;
            if (SUCCEEDED(m_inPlaceSite->QueryInterface(IID_IOleInPlaceSiteWindowless,
                                                        reinterpret_cast<void**>(&windowless)))) {
                windowless->SetCapture(message == WM_LBUTTONDOWN);
                windowless->Release();
            }
        }
        return S_OK;
    }
    STDMETHODIMP GetDropTarget(IDropTarget**) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(LPMSG message) override {
        Log(L"TranslateAccelerator(0x%x)", message ? message->message : 0u);
        return m_settings.translateAnswer;
    }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

    // IViewObjectEx
    STDMETHODIMP Draw(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                      BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override {
        if (!dc || !bounds) return E_INVALIDARG;
        RECT area = {bounds->left, bounds->top, bounds->right, bounds->bottom};
        HBRUSH brush = CreateSolidBrush(m_settings.colour);
        FillRect(dc, &area, brush);
        DeleteObject(brush);
        return S_OK;
    }
    STDMETHODIMP GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**) override { return E_NOTIMPL; }
    STDMETHODIMP Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unfreeze(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP SetAdvise(DWORD, DWORD, IAdviseSink*) override { return E_NOTIMPL; }
    STDMETHODIMP GetAdvise(DWORD*, DWORD*, IAdviseSink**) override { return E_NOTIMPL; }
    STDMETHODIMP GetExtent(DWORD, LONG, DVTARGETDEVICE*, LPSIZEL) override { return E_NOTIMPL; }
    STDMETHODIMP GetRect(DWORD, LPRECTL) override { return E_NOTIMPL; }
    STDMETHODIMP GetViewStatus(DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryHitPoint(DWORD, LPCRECT bounds, POINT point, LONG, DWORD* hit) override {
        if (!bounds || !hit) return E_POINTER;
        RECT area = m_settings.hit;
        OffsetRect(&area, bounds->left, bounds->top);
        *hit = PtInRect(&area, point) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
        return S_OK;
    }
    STDMETHODIMP QueryHitRect(DWORD, LPCRECT, LPCRECT, LONG, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP GetNaturalExtent(DWORD, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO*, LPSIZEL) override {
        return E_NOTIMPL;
    }

    // IPersistStreamInit
    STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
    STDMETHODIMP IsDirty() override { return E_NOTIMPL; }
    STDMETHODIMP Load(LPSTREAM) override { return E_NOTIMPL; }
    STDMETHODIMP Save(LPSTREAM, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP InitNew() override {
        Log(L"InitNew");
        return m_settings.initNewResult;
    }

    // IObjectWithSite
    STDMETHODIMP SetSite(IUnknown* site) override {
        Log(site ? L"SetSite" : L"SetSite(null)");
        if (site) site->AddRef();
        if (m_objectSite) m_objectSite->Release();
        m_objectSite = site;
        return S_OK;
    }
    STDMETHODIMP GetSite(REFIID riid, void** site) override {
        if (!site) return E_POINTER;
        *site = nullptr;
        return m_objectSite ? m_objectSite->QueryInterface(riid, site) : E_FAIL;
    }

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
        if (!point) return E_POINTER;
        *point = nullptr;
        if (riid != m_events.Events()) return CONNECT_E_NOCONNECTION;
        *point = &m_events;
        AddRef();
        return S_OK;
    }

    // IDispatch of the player's and the browser's interfaces
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // IWebBrowser2
    STDMETHODIMP Navigate2(VARIANT* url, VARIANT* flags, VARIANT* target, VARIANT* postData,
                           VARIANT* headers) override {
        Log(L"Navigate2(%ls,%ls,%ls,%ls,%ls)", Describe(url).c_str(), Describe(flags).c_str(),
            Describe(target).c_str(), Describe(postData).c_str(), Describe(headers).c_str());
        return S_OK;
    }
    STDMETHODIMP get_Document(IDispatch** document) override {
        if (!document) return E_POINTER;
        Log(L"get_Document");
        if (!m_document) m_document = new FakeDocument;
        *document = static_cast<StubHTMLDocument2*>(m_document);
        m_document->AddRef();
        return S_OK;
    }

    // IStandInControl
    STDMETHODIMP SetColour(COLORREF colour) override {
        m_settings.colour = colour;
        return S_OK;
    }
    STDMETHODIMP SetHitRect(const RECT* hit) override {
        if (!hit) return E_POINTER;
        m_settings.hit = *hit;
        return S_OK;
    }
    STDMETHODIMP SetTranslateAnswer(HRESULT answer) override {
        m_settings.translateAnswer = answer;
        return S_OK;
    }
    STDMETHODIMP Fire(DISPID id, DISPPARAMS* params, HRESULT* answer) override {
        if (!answer) return E_POINTER;
        *answer = m_events.Fire(id, params);
        return S_OK;
    }
    STDMETHODIMP GetChildWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = m_child;
        return S_OK;
    }
    STDMETHODIMP GetDocument(IUnknown** document) override {
        if (!document) return E_POINTER;
        if (!m_document) m_document = new FakeDocument;
        *document = static_cast<StubHTMLDocument2*>(m_document);
        m_document->AddRef();
        return S_OK;
    }
    STDMETHODIMP GetUIHandler(IUnknown** handler) override {
        if (!handler) return E_POINTER;
        *handler = m_document ? m_document->Handler() : nullptr;
        if (*handler) (*handler)->AddRef();
        return S_OK;
    }

private:
    HRESULT Activate(IOleClientSite* site, LPCRECT rect) {
        if (m_inPlaceSite) return S_OK;
        if (!site) return E_UNEXPECTED;
        IOleInPlaceSite* inPlace = nullptr;
        if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlace))) || !inPlace) {
            return E_NOINTERFACE;
        }
        HRESULT hr = E_FAIL;
        if (Windowless()) {
            IOleInPlaceSiteWindowless* windowless = nullptr;
            if (SUCCEEDED(inPlace->QueryInterface(IID_IOleInPlaceSiteWindowless, reinterpret_cast<void**>(&windowless)))) {
                if (windowless->CanWindowlessActivate() == S_OK) {
                    BOOL noRedraw = FALSE;
                    hr = windowless->OnInPlaceActivateEx(&noRedraw, ACTIVATE_WINDOWLESS);
                }
                windowless->Release();
            }
        } else if (inPlace->CanInPlaceActivate() == S_OK) {
            hr = inPlace->OnInPlaceActivate();
        }
        Log(L"activated(0x%lx)", hr);
        if (FAILED(hr)) {
            inPlace->Release();
            return hr;
        }
        m_inPlaceSite = inPlace;
        HWND parent = nullptr;
        inPlace->GetWindow(&parent);
        IOleInPlaceFrame* frame = nullptr;
        IOleInPlaceUIWindow* document = nullptr;
        RECT position = rect ? *rect : RECT{}, clip = position;
        OLEINPLACEFRAMEINFO info = {};
        info.cb = sizeof(info);
        inPlace->GetWindowContext(&frame, &document, &position, &clip, &info);
        if (frame) {
            frame->SetActiveObject(static_cast<IOleInPlaceActiveObject*>(this), L"StandIn");
            frame->Release();
        }
        if (document) document->Release();
        if (!Windowless() && parent) {
            const RECT& at = IsRectEmpty(&m_rect) ? position : m_rect;
            m_child = CreateWindowExW(0, kChildClass, L"stand-in", WS_CHILD | WS_VISIBLE, at.left, at.top,
                                      at.right - at.left, at.bottom - at.top, parent, nullptr, g_module, nullptr);
            SetWindowLongPtrW(m_child, GWLP_USERDATA, LONG_PTR(m_settings.colour));
        }
        return S_OK;
    }

    void Deactivate() {
        if (m_child) {
            DestroyWindow(m_child);
            m_child = nullptr;
        }
        if (!m_inPlaceSite) return;
        IOleInPlaceSite* site = m_inPlaceSite;
        m_inPlaceSite = nullptr;
        site->OnInPlaceDeactivate();
        site->Release();
    }

    Kind m_kind;
    Settings m_settings;
    LONG m_refs = 1;
    EventPoint m_events;
    IOleClientSite* m_clientSite = nullptr;
    IUnknown* m_objectSite = nullptr;
    IOleInPlaceSite* m_inPlaceSite = nullptr;
    FakeDocument* m_document = nullptr;
    RECT m_rect = {};
    HWND m_child = nullptr;
};

STDMETHODIMP EventPoint::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IConnectionPoint) return E_NOINTERFACE;
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) EventPoint::AddRef() { return static_cast<IOleObject*>(m_owner)->AddRef(); }
STDMETHODIMP_(ULONG) EventPoint::Release() { return static_cast<IOleObject*>(m_owner)->Release(); }

class Factory : public IClassFactory {
public:
    explicit Factory(Kind kind) : m_kind(kind) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG count = InterlockedDecrement(&m_refs);
        if (count == 0) delete this;
        return ULONG(count);
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        StandIn* created = new StandIn(m_kind);
        const HRESULT hr = static_cast<IOleObject*>(created)->QueryInterface(riid, object);
        Log(L"CreateInstance");
        static_cast<IOleObject*>(created)->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
    virtual ~Factory() = default;

private:
    Kind m_kind;
    LONG m_refs = 1;
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        WNDCLASSW wc = {};
        wc.lpfnWndProc = ChildProcedure;
        wc.hInstance = instance;
        wc.lpszClassName = kChildClass;
        RegisterClassW(&wc);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    Kind kind;
    if (clsid == kWindowless) {
        kind = KindWindowless;
    } else if (clsid == kWindowed) {
        kind = KindWindowed;
    } else if (clsid == kFlash) {
        kind = KindFlash;
    } else if (clsid == kWebBrowser) {
        kind = KindBrowser;
    } else {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    Factory* factory = new Factory(kind);
    const HRESULT hr = factory->QueryInterface(riid, object);
    factory->Release();
    return hr;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_live == 0 ? S_OK : S_FALSE; }

extern "C" __declspec(dllexport) void __cdecl StandInSetup(const Settings* settings) {
    g_settings = settings ? *settings : Settings();
}

extern "C" __declspec(dllexport) void __cdecl StandInNote(const wchar_t* entry) { Log(L"%ls", entry); }

extern "C" __declspec(dllexport) void __cdecl StandInClearLog() { g_log.clear(); }

extern "C" __declspec(dllexport) const wchar_t* __cdecl StandInReadLog() {
    g_logText.clear();
    for (const std::wstring& entry : g_log) {
        g_logText += entry;
        g_logText += L'\n';
    }
    return g_logText.c_str();
}

extern "C" __declspec(dllexport) LONG __cdecl StandInLiveObjects() { return g_live; }
