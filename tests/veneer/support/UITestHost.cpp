#include "UITestHost.h"

#include <algorithm>
#include <cstdlib>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

#include "HostPaths.h"

using Veneer::CControlUI;
using Veneer::CPaintManagerUI;

namespace uitest {

// ------------------------------------------------------------------ panel

TestPanel::~TestPanel() {
    for (CControlUI* child : m_children) delete child;
}

void TestPanel::Add(CControlUI* child) {
    m_children.push_back(child);
    if (m_manager) child->AttachManager(m_manager, this, true);
}

bool TestPanel::Remove(CControlUI* child) {
    auto it = std::find(m_children.begin(), m_children.end(), child);
    if (it == m_children.end()) return false;
    m_children.erase(it);
    delete child;
    return true;
}

void TestPanel::AttachManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
    CControlUI::AttachManager(manager, parent, init);
    for (CControlUI* child : m_children) child->AttachManager(manager, this, init);
}

CControlUI* TestPanel::FindControl(Veneer::FindControlProc callback, void* data, UINT flags) {
    if ((flags & Veneer::FindVisible) && !IsVisible()) return nullptr;
    if ((flags & Veneer::FindEnabled) && !IsEnabled()) return nullptr;
    if ((flags & Veneer::FindHitTest) &&
        (!PtInRect(&m_item, *static_cast<POINT*>(data)) || !IsMouseEnabled())) {
        return nullptr;
    }
    CControlUI* result = nullptr;
    if (flags & Veneer::FindContainerFirst) {
        result = callback(this, data);
        if (result && (flags & Veneer::FindStopAtAccepted)) return nullptr;
        if (result) return result;
    }
    const int count = GetCount();
    for (int i = 0; i < count; ++i) {
        CControlUI* child = m_children[(flags & Veneer::FindLastChildFirst) ? count - 1 - i : i];
        result = child->FindControl(callback, data, flags);
        if (result) return result;
    }
    if (!(flags & Veneer::FindContainerFirst)) return callback(this, data);
    return nullptr;
}

void TestPanel::SetVisible(bool show) {
    CControlUI::SetVisible(show);
    for (CControlUI* child : m_children) child->SetParentVisible(IsVisible());
}

void TestPanel::Paint(HDC hdc, const RECT& paint) {
    RECT cut;
    if (!IntersectRect(&cut, &paint, &m_item)) return;
    CControlUI::Paint(hdc, paint);
    for (CControlUI* child : m_children) {
        if (child->IsVisible()) child->Paint(hdc, cut);
    }
}

// ------------------------------------------------------------------ host window

namespace {
const wchar_t kHostClass[] = L"VeneerTestHost";

void RegisterHostClass() {
    static bool done = false;
    if (done) return;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = HostWindow::Procedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    wc.lpszClassName = kHostClass;
    RegisterClassExW(&wc);
    done = true;
}
}  // namespace

HostWindow::HostWindow(int width, int height, bool show) {
    RegisterHostClass();
    m_manager = new CPaintManagerUI;
    RECT frame = {0, 0, width, height};
    AdjustWindowRectEx(&frame, WS_POPUP, FALSE, 0);
    m_window = CreateWindowExW(0, kHostClass, L"veneer host", WS_POPUP, 40, 40, frame.right - frame.left,
                               frame.bottom - frame.top, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_manager->AttachWindow(m_window);
    if (show) {
        ShowWindow(m_window, SW_SHOWNOACTIVATE);
        UpdateWindow(m_window);
    }
}

HostWindow::~HostWindow() {
    DestroyManager();
    DestroyWindow(m_window);
    Pump();
}

void HostWindow::DestroyManager() {
    delete m_manager;
    m_manager = nullptr;
}

void HostWindow::PaintInto(HDC target, const RECT& area) {
    RECT client = {};
    GetClientRect(m_window, &client);
    CControlUI* root = m_manager ? m_manager->GetRoot() : nullptr;
    if (root && m_manager->IsLayoutPending()) {
        root->SetPos(client, false);
        m_manager->SetLayoutPending(false);
        if (m_manager->IsFocusPending()) m_manager->FocusNextControl(true);
    }
    Surface surface(client.right, client.bottom, m_background & 0xFFFFFF);
    if (root) root->Paint(surface.DC(), area);
    // Overlays (a separator's preview band) over the whole tree.
    const Veneer::CPointerArray& overlays = m_manager->GetOverlayControls();
    for (int i = 0; i < overlays.GetSize(); ++i) {
        static_cast<CControlUI*>(overlays.GetAt(i))->PaintOverlay(surface.DC(), area);
    }
    BitBlt(target, area.left, area.top, area.right - area.left, area.bottom - area.top, surface.DC(), area.left,
           area.top, SRCCOPY);
}

void HostWindow::Repaint() {
    RedrawWindow(m_window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

Capture HostWindow::Grab() { return GrabWindow(m_window); }

LRESULT CALLBACK HostWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    HostWindow* host = reinterpret_cast<HostWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (host && host->m_manager) {
        if (message == WM_PAINT) {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window, &ps);
            host->PaintInto(dc, ps.rcPaint);
            EndPaint(window, &ps);
            return 0;
        }
        if (message == WM_PRINTCLIENT) {
            RECT client = {};
            GetClientRect(window, &client);
            host->PaintInto(reinterpret_cast<HDC>(wParam), client);
            return 0;
        }
        if (message == WM_ERASEBKGND) return 1;
        LRESULT result = 0;
        if (host->m_manager->HandleWindowMessage(message, wParam, lParam, result)) return result;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// ------------------------------------------------------------------ surface

Surface::Surface(int width, int height, DWORD fill) : m_width(width), m_height(height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m_dc = CreateCompatibleDC(nullptr);
    m_bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    m_bits = static_cast<DWORD*>(bits);
    m_old = SelectObject(m_dc, m_bitmap);
    for (int i = 0; i < width * height; ++i) m_bits[i] = fill;
}

Surface::~Surface() {
    SelectObject(m_dc, m_old);
    DeleteObject(m_bitmap);
    DeleteDC(m_dc);
}

DWORD Surface::At(int x, int y) const {
    GdiFlush();
    return m_bits[y * m_width + x] & 0xFFFFFF;
}

void Surface::Set(int x, int y, DWORD rgb) {
    GdiFlush();
    m_bits[y * m_width + x] = rgb;
}

Capture Surface::Grab() const {
    GdiFlush();
    Capture capture;
    capture.width = m_width;
    capture.height = m_height;
    capture.pixels.assign(m_bits, m_bits + m_width * m_height);
    for (DWORD& p : capture.pixels) p &= 0xFFFFFF;
    return capture;
}

// ------------------------------------------------------------------ helpers

namespace {
void WriteToFile(void* context, void* data, int size) {
    HANDLE file = static_cast<HANDLE>(context);
    DWORD written = 0;
    WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr);
}
}  // namespace

Capture GrabScreen(const RECT& screen) {
    Surface surface(screen.right - screen.left, screen.bottom - screen.top, 0);
    HDC dc = GetDC(nullptr);
    BitBlt(surface.DC(), 0, 0, surface.Width(), surface.Height(), dc, screen.left, screen.top, SRCCOPY);
    ReleaseDC(nullptr, dc);
    return surface.Grab();
}

Capture GrabWindow(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    Surface surface(client.right, client.bottom, 0);
    HDC dc = GetDC(window);
    BitBlt(surface.DC(), 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    ReleaseDC(window, dc);
    return surface.Grab();
}

void SavePng(const Capture& capture, const std::string& name) {
    std::string dir = HostEnvPath("VENEER_ARTIFACT_DIR");
    if (dir.empty() || capture.width == 0) return;
    char module[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    std::string program = module;
    program = program.substr(program.find_last_of("\\/") + 1);
    program = program.substr(0, program.rfind('.'));
    const char* dpi = std::getenv("VENEER_TEST_DPI");
    if (dpi && *dpi && std::atoi(dpi) != 96) program += std::string("_") + dpi + "dpi";
    for (char& c : dir)
        if (c == '/') c = '\\';
    CreateDirectoryA(dir.c_str(), nullptr);
    dir += "\\" + program;
    CreateDirectoryA(dir.c_str(), nullptr);
    std::vector<unsigned char> rgb(static_cast<size_t>(capture.width) * capture.height * 3);
    for (size_t i = 0; i < capture.pixels.size(); ++i) {
        rgb[i * 3] = static_cast<unsigned char>(capture.pixels[i] >> 16);
        rgb[i * 3 + 1] = static_cast<unsigned char>(capture.pixels[i] >> 8);
        rgb[i * 3 + 2] = static_cast<unsigned char>(capture.pixels[i]);
    }
    const std::string path = dir + "\\" + name + ".png";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    stbi_write_png_to_func(WriteToFile, file, capture.width, capture.height, 3, rgb.data(), capture.width * 3);
    CloseHandle(file);
}

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void RunPosted(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    PostMessageW(window, message, wParam, lParam);
    PostQuitMessage(0);
    CPaintManagerUI::RunMessageLoop();
}

void SetKeyHeld(int key, bool held) {
    BYTE state[256] = {};
    GetKeyboardState(state);
    state[key] = held ? 0x80 : 0;
    SetKeyboardState(state);
}

Veneer::ControlEvent MouseEvent(Veneer::ControlEventType type, CControlUI* sender, int x, int y) {
    Veneer::ControlEvent event = {};
    event.type = type;
    event.sender = sender;
    event.timestamp = GetTickCount();
    event.mouse = POINT{x, y};
    event.wParam = type == Veneer::EventButtonDown ? MK_LBUTTON : 0;
    event.keyState = static_cast<WORD>(event.wParam);
    event.lParam = MAKELPARAM(x, y);
    return event;
}

int ChannelDistance(DWORD a, DWORD b) {
    int d = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        d = std::max(d, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
    }
    return d;
}

}  // namespace uitest
