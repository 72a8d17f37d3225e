#include "Flash.h"

#include <olectl.h>

namespace ShockwaveFlashObjects {

const IID IID_IShockwaveFlash = {0xD27CDB6C, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const IID DIID__IShockwaveFlashEvents = {0xD27CDB6D, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

}  // namespace ShockwaveFlashObjects

using namespace ShockwaveFlashObjects;

namespace Veneer {

namespace {
const DISPID kFSCommand = 150;
const DISPID kFlashCall = 197;
const DISPID kOnProgress = 1958;
}  // namespace

CFlashUI::CFlashUI() { CLSIDFromString(L"{D27CDB6E-AE6D-11CF-96B8-444553540000}", &m_clsid); }

CFlashUI::~CFlashUI() {
    if (m_receiver) {
        IFlashEventReceiver* receiver = m_receiver;
        m_receiver = nullptr;
        receiver->Release();
    }
    // The whole release while this object is intact: the player may still
    // call its event sink while it closes.
    ReleaseHostedControl();
}

CControlUI* CFlashUI::CreateFlashUI() { return new CFlashUI; }

const wchar_t* CFlashUI::GetClassTag() const { return L"Flash"; }

void* CFlashUI::FindInterface(const wchar_t* tag) {
    if (tag && CompareTextNoCase(tag, L"Flash") == 0) return this;
    return CActiveXUI::FindInterface(tag);
}

void CFlashUI::ReleasePlayer() {
    ConnectEvents(false);
    if (m_flash) {
        IShockwaveFlash* flash = m_flash;
        m_flash = nullptr;
        flash->Release();
    }
}

// The player's events and interface go first, then the hosted object
// itself: nothing stays active with a site that names this control.
void CFlashUI::ReleaseHostedControl() {
    ReleasePlayer();
    CActiveXUI::ReleaseHostedControl();
}

bool CFlashUI::CreateHostedControl() {
    if (!CActiveXUI::CreateHostedControl()) return false;
    QueryHostedControl(IID_IShockwaveFlash, reinterpret_cast<void**>(&m_flash));
    ConnectEvents(true);
    return true;
}

HRESULT CFlashUI::ConnectEvents(bool connect) {
    if (!m_flash) return S_FALSE;
    return ConnectSink(m_flash, DIID__IShockwaveFlashEvents, static_cast<_IShockwaveFlashEvents*>(this), connect,
                       m_cookie);
}

STDMETHODIMP CFlashUI::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDispatch && riid != DIID__IShockwaveFlashEvents) return E_NOINTERFACE;
    *object = static_cast<_IShockwaveFlashEvents*>(this);
    AddRef();
    return S_OK;
}

// The sink lives in the control: its count never deletes anything.
STDMETHODIMP_(ULONG) CFlashUI::AddRef() { return ULONG(InterlockedIncrement(&m_sinkRefs)); }
STDMETHODIMP_(ULONG) CFlashUI::Release() { return ULONG(InterlockedDecrement(&m_sinkRefs)); }

STDMETHODIMP CFlashUI::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
STDMETHODIMP CFlashUI::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
STDMETHODIMP CFlashUI::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

STDMETHODIMP CFlashUI::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    static const VARTYPE kTwoTexts[] = {VT_BSTR, VT_BSTR};
    static const VARTYPE kNumber[] = {VT_I4};
    HRESULT hr = S_OK;
    switch (id) {
    case kFSCommand:
        hr = CheckEventArguments(params, kTwoTexts, 2);
        if (FAILED(hr)) return hr;
        return m_receiver ? m_receiver->FSCommand(V_BSTR(&EventArgument(params, 0)), V_BSTR(&EventArgument(params, 1)))
                          : S_OK;
    case kFlashCall:
        if (FAILED(CheckEventArguments(params, kTwoTexts, 1))) return E_INVALIDARG;
        return m_receiver ? m_receiver->FlashCall(V_BSTR(&EventArgument(params, 0))) : S_OK;
    case kOnProgress:
    case DISPID_READYSTATECHANGE:
        hr = CheckEventArguments(params, kNumber, 1);
        if (FAILED(hr)) return hr;
        if (!m_receiver) return S_OK;
        return id == kOnProgress ? m_receiver->OnProgress(V_I4(&EventArgument(params, 0)))
                                 : m_receiver->OnReadyStateChange(V_I4(&EventArgument(params, 0)));
    default:
        return S_OK;
    }
}

LRESULT CFlashUI::TranslateAccelerator(MSG* message) {
    if (!message || message->message < WM_KEYFIRST || message->message > WM_KEYLAST) return S_FALSE;
    if (!m_flash) return E_NOTIMPL;
    return TranslateForHostedObject(message);
}

}  // namespace Veneer
