#pragma once
// The system web browser hosted as an ActiveX control: it navigates to a
// home page, hands its navigation events to a receiver, and serves the
// browser as document UI handler, command target and security manager.
#include <docobj.h>
#include <exdisp.h>
#include <mshtmhst.h>
#include <servprov.h>
#include <urlmon.h>

#include "ActiveX.h"

namespace Veneer {

// Implemented by the embedding code. The event operations receive the
// event's parameters in the event's order; their results are not used.
class IWebBrowserEventReceiver {
public:
    virtual void BeforeNavigate2(IDispatch* dispatch, VARIANT* url, VARIANT* flags, VARIANT* targetFrameName,
                                 VARIANT* postData, VARIANT* headers, VARIANT_BOOL* cancel) = 0;
    virtual void NavigateError(IDispatch* dispatch, VARIANT* url, VARIANT* frame, VARIANT* statusCode,
                               VARIANT_BOOL* cancel) = 0;
    virtual void NavigateComplete2(IDispatch* dispatch, VARIANT* url) = 0;
    // Not called by the host.
    virtual void Reserved() = 0;
    virtual void NewWindow3(IDispatch** dispatch, VARIANT_BOOL* cancel, DWORD flags, BSTR urlContext, BSTR url) = 0;
    virtual void CommandStateChange(long command, VARIANT_BOOL enable) = 0;
    virtual void TitleChange(BSTR title) = 0;
    virtual void DocumentComplete(IDispatch* dispatch, VARIANT* url) = 0;
    // IDocHostUIHandler's operations.
    virtual HRESULT ShowContextMenu(DWORD id, POINT* point, IUnknown* commandTarget, IDispatch* object) = 0;
    virtual HRESULT GetHostInfo(DOCHOSTUIINFO* info) = 0;
    virtual HRESULT ShowUI(DWORD id, IOleInPlaceActiveObject* activeObject, IOleCommandTarget* commandTarget,
                           IOleInPlaceFrame* frame, IOleInPlaceUIWindow* document) = 0;
    virtual HRESULT HideUI() = 0;
    virtual HRESULT UpdateUI() = 0;
    virtual HRESULT EnableModeless(BOOL enable) = 0;
    virtual HRESULT OnDocWindowActivate(BOOL activate) = 0;
    virtual HRESULT OnFrameWindowActivate(BOOL activate) = 0;
    virtual HRESULT ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frameWindow) = 0;
    virtual HRESULT TranslateAccelerator(LPMSG message, const GUID* group, DWORD command) = 0;
    virtual HRESULT GetOptionKeyPath(LPOLESTR* key, DWORD reserved) = 0;
    virtual HRESULT GetDropTarget(IDropTarget* dropTarget, IDropTarget** replacement) = 0;
    virtual HRESULT GetExternal(IDispatch** external) = 0;
    virtual HRESULT TranslateUrl(DWORD translate, LPWSTR urlIn, LPWSTR* urlOut) = 0;
    virtual HRESULT FilterDataObject(IDataObject* object, IDataObject** replacement) = 0;
    // IInternetSecurityManager::ProcessUrlAction's arguments.
    virtual HRESULT ProcessUrlAction(LPCWSTR url, DWORD action, BYTE* policy, DWORD policySize, BYTE* context,
                                     DWORD contextSize, DWORD flags, DWORD reserved) = 0;

protected:
    ~IWebBrowserEventReceiver() = default;
};

class CWebBrowserUI : public CActiveXUI,
                      public IDocHostUIHandler,
                      public IServiceProvider,
                      public IOleCommandTarget,
                      public IDispatch,
                      public ITranslateAccelerator,
                      public IInternetSecurityManager {
public:
    CWebBrowserUI();
    ~CWebBrowserUI() override;

    static CControlUI* CreateWebBrowserUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void ReleaseHostedControl() override;
    bool CreateHostedControl() override;
    // The receiver's ProcessUrlAction, or S_OK without a receiver.
    virtual HRESULT ForwardUrlAction(LPCWSTR url, DWORD action, BYTE* policy, DWORD policySize, BYTE* context,
                                     DWORD contextSize, DWORD flags, DWORD reserved);

    void SetEventReceiver(IWebBrowserEventReceiver* receiver) { m_receiver = receiver; }
    IWebBrowserEventReceiver* GetEventReceiver() const { return m_receiver; }
    void SetHomePage(const wchar_t* url) { m_homePage = url ? url : L""; }
    CUIString GetHomePage() const { return m_homePage; }
    void SetAutoNavigate(bool on) { m_autoNavigate = on; }
    bool IsAutoNavigate() const { return m_autoNavigate; }
    // Navigates the browser there, bypassing the cache.
    void Navigate(const wchar_t* url);
    IWebBrowser2* GetWebBrowser() const { return m_webBrowser; }
    HRESULT ConnectEvents(bool connect);

    // IUnknown (shared by the five COM interfaces)
    STDMETHOD(QueryInterface)(REFIID riid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    // IDocHostUIHandler
    STDMETHOD(ShowContextMenu)(DWORD id, POINT* point, IUnknown* commandTarget, IDispatch* object) override;
    STDMETHOD(GetHostInfo)(DOCHOSTUIINFO* info) override;
    STDMETHOD(ShowUI)(DWORD id, IOleInPlaceActiveObject* activeObject, IOleCommandTarget* commandTarget,
                      IOleInPlaceFrame* frame, IOleInPlaceUIWindow* document) override;
    STDMETHOD(HideUI)() override;
    STDMETHOD(UpdateUI)() override;
    STDMETHOD(EnableModeless)(BOOL enable) override;
    STDMETHOD(OnDocWindowActivate)(BOOL activate) override;
    STDMETHOD(OnFrameWindowActivate)(BOOL activate) override;
    STDMETHOD(ResizeBorder)(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frameWindow) override;
    STDMETHOD(TranslateAccelerator)(LPMSG message, const GUID* group, DWORD command) override;
    STDMETHOD(GetOptionKeyPath)(LPOLESTR* key, DWORD reserved) override;
    STDMETHOD(GetDropTarget)(IDropTarget* dropTarget, IDropTarget** replacement) override;
    STDMETHOD(GetExternal)(IDispatch** external) override;
    STDMETHOD(TranslateUrl)(DWORD translate, LPWSTR urlIn, LPWSTR* urlOut) override;
    STDMETHOD(FilterDataObject)(IDataObject* object, IDataObject** replacement) override;
    // IServiceProvider
    STDMETHOD(QueryService)(REFGUID service, REFIID riid, void** object) override;
    // IOleCommandTarget
    STDMETHOD(QueryStatus)(const GUID* group, ULONG count, OLECMD* commands, OLECMDTEXT* text) override;
    STDMETHOD(Exec)(const GUID* group, DWORD command, DWORD options, VARIANT* in, VARIANT* out) override;
    // IDispatch: the browser's DWebBrowserEvents2
    STDMETHOD(GetTypeInfoCount)(UINT* count) override;
    STDMETHOD(GetTypeInfo)(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHOD(Invoke)(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override;
    // ITranslateAccelerator: keys for the browser while the focus is in it.
    LRESULT TranslateAccelerator(MSG* message) override;
    // IInternetSecurityManager: the browser's own defaults throughout.
    STDMETHOD(SetSecuritySite)(IInternetSecurityMgrSite* site) override;
    STDMETHOD(GetSecuritySite)(IInternetSecurityMgrSite** site) override;
    STDMETHOD(MapUrlToZone)(LPCWSTR url, DWORD* zone, DWORD flags) override;
    STDMETHOD(GetSecurityId)(LPCWSTR url, BYTE* id, DWORD* idSize, DWORD_PTR reserved) override;
    STDMETHOD(ProcessUrlAction)(LPCWSTR url, DWORD action, BYTE* policy, DWORD policySize, BYTE* context,
                                DWORD contextSize, DWORD flags, DWORD reserved) override;
    STDMETHOD(QueryCustomPolicy)(LPCWSTR url, REFGUID key, BYTE** policy, DWORD* policySize, BYTE* context,
                                 DWORD contextSize, DWORD reserved) override;
    STDMETHOD(SetZoneMapping)(DWORD zone, LPCWSTR pattern, DWORD flags) override;
    STDMETHOD(GetZoneMappings)(DWORD zone, IEnumString** mappings, DWORD flags) override;

private:
    void ReleaseBrowser();
    HRESULT DispatchEvent(DISPID id, DISPPARAMS* params);
    void InstallUIHandler();

    IWebBrowser2* m_webBrowser = nullptr;
    LONG m_refs = 0;
    DWORD m_cookie = 0;
    CUIString m_homePage;
    bool m_autoNavigate = false;
    IWebBrowserEventReceiver* m_receiver = nullptr;
};

}  // namespace Veneer
