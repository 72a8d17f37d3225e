#pragma once
// The Shockwave Flash player hosted as an ActiveX control: its events
// (FSCommand, FlashCall, progress, ready state) go to a receiver that the
// embedding code supplies.
#include "ActiveX.h"

namespace ShockwaveFlashObjects {

extern const IID IID_IShockwaveFlash;
extern const IID DIID__IShockwaveFlashEvents;

// The player's own interface; the host only takes its connection points.
struct IShockwaveFlash : public IDispatch {};

// The player's event dispinterface, answered by the host.
struct _IShockwaveFlashEvents : public IDispatch {};

}  // namespace ShockwaveFlashObjects

namespace Veneer {

// Implemented by the embedding code.
class IFlashEventReceiver {
public:
    // Called once when the Flash host is destroyed.
    virtual void Release() = 0;
    // Not called by the host.
    virtual void Reserved() = 0;
    virtual HRESULT OnReadyStateChange(long state) = 0;
    virtual HRESULT OnProgress(long percentDone) = 0;
    virtual HRESULT FSCommand(BSTR command, BSTR arguments) = 0;
    virtual HRESULT FlashCall(BSTR request) = 0;

protected:
    ~IFlashEventReceiver() = default;
};

class CFlashUI : public CActiveXUI, public ShockwaveFlashObjects::_IShockwaveFlashEvents, public ITranslateAccelerator {
public:
    CFlashUI();
    ~CFlashUI() override;

    static CControlUI* CreateFlashUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void ReleaseHostedControl() override;
    bool CreateHostedControl() override;

    // The receiver is released (its first operation) when the host is destroyed.
    void SetEventReceiver(IFlashEventReceiver* receiver) { m_receiver = receiver; }
    IFlashEventReceiver* GetEventReceiver() const { return m_receiver; }
    // Advises (true) or unadvises the player's event connection; S_FALSE without a player.
    HRESULT ConnectEvents(bool connect);

    // The event sink.
    STDMETHOD(QueryInterface)(REFIID riid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(GetTypeInfoCount)(UINT* count) override;
    STDMETHOD(GetTypeInfo)(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHOD(Invoke)(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override;

    // Keys for the player while the keyboard focus is in its window.
    LRESULT TranslateAccelerator(MSG* message) override;

private:
    void ReleasePlayer();

    ShockwaveFlashObjects::IShockwaveFlash* m_flash = nullptr;
    LONG m_sinkRefs = 0;
    DWORD m_cookie = 0;
    IFlashEventReceiver* m_receiver = nullptr;
};

}  // namespace Veneer
