#pragma once
// The ActiveX tests' side of the stand-in control: its module (loaded by the
// same full path the hosts are given), its log, and COM on the test thread.
#include <windows.h>

#include <string>
#include <vector>

#include "ActiveX.h"
#include "StandInControl.h"

namespace standintest {

class Module {
public:
    // The module, loaded once; Path() is what a host's "modulename" takes.
    static Module& Get();
    static std::wstring Path();
    // Settings for the objects created from now on; clears the log too.
    void Reset(const standin::Settings& settings = standin::Settings());
    void Note(const wchar_t* entry);
    std::vector<std::wstring> Log();
    LONG LiveObjects();

private:
    Module();
    HMODULE m_module = nullptr;
};

// Where an entry first stands in the log at or after from; -1 when absent.
int Find(const std::vector<std::wstring>& log, const std::wstring& entry, int from = 0);
int Count(const std::vector<std::wstring>& log, const std::wstring& entry);
// The log's entries after the last one equal to mark (all when absent).
std::vector<std::wstring> After(const std::vector<std::wstring>& log, const std::wstring& mark);
std::wstring Join(const std::vector<std::wstring>& log);

// An event's arguments, given in the event's order (stored last first, as
// events carry them); the variants are cleared at the end.
struct EventArgs {
    explicit EventArgs(std::vector<VARIANT> values);
    ~EventArgs();
    EventArgs(const EventArgs&) = delete;
    EventArgs& operator=(const EventArgs&) = delete;
    std::vector<VARIANT> values;
    DISPPARAMS params = {};
};
VARIANT Text(const wchar_t* text);
VARIANT Number(long value);
VARIANT Pointer(VARTYPE type, void* value);   // a by-reference or object variant

// The hosted object's private interface (a reference added), or null.
standin::IStandInControl* Control(Veneer::CActiveXUI* host);
// The site the hosted object was given (a reference added), or null.
IOleInPlaceSiteWindowless* Site(Veneer::CActiveXUI* host);
// How often the manager's message filters hold the control.
int FilterEntries(Veneer::CPaintManagerUI& manager, Veneer::IMessageFilterUI* filter);
int TranslatorEntries(Veneer::CPaintManagerUI& manager, Veneer::ITranslateAccelerator* translator);
// The "VeneerActiveXWnd" children of a window.
int HostWindowCount(HWND parent);

}  // namespace standintest
