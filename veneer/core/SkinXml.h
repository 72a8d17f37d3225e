#pragma once
// The skin's small XML-like markup: elements, double-quoted attributes,
// element text before the first child, the five named entities and numeric
// character references. The parser works in place on its own UTF-16 copy and
// records every element in one flat table.
#include <windows.h>

namespace Veneer {

class CSkinXml;

class CSkinXmlNode {
public:
    enum { kMaxAttributes = 64, kValueBufferChars = 500 };

    CSkinXmlNode() = default;
    CSkinXmlNode(CSkinXml* document, int element) : m_element(element), m_document(document) {}

    bool IsValid() const { return m_document != nullptr; }
    CSkinXmlNode GetChild() const;
    CSkinXmlNode GetSibling() const;
    CSkinXmlNode GetParent() const;
    const wchar_t* GetName() const;
    // The element's text (before its first child element).
    const wchar_t* GetValue() const;
    bool HasChildren() const;

    int GetAttributeCount();
    bool HasAttributes();
    const wchar_t* GetAttributeName(int index);
    const wchar_t* GetAttributeValue(int index);
    // The value of the first attribute of that name (case-insensitive), or null.
    const wchar_t* GetAttributeValue(const wchar_t* name);
    // Copies at most 499 characters and the terminator into a buffer of 500.
    bool CopyAttributeValue(const wchar_t* name, wchar_t* buffer);
    void MapAttributes();

private:
    int m_element = 0;
    int m_attributeCount = 0;
    bool m_mapped = false;
    int m_attributes[kMaxAttributes][2] = {};
    CSkinXml* m_document = nullptr;
};

class CSkinXml {
public:
    // Elements nested deeper than this are refused: the parser, the layout
    // builder and the control tree all recurse once per level.
    enum { kMaxDepth = 127 };

    explicit CSkinXml(bool preserveWhitespace = true);
    ~CSkinXml();
    CSkinXml(const CSkinXml&) = delete;
    CSkinXml& operator=(const CSkinXml&) = delete;

    bool LoadFromText(const wchar_t* text);
    bool LoadFromBytes(const BYTE* bytes, DWORD size);
    bool LoadFromFile(const wchar_t* name);
    void Release();
    CSkinXmlNode GetRoot();

    const wchar_t* GetLastErrorMessage() const { return m_errorMessage; }
    const wchar_t* GetLastErrorLocation() const { return m_errorLocation; }
    unsigned GetElementCount() const { return m_count; }

private:
    friend class CSkinXmlNode;
    struct Element {
        int name;
        int child;
        int next;
        int parent;
        int text;
    };

    bool ParseRoot();
    // depth: the nesting level of the elements read here (1 at the top).
    bool ParseElement(wchar_t*& p, int parent, int depth);
    bool ParseAttributes(wchar_t*& p);
    void ParseData(wchar_t*& p, wchar_t*& out, wchar_t end);
    void ParseEntity(wchar_t*& p, wchar_t*& out);
    static void SkipWhitespace(wchar_t*& p);
    static void SkipIdentifier(wchar_t*& p);
    bool Failed(const wchar_t* message, const wchar_t* location);
    int AddElement(int parent, int previous, int namePosition);

    wchar_t* m_text = nullptr;
    Element* m_elements = nullptr;
    unsigned m_count = 0;
    unsigned m_capacity = 0;
    wchar_t m_errorMessage[100];
    wchar_t m_errorLocation[50];
    bool m_preserveWhitespace;
};

}  // namespace Veneer
