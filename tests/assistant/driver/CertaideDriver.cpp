#include "CertaideDriver.h"

#include <dbt.h>
#include <prsht.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwctype>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "DesktopInput.h"
#include "SkinXml.h"

#ifndef CERTAIDE_SKIN_SOURCE_DIR
#define CERTAIDE_SKIN_SOURCE_DIR ""
#endif

namespace certdrive {

const wchar_t MAIN_WINDOW_CLASS[] = L"VeneerMainWnd";
const wchar_t COMBO_DROPDOWN_CLASS[] = L"VeneerComboWnd";
const GUID USB_DEVICE_INTERFACE = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

namespace {

void SetError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

std::string Format(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string ClassOf(HWND window) {
    wchar_t name[128] = {};
    GetClassNameW(window, name, 128);
    return Utf8(name);
}

}  // namespace

std::wstring WindowsPath(const std::string& path) {
    std::wstring out = Wide(path);
    if (!out.empty() && out[0] == L'/') {
        std::replace(out.begin(), out.end(), L'/', L'\\');
        out = L"Z:" + out;
    }
    return out;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &out[0], n);
    return out;
}

// ------------------------------------------------------------ the process

Process::~Process() {
    if (m_process) CloseHandle(m_process);
}

bool Process::Start(const std::wstring& program, const std::wstring& arguments,
                    const std::vector<std::pair<std::wstring, std::wstring>>& env, std::string* error) {
    // The parent's block without the names we set, then ours.
    std::wstring block;
    if (wchar_t* parent = GetEnvironmentStringsW()) {
        for (const wchar_t* p = parent; *p; p += wcslen(p) + 1) {
            std::wstring entry = p;
            bool replaced = false;
            for (const auto& e : env) {
                const std::wstring prefix = e.first + L"=";
                if (entry.size() >= prefix.size() && _wcsnicmp(entry.c_str(), prefix.c_str(), prefix.size()) == 0)
                    replaced = true;
            }
            if (!replaced) block += entry + L'\0';
        }
        FreeEnvironmentStringsW(parent);
    }
    for (const auto& e : env) block += e.first + L"=" + e.second + L'\0';
    block += L'\0';

    std::wstring command = L"\"" + program + L"\"";
    if (!arguments.empty()) command += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        &block[0], nullptr, &startup, &info)) {
        SetError(error, Format("cannot start %s: error %lu", Utf8(program).c_str(), GetLastError()));
        return false;
    }
    CloseHandle(info.hThread);
    if (m_process) CloseHandle(m_process);
    m_process = info.hProcess;
    m_id = info.dwProcessId;
    return true;
}

bool Process::Running() const { return m_process && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT; }

bool Process::WaitExit(DWORD ms, DWORD* exitCode) {
    if (!m_process || WaitForSingleObject(m_process, ms) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(m_process, &code);
    if (exitCode) *exitCode = code;
    return true;
}

void Process::Kill() {
    if (Running()) {
        TerminateProcess(m_process, 1);
        WaitForSingleObject(m_process, 5000);
    }
}

// ------------------------------------------------------------ windows

namespace {

struct WindowSearch {
    DWORD processId;
    const wchar_t* className;
    bool visibleOnly;
    HWND visible = nullptr;
    HWND hidden = nullptr;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
    auto* s = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (s->processId && pid != s->processId) return TRUE;
    wchar_t name[128] = {};
    GetClassNameW(window, name, 128);
    if (wcscmp(name, s->className) != 0) return TRUE;
    if (IsWindowVisible(window)) {
        if (!s->visible) s->visible = window;
    } else if (!s->hidden) {
        s->hidden = window;
    }
    return TRUE;
}

BOOL CALLBACK ListWindow(HWND window, LPARAM param) {
    auto* s = reinterpret_cast<std::pair<DWORD, std::string*>*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != s->first) return TRUE;
    RECT r = {};
    GetWindowRect(window, &r);
    *s->second += Format("%s%s %p(%ld,%ld)-(%ld,%ld)%s owner %p", s->second->empty() ? "" : "; ",
                         ClassOf(window).c_str(), static_cast<void*>(window), r.left, r.top, r.right, r.bottom,
                         IsWindowVisible(window) ? "" : " hidden", static_cast<void*>(GetWindow(window, GW_OWNER)));
    return TRUE;
}

}  // namespace

HWND FindProcessWindow(DWORD processId, const wchar_t* className, bool visibleOnly) {
    WindowSearch s{processId, className, visibleOnly};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&s));
    if (s.visible) return s.visible;
    return visibleOnly ? nullptr : s.hidden;
}

HWND WaitProcessWindow(DWORD processId, const wchar_t* className, DWORD ms, bool visibleOnly) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND found = FindProcessWindow(processId, className, visibleOnly)) return found;
        if (GetTickCount() - start >= ms) return nullptr;
        Sleep(50);
    }
}

std::string DescribeProcessWindows(DWORD processId) {
    std::string out;
    std::pair<DWORD, std::string*> s(processId, &out);
    EnumWindows(ListWindow, reinterpret_cast<LPARAM>(&s));
    return out.empty() ? "no windows" : out;
}

// ------------------------------------------------------------ the certificate dialog

namespace {

struct DialogSearch {
    DWORD processId;
    HWND owner;
    HWND found;
};

BOOL CALLBACK MatchCertificateDialog(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<DialogSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[16] = {0};
    GetClassNameW(hwnd, cls, 16);
    // Wine's dialog has no owner (its CRYPTUI ignores hwndParent): there it
    // must at least run on the owner's thread.
    const HWND owner = GetWindow(hwnd, GW_OWNER);
    const bool owned = owner == s->owner || (!owner && GetWindowThreadProcessId(hwnd, nullptr) ==
                                                          GetWindowThreadProcessId(s->owner, nullptr));
    if (pid == s->processId && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(hwnd) && owned) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Hex digits only, upper case, without leading zeros.
std::string SerialDigits(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            if (digits.empty() && c == '0') continue;
            digits += char(std::toupper(static_cast<unsigned char>(c)));
        }
    return digits;
}

// Whether a field's text shows that serial (SerialDigits form): the bytes
// as written ("1a 2b ...", Windows' order) or least significant first
// (Wine's order).
bool ShowsSerial(const std::string& text, const std::string& wanted) {
    if (SerialDigits(text) == wanted) return true;
    std::vector<std::string> bytes;
    size_t at = 0;
    while ((at = text.find_first_not_of(" \t\r\n", at)) != std::string::npos) {
        const size_t end = std::min(text.find_first_of(" \t\r\n", at), text.size());
        bytes.push_back(text.substr(at, end - at));
        at = end;
    }
    std::string reversed;
    for (auto it = bytes.rbegin(); it != bytes.rend(); ++it) {
        if (it->size() != 2) return false;
        reversed += *it;
    }
    return SerialDigits(reversed) == wanted;
}

struct TextSearch {
    std::vector<std::string>* texts;
    HWND list;
};

BOOL CALLBACK CollectTexts(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<TextSearch*>(param);
    wchar_t cls[32] = {0};
    GetClassNameW(hwnd, cls, 32);
    if (_wcsicmp(cls, L"SysListView32") == 0 && IsWindowVisible(hwnd)) s->list = hwnd;
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length) || length == 0 ||
        length > 4096)
        return TRUE;
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (SendMessageTimeoutW(hwnd, WM_GETTEXT, WPARAM(text.size()), reinterpret_cast<LPARAM>(&text[0]),
                            SMTO_ABORTIFHUNG, 2000, &copied)) {
        text.resize(copied);
        s->texts->push_back(Utf8(text));
    }
    return TRUE;
}

}  // namespace

HWND WaitCertificateDialog(DWORD processId, HWND owner, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        DialogSearch s{processId, owner, nullptr};
        EnumWindows(MatchCertificateDialog, reinterpret_cast<LPARAM>(&s));
        if (s.found) return s.found;
        if (GetTickCount() - start >= ms) return nullptr;
        Sleep(20);
    }
}

bool CertificateDialogShowsSerial(HWND dialog, const std::string& serialHex, std::string* seen) {
    const std::string wanted = SerialDigits(serialHex);
    if (wanted.empty() || !IsWindow(dialog)) return false;
    // The property sheet's second page: the certificate's fields.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(dialog, PSM_SETCURSEL, 1, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    Sleep(300);
    std::vector<std::string> texts, read;
    HWND list = nullptr;
    for (int row = 0; row < 24; ++row) {
        texts.clear();
        TextSearch s{&texts, nullptr};
        EnumChildWindows(dialog, CollectTexts, reinterpret_cast<LPARAM>(&s));
        for (const std::string& t : texts) {
            if (ShowsSerial(t, wanted)) return true;
            if (std::find(read.begin(), read.end(), t) == read.end()) read.push_back(t);
        }
        if (!list) {
            list = s.list;
            if (!list) break;
            PostMessageW(list, WM_KEYDOWN, VK_HOME, 0);
        } else {
            PostMessageW(list, WM_KEYDOWN, VK_DOWN, 0);
        }
        Sleep(150);
    }
    if (seen) {
        seen->clear();
        for (const std::string& t : read) *seen += "[" + t + "]";
        if (!list) *seen += " (no field list)";
    }
    return false;
}

bool CloseCertificateDialog(HWND dialog, DWORD ms) {
    PostMessageW(dialog, PSM_PRESSBUTTON, PSBTN_OK, 0);
    const DWORD start = GetTickCount();
    while (IsWindow(dialog)) {
        if (GetTickCount() - start >= ms) return false;
        Sleep(50);
    }
    return true;
}

int SystemDpi() {
    HDC screen = GetDC(nullptr);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

// ------------------------------------------------------------ the skin

namespace {

bool SameName(const std::wstring& a, const wchar_t* b) { return b && _wcsicmp(a.c_str(), b) == 0; }

// Up to four numbers separated by one character each ("l,t,r,b").
int ReadNumbers(const wchar_t* text, double* out, int count) {
    if (!text) return 0;
    int n = 0;
    const wchar_t* p = text;
    while (n < count && *p) {
        wchar_t* end = nullptr;
        double v = wcstod(p, &end);
        if (end == p) break;
        out[n++] = v;
        p = end;
        if (*p) ++p;
    }
    return n;
}

double Number(const SkinLayout::Element& e, const wchar_t* name, double fallback = 0) {
    double v = fallback;
    ReadNumbers(e.Attribute(name), &v, 1);
    return v;
}

struct Box {
    double l = 0, t = 0, r = 0, b = 0;
};

Box Quad(const SkinLayout::Element& e, const wchar_t* name) {
    double v[4] = {0, 0, 0, 0};
    ReadNumbers(e.Attribute(name), v, 4);
    return Box{v[0], v[1], v[2], v[3]};
}

bool IsFloat(const SkinLayout::Element& e) {
    const wchar_t* f = e.Attribute(L"float");
    return f && (wcscmp(f, L"true") == 0 || wcschr(f, L','));
}

bool IsShown(const SkinLayout::Element& e) {
    const wchar_t* v = e.Attribute(L"visible");
    return !v || wcscmp(v, L"false") != 0;
}

// The fixed size along one axis: "width"/"height", else what "pos" gives.
double FixedSize(const SkinLayout::Element& e, bool vertical) {
    const double fixed = Number(e, vertical ? L"height" : L"width", 0);
    if (fixed > 0) return fixed;
    if (e.Attribute(L"pos")) {
        Box p = Quad(e, L"pos");
        const double d = vertical ? p.b - p.t : p.r - p.l;
        if (d > 0) return d;
    }
    return 0;
}

}  // namespace

const wchar_t* SkinLayout::Element::Attribute(const wchar_t* name) const {
    for (const auto& a : attributes)
        if (SameName(a.first, name)) return a.second.c_str();
    return nullptr;
}

std::wstring SkinLayout::SourceFolder() {
    wchar_t buffer[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableW(L"CERTAIDE_SKIN_SOURCES", buffer, MAX_PATH);
    if (n > 0 && n < MAX_PATH) return WindowsPath(Utf8(buffer));
    return WindowsPath(CERTAIDE_SKIN_SOURCE_DIR);
}

bool SkinLayout::Load(const std::wstring& fileName, std::string* error) {
    const std::wstring path = SourceFolder() + L"\\" + fileName;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        SetError(error, "cannot read the layout " + Utf8(path));
        return false;
    }
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    if (!bytes.empty()) ReadFile(file, &bytes[0], DWORD(bytes.size()), &read, nullptr);
    CloseHandle(file);
    bytes.resize(read);
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    return LoadText(Wide(bytes), error);
}

bool SkinLayout::LoadText(const std::wstring& text, std::string* error) {
    m_elements.clear();
    Veneer::CSkinXml xml;
    if (!xml.LoadFromText(text.c_str())) {
        SetError(error, "the layout does not parse: " + Utf8(xml.GetLastErrorMessage()) + " at " +
                            Utf8(xml.GetLastErrorLocation()));
        return false;
    }
    // Flatten the tree: each element with its attributes and children.
    struct Walk {
        std::vector<Element>& out;
        int Add(Veneer::CSkinXmlNode node, int parent) {
            Element e;
            e.tag = node.GetName();
            e.parent = parent;
            const int count = node.GetAttributeCount();
            for (int i = 0; i < count; ++i) e.attributes.emplace_back(node.GetAttributeName(i), node.GetAttributeValue(i));
            out.push_back(e);
            const int index = int(out.size()) - 1;
            for (Veneer::CSkinXmlNode child = node.GetChild(); child.IsValid(); child = child.GetSibling()) {
                const int c = Add(child, index);
                out[index].children.push_back(c);
            }
            return index;
        }
    } walk{m_elements};
    walk.Add(xml.GetRoot(), -1);
    return !m_elements.empty();
}

int SkinLayout::Find(const std::wstring& name) const {
    for (size_t i = 0; i < m_elements.size(); ++i)
        if (SameName(name, m_elements[i].Attribute(L"name"))) return int(i);
    return -1;
}

bool SkinLayout::Has(const std::wstring& name) const { return Find(name) >= 0; }

const SkinLayout::Element* SkinLayout::FindByAttribute(const wchar_t* attribute, const std::wstring& value) const {
    for (const Element& e : m_elements)
        if (SameName(value, e.Attribute(attribute))) return &e;
    return nullptr;
}

bool SkinLayout::ControlRect(const std::wstring& name, SIZE client, int dpi, RECT* rect) const {
    const int target = Find(name);
    if (target < 0) return false;
    const double scale = DpiScale(dpi);
    // The chain from the root's first control down to the target.
    std::vector<int> chain;
    for (int i = target; i > 0; i = m_elements[i].parent) chain.push_back(i);
    std::reverse(chain.begin(), chain.end());

    // Layout units: the client area unscaled; the result is scaled at the end.
    Box item{0, 0, client.cx / scale, client.cy / scale};
    int parent = 0;  // the "Window" element: its first control fills the client area
    for (int index : chain) {
        const Element& e = m_elements[index];
        const Element& p = m_elements[parent];
        Box placed = item;
        if (parent == 0) {
            placed = item;
        } else if (IsFloat(e)) {
            // At its fixed position inside the parent's item rectangle, or
            // by the float percentages of the parent's size.
            Box pos = Quad(e, L"pos");
            const double x = pos.l < 0 ? pos.r : pos.l, y = pos.t < 0 ? pos.b : pos.t;
            const double w = std::max(0.0, pos.r - pos.l), h = std::max(0.0, pos.b - pos.t);
            double pct[4] = {0, 0, 0, 0};
            const wchar_t* f = e.Attribute(L"float");
            if (f && wcschr(f, L',')) ReadNumbers(f, pct, 4);
            const double W = item.r - item.l, H = item.b - item.t;
            placed.l = item.l + std::trunc(W * pct[0]) + x;
            placed.t = item.t + std::trunc(H * pct[1]) + y;
            placed.r = item.l + std::trunc(W * pct[2]) + x + w;
            placed.b = item.t + std::trunc(H * pct[3]) + y + h;
            if (pct[2] == 0 && pct[3] == 0 && pct[0] == 0 && pct[1] == 0) {
                placed.r = placed.l + w;
                placed.b = placed.t + h;
            }
        } else {
            const Box inset = Quad(p, L"inset");
            Box area{item.l + inset.l, item.t + inset.t, item.r - inset.r, item.b - inset.b};
            const bool vertical = _wcsicmp(p.tag.c_str(), L"VerticalLayout") == 0;
            const bool horizontal = _wcsicmp(p.tag.c_str(), L"HorizontalLayout") == 0;
            const Box pad = Quad(e, L"padding");
            if (vertical || horizontal) {
                // Fixed sizes and paddings first; the rest is shared by the
                // children without a size.
                const double gap = Number(p, L"childpadding", 0);
                const double total = vertical ? area.b - area.t : area.r - area.l;
                double fixed = 0;
                int stretchy = 0, counted = 0;
                for (int c : p.children) {
                    const Element& s = m_elements[c];
                    if (!IsShown(s) || IsFloat(s)) continue;
                    const Box sp = Quad(s, L"padding");
                    fixed += vertical ? sp.t + sp.b : sp.l + sp.r;
                    const double size = FixedSize(s, vertical);
                    if (size > 0) fixed += size;
                    else ++stretchy;
                    ++counted;
                }
                if (counted > 1) fixed += gap * (counted - 1);
                const double share = stretchy ? std::max(0.0, (total - fixed) / stretchy) : 0;
                double cursor = vertical ? area.t : area.l;
                for (int c : p.children) {
                    const Element& s = m_elements[c];
                    if (!IsShown(s) || IsFloat(s)) continue;
                    const Box sp = Quad(s, L"padding");
                    double size = FixedSize(s, vertical);
                    if (size <= 0) size = share;
                    cursor += vertical ? sp.t : sp.l;
                    if (c == index) {
                        const double across = FixedSize(s, !vertical);
                        if (vertical) {
                            placed.t = cursor;
                            placed.b = cursor + size;
                            placed.l = area.l + sp.l;
                            placed.r = across > 0 ? placed.l + across : area.r - sp.r;
                        } else {
                            placed.l = cursor;
                            placed.r = cursor + size;
                            placed.t = area.t + sp.t;
                            placed.b = across > 0 ? placed.t + across : area.b - sp.b;
                        }
                        break;
                    }
                    cursor += size + (vertical ? sp.b : sp.r) + gap;
                }
            } else {
                placed.l = area.l + pad.l;
                placed.t = area.t + pad.t;
                const double w = FixedSize(e, false), h = FixedSize(e, true);
                placed.r = w > 0 ? placed.l + w : area.r - pad.r;
                placed.b = h > 0 ? placed.t + h : area.b - pad.b;
            }
        }
        item = placed;
        parent = index;
    }
    rect->left = LONG(std::lround(item.l * scale));
    rect->top = LONG(std::lround(item.t * scale));
    rect->right = LONG(std::lround(item.r * scale));
    rect->bottom = LONG(std::lround(item.b * scale));
    return true;
}

std::wstring CatalogText(const std::wstring& id) {
    SkinLayout catalog;
    if (!catalog.Load(L"lan_cn.xml", nullptr)) return std::wstring();
    const SkinLayout::Element* e = catalog.FindByAttribute(L"id", id);
    const wchar_t* value = e ? e->Attribute(L"value") : nullptr;
    return value ? value : L"";
}

// ------------------------------------------------------------ input

namespace {

// A click at a screen point: move, then down and up, each event carrying
// the point, as a mouse's events do.
void ClickScreen(POINT screen, bool right) {
    desk::MoveTo(screen);
    desk::Button(screen, right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN);
    desk::Button(screen, right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP);
}

bool ControlCentre(HWND window, const SkinLayout& layout, const std::wstring& name, POINT* centre, RECT* rect,
                   std::string* error) {
    RECT client = {};
    GetClientRect(window, &client);
    RECT r = {};
    if (!layout.ControlRect(name, SIZE{client.right, client.bottom}, SystemDpi(), &r)) {
        SetError(error, "no control \"" + Utf8(name) + "\" in the layout");
        return false;
    }
    if (rect) *rect = r;
    centre->x = (r.left + r.right) / 2;
    centre->y = (r.top + r.bottom) / 2;
    return true;
}

}  // namespace

bool BringToFront(HWND window, DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        SetForegroundWindow(window);
        if (GetForegroundWindow() == window) return true;
        Sleep(50);
    } while (GetTickCount() - start < ms);
    return GetForegroundWindow() == window;
}

bool ClickAt(HWND window, POINT client, bool right, std::string* error) {
    if (!IsWindow(window)) {
        SetError(error, "no window to click");
        return false;
    }
    BringToFront(window);
    POINT screen = client;
    ClientToScreen(window, &screen);
    // The window must be what lies under the point (just shown or raised,
    // it may take a moment).
    HWND under = nullptr;
    for (int i = 0; i < 100; ++i) {
        under = WindowFromPoint(screen);
        if (under == window || (under && GetAncestor(under, GA_ROOT) == window)) break;
        Sleep(20);
    }
    if (under != window && !(under && GetAncestor(under, GA_ROOT) == window)) {
        SetError(error, Format("the point (%ld,%ld) shows %s, not the window", screen.x, screen.y,
                               under ? ClassOf(under).c_str() : "nothing"));
        return false;
    }
    ClickScreen(screen, right);
    return true;
}

bool ClickControl(HWND window, const SkinLayout& layout, const std::wstring& name, std::string* error) {
    POINT centre = {};
    if (!ControlCentre(window, layout, name, &centre, nullptr, error)) return false;
    return ClickAt(window, centre, false, error);
}

bool ChooseComboRow(HWND window, const SkinLayout& layout, const std::wstring& combo, int row, std::string* error) {
    POINT centre = {};
    RECT rect = {};
    if (!ControlCentre(window, layout, combo, &centre, &rect, error)) return false;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HWND dropdown = FindProcessWindow(pid, COMBO_DROPDOWN_CLASS, true);
    if (!dropdown) {
        if (!ClickAt(window, centre, false, error)) return false;
        dropdown = WaitProcessWindow(pid, COMBO_DROPDOWN_CLASS, 5000, true);
    }
    if (!dropdown) {
        SetError(error, "the combo \"" + Utf8(combo) + "\" opened no drop-down");
        return false;
    }
    const double scale = DpiScale(SystemDpi());
    RECT client = {};
    GetClientRect(dropdown, &client);
    const LONG rowHeight = LONG(std::lround(24 * scale));
    POINT point = {client.right / 2, LONG(1 + rowHeight * row + rowHeight / 2)};
    if (point.y >= client.bottom) {
        SetError(error, Format("row %d lies below the drop-down (%ld px high)", row, client.bottom));
        return false;
    }
    // The drop-down holds the focus; clicking it must not bring the main
    // window forward first (that would close it).
    POINT screen = point;
    ClientToScreen(dropdown, &screen);
    ClickScreen(screen, false);
    for (int i = 0; i < 100 && IsWindow(dropdown) && IsWindowVisible(dropdown); ++i) Sleep(20);
    return true;
}

void PressKey(WORD vk, const std::vector<WORD>& modifiers) { desk::Key(vk, modifiers); }

void TypeText(const std::wstring& text) {
    for (wchar_t c : text) {
        if (c >= L'0' && c <= L'9') {
            PressKey(WORD(c));
        } else if (c >= L'a' && c <= L'z') {
            PressKey(WORD(c - L'a' + L'A'));
        } else if (c >= L'A' && c <= L'Z') {
            PressKey(WORD(c), {VK_SHIFT});
        } else {
            INPUT in[2] = {};
            for (int i = 0; i < 2; ++i) {
                in[i].type = INPUT_KEYBOARD;
                in[i].ki.wScan = c;
                in[i].ki.dwFlags = KEYEVENTF_UNICODE | (i ? KEYEVENTF_KEYUP : 0);
            }
            SendInput(2, in, sizeof(INPUT));
            Sleep(30);
        }
    }
}

// ------------------------------------------------------------ the tray

namespace {

struct TraySearch {
    std::vector<HWND> icons;
};

bool IsTrayIconClass(const wchar_t* name) {
    return wcscmp(name, L"__winex11_tray_icon") == 0 || wcscmp(name, L"__wine_tray_icon") == 0;
}

BOOL CALLBACK CollectTrayChild(HWND window, LPARAM param) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (IsTrayIconClass(name) && IsWindowVisible(window)) reinterpret_cast<TraySearch*>(param)->icons.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectTrayTop(HWND window, LPARAM param) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (IsTrayIconClass(name)) {
        if (IsWindowVisible(window)) reinterpret_cast<TraySearch*>(param)->icons.push_back(window);
    } else if (wcscmp(name, L"__winex11_standalone_tray") == 0 || wcscmp(name, L"Shell_TrayWnd") == 0) {
        EnumChildWindows(window, CollectTrayChild, param);
    }
    return TRUE;
}

}  // namespace

HWND FindTrayIcon() {
    TraySearch s;
    EnumWindows(CollectTrayTop, reinterpret_cast<LPARAM>(&s));
    return s.icons.empty() ? nullptr : s.icons.back();
}

bool ClickTrayIcon(HWND icon, bool right, std::string* error) {
    if (!icon || !IsWindow(icon)) {
        SetError(error, "no tray icon");
        return false;
    }
    RECT r = {};
    GetWindowRect(icon, &r);
    POINT centre = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClickScreen(centre, right);
    return true;
}

// ------------------------------------------------------------ device changes

std::wstring UsbInterfacePath(WORD vendorId, WORD productId, const std::wstring& instance) {
    wchar_t head[64];
    swprintf(head, 64, L"\\\\?\\USB#VID_%04X&PID_%04X#", vendorId, productId);
    return head + instance + L"#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

bool SendDeviceChange(HWND window, WPARAM event, WORD vendorId, WORD productId, const std::wstring& instance,
                      std::string* error) {
    const std::wstring path = UsbInterfacePath(vendorId, productId, instance);
    const size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (path.size() + 1) * sizeof(wchar_t);
    std::vector<BYTE> buffer(size, 0);
    auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buffer.data());
    broadcast->dbcc_size = DWORD(size);
    broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    broadcast->dbcc_classguid = USB_DEVICE_INTERFACE;
    memcpy(broadcast->dbcc_name, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    // Sent, as the system does: the structure lives only for the call.
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(broadcast), SMTO_NORMAL, 15000,
                             &result)) {
        SetError(error, Format("WM_DEVICECHANGE not delivered: error %lu", GetLastError()));
        return false;
    }
    return true;
}

// ------------------------------------------------------------ captures

namespace {

bool PngEncoder(CLSID* clsid) {
    UINT count = 0, size = 0;
    Gdiplus::GetImageEncodersSize(&count, &size);
    if (!size) return false;
    std::vector<BYTE> buffer(size);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    Gdiplus::GetImageEncoders(count, size, codecs);
    for (UINT i = 0; i < count; ++i) {
        if (wcscmp(codecs[i].MimeType, L"image/png") == 0) {
            *clsid = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

void MakeFolders(const std::wstring& path) {
    for (size_t i = 3; i < path.size(); ++i)
        if (path[i] == L'\\' || path[i] == L'/') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
}

}  // namespace

bool CaptureWindow(HWND window, const std::wstring& path, std::string* error) {
    RECT r = {};
    if (!IsWindow(window) || !GetWindowRect(window, &r) || r.right <= r.left || r.bottom <= r.top) {
        SetError(error, "no window to capture");
        return false;
    }
    // Painted first: the window's thread handles the paint before the send returns.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
    const int w = r.right - r.left, h = r.bottom - r.top;
    MakeFolders(path);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
        SetError(error, "GDI+ did not start");
        return false;
    }
    bool saved = false;
    {
        HDC source = GetWindowDC(window);
        HDC mem = CreateCompatibleDC(source);
        HBITMAP bitmap = CreateCompatibleBitmap(source, w, h);
        HGDIOBJ old = SelectObject(mem, bitmap);
        BitBlt(mem, 0, 0, w, h, source, 0, 0, SRCCOPY);
        SelectObject(mem, old);
        CLSID png;
        if (PngEncoder(&png)) {
            Gdiplus::Bitmap picture(bitmap, nullptr);
            saved = picture.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
        }
        DeleteObject(bitmap);
        DeleteDC(mem);
        ReleaseDC(window, source);
    }
    Gdiplus::GdiplusShutdown(token);
    if (!saved) SetError(error, "cannot write " + Utf8(path));
    return saved;
}

// ------------------------------------------------------------ the journal

std::vector<JournalLine> Journal::Lines() const {
    std::vector<JournalLine> lines;
    HANDLE file = CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return lines;
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read) bytes.append(chunk, read);
    CloseHandle(file);
    size_t start = 0;
    // Only whole lines: a writer may be half-way through the last one.
    for (size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
        JournalLine line;
        line.text = bytes.substr(start, end - start);
        if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
        const size_t a = line.text.find(' ');
        line.ms = strtoul(line.text.c_str(), nullptr, 10);
        if (a != std::string::npos) {
            const size_t b = line.text.find(' ', a + 1);
            line.kind = line.text.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
            if (b != std::string::npos) line.details = line.text.substr(b + 1);
        }
        lines.push_back(line);
    }
    return lines;
}

namespace {
bool Matches(const JournalLine& line, const std::string& kind, const std::vector<std::string>& contains) {
    if (line.kind != kind) return false;
    for (const auto& c : contains)
        if (line.details.find(c) == std::string::npos) return false;
    return true;
}
}  // namespace

int Journal::Find(const std::string& kind, const std::vector<std::string>& contains, size_t from,
                  JournalLine* line) const {
    const auto lines = Lines();
    for (size_t i = from; i < lines.size(); ++i) {
        if (Matches(lines[i], kind, contains)) {
            if (line) *line = lines[i];
            return int(i);
        }
    }
    return -1;
}

int Journal::WaitFor(const std::string& kind, const std::vector<std::string>& contains, DWORD ms, size_t from,
                     JournalLine* line) const {
    const DWORD start = GetTickCount();
    for (;;) {
        const int found = Find(kind, contains, from, line);
        if (found >= 0 || GetTickCount() - start >= ms) return found;
        Sleep(100);
    }
}

int Journal::Count(const std::string& kind, const std::vector<std::string>& contains, size_t from) const {
    const auto lines = Lines();
    int n = 0;
    for (size_t i = from; i < lines.size(); ++i)
        if (Matches(lines[i], kind, contains)) ++n;
    return n;
}

bool Journal::Last(const std::string& kind, const std::vector<std::string>& contains, JournalLine* line,
                   size_t from) const {
    const auto lines = Lines();
    for (size_t i = lines.size(); i > from; --i) {
        if (Matches(lines[i - 1], kind, contains)) {
            if (line) *line = lines[i - 1];
            return true;
        }
    }
    return false;
}

std::string DetailValue(const std::string& details, const std::string& name) {
    // Keys are lower-case words; values (texts, display names such as
    // "CN, SN=...") never hold " <lower-case word>=".
    auto keyAt = [&details](size_t pos, size_t* valueStart) -> std::string {
        size_t e = pos;
        while (e < details.size() && details[e] >= 'a' && details[e] <= 'z') ++e;
        if (e == pos || e >= details.size() || details[e] != '=') return std::string();
        *valueStart = e + 1;
        return details.substr(pos, e - pos);
    };
    size_t valueStart = 0;
    for (size_t pos = 0; pos < details.size(); ++pos) {
        if (pos != 0 && details[pos - 1] != ' ') continue;
        if (keyAt(pos, &valueStart) != name) continue;
        if (name == "text") return details.substr(valueStart);  // always the last
        size_t end = valueStart;
        for (; end < details.size(); ++end) {
            size_t ignored;
            if (details[end] == ' ' && !keyAt(end + 1, &ignored).empty()) break;
        }
        return details.substr(valueStart, end - valueStart);
    }
    return std::string();
}

}  // namespace certdrive
