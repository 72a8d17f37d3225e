#include "StandInSupport.h"

#include <gtest/gtest.h>

#include "HostPaths.h"

using namespace Veneer;

namespace standintest {

namespace {

// COM and OLE on the test thread for the whole program.
class OleEnvironment : public ::testing::Environment {
public:
    void SetUp() override { OleInitialize(nullptr); }
    void TearDown() override { OleUninitialize(); }
};
::testing::Environment* const g_ole = ::testing::AddGlobalTestEnvironment(new OleEnvironment);

template <typename T>
T Export(HMODULE module, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

int Entries(const CPointerArray& list, void* item) {
    int count = 0;
    for (int i = 0; i < list.GetSize(); ++i) count += list.GetAt(i) == item;
    return count;
}

}  // namespace

std::wstring Module::Path() {
    std::wstring path = Widen(HostEnvPath("STANDIN_OCX"));
    for (wchar_t& ch : path) {
        if (ch == L'/') ch = L'\\';
    }
    return path;
}

Module::Module() { m_module = LoadLibraryW(Path().c_str()); }

Module& Module::Get() {
    static Module module;
    return module;
}

void Module::Reset(const standin::Settings& settings) {
    Export<standin::SetupProc>(m_module, "StandInSetup")(&settings);
    Export<standin::ClearLogProc>(m_module, "StandInClearLog")();
}

void Module::Note(const wchar_t* entry) { Export<standin::NoteProc>(m_module, "StandInNote")(entry); }

std::vector<std::wstring> Module::Log() {
    std::vector<std::wstring> out;
    const wchar_t* text = Export<standin::ReadLogProc>(m_module, "StandInReadLog")();
    std::wstring line;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p == L'\n') {
            out.push_back(line);
            line.clear();
        } else {
            line += *p;
        }
    }
    return out;
}

LONG Module::LiveObjects() { return Export<standin::LiveObjectsProc>(m_module, "StandInLiveObjects")(); }

int Find(const std::vector<std::wstring>& log, const std::wstring& entry, int from) {
    for (size_t i = size_t(from); i < log.size(); ++i) {
        if (log[i] == entry) return int(i);
    }
    return -1;
}

int Count(const std::vector<std::wstring>& log, const std::wstring& entry) {
    int count = 0;
    for (const std::wstring& line : log) count += line == entry;
    return count;
}

std::vector<std::wstring> After(const std::vector<std::wstring>& log, const std::wstring& mark) {
    for (size_t i = log.size(); i > 0; --i) {
        if (log[i - 1] == mark) return std::vector<std::wstring>(log.begin() + i, log.end());
    }
    return log;
}

std::wstring Join(const std::vector<std::wstring>& log) {
    std::wstring out;
    for (const std::wstring& line : log) out += line + L" | ";
    return out;
}

EventArgs::EventArgs(std::vector<VARIANT> given) : values(given.rbegin(), given.rend()) {
    params.cArgs = UINT(values.size());
    params.rgvarg = values.empty() ? nullptr : values.data();
}

EventArgs::~EventArgs() {
    for (VARIANT& v : values) VariantClear(&v);
}

VARIANT Text(const wchar_t* text) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text);
    return v;
}

VARIANT Number(long value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}

VARIANT Pointer(VARTYPE type, void* value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = type;
    V_BYREF(&v) = value;
    return v;
}

standin::IStandInControl* Control(CActiveXUI* host) {
    standin::IStandInControl* control = nullptr;
    if (FAILED(host->QueryHostedControl(standin::kIidStandInControl, reinterpret_cast<void**>(&control)))) {
        return nullptr;
    }
    return control;
}

IOleInPlaceSiteWindowless* Site(CActiveXUI* host) {
    IOleObject* object = nullptr;
    if (FAILED(host->QueryHostedControl(IID_IOleObject, reinterpret_cast<void**>(&object)))) return nullptr;
    IOleClientSite* client = nullptr;
    object->GetClientSite(&client);
    object->Release();
    if (!client) return nullptr;
    IOleInPlaceSiteWindowless* site = nullptr;
    client->QueryInterface(IID_IOleInPlaceSiteWindowless, reinterpret_cast<void**>(&site));
    client->Release();
    return site;
}

int FilterEntries(CPaintManagerUI& manager, IMessageFilterUI* filter) {
    return Entries(manager.GetMessageFilters(), filter);
}

int TranslatorEntries(CPaintManagerUI& manager, ITranslateAccelerator* translator) {
    return Entries(manager.GetKeyTranslators(), translator);
}

int HostWindowCount(HWND parent) {
    int count = 0;
    for (HWND child = FindWindowExW(parent, nullptr, L"VeneerActiveXWnd", nullptr); child;
         child = FindWindowExW(parent, child, L"VeneerActiveXWnd", nullptr)) {
        ++count;
    }
    return count;
}

}  // namespace standintest
