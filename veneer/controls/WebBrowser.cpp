#include "WebBrowser.h"

#include <exdispid.h>
#include <mshtml.h>

namespace Veneer {

namespace {

// Not in the import libraries of every tool chain.
const IID kIidCustomDoc = {0x3050F3F0, 0x98B5, 0x11CF, {0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B}};
const GUID kCgidDocHostCommandHandler = {0xF38BC242, 0xB950, 0x11D1, {0x89, 0x18, 0x00, 0xC0, 0x4F, 0xC2, 0xC8, 0x36}};

const VARTYPE kByRefVariant = VT_VARIANT | VT_BYREF;
const VARTYPE kByRefBool = VT_BOOL | VT_BYREF;

// The script error's properties, read from the page's event object.
const wchar_t* const kScriptErrorProperties[] = {L"errorLine", L"errorCharacter", L"errorCode", L"errorMessage",
                                                 L"errorUrl"};

HRESULT ReadProperty(IDispatch* object, const wchar_t* name) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    DISPPARAMS none = {};
    VARIANT value;
    VariantInit(&value);
    hr = object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
    VariantClear(&value);
    return hr;
}

}  // namespace

CWebBrowserUI::CWebBrowserUI() { m_clsid = CLSID_WebBrowser; }

// The whole release while this object is intact: the browser may still call
// its UI handler or event sink while it closes.
CWebBrowserUI::~CWebBrowserUI() { ReleaseHostedControl(); }

CControlUI* CWebBrowserUI::CreateWebBrowserUI() { return new CWebBrowserUI; }

const wchar_t* CWebBrowserUI::GetClassTag() const { return L"WebBrowser"; }

void* CWebBrowserUI::FindInterface(const wchar_t* tag) {
    if (tag && CompareTextNoCase(tag, L"WebBrowser") == 0) return this;
    return CActiveXUI::FindInterface(tag);
}

void CWebBrowserUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (CompareTextNoCase(name, L"homepage") == 0) {
        SetHomePage(value);
    } else if (CompareTextNoCase(name, L"autonavi") == 0) {
        SetAutoNavigate(ReadBool(value));
    } else {
        CActiveXUI::SetAttribute(name, value);
    }
}

void CWebBrowserUI::ReleaseBrowser() {
    if (m_manager) m_manager->RemoveKeyTranslator(this);
    if (m_webBrowser) {
        ConnectEvents(false);
        IWebBrowser2* browser = m_webBrowser;
        m_webBrowser = nullptr;
        browser->Release();
    }
}

// The browser's translator, events and interface go first, then the hosted
// object itself: nothing stays active with a site that names this control.
void CWebBrowserUI::ReleaseHostedControl() {
    m_created = false;
    ReleaseBrowser();
    CActiveXUI::ReleaseHostedControl();
}

bool CWebBrowserUI::CreateHostedControl() {
    if (!CActiveXUI::CreateHostedControl()) return false;
    if (m_manager) m_manager->AddKeyTranslator(this);
    QueryHostedControl(IID_IWebBrowser2, reinterpret_cast<void**>(&m_webBrowser));
    if (m_autoNavigate && !m_homePage.IsEmpty()) Navigate(m_homePage);
    ConnectEvents(true);
    return true;
}

HRESULT CWebBrowserUI::ForwardUrlAction(LPCWSTR url, DWORD action, BYTE* policy, DWORD policySize, BYTE* context,
                                        DWORD contextSize, DWORD flags, DWORD reserved) {
    if (!m_receiver) return S_OK;
    return m_receiver->ProcessUrlAction(url, action, policy, policySize, context, contextSize, flags, reserved);
}

void CWebBrowserUI::Navigate(const wchar_t* url) {
    if (!url || !*url || !m_webBrowser) return;
    VARIANT target;
    VariantInit(&target);
    V_VT(&target) = VT_BSTR;
    V_BSTR(&target) = SysAllocString(url);
    VARIANT flags;
    VariantInit(&flags);
    V_VT(&flags) = VT_I4;
    V_I4(&flags) = navNoReadFromCache | navNoWriteToCache;
    m_webBrowser->Navigate2(&target, &flags, nullptr, nullptr, nullptr);
    VariantClear(&target);
}

HRESULT CWebBrowserUI::ConnectEvents(bool connect) {
    IWebBrowser2* browser = nullptr;
    HRESULT hr = QueryHostedControl(IID_IWebBrowser2, reinterpret_cast<void**>(&browser));
    if (FAILED(hr) || !browser) return FAILED(hr) ? hr : E_NOINTERFACE;
    hr = ConnectSink(browser, DIID_DWebBrowserEvents2, static_cast<IDispatch*>(this), connect, m_cookie);
    browser->Release();
    return hr;
}

// ------------------------------------------------------------------ IUnknown

STDMETHODIMP CWebBrowserUI::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDocHostUIHandler) {
        *object = static_cast<IDocHostUIHandler*>(this);
    } else if (riid == IID_IDispatch) {
        *object = static_cast<IDispatch*>(this);
    } else if (riid == IID_IServiceProvider) {
        *object = static_cast<IServiceProvider*>(this);
    } else if (riid == IID_IInternetSecurityManager) {
        *object = static_cast<IInternetSecurityManager*>(this);
    } else if (riid == IID_IOleCommandTarget) {
        *object = static_cast<IOleCommandTarget*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

// The interfaces live in the control: the count never deletes anything.
STDMETHODIMP_(ULONG) CWebBrowserUI::AddRef() { return ULONG(InterlockedIncrement(&m_refs)); }
STDMETHODIMP_(ULONG) CWebBrowserUI::Release() { return ULONG(InterlockedDecrement(&m_refs)); }

// ------------------------------------------------------------------ IDocHostUIHandler

STDMETHODIMP CWebBrowserUI::ShowContextMenu(DWORD id, POINT* point, IUnknown* commandTarget, IDispatch* object) {
    return m_receiver ? m_receiver->ShowContextMenu(id, point, commandTarget, object) : S_FALSE;
}

STDMETHODIMP CWebBrowserUI::GetHostInfo(DOCHOSTUIINFO* info) {
    if (!info) return E_POINTER;
    info->dwFlags |= DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_NO3DOUTERBORDER;
    return m_receiver ? m_receiver->GetHostInfo(info) : S_OK;
}

STDMETHODIMP CWebBrowserUI::ShowUI(DWORD id, IOleInPlaceActiveObject* activeObject, IOleCommandTarget* commandTarget,
                                   IOleInPlaceFrame* frame, IOleInPlaceUIWindow* document) {
    return m_receiver ? m_receiver->ShowUI(id, activeObject, commandTarget, frame, document) : S_OK;
}

STDMETHODIMP CWebBrowserUI::HideUI() { return m_receiver ? m_receiver->HideUI() : S_OK; }
STDMETHODIMP CWebBrowserUI::UpdateUI() { return m_receiver ? m_receiver->UpdateUI() : S_OK; }

STDMETHODIMP CWebBrowserUI::EnableModeless(BOOL enable) {
    return m_receiver ? m_receiver->EnableModeless(enable) : E_NOTIMPL;
}

STDMETHODIMP CWebBrowserUI::OnDocWindowActivate(BOOL activate) {
    return m_receiver ? m_receiver->OnDocWindowActivate(activate) : E_NOTIMPL;
}

STDMETHODIMP CWebBrowserUI::OnFrameWindowActivate(BOOL activate) {
    return m_receiver ? m_receiver->OnFrameWindowActivate(activate) : E_NOTIMPL;
}

STDMETHODIMP CWebBrowserUI::ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frameWindow) {
    return m_receiver ? m_receiver->ResizeBorder(border, window, frameWindow) : E_NOTIMPL;
}

STDMETHODIMP CWebBrowserUI::TranslateAccelerator(LPMSG message, const GUID* group, DWORD command) {
    return m_receiver ? m_receiver->TranslateAccelerator(message, group, command) : S_FALSE;
}

STDMETHODIMP CWebBrowserUI::GetOptionKeyPath(LPOLESTR* key, DWORD reserved) {
    return m_receiver ? m_receiver->GetOptionKeyPath(key, reserved) : E_NOTIMPL;
}

STDMETHODIMP CWebBrowserUI::GetDropTarget(IDropTarget* dropTarget, IDropTarget** replacement) {
    return m_receiver ? m_receiver->GetDropTarget(dropTarget, replacement) : S_FALSE;
}

STDMETHODIMP CWebBrowserUI::GetExternal(IDispatch** external) {
    return m_receiver ? m_receiver->GetExternal(external) : S_FALSE;
}

STDMETHODIMP CWebBrowserUI::TranslateUrl(DWORD translate, LPWSTR urlIn, LPWSTR* urlOut) {
    if (m_receiver) return m_receiver->TranslateUrl(translate, urlIn, urlOut);
    if (urlOut) *urlOut = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CWebBrowserUI::FilterDataObject(IDataObject* object, IDataObject** replacement) {
    if (m_receiver) return m_receiver->FilterDataObject(object, replacement);
    if (replacement) *replacement = nullptr;
    return E_NOTIMPL;
}

// ------------------------------------------------------------------ IServiceProvider

STDMETHODIMP CWebBrowserUI::QueryService(REFGUID service, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (service == SID_SInternetSecurityManager && riid == IID_IInternetSecurityManager) {
        *object = static_cast<IInternetSecurityManager*>(this);
        return S_OK;
    }
    return E_NOINTERFACE;
}

// ------------------------------------------------------------------ IOleCommandTarget

STDMETHODIMP CWebBrowserUI::QueryStatus(const GUID*, ULONG, OLECMD*, OLECMDTEXT*) { return OLECMDERR_E_NOTSUPPORTED; }

// A script error: its details are read from the page's event object, and
// the answer VARIANT_TRUE lets the scripts run on without an error dialog.
STDMETHODIMP CWebBrowserUI::Exec(const GUID* group, DWORD command, DWORD, VARIANT* in, VARIANT* out) {
    if (!group || *group != kCgidDocHostCommandHandler) return OLECMDERR_E_UNKNOWNGROUP;
    if (command != OLECMDID_SHOWSCRIPTERROR) return OLECMDERR_E_NOTSUPPORTED;
    if (!out) return E_POINTER;
    HRESULT hr = S_OK;
    IUnknown* page = in && (V_VT(in) == VT_UNKNOWN || V_VT(in) == VT_DISPATCH) ? V_UNKNOWN(in) : nullptr;
    IHTMLDocument2* document = nullptr;
    if (page && SUCCEEDED(page->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(&document))) && document) {
        IHTMLWindow2* window = nullptr;
        if (SUCCEEDED(document->get_parentWindow(&window)) && window) {
            IHTMLEventObj* event = nullptr;
            if (SUCCEEDED(window->get_event(&event)) && event) {
                for (const wchar_t* name : kScriptErrorProperties) hr = ReadProperty(event, name);
                event->Release();
            }
            window->Release();
        }
        document->Release();
    }
    V_VT(out) = VT_BOOL;
    V_BOOL(out) = VARIANT_TRUE;
    return hr;
}

// ------------------------------------------------------------------ IDispatch

STDMETHODIMP CWebBrowserUI::GetTypeInfoCount(UINT* count) {
    if (count) *count = 0;
    return E_NOTIMPL;
}

STDMETHODIMP CWebBrowserUI::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
STDMETHODIMP CWebBrowserUI::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

STDMETHODIMP CWebBrowserUI::Invoke(DISPID id, REFIID riid, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) {
    if (riid != IID_NULL) return E_INVALIDARG;
    return DispatchEvent(id, params);
}

void CWebBrowserUI::InstallUIHandler() {
    if (!m_webBrowser) return;
    IDispatch* document = nullptr;
    if (FAILED(m_webBrowser->get_Document(&document)) || !document) return;
    ICustomDoc* custom = nullptr;
    if (SUCCEEDED(document->QueryInterface(kIidCustomDoc, reinterpret_cast<void**>(&custom))) && custom) {
        custom->SetUIHandler(static_cast<IDocHostUIHandler*>(this));
        custom->Release();
    }
    document->Release();
}

// Each event's arguments are checked against its parameters before any is
// read; a mismatch reaches no receiver.
HRESULT CWebBrowserUI::DispatchEvent(DISPID id, DISPPARAMS* params) {
    static const VARTYPE kCommandState[] = {VT_I4, VT_BOOL};
    static const VARTYPE kTitle[] = {VT_BSTR};
    static const VARTYPE kBeforeNavigate[] = {VT_DISPATCH,   kByRefVariant, kByRefVariant, kByRefVariant,
                                              kByRefVariant, kByRefVariant, kByRefBool};
    static const VARTYPE kPageUrl[] = {VT_DISPATCH, kByRefVariant};
    static const VARTYPE kNavigateError[] = {VT_DISPATCH, kByRefVariant, kByRefVariant, kByRefVariant, kByRefBool};
    static const VARTYPE kNewWindow[] = {VT_DISPATCH | VT_BYREF, kByRefBool, VT_I4, VT_BSTR, VT_BSTR};
    const VARTYPE* types = nullptr;
    UINT count = 0;
    switch (id) {
    case DISPID_STATUSTEXTCHANGE:
        return S_OK;
    case DISPID_COMMANDSTATECHANGE:
        types = kCommandState, count = 2;
        break;
    case DISPID_TITLECHANGE:
        types = kTitle, count = 1;
        break;
    case DISPID_BEFORENAVIGATE2:
        types = kBeforeNavigate, count = 7;
        break;
    case DISPID_NAVIGATECOMPLETE2:
    case DISPID_DOCUMENTCOMPLETE:
        types = kPageUrl, count = 2;
        break;
    case DISPID_NAVIGATEERROR:
        types = kNavigateError, count = 5;
        break;
    case DISPID_NEWWINDOW3:
        types = kNewWindow, count = 5;
        break;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
    const HRESULT checked = CheckEventArguments(params, types, count);
    if (FAILED(checked)) return checked;
    if (id == DISPID_NAVIGATECOMPLETE2) InstallUIHandler();
    if (!m_receiver) return S_OK;
    auto arg = [params](UINT index) -> VARIANT& { return EventArgument(params, index); };
    switch (id) {
    case DISPID_COMMANDSTATECHANGE:
        m_receiver->CommandStateChange(V_I4(&arg(0)), V_BOOL(&arg(1)));
        break;
    case DISPID_TITLECHANGE:
        m_receiver->TitleChange(V_BSTR(&arg(0)));
        break;
    case DISPID_BEFORENAVIGATE2:
        m_receiver->BeforeNavigate2(V_DISPATCH(&arg(0)), V_VARIANTREF(&arg(1)), V_VARIANTREF(&arg(2)),
                                    V_VARIANTREF(&arg(3)), V_VARIANTREF(&arg(4)), V_VARIANTREF(&arg(5)),
                                    V_BOOLREF(&arg(6)));
        break;
    case DISPID_NAVIGATECOMPLETE2:
        m_receiver->NavigateComplete2(V_DISPATCH(&arg(0)), V_VARIANTREF(&arg(1)));
        break;
    case DISPID_DOCUMENTCOMPLETE:
        m_receiver->DocumentComplete(V_DISPATCH(&arg(0)), V_VARIANTREF(&arg(1)));
        break;
    case DISPID_NAVIGATEERROR:
        m_receiver->NavigateError(V_DISPATCH(&arg(0)), V_VARIANTREF(&arg(1)), V_VARIANTREF(&arg(2)),
                                  V_VARIANTREF(&arg(3)), V_BOOLREF(&arg(4)));
        break;
    case DISPID_NEWWINDOW3:
        m_receiver->NewWindow3(V_DISPATCHREF(&arg(0)), V_BOOLREF(&arg(1)), DWORD(V_I4(&arg(2))), V_BSTR(&arg(3)),
                               V_BSTR(&arg(4)));
        break;
    default:
        break;
    }
    return S_OK;
}

// ------------------------------------------------------------------ ITranslateAccelerator

LRESULT CWebBrowserUI::TranslateAccelerator(MSG* message) {
    if (!message || message->message < WM_KEYFIRST || message->message > WM_KEYLAST) return S_FALSE;
    if (!m_webBrowser) return E_NOTIMPL;
    return TranslateForHostedObject(message);
}

// ------------------------------------------------------------------ IInternetSecurityManager
// Every answer leaves the decision to the browser's own defaults and writes
// nothing, so no zone or policy is left unset for the browser to read.

STDMETHODIMP CWebBrowserUI::SetSecuritySite(IInternetSecurityMgrSite*) { return INET_E_DEFAULT_ACTION; }
STDMETHODIMP CWebBrowserUI::GetSecuritySite(IInternetSecurityMgrSite**) { return INET_E_DEFAULT_ACTION; }
STDMETHODIMP CWebBrowserUI::MapUrlToZone(LPCWSTR, DWORD*, DWORD) { return INET_E_DEFAULT_ACTION; }
STDMETHODIMP CWebBrowserUI::GetSecurityId(LPCWSTR, BYTE*, DWORD*, DWORD_PTR) { return INET_E_DEFAULT_ACTION; }

STDMETHODIMP CWebBrowserUI::ProcessUrlAction(LPCWSTR, DWORD, BYTE*, DWORD, BYTE*, DWORD, DWORD, DWORD) {
    return INET_E_DEFAULT_ACTION;
}

STDMETHODIMP CWebBrowserUI::QueryCustomPolicy(LPCWSTR, REFGUID, BYTE**, DWORD*, BYTE*, DWORD, DWORD) {
    return INET_E_DEFAULT_ACTION;
}

STDMETHODIMP CWebBrowserUI::SetZoneMapping(DWORD, LPCWSTR, DWORD) { return INET_E_DEFAULT_ACTION; }
STDMETHODIMP CWebBrowserUI::GetZoneMappings(DWORD, IEnumString**, DWORD) { return INET_E_DEFAULT_ACTION; }

}  // namespace Veneer
