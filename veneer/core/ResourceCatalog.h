#pragma once
// One process-wide table that names resources by id: image ids to image
// paths, layout ids to layout paths and text ids to the user's language.
#include <windows.h>

#include "SkinXml.h"
#include "UIValueTypes.h"

namespace Veneer {

class IQueryControlText {
public:
    virtual ~IQueryControlText() = default;
    // A text for the id, or null; the catalog passes no control name.
    virtual const wchar_t* QueryControlText(const wchar_t* textId, const wchar_t* controlName) = 0;
};

class CResourceCatalog {
public:
    CResourceCatalog();
    ~CResourceCatalog();
    CResourceCatalog(const CResourceCatalog&) = delete;
    CResourceCatalog& operator=(const CResourceCatalog&) = delete;

    // A file of the skin, markup text beginning with "<", or a numeric
    // resource id (of type "xml"); 1 on success, 0 on failure.
    int LoadCatalog(const wchar_t* name);
    CUIString GetText(const wchar_t* id);
    void ReloadTexts(const wchar_t* id);
    void Release();
    void ResetPaths();
    void ResetTexts();

    // The path an image or layout id maps to; empty when there is none.
    CUIString GetImagePath(const wchar_t* id);
    CUIString GetLayoutPath(const wchar_t* id);
    int GetImageCount();
    int GetLayoutCount();
    int GetTextCount();

    void SetTextProvider(IQueryControlText* provider);
    IQueryControlText* GetTextProvider();
    void SetLanguage(const wchar_t* language);
    CUIString GetLanguage();

private:
    void LoadNodes(CSkinXmlNode node);
    static void FreeValues(CStringKeyMap& map);

    IQueryControlText* m_provider;
    CStringKeyMap m_images;
    CStringKeyMap m_layouts;
    CStringKeyMap m_texts;
    CUIString m_language;
    CSkinXml m_document;
};

CResourceCatalog& GetResourceCatalog();

}  // namespace Veneer
