#include "PaintManager.h"

#include <objidl.h>
#include <gdiplus.h>
#include <commctrl.h>

#include "UILock.h"

namespace Veneer {

CPaintManagerUI::CPaintManagerUI() {
    {
        CUISharedLock lock;
        SkinResourceSet& shared = GetSharedResources();
        if (shared.defaultFont.faceName.IsEmpty()) {
            // The first manager of the process fills the shared colours and font.
            shared.disabledTextColor = 0xFFA7A6AA;
            shared.defaultTextColor = 0xFF000000;
            shared.linkTextColor = 0xFF0000FF;
            shared.linkHoverTextColor = 0xFFD3215F;
            shared.selectedBackColor = 0xFFBAE4FF;
            LOGFONTW font = {};
            GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
            font.lfCharSet = DEFAULT_CHARSET;
            HFONT handle = CreateFontIndirectW(&font);
            if (handle) {
                shared.defaultFont.font = handle;
                shared.defaultFont.faceName = font.lfFaceName;
                shared.defaultFont.size = -font.lfHeight;
                shared.defaultFont.bold = font.lfWeight >= FW_BOLD;
                shared.defaultFont.underline = font.lfUnderline == 1;
                shared.defaultFont.italic = font.lfItalic == 1;
                shared.defaultFont.metrics = TEXTMETRICW();
            }
            InitCommonControls();
            LoadLibraryW(L"msimg32.dll");   // stays loaded for the alpha blending
        }
        m_resources.disabledTextColor = shared.disabledTextColor;
        m_resources.defaultTextColor = shared.defaultTextColor;
        m_resources.linkTextColor = shared.linkTextColor;
        m_resources.linkHoverTextColor = shared.linkHoverTextColor;
        m_resources.selectedBackColor = shared.selectedBackColor;
    }
    Gdiplus::GdiplusStartupInput* input = new Gdiplus::GdiplusStartupInput;
    m_gdiplusInput = input;
    Gdiplus::GdiplusStartup(&m_gdiplusToken, input, nullptr);
    CShadowUI::Initialize();
}

namespace {
CPaintManagerUI::ManagerGoneHook g_goneHooks[8] = {};
}  // namespace

bool CPaintManagerUI::AddManagerGoneHook(ManagerGoneHook hook) {
    for (ManagerGoneHook& slot : g_goneHooks) {
        if (slot == hook) return true;
        if (!slot) {
            slot = hook;
            return true;
        }
    }
    return false;
}

CPaintManagerUI::~CPaintManagerUI() {
    for (ManagerGoneHook hook : g_goneHooks) {
        if (hook) hook(this);
    }
    RevokeDropTarget();
    if (m_dragImage) DeleteObject(m_dragImage);
    m_dragImage = nullptr;
    ReleaseOffscreen();
    if (m_toolTip && IsWindow(m_toolTip)) DestroyWindow(m_toolTip);
    m_toolTip = nullptr;
    // Queued controls and notifications first, then the tree (whose
    // destructors find no names left to forget), then the resources.
    for (int i = 0; i < m_deleteQueue.GetSize(); ++i) delete static_cast<CControlUI*>(m_deleteQueue.GetAt(i));
    m_deleteQueue.Empty();
    for (int i = 0; i < m_notifyQueue.GetSize(); ++i) delete static_cast<NotifyEvent*>(m_notifyQueue.GetAt(i));
    m_notifyQueue.Empty();
    m_names.Resize(0);
    CControlUI* root = m_root;
    m_root = nullptr;
    delete root;
    if (m_resources.defaultFont.font) {
        DeleteObject(m_resources.defaultFont.font);
        m_resources.defaultFont.font = nullptr;
    }
    RemoveAllFonts();
    RemoveAllImages();
    RemoveAllStyles();
    RemoveAllClassDefaults();
    RemoveAllOptionGroups();
    KillAllTimers();
    RemoveAllDrawSpecs();
    if (m_paintDC) ReleaseDC(m_paintWindow, m_paintDC);
    m_paintDC = nullptr;
    delete m_dpiScaler;
    m_dpiScaler = nullptr;
    for (int i = 0; i < m_privateFonts.GetSize(); ++i) RemoveFontMemResourceEx(m_privateFonts.GetAt(i));
    m_privateFonts.Empty();
    RemoveManager(this);
    if (m_gdiplusToken) Gdiplus::GdiplusShutdown(m_gdiplusToken);
    delete static_cast<Gdiplus::GdiplusStartupInput*>(m_gdiplusInput);
}

bool CPaintManagerUI::AttachWindow(HWND window) {
    m_names.Resize(CStringKeyMap::kDefaultBuckets);
    RemoveAllFonts();
    RemoveAllImages();
    RemoveAllStyles();
    RemoveAllClassDefaults();
    RemoveAllOptionGroups();
    KillAllTimers();
    if (window != m_paintWindow) {
        if (m_paintDC) ReleaseDC(m_paintWindow, m_paintDC);
        m_paintWindow = window;
        m_paintDC = window ? GetDC(window) : nullptr;
        AddManager(this);
    }
    RevokeDropTarget();
    SetDropWindow(window);
    return RegisterDropTarget();
}

CDpiScaler* CPaintManagerUI::GetDpiScaler() {
    if (!m_dpiScaler) {
        m_dpiScaler = new CDpiScaler;
        CDpiScaler::SetProcessAware(m_dpiScaler);
        const int scale = MulDiv(CDpiScaler::GetSystemDpi(), 100, 96);
        m_dpiScaler->SetScales(scale, scale);
    }
    return m_dpiScaler;
}

}  // namespace Veneer
