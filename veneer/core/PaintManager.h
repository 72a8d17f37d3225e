#pragma once
// The per-window paint manager: here its resource side (the window's and the
// shared resource sets, fonts, images, styles, image specifications, DPI
// scaling) and the process-wide skin settings.
#include <windows.h>

#include "DpiScaler.h"
#include "ResourceCache.h"
#include "SkinArchive.h"
#include "UIValueTypes.h"

namespace Veneer {

class CPaintManagerUI {
public:
    CPaintManagerUI();
    virtual ~CPaintManagerUI();
    CPaintManagerUI(const CPaintManagerUI&) = delete;
    CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

    bool AttachWindow(HWND window);
    HWND GetPaintWindow() const { return m_paintWindow; }
    HDC GetPaintDC() const { return m_paintDC; }
    CDpiScaler* GetDpiScaler();

    // Resources declared through this manager go to the shared set.
    void SetUseSharedResources(bool shared) { m_useSharedResources = shared; }
    bool IsUsingSharedResources() const { return m_useSharedResources; }

    // Process-wide skin settings.
    static void SetInstance(HINSTANCE instance);
    static HINSTANCE GetInstance();
    static HINSTANCE GetResourceModule();
    static CUIString GetModuleFolder();
    static void SetResourceFolder(const wchar_t* path);
    static CUIString GetResourceFolder();
    static void SetSkinArchive(const wchar_t* name, bool cached, const wchar_t* password);
    static void SetSkinArchiveFromMemory(DWORD size, const wchar_t* password);
    // The heap copy of a "ZIPRES" archive (made by the window base; it lives
    // as long as the process).
    static void SetSkinArchiveMemory(const void* block);
    static const void* GetSkinArchiveMemory();
    static CUIString GetSkinArchiveName();
    static bool IsSkinArchiveCached();
    // The cached reader; use it only while holding the UI shared lock.
    static SkinZipReader* GetSkinArchiveReader();
    static CUIString GetSkinArchivePassword();

    // Colours of the window's set.
    DWORD GetDefaultDisabledColor() const { return m_resources.disabledTextColor; }
    DWORD GetDefaultFontColor() const { return m_resources.defaultTextColor; }
    DWORD GetDefaultLinkFontColor() const { return m_resources.linkTextColor; }
    DWORD GetDefaultLinkHoverFontColor() const { return m_resources.linkHoverTextColor; }
    DWORD GetDefaultSelectedBkColor() const { return m_resources.selectedBackColor; }

    // Fonts.
    FontEntry* GetDefaultFontEntry();
    void SetDefaultFont(const wchar_t* face, int size, bool bold, bool underline, bool italic, bool shared = false);
    HFONT AddFont(const wchar_t* face, int id, int size, bool bold, bool underline, bool italic, bool shared = false);
    bool AddFontFile(const wchar_t* fileName);
    HFONT GetFontHandle(int id);
    FontEntry* GetFontEntry(int id);
    FontEntry* GetFontEntryByHandle(HFONT font);
    HFONT FindFont(const wchar_t* face, int size, bool bold, bool underline, bool italic);
    void RemoveAllFonts();
    static void DeleteFontEntry(FontEntry* entry);

    // Images.
    LoadedImage* GetOrLoadImage(const wchar_t* name, const wchar_t* resourceType = nullptr,
                                DWORD mask = 0, bool adjustable = false);
    LoadedImage* AddImage(const wchar_t* resourceType, const wchar_t* name, DWORD mask,
                          bool adjustable, bool shared = false);
    void RemoveAllImages();

    // Image specifications.
    ImageDrawSpec* GetImageDrawSpec(const wchar_t* image, const wchar_t* modifier = nullptr);
    void RemoveAllDrawSpecs();

    // Class defaults and styles.
    void AddClassDefaults(const wchar_t* className, const wchar_t* attributes, bool shared = false);
    const wchar_t* GetClassDefaults(const wchar_t* className);
    void RemoveAllClassDefaults();
    void AddStyle(const wchar_t* name, const wchar_t* attributes, bool shared = false);
    const wchar_t* GetStyle(const wchar_t* name);
    void RemoveAllStyles();

private:
    HFONT CreateScaledFont(const wchar_t* face, int size, bool bold, bool underline, bool italic);
    void MeasureFont(FontEntry* entry);
    static void FreeFontMap(CStringKeyMap& map);
    static void FreeImageMap(CStringKeyMap& map);
    static void FreeStringMap(CStringKeyMap& map);
    static void FreeDrawSpecMap(CStringKeyMap& map);

    HWND m_paintWindow = nullptr;
    HDC m_paintDC = nullptr;
    CDpiScaler* m_dpiScaler = nullptr;
    ULONG_PTR m_gdiplusToken = 0;
    void* m_gdiplusInput = nullptr;
    bool m_useSharedResources = false;
    CPointerArray m_privateFonts;
    SkinResourceSet m_resources;
};

}  // namespace Veneer
