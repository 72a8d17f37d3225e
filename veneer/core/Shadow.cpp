#include "Shadow.h"

#include <climits>
#include <cmath>
#include <map>
#include <vector>

#include "PaintManager.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {

typedef BOOL(WINAPI* UpdateLayeredWindowFn)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF, BLENDFUNCTION*,
                                            DWORD);
typedef HRESULT(WINAPI* DwmIsCompositionEnabledFn)(BOOL*);

const wchar_t kShadowClass[] = L"UmbrikShadowWnd";
const UINT kCompositionChanged = 0x031E;  // WM_DWMCOMPOSITIONCHANGED

bool g_initialized = false;
UpdateLayeredWindowFn g_updateLayered = nullptr;
DwmIsCompositionEnabledFn g_compositionEnabled = nullptr;

std::map<HWND, CShadowUI*>& ShadowMap() {
    static std::map<HWND, CShadowUI*> map;
    return map;
}

CShadowUI* FindShadow(HWND window) {
    auto it = ShadowMap().find(window);
    return it == ShadowMap().end() ? nullptr : it->second;
}

bool CompositionOn() {
    BOOL on = FALSE;
    return g_compositionEnabled && SUCCEEDED(g_compositionEnabled(&on)) && on;
}

// A row of a shape: [left, right); empty rows have left >= right.
struct Span {
    int left;
    int right;
    bool Empty() const { return left >= right; }
};
const Span kEmptySpan = {INT_MAX / 2, INT_MIN / 2};

}  // namespace

CShadowUI::CShadowUI() = default;

CShadowUI::~CShadowUI() = default;

bool CShadowUI::Initialize() {
    if (g_initialized) return g_updateLayered != nullptr;
    g_initialized = true;
    HMODULE user32 = LoadLibraryW(L"USER32.DLL");
    if (user32)
        g_updateLayered = reinterpret_cast<UpdateLayeredWindowFn>(
            reinterpret_cast<void*>(GetProcAddress(user32, "UpdateLayeredWindow")));
    if (!g_updateLayered) return false;
    if (HMODULE dwm = LoadLibraryW(L"dwmapi.dll"))
        g_compositionEnabled = reinterpret_cast<DwmIsCompositionEnabledFn>(
            reinterpret_cast<void*>(GetProcAddress(dwm, "DwmIsCompositionEnabled")));
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = CPaintManagerUI::GetInstance();
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kShadowClass;
    RegisterClassExW(&wc);
    return true;
}

void CShadowUI::Create(CPaintManagerUI* manager) {
    if (!g_updateLayered || !m_showShadow || !manager) return;
    HWND window = manager->GetPaintWindow();
    if (!window) return;
    if (m_shadowWindow && FindShadow(window) == this) {
        // Subclassing the window a second time would make the procedure call
        // itself: a shadow that exists is only redrawn.
        Update(window);
        return;
    }
    m_manager = manager;
    ShadowMap()[window] = this;
    m_shadowWindow = CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT, kShadowClass, nullptr, WS_POPUPWINDOW,
                                     CW_USEDEFAULT, 0, 0, 0, window, nullptr, CPaintManagerUI::GetInstance(),
                                     nullptr);
    m_state = StateCreated;
    if (CompositionOn() && (GetClassLongW(window, GCL_STYLE) & 0x20000)) m_state |= StateDisabled;
    Show(window);
    m_previousProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CShadowUI::ParentProc)));
}

void CShadowUI::Show(HWND window) {
    m_state &= StateCreated | StateDisabled;
    if ((m_state & StateCreated) && !(m_state & StateDisabled)) {
        const LONG style = GetWindowLongW(window, GWL_STYLE);
        if (style & WS_VISIBLE) {
            m_state |= StateWindowVisible;
            if (!(style & (WS_MAXIMIZE | WS_MINIMIZE))) m_state |= StateShown;
        }
    }
    if (!m_shadowWindow) return;
    if (m_state & StateShown) {
        ShowWindow(m_shadowWindow, SW_SHOWNA);
        Update(window);
    } else {
        ShowWindow(m_shadowWindow, SW_HIDE);
    }
}

void CShadowUI::PlaceBehind(HWND window, bool moveToo) {
    if (!moveToo) {
        SetWindowPos(m_shadowWindow, window, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOREDRAW | SWP_NOACTIVATE);
        return;
    }
    RECT r = {};
    GetWindowRect(window, &r);
    int x = r.left - m_size, y = r.top - m_size;
    if (!m_imageMode) {
        x += m_offsetX;
        y += m_offsetY;
    }
    SetWindowPos(m_shadowWindow, window, x, y, 0, 0, SWP_NOACTIVATE | SWP_NOSIZE);
}

LRESULT CALLBACK CShadowUI::ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CShadowUI* self = FindShadow(window);
    if (!self || !self->m_previousProc) return DefWindowProcW(window, message, wParam, lParam);
    const WNDPROC previous = self->m_previousProc;
    const bool active = (self->m_state & StateCreated) && !(self->m_state & StateDisabled);
    switch (message) {
        case WM_DESTROY:
            if (self->m_shadowWindow) DestroyWindow(self->m_shadowWindow);
            self->m_shadowWindow = nullptr;
            self->m_state = 0;
            break;
        case WM_MOVE:
            if ((self->m_state & StateShown) && self->m_shadowWindow) self->PlaceBehind(window, true);
            break;
        case WM_WINDOWPOSCHANGED:
            if (self->m_shadowWindow) self->PlaceBehind(window, true);
            break;
        case WM_SIZE:
            if (!active) break;
            if (wParam == SIZE_MINIMIZED) {
                ShowWindow(self->m_shadowWindow, SW_HIDE);
                self->m_state &= ~StateShown;
            } else if (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) {
                self->m_state |= StateWindowVisible;
                const WORD width = LOWORD(lParam), height = HIWORD(lParam);
                if (self->m_state & StateShown) {
                    if (width > self->m_lastWidth || height > self->m_lastHeight) self->m_updatePending = true;
                    else self->Update(window);
                } else {
                    self->m_state |= StateShown;
                    self->Update(window);
                    ShowWindow(self->m_shadowWindow, SW_SHOWNA);
                    self->m_updatePending = true;
                }
            }
            self->m_lastWidth = LOWORD(lParam);
            self->m_lastHeight = HIWORD(lParam);
            break;
        case WM_PAINT:
            if (self->m_updatePending) {
                self->Update(window);
                self->m_updatePending = false;
                if (IsZoomed(window)) {
                    ShowWindow(self->m_shadowWindow, SW_HIDE);
                    self->m_state &= ~StateShown;
                }
            }
            break;
        case WM_SHOWWINDOW:
            if (!active) break;
            {
                const LRESULT result = CallWindowProcW(previous, window, message, wParam, lParam);
                if (wParam) {
                    self->m_updatePending = true;
                    self->Show(window);
                } else {
                    ShowWindow(self->m_shadowWindow, SW_HIDE);
                    self->m_state &= ~(StateShown | StateWindowVisible);
                }
                return result;
            }
        case WM_ACTIVATEAPP:
        case WM_NCACTIVATE:
            if (self->m_shadowWindow) self->PlaceBehind(window, false);
            break;
        case WM_EXITSIZEMOVE:
            if (self->m_state & StateShown) self->Update(window);
            break;
        case kCompositionChanged:
            if (CompositionOn()) self->m_state |= StateDisabled;
            else self->m_state &= ~StateDisabled;
            self->Show(window);
            break;
        case WM_NCDESTROY:
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
            ShadowMap().erase(window);
            self->m_previousProc = nullptr;
            break;
        default:
            break;
    }
    return CallWindowProcW(previous, window, message, wParam, lParam);
}

void CShadowUI::Update(HWND window) {
    if (!m_showShadow || !(m_state & StateShown) || !m_shadowWindow || !g_updateLayered) return;
    RECT r = {};
    GetWindowRect(window, &r);
    const int width = r.right - r.left + 2 * m_size, height = r.bottom - r.top + 2 * m_size;
    if (width <= 0 || height <= 0) return;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) return;
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, bitmap);
    bool drawn = true;
    if (m_imageMode) {
        LoadedImage* image = m_manager ? m_manager->GetOrLoadImage(m_image) : nullptr;
        if (image) {
            const RECT dest = {0, 0, width, height};
            const RECT source = {0, 0, image->width, image->height};
            CSkinRenderer::DrawImage(source, memory, image->bitmap, dest, dest, m_corner, true, 255, false, false,
                                     false, 100);
        } else {
            drawn = false;
        }
    } else {
        memset(bits, 0, size_t(width) * height * 4);
        MakeShadow(static_cast<DWORD*>(bits), window, r);
    }
    if (drawn) {
        POINT position = {r.left - m_size, r.top - m_size};
        if (!m_imageMode) {
            position.x += m_offsetX;
            position.y += m_offsetY;
        }
        MoveWindow(m_shadowWindow, position.x, position.y, width, height, FALSE);
        SIZE size = {width, height};
        POINT origin = {0, 0};
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        g_updateLayered(m_shadowWindow, nullptr, &position, &size, memory, &origin, 0, &blend, ULW_ALPHA);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

void CShadowUI::MakeShadow(DWORD* pixels, HWND window, const RECT& windowRect) const {
    const int W = windowRect.right - windowRect.left, H = windowRect.bottom - windowRect.top;
    const int s = m_size, k = m_sharpness, d = m_darkness, ox = m_offsetX, oy = m_offsetY;
    const int bw = W + 2 * s, bh = H + 2 * s;
    if (W <= 0 || H <= 0 || bw <= 0 || bh <= 0) return;
    auto pixelAt = [&](int x, int y) -> DWORD& { return pixels[size_t(bh - 1 - y) * bw + x]; };
    auto premultiplied = [this](int alpha) -> DWORD {
        const DWORD red = (m_color & 0xFF) * alpha / 255, green = ((m_color >> 8) & 0xFF) * alpha / 255,
                    blue = ((m_color >> 16) & 0xFF) * alpha / 255;
        return (DWORD(alpha) << 24) | (red << 16) | (green << 8) | blue;
    };

    // 1. The window's shape, row by row.
    std::vector<Span> windowRows(H, kEmptySpan);
    HRGN region = CreateRectRgn(0, 0, W, H);
    GetWindowRgn(window, region);
    for (int y = 0; y < H; ++y) {
        int first = -1, last = -1;
        for (int x = 0; x < W; ++x)
            if (PtInRegion(region, x, y)) {
                first = x;
                break;
            }
        if (first < 0) continue;
        for (int x = W - 1; x >= first; --x)
            if (PtInRegion(region, x, y)) {
                last = x;
                break;
            }
        windowRows[y] = Span{first, last + 1};
    }
    DeleteObject(region);

    // 2. The shadow's shape: the window's moved by (s, s), inside the bitmap.
    std::vector<Span> rows(bh, kEmptySpan);
    for (int y = 0; y < bh; ++y) {
        const int wy = y - s;
        if (wy < 0 || wy >= H || windowRows[wy].Empty()) continue;
        Span span = {windowRows[wy].left + s, windowRows[wy].right + s};
        if (span.left < 0) span.left = 0;
        if (span.right > bw) span.right = bw;
        if (!span.Empty()) rows[y] = span;
    }
    auto rowAt = [&rows, bh](int y) { return y < 0 || y >= bh ? kEmptySpan : rows[y]; };

    // 3. A sharper shadow than its size is eroded.
    for (int pass = 0; pass < k - s; ++pass) {
        std::vector<Span> eroded(bh, kEmptySpan);
        for (int y = 0; y < bh; ++y) {
            const Span a = rowAt(y - 1), b = rowAt(y), c = rowAt(y + 1);
            if (a.Empty() || b.Empty() || c.Empty()) continue;
            const Span span = {std::max(std::max(a.left, b.left), c.left) + 1,
                               std::min(std::min(a.right, b.right), c.right) - 1};
            if (!span.Empty()) eroded[y] = span;
        }
        rows.swap(eroded);
    }

    // 4. The kernel.
    const int radius = std::max(k, s);
    const int side = 2 * radius + 1;
    const double full = k >= s ? 0.0 : double(s - k);
    std::vector<DWORD> kernel(size_t(side) * side, 0);
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx) {
            const double e = std::sqrt(double(dx * dx + dy * dy));
            int alpha = 0;
            if (e < full) {
                alpha = d;
            } else if (e <= radius) {
                const double g = 1.0 - (e - full) / (k + 1);
                alpha = int(g * g * std::sqrt(g) * d);
            }
            kernel[size_t(dy + radius) * side + (dx + radius)] = alpha > 0 ? premultiplied(alpha) : 0;
        }
    auto stamp = [&](int cx, int cy) {
        for (int dy = -radius; dy <= radius; ++dy) {
            const int y = cy + dy;
            if (y < 0 || y >= bh) continue;
            for (int dx = -radius; dx <= radius; ++dx) {
                const int x = cx + dx;
                if (x < 0 || x >= bw) continue;
                const DWORD value = kernel[size_t(dy + radius) * side + (dx + radius)];
                DWORD& target = pixelAt(x, y);
                if (value > target) target = value;
            }
        }
    };

    // 5. The kernel along the outline.
    for (int y = radius; y <= bh - radius - 1; ++y) {
        const Span span = rowAt(y);
        if (span.Empty()) continue;
        const Span above = rowAt(y - 1), below = rowAt(y + 1);
        const int leftEnd = std::min(std::max(above.left, below.left), span.right - 1);
        for (int x = span.left; x <= leftEnd; ++x) stamp(x, y);
        const int rightStart = std::max(std::min(above.right, below.right) - 1, span.left);
        for (int x = std::max(rightStart, leftEnd + 1); x <= span.right - 1; ++x) stamp(x, y);
    }

    // 6. The inside at full darkness, cut out where the window lies.
    const DWORD inside = premultiplied(d);
    const int firstRow = std::min(radius, std::max(0, s - oy));
    const int endRow = std::max(bh - radius, std::min(H + s - oy, bh));
    for (int y = firstRow; y < endRow && y < bh; ++y) {
        const Span span = rowAt(y);
        if (span.Empty()) continue;
        for (int x = span.left; x < span.right; ++x) pixelAt(x, y) = inside;
        const int wy = y + oy - s;
        if (wy < 0 || wy >= H || windowRows[wy].Empty()) continue;
        const int from = std::max(0, windowRows[wy].left + s - ox), to = std::min(bw, windowRows[wy].right + s - ox);
        for (int x = from; x < to; ++x) pixelAt(x, y) = 0;
    }
}

bool CShadowUI::SetSize(int size) {
    if (size < -20 || size > 20) return false;
    m_size = static_cast<signed char>(size);
    return true;
}

bool CShadowUI::SetSharpness(int sharpness) {
    if (sharpness < 0 || sharpness > 20) return false;
    m_sharpness = static_cast<BYTE>(sharpness);
    return true;
}

bool CShadowUI::SetDarkness(int darkness) {
    if (darkness < 0 || darkness > 255) return false;
    m_darkness = static_cast<BYTE>(darkness);
    return true;
}

bool CShadowUI::SetPosition(int x, int y) {
    if (x < -20 || x > 20 || y < -20 || y > 20) return false;
    m_offsetX = static_cast<signed char>(x);
    m_offsetY = static_cast<signed char>(y);
    return true;
}

bool CShadowUI::SetImage(const wchar_t* image) {
    if (!image) return false;
    m_imageMode = true;
    m_image = image;
    return true;
}

bool CShadowUI::SetShadowCorner(int left, int top, int right, int bottom) {
    if (left < 0 || top < 0 || right < 0 || bottom < 0) return false;
    m_corner = RECT{left, top, right, bottom};
    return true;
}

bool CShadowUI::CopySettings(const CShadowUI& other) {
    if (other.m_imageMode) {
        SetImage(other.m_image);
        SetShadowCorner(other.m_corner.left, other.m_corner.top, other.m_corner.right, other.m_corner.bottom);
    } else {
        SetSize(other.m_size);
        SetSharpness(other.m_sharpness);
        SetDarkness(other.m_darkness);
        SetPosition(other.m_offsetX, other.m_offsetY);
        m_color = other.m_color;
    }
    m_showShadow = other.m_showShadow;
    return true;
}

}  // namespace Veneer
