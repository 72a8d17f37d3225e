#include "ResourceCatalog.h"

#include <new>

#include "PaintManager.h"
#include "UILock.h"

namespace Veneer {

CResourceCatalog& GetResourceCatalog() {
    static CResourceCatalog* catalog = new CResourceCatalog;   // lives until the process ends
    return *catalog;
}

CResourceCatalog::CResourceCatalog()
    : m_provider(nullptr), m_images(83), m_layouts(83), m_texts(83), m_document(true) {}

CResourceCatalog::~CResourceCatalog() { Release(); }

void CResourceCatalog::FreeValues(CStringKeyMap& map) {
    for (int i = 0; i < map.GetSize(); ++i) {
        const wchar_t* key = map.GetKeyAt(i);
        if (key) delete static_cast<CUIString*>(map.Find(key));
    }
    map.Resize(map.GetBucketCount());
}

int CResourceCatalog::LoadCatalog(const wchar_t* name) {
    if (!name || !*name) return 0;
    CUISharedLock lock;
    bool loaded = false;
    if (name[0] == L'<') {
        loaded = m_document.LoadFromText(name);
    } else if (name[0] >= L'0' && name[0] <= L'9') {
        HMODULE module = CPaintManagerUI::GetResourceModule();
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(_wtoi(name)), L"xml");
        const DWORD size = found ? SizeofResource(module, found) : 0;
        HGLOBAL data = size ? LoadResource(module, found) : nullptr;
        const void* bytes = data ? LockResource(data) : nullptr;
        if (bytes) loaded = m_document.LoadFromBytes(static_cast<const BYTE*>(bytes), size);
    } else {
        loaded = m_document.LoadFromFile(name);
    }
    if (!loaded) return 0;
    LoadNodes(m_document.GetRoot().GetChild());
    return 1;
}

void CResourceCatalog::LoadNodes(CSkinXmlNode node) {
    for (; node.IsValid(); node = node.GetSibling()) {
        if (node.HasChildren()) {
            LoadNodes(node.GetChild());
            continue;
        }
        const wchar_t* tag = node.GetName();
        const bool image = CompareTextNoCase(tag, L"Image") == 0;
        const bool layout = CompareTextNoCase(tag, L"Xml") == 0;
        const bool text = CompareTextNoCase(tag, L"Text") == 0;
        if (!image && !layout && !text) continue;
        // Each element's own values only: one without its id or its
        // path/value adds nothing.
        const wchar_t* id = nullptr;
        const wchar_t* value = nullptr;
        const int count = node.GetAttributeCount();
        for (int i = 0; i < count; ++i) {
            const wchar_t* attribute = node.GetAttributeName(i);
            if (CompareTextNoCase(attribute, L"id") == 0) id = node.GetAttributeValue(i);
            else if (!text && CompareTextNoCase(attribute, L"path") == 0) value = node.GetAttributeValue(i);
            else if (text && CompareTextNoCase(attribute, L"value") == 0) value = node.GetAttributeValue(i);
        }
        if (!id || !value) continue;
        CStringKeyMap& map = image ? m_images : layout ? m_layouts : m_texts;
        if (layout && map.Find(id)) continue;   // the first layout path wins
        CUIString* stored = new (std::nothrow) CUIString(value);
        if (!stored) continue;
        CUIString* old = static_cast<CUIString*>(map.Set(id, stored));
        if (old == stored) delete stored;   // not stored
        else delete old;
    }
}

CUIString CResourceCatalog::GetText(const wchar_t* id) {
    if (!id) return CUIString();
    IQueryControlText* provider;
    {
        CUISharedLock lock;
        if (const CUIString* cached = static_cast<const CUIString*>(m_texts.Find(id))) return *cached;
        provider = m_provider;
    }
    if (!provider) return CUIString(id);
    // The provider is asked outside the lock: it may take locks of its own.
    CUIString answer(provider->QueryControlText(id, nullptr));
    CUISharedLock lock;
    if (const CUIString* cached = static_cast<const CUIString*>(m_texts.Find(id))) return *cached;
    CUIString* stored = new (std::nothrow) CUIString(answer);
    if (stored && m_texts.Set(id, stored) == stored) delete stored;
    return answer;
}

void CResourceCatalog::ReloadTexts(const wchar_t* id) {
    if (!id || !*id) return;
    IQueryControlText* provider;
    CUIString key(id);
    bool cached = false;
    {
        CUISharedLock lock;
        provider = m_provider;
        for (int i = 0; i < m_texts.GetSize() && !cached; ++i) {
            const wchar_t* existing = m_texts.GetKeyAt(i);
            if (existing && CompareTextNoCase(existing, id) == 0) {
                key = existing;
                cached = true;
            }
        }
    }
    if (!provider) return;
    // The provider is asked outside the lock (it may be called from a worker
    // thread while the UI thread reads texts).
    const wchar_t* answer = provider->QueryControlText(key, nullptr);
    if (cached && !answer) return;   // a null answer keeps the cached text
    CUIString* fresh = new (std::nothrow) CUIString(answer);
    if (!fresh) return;
    CUISharedLock lock;
    CUIString* old = static_cast<CUIString*>(m_texts.Set(key, fresh));
    if (old == fresh) delete fresh;
    else delete old;
}

void CResourceCatalog::ResetPaths() {
    CUISharedLock lock;
    FreeValues(m_images);
    FreeValues(m_layouts);
}

void CResourceCatalog::ResetTexts() {
    CUISharedLock lock;
    FreeValues(m_texts);
}

void CResourceCatalog::Release() {
    CUISharedLock lock;
    ResetTexts();
    ResetPaths();
    m_document.Release();
    m_language.Empty();
}

CUIString CResourceCatalog::GetImagePath(const wchar_t* id) {
    if (!id) return CUIString();
    CUISharedLock lock;
    const CUIString* path = static_cast<const CUIString*>(m_images.Find(id));
    return path ? *path : CUIString();
}

CUIString CResourceCatalog::GetLayoutPath(const wchar_t* id) {
    if (!id) return CUIString();
    CUISharedLock lock;
    const CUIString* path = static_cast<const CUIString*>(m_layouts.Find(id));
    return path ? *path : CUIString();
}

int CResourceCatalog::GetImageCount() {
    CUISharedLock lock;
    return m_images.GetSize();
}

int CResourceCatalog::GetLayoutCount() {
    CUISharedLock lock;
    return m_layouts.GetSize();
}

int CResourceCatalog::GetTextCount() {
    CUISharedLock lock;
    return m_texts.GetSize();
}

void CResourceCatalog::SetTextProvider(IQueryControlText* provider) {
    CUISharedLock lock;
    m_provider = provider;
}

IQueryControlText* CResourceCatalog::GetTextProvider() {
    CUISharedLock lock;
    return m_provider;
}

void CResourceCatalog::SetLanguage(const wchar_t* language) {
    CUISharedLock lock;
    m_language = language;
}

CUIString CResourceCatalog::GetLanguage() {
    CUISharedLock lock;
    return m_language;
}

}  // namespace Veneer
