// The layout builder: loads a layout, reads its declarations and the
// "Window" element's settings, and builds the control tree through the
// control factory.
#include "LayoutBuilder.h"

#include <cwchar>
#include <new>

#include "Container.h"
#include "ControlFactory.h"
#include "PaintManager.h"
#include "ResourceCatalog.h"

namespace Veneer {

namespace {

thread_local int g_nesting = 0;

bool Is(const wchar_t* a, const wchar_t* b) { return a && CompareTextNoCase(a, b) == 0; }

DWORD ReadHexColor(const wchar_t* value) {
    if (*value == L'#') ++value;
    return static_cast<DWORD>(wcstoul(value, nullptr, 16));
}

// Deletes a control that no parent took.
void Discard(CControlUI* control) { delete control; }

}  // namespace

CBuildNesting::CBuildNesting() { ++g_nesting; }
CBuildNesting::~CBuildNesting() { --g_nesting; }
bool CBuildNesting::TooDeep() const { return g_nesting > CLayoutBuilder::kMaxNesting; }

CLayoutBuilder::CLayoutBuilder() : m_xml(true) {}
CLayoutBuilder::~CLayoutBuilder() = default;

CControlUI* CLayoutBuilder::Create(const wchar_t* layout, const wchar_t* resourceType,
                                   IDialogBuilderCallback* callback, CPaintManagerUI* manager, CControlUI* parent) {
    if (!layout) return nullptr;
    CBuildNesting nesting;
    if (nesting.TooDeep()) return nullptr;
    if (IS_INTRESOURCE(layout)) {
        HMODULE module = CPaintManagerUI::GetResourceModule();
        HRSRC found = FindResourceW(module, layout, resourceType);
        if (!found) return nullptr;
        HGLOBAL loaded = LoadResource(module, found);
        const BYTE* bytes = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
        if (!bytes || !m_xml.LoadFromBytes(bytes, SizeofResource(module, found))) return nullptr;
        m_resourceType = resourceType;
    } else {
        CUIString source = layout;
        if (*layout != L'<') {
            const CUIString mapped = GetResourceCatalog().GetLayoutPath(layout);
            if (!mapped.IsEmpty()) source = mapped;
        }
        const bool loaded = source.GetData()[0] == L'<' ? m_xml.LoadFromText(source) : m_xml.LoadFromFile(source);
        if (!loaded) return nullptr;
    }
    return Build(callback, manager, parent);
}

CControlUI* CLayoutBuilder::Build(IDialogBuilderCallback* callback, CPaintManagerUI* manager, CControlUI* parent) {
    m_callback = callback;
    CSkinXmlNode root = m_xml.GetRoot();
    if (!root.IsValid()) return nullptr;
    if (manager) {
        ReadDeclarations(root, manager);
        if (manager->GetPaintWindow() && Is(root.GetName(), L"Window")) ApplyWindowAttributes(root, manager);
    }
    return Parse(root, parent, manager);
}

void CLayoutBuilder::ReadDeclarations(CSkinXmlNode& root, CPaintManagerUI* manager) {
    for (CSkinXmlNode node = root.GetChild(); node.IsValid(); node = node.GetSibling()) {
        const wchar_t* name = node.GetName();
        const int count = node.GetAttributeCount();
        auto flag = [](const wchar_t* value) { return CompareTextNoCase(value, L"true") == 0; };
        if (Is(name, L"Image")) {
            const wchar_t *imageName = nullptr, *type = nullptr;
            DWORD mask = 0;
            bool shared = false;
            for (int i = 0; i < count; ++i) {
                const wchar_t* key = node.GetAttributeName(i);
                const wchar_t* value = node.GetAttributeValue(i);
                if (Is(key, L"name")) imageName = value;
                else if (Is(key, L"restype")) type = value;
                else if (Is(key, L"mask")) mask = ReadHexColor(value);
                else if (Is(key, L"shared")) shared = flag(value);
            }
            if (imageName) manager->AddImage(type, imageName, mask, false, shared);
        } else if (Is(name, L"Font")) {
            int id = -1, size = 12;
            const wchar_t* face = nullptr;
            bool bold = false, underline = false, italic = false, isDefault = false, shared = false;
            for (int i = 0; i < count; ++i) {
                const wchar_t* key = node.GetAttributeName(i);
                const wchar_t* value = node.GetAttributeValue(i);
                if (Is(key, L"id")) id = static_cast<int>(wcstol(value, nullptr, 10));
                else if (Is(key, L"name")) face = value;
                else if (Is(key, L"size")) size = static_cast<int>(wcstol(value, nullptr, 10));
                else if (Is(key, L"bold")) bold = flag(value);
                else if (Is(key, L"underline")) underline = flag(value);
                else if (Is(key, L"italic")) italic = flag(value);
                else if (Is(key, L"default")) isDefault = flag(value);
                else if (Is(key, L"shared")) shared = flag(value);
            }
            if (id >= 0) {
                manager->AddFont(face, id, size, bold, underline, italic, shared);
                if (isDefault) manager->SetDefaultFont(face, size, bold, underline, italic, shared);
            }
        } else if (Is(name, L"Default") || Is(name, L"Style")) {
            const wchar_t *entry = nullptr, *value = nullptr;
            bool shared = false;
            for (int i = 0; i < count; ++i) {
                const wchar_t* key = node.GetAttributeName(i);
                if (Is(key, L"name")) entry = node.GetAttributeValue(i);
                else if (Is(key, L"value")) value = node.GetAttributeValue(i);
                else if (Is(key, L"shared")) shared = flag(node.GetAttributeValue(i));
            }
            if (entry) {
                if (Is(name, L"Default")) {
                    manager->AddClassDefaults(entry, value ? value : L"", shared);
                } else {
                    manager->AddStyle(entry, value ? value : L"", shared);
                }
            }
        } else if (Is(name, L"Import")) {
            const wchar_t* file = node.GetAttributeValue(L"fontfile");
            if (file) manager->AddFontFile(file);
        }
    }
}

void CLayoutBuilder::ApplyWindowAttributes(CSkinXmlNode& root, CPaintManagerUI* manager) {
    const int count = root.GetAttributeCount();
    for (int i = 0; i < count; ++i) {
        const wchar_t* key = root.GetAttributeName(i);
        const wchar_t* value = root.GetAttributeValue(i);
        if (Is(key, L"size")) {
            long v[2];
            ReadIntList(value, v, 2);
            manager->SetInitSize(v[0], v[1]);
        } else if (Is(key, L"sizebox") || Is(key, L"caption")) {
            long v[4];
            ReadIntList(value, v, 4);
            const RECT r = {v[0], v[1], v[2], v[3]};
            if (Is(key, L"sizebox")) manager->SetSizeBox(r); else manager->SetCaptionRect(r);
        } else if (Is(key, L"roundcorner") || Is(key, L"mininfo") || Is(key, L"maxinfo")) {
            long v[2];
            ReadIntList(value, v, 2);
            if (Is(key, L"roundcorner")) manager->SetRoundCorner(v[0], v[1]);
            else if (Is(key, L"mininfo")) manager->SetMinInfo(v[0], v[1]);
            else manager->SetMaxInfo(v[0], v[1]);
        } else if (Is(key, L"opacity") || Is(key, L"alpha")) {
            manager->SetOpacity(static_cast<BYTE>(_wtoi(value)));
        } else if (Is(key, L"layeredopacity")) {
            manager->SetLayeredOpacity(static_cast<BYTE>(_wtoi(value)));
        } else if (Is(key, L"layered") || Is(key, L"bktrans")) {
            manager->SetLayeredMode(ReadBool(value));
        } else if (Is(key, L"tooltiphovertime")) {
            manager->SetHoverTime(static_cast<DWORD>(_wtoi(value)));
        } else if (Is(key, L"showdirty")) {
            manager->SetShowDirty(ReadBool(value));
        } else if (Is(key, L"disabledfontcolor")) {
            manager->SetDefaultDisabledColor(ReadHexColor(value));
        } else if (Is(key, L"defaultfontcolor")) {
            manager->SetDefaultFontColor(ReadHexColor(value));
        } else if (Is(key, L"linkfontcolor")) {
            manager->SetDefaultLinkFontColor(ReadHexColor(value));
        } else if (Is(key, L"linkhoverfontcolor")) {
            manager->SetDefaultLinkHoverFontColor(ReadHexColor(value));
        } else if (Is(key, L"selectedcolor")) {
            manager->SetDefaultSelectedBkColor(ReadHexColor(value));
        } else if (Is(key, L"gdiplustext")) {
            manager->SetUseGdiplusText(ReadBool(value));
        } else if (Is(key, L"textrenderinghint")) {
            manager->SetGdiplusTextRenderingHint(_wtoi(value));
        } else if (Is(key, L"shadowsize")) {
            manager->GetShadow()->SetSize(_wtoi(value));
        } else if (Is(key, L"shadowsharpness")) {
            manager->GetShadow()->SetSharpness(_wtoi(value));
        } else if (Is(key, L"shadowdarkness")) {
            manager->GetShadow()->SetDarkness(_wtoi(value));
        } else if (Is(key, L"shadowposition")) {
            long v[2];
            ReadIntList(value, v, 2);
            manager->GetShadow()->SetPosition(v[0], v[1]);
        } else if (Is(key, L"shadowcolor")) {
            // Markup colours are 0xAARRGGBB; the shadow keeps red in its lowest byte.
            const DWORD argb = ReadHexColor(value);
            manager->GetShadow()->SetColor(RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF));
            if (manager->GetShadow()->GetShadowWindow()) manager->GetShadow()->Update(manager->GetPaintWindow());
        } else if (Is(key, L"shadowcorner")) {
            long v[4];
            ReadIntList(value, v, 4);
            manager->GetShadow()->SetShadowCorner(v[0], v[1], v[2], v[3]);
        } else if (Is(key, L"shadowimage")) {
            manager->GetShadow()->SetImage(value);
        } else if (Is(key, L"showshadow")) {
            manager->GetShadow()->SetShowShadow(ReadBool(value));
        }
    }
}

void CLayoutBuilder::ApplyAttributes(CControlUI* control, CSkinXmlNode& node, CPaintManagerUI* manager,
                                     bool detach) {
    if (manager) {
        control->AttachManager(manager, nullptr, false);
        const wchar_t* defaults = manager->GetClassDefaults(node.GetName());
        if (defaults) control->ApplyAttributeString(defaults);
    }
    const int count = node.GetAttributeCount();
    for (int i = 0; i < count; ++i) control->SetAttribute(node.GetAttributeName(i), node.GetAttributeValue(i));
    if (manager && detach) control->AttachManager(nullptr, nullptr, false);
}

CControlUI* CLayoutBuilder::Parse(CSkinXmlNode& node, CControlUI* parent, CPaintManagerUI* manager) {
    CControlUI* result = nullptr;
    IContainerUI* container = nullptr;
    bool containerLooked = false;
    for (CSkinXmlNode child = node.GetChild(); child.IsValid(); child = child.GetSibling()) {
        const wchar_t* name = child.GetName();
        if (Is(name, L"Image") || Is(name, L"Font") || Is(name, L"Default") || Is(name, L"Style") ||
            Is(name, L"Import")) {
            continue;
        }
        if (Is(name, L"Include")) {
            wchar_t source[CSkinXmlNode::kValueBufferChars] = {};
            if (!child.CopyAttributeValue(L"source", source)) continue;
            const wchar_t* countText = child.GetAttributeValue(L"count");
            const int count = countText ? static_cast<int>(wcstol(countText, nullptr, 10)) : 1;
            CLayoutBuilder inner;
            CControlUI* last = nullptr;
            for (int i = 0; i < count; ++i) {
                if (i == 0) {
                    const wchar_t* layout = source;
                    if (m_resourceType) layout = MAKEINTRESOURCEW(_wtoi(source));
                    last = inner.Create(layout, m_resourceType, m_callback, manager, parent);
                    if (!last && !inner.GetMarkup().GetRoot().IsValid()) break;
                } else {
                    CBuildNesting nesting;
                    if (nesting.TooDeep()) break;
                    last = inner.Build(m_callback, manager, parent);
                }
            }
            inner.GetMarkup().Release();
            if (!result) result = last;
            continue;
        }
        // Tree nodes and views belong to the controls library; without it
        // their elements are unknown like any other.
        CControlUI* control = CreateControlByTag(name);
        if (!control) continue;
        if (child.HasChildren()) {
            CSkinXmlNode sub = child;
            Parse(sub, control, manager);
        }
        if (parent) {
            if (!containerLooked) {
                container = static_cast<IContainerUI*>(parent->FindInterface(L"IContainer"));
                containerLooked = true;
            }
            if (!container) {
                Discard(control);
                return nullptr;
            }
            if (!container->AddItem(control)) {
                Discard(control);
                continue;
            }
        }
        ApplyAttributes(control, child, manager, true);
        if (!result) result = control;
    }
    return result;
}

CControlUI* CLayoutBuilder::CreateControlByTag(const wchar_t* name) {
    CUIString className = L"C";
    className += name;
    className += L"UI";
    CControlUI* control = CControlFactory::GetInstance()->CreateControlByClass(className);
    if (!control && m_callback) control = m_callback->CreateCustomControl(name);
    return control;
}

}  // namespace Veneer
