#pragma once
// The stand-in control: a small in-process COM server that the ActiveX,
// Flash and web browser hosts load by module name (it is never registered).
// It records every call a host makes on it, in order, in one log for the
// whole module, and lets a test steer it through a private interface and a
// few exported functions.
#include <windows.h>
#include <ole2.h>

namespace standin {

// A windowless control: draws its bounds in one colour, hits a
// sub-rectangle, takes the capture while its button is down.
const CLSID kWindowless = {0x4C1E2A7B, 0x93D0, 0x4F4B, {0xA6, 0x0E, 0x51, 0x7C, 0x2D, 0x88, 0x10, 0x01}};
// A windowed control: a flat-colour child of the site's window.
const CLSID kWindowed = {0x4C1E2A7B, 0x93D0, 0x4F4B, {0xA6, 0x0E, 0x51, 0x7C, 0x2D, 0x88, 0x10, 0x02}};
// The Flash player's CLSID: windowless, with the player's interface and an
// event connection point.
const CLSID kFlash = {0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// The system web browser's CLSID: windowed, IWebBrowser2 recording its
// navigations, a document with a UI-handler slot and a script-error event,
// and a DWebBrowserEvents2 connection point.
const CLSID kWebBrowser = {0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};

const IID kIidStandInControl = {0x4C1E2A7B, 0x93D0, 0x4F4B, {0xA6, 0x0E, 0x51, 0x7C, 0x2D, 0x88, 0x10, 0xFF}};

// What objects created from now on start with.
struct Settings {
    DWORD miscStatus = OLEMISC_RECOMPOSEONRESIZE;
    COLORREF colour = RGB(0x20, 0xA0, 0x40);
    // The hit area, relative to the drawn bounds' top-left corner.
    RECT hit = {10, 10, 30, 30};
    HRESULT initNewResult = S_OK;
    // The answer of IOleInPlaceActiveObject::TranslateAccelerator.
    HRESULT translateAnswer = S_FALSE;
};

// The private interface (QueryHostedControl with kIidStandInControl).
class IStandInControl : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE SetColour(COLORREF colour) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHitRect(const RECT* hit) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTranslateAnswer(HRESULT answer) = 0;
    // Calls every advised sink's Invoke with the arguments; the last answer.
    virtual HRESULT STDMETHODCALLTYPE Fire(DISPID id, DISPPARAMS* params, HRESULT* answer) = 0;
    // The client site it was given (a reference added), or null.
    virtual HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) = 0;
    // Its own child window (windowed kinds), or null.
    virtual HRESULT STDMETHODCALLTYPE GetChildWindow(HWND* window) = 0;
    // The browser's document (a reference added), and the UI handler that
    // the document was last given (a reference added, or null).
    virtual HRESULT STDMETHODCALLTYPE GetDocument(IUnknown** document) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUIHandler(IUnknown** handler) = 0;
};

// The module's exports, found with GetProcAddress.
typedef void(__cdecl* SetupProc)(const Settings* settings);
typedef void(__cdecl* NoteProc)(const wchar_t* entry);
typedef void(__cdecl* ClearLogProc)();
// The log's entries separated by '\n'; valid until the next call.
typedef const wchar_t*(__cdecl* ReadLogProc)();
typedef LONG(__cdecl* LiveObjectsProc)();

}  // namespace standin
