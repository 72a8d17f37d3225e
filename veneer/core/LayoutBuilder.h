#pragma once
// Builds a window's control tree from a layout file and stores the layout's
// window-wide declarations (images, fonts, defaults, styles, font files) in
// the paint manager.
#include "Control.h"
#include "SkinXml.h"

namespace Veneer {

class CPaintManagerUI;

// The application's hook for element names the factory does not know.
class IDialogBuilderCallback {
public:
    virtual CControlUI* CreateCustomControl(const wchar_t* className) = 0;

protected:
    ~IDialogBuilderCallback() = default;
};

// Counts nested builds on the calling thread while it lives.
class CBuildNesting {
public:
    CBuildNesting();
    ~CBuildNesting();
    CBuildNesting(const CBuildNesting&) = delete;
    CBuildNesting& operator=(const CBuildNesting&) = delete;
    bool TooDeep() const;
};

class CLayoutBuilder {
public:
    // Includes and child layouts nested deeper than this build nothing (a
    // layout that includes itself would otherwise never end).
    enum { kMaxNesting = 16 };

    CLayoutBuilder();
    ~CLayoutBuilder();
    CLayoutBuilder(const CLayoutBuilder&) = delete;
    CLayoutBuilder& operator=(const CLayoutBuilder&) = delete;

    // The layout: a numeric resource id (MAKEINTRESOURCE) of the given type,
    // markup text beginning with "<", a catalog layout id or a skin file.
    CControlUI* Create(const wchar_t* layout, const wchar_t* resourceType, IDialogBuilderCallback* callback,
                       CPaintManagerUI* manager, CControlUI* parent = nullptr);
    CControlUI* Build(IDialogBuilderCallback* callback, CPaintManagerUI* manager, CControlUI* parent = nullptr);
    CSkinXml& GetMarkup() { return m_xml; }
    const wchar_t* GetResourceType() const { return m_resourceType; }

private:
    CControlUI* Parse(CSkinXmlNode& node, CControlUI* parent, CPaintManagerUI* manager);
    CControlUI* CreateControlByTag(const wchar_t* name);
    void ReadDeclarations(CSkinXmlNode& root, CPaintManagerUI* manager);
    void ApplyWindowAttributes(CSkinXmlNode& root, CPaintManagerUI* manager);
    void ApplyAttributes(CControlUI* control, CSkinXmlNode& node, CPaintManagerUI* manager, bool detach);

    CSkinXml m_xml;
    IDialogBuilderCallback* m_callback = nullptr;
    const wchar_t* m_resourceType = nullptr;
};

}  // namespace Veneer
