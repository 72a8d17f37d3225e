#include "SkinXml.h"

#include <cstdlib>
#include <cwchar>
#include <cwctype>

#include "SkinArchive.h"
#include "UIValueTypes.h"

namespace Veneer {

// ------------------------------------------------------------------ nodes

CSkinXmlNode CSkinXmlNode::GetChild() const {
    if (!m_document) return CSkinXmlNode();
    const int child = m_document->m_elements[m_element].child;
    return child ? CSkinXmlNode(m_document, child) : CSkinXmlNode();
}

CSkinXmlNode CSkinXmlNode::GetSibling() const {
    if (!m_document) return CSkinXmlNode();
    const int next = m_document->m_elements[m_element].next;
    return next ? CSkinXmlNode(m_document, next) : CSkinXmlNode();
}

CSkinXmlNode CSkinXmlNode::GetParent() const {
    if (!m_document) return CSkinXmlNode();
    const int parent = m_document->m_elements[m_element].parent;
    return parent ? CSkinXmlNode(m_document, parent) : CSkinXmlNode();
}

const wchar_t* CSkinXmlNode::GetName() const {
    if (!m_document) return nullptr;
    return m_document->m_text + m_document->m_elements[m_element].name;
}

const wchar_t* CSkinXmlNode::GetValue() const {
    if (!m_document) return nullptr;
    return m_document->m_text + m_document->m_elements[m_element].text;
}

bool CSkinXmlNode::HasChildren() const {
    return m_document && m_document->m_elements[m_element].child != 0;
}

void CSkinXmlNode::MapAttributes() {
    m_attributeCount = 0;
    m_mapped = true;
    if (!m_document) return;
    const wchar_t* text = m_document->m_text;
    const CSkinXml::Element& element = m_document->m_elements[m_element];
    const wchar_t* p = text + element.name;
    p += wcslen(p) + 1;
    const wchar_t* end = text + element.text;
    while (p < end) {
        while (*p >= 1 && *p <= 32) ++p;
        if (p >= end || *p == L'>') break;   // the end of the start tag
        const wchar_t* name = p;
        p += wcslen(p) + 1;
        while (*p >= 1 && *p <= 32) ++p;
        if (*p != L'"') break;
        ++p;
        m_attributes[m_attributeCount][0] = static_cast<int>(name - text);
        m_attributes[m_attributeCount][1] = static_cast<int>(p - text);
        if (++m_attributeCount == kMaxAttributes) break;
        p += wcslen(p) + 1;
    }
}

int CSkinXmlNode::GetAttributeCount() {
    if (!m_document) return 0;
    if (!m_mapped) MapAttributes();
    return m_attributeCount;
}

bool CSkinXmlNode::HasAttributes() { return GetAttributeCount() > 0; }

const wchar_t* CSkinXmlNode::GetAttributeName(int index) {
    if (!m_document) return nullptr;
    if (index < 0 || index >= GetAttributeCount()) return L"";
    return m_document->m_text + m_attributes[index][0];
}

const wchar_t* CSkinXmlNode::GetAttributeValue(int index) {
    if (!m_document) return nullptr;
    if (index < 0 || index >= GetAttributeCount()) return L"";
    return m_document->m_text + m_attributes[index][1];
}

const wchar_t* CSkinXmlNode::GetAttributeValue(const wchar_t* name) {
    if (!m_document || !name) return nullptr;
    const int count = GetAttributeCount();
    for (int i = 0; i < count; ++i)
        if (CompareTextNoCase(m_document->m_text + m_attributes[i][0], name) == 0)
            return m_document->m_text + m_attributes[i][1];
    return nullptr;
}

bool CSkinXmlNode::CopyAttributeValue(const wchar_t* name, wchar_t* buffer) {
    const wchar_t* value = GetAttributeValue(name);
    if (!value || !buffer) return false;
    size_t length = wcslen(value);
    if (length > kValueBufferChars - 1) length = kValueBufferChars - 1;
    wmemcpy(buffer, value, length);
    buffer[length] = L'\0';
    return true;
}

// ------------------------------------------------------------------ document

CSkinXml::CSkinXml(bool preserveWhitespace) : m_preserveWhitespace(preserveWhitespace) {
    m_errorMessage[0] = L'\0';
    m_errorLocation[0] = L'\0';
}

CSkinXml::~CSkinXml() { Release(); }

void CSkinXml::Release() {
    free(m_text);
    m_text = nullptr;
    free(m_elements);
    m_elements = nullptr;
    m_count = 0;
    m_capacity = 0;
}

CSkinXmlNode CSkinXml::GetRoot() {
    if (m_count < 2) return CSkinXmlNode();
    return CSkinXmlNode(this, 1);
}

bool CSkinXml::LoadFromText(const wchar_t* text) {
    Release();
    if (!text) text = L"";
    const size_t length = wcslen(text);
    m_text = static_cast<wchar_t*>(malloc(sizeof(wchar_t) * (length + 1)));
    if (!m_text) return false;
    wmemcpy(m_text, text, length + 1);
    if (ParseRoot()) return true;
    Release();
    return false;
}

bool CSkinXml::LoadFromBytes(const BYTE* bytes, DWORD size) {
    Release();
    if (!bytes) size = 0;
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        bytes += 3;
        size -= 3;
    }
    int chars = 0;
    if (size > 0) {
        chars = MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(bytes), static_cast<int>(size),
                                    nullptr, 0);
        if (chars <= 0) return false;
    }
    m_text = static_cast<wchar_t*>(malloc(sizeof(wchar_t) * (chars + 1)));
    if (!m_text) return false;
    if (chars > 0)
        MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(bytes), static_cast<int>(size), m_text, chars);
    m_text[chars] = L'\0';
    if (ParseRoot()) return true;
    Release();
    return false;
}

bool CSkinXml::LoadFromFile(const wchar_t* name) {
    Release();
    SkinFileBytes bytes;
    const wchar_t* error = nullptr;
    if (!ReadSkinFile(name, nullptr, SkinFileLayout, bytes, &error))
        return Failed(error ? error : L"Error opening file", nullptr);
    return LoadFromBytes(bytes.data, bytes.size);
}

bool CSkinXml::Failed(const wchar_t* message, const wchar_t* location) {
    wcsncpy(m_errorMessage, message, 99);
    m_errorMessage[99] = L'\0';
    m_errorLocation[0] = L'\0';
    if (location) {
        wcsncpy(m_errorLocation, location, 49);
        m_errorLocation[49] = L'\0';
    }
    return false;
}

int CSkinXml::AddElement(int parent, int previous, int namePosition) {
    if (m_count >= m_capacity) {
        const unsigned capacity = m_capacity + m_capacity / 2 + 500;
        void* block = realloc(m_elements, sizeof(Element) * capacity);
        if (!block) return -1;
        m_elements = static_cast<Element*>(block);
        m_capacity = capacity;
    }
    const int n = static_cast<int>(m_count++);
    m_elements[n].name = namePosition;
    m_elements[n].child = 0;
    m_elements[n].next = 0;
    m_elements[n].parent = parent;
    m_elements[n].text = 0;
    if (previous) m_elements[previous].next = n;
    else if (parent) m_elements[parent].child = n;
    return n;
}

bool CSkinXml::ParseRoot() {
    m_count = 0;
    if (AddElement(0, 0, 0) < 0) return Failed(L"Out of memory", nullptr);   // placeholder record 0
    m_count = 1;
    m_errorMessage[0] = L'\0';
    m_errorLocation[0] = L'\0';
    wchar_t* p = m_text;
    return ParseElement(p, 0, 1);
}

void CSkinXml::SkipWhitespace(wchar_t*& p) {
    while (*p >= 1 && *p <= 32) ++p;
}

void CSkinXml::SkipIdentifier(wchar_t*& p) {
    while (*p && (iswalnum(*p) || *p == L'_' || *p == L':')) ++p;
}

bool CSkinXml::ParseElement(wchar_t*& p, int parent, int depth) {
    SkipWhitespace(p);
    int previous = 0;
    for (;;) {
        if (*p == L'\0' && parent <= 1) return true;
        SkipWhitespace(p);
        if (*p != L'<') return Failed(L"Expected start tag", p);
        if (p[1] == L'/') return true;   // the parent's end tag
        *p++ = L'\0';
        SkipWhitespace(p);
        if (*p == L'!' || *p == L'?') {
            const wchar_t* end = wcsstr(p, *p == L'!' ? L"->" : L"?>");
            p = end ? const_cast<wchar_t*>(end) + 2 : p + wcslen(p);
            SkipWhitespace(p);
            continue;
        }
        if (depth > kMaxDepth) return Failed(L"Elements nested too deeply", p);
        const int n = AddElement(parent, previous, static_cast<int>(p - m_text));
        if (n < 0) return Failed(L"Out of memory", nullptr);
        previous = n;
        wchar_t* name = p;
        SkipIdentifier(p);
        wchar_t* nameEnd = p;
        if (*p == L'\0') return Failed(L"Error parsing element name", name);
        if (!ParseAttributes(p)) return false;
        SkipWhitespace(p);
        if (p[0] == L'/' && p[1] == L'>') {
            m_elements[n].text = static_cast<int>(p - m_text);
            *p = L'\0';
            p += 2;
        } else {
            if (*p != L'>') return Failed(L"Expected start-tag closing", p);
            ++p;
            m_elements[n].text = static_cast<int>(p - m_text);
            wchar_t* out = p;
            ParseData(p, out, L'<');
            if (out < p) *out = L'\0';
            if (*p == L'\0' && parent <= 1) {
                *nameEnd = L'\0';
                return true;
            }
            if (*p != L'<') return Failed(L"Expected end-tag start", p);
            if (p[1] != L'/' && !ParseElement(p, n, depth + 1)) return false;
            if (p[0] == L'<' && p[1] == L'/') {
                *p = L'\0';
                p += 2;
                SkipWhitespace(p);
                const size_t nameLength = static_cast<size_t>(nameEnd - name);
                if (wcsncmp(p, name, nameLength) != 0) return Failed(L"Unmatched closing tag", p);
                p += nameLength;
                SkipWhitespace(p);
                if (*p != L'>') return Failed(L"Unmatched closing tag", *p ? p + 1 : p);
                ++p;
            }
        }
        *nameEnd = L'\0';
        SkipWhitespace(p);
    }
}

bool CSkinXml::ParseAttributes(wchar_t*& p) {
    if (*p == L'>' || (p[0] == L'/' && p[1] == L'>')) return true;
    *p++ = L'\0';
    SkipWhitespace(p);
    while (*p && *p != L'>' && *p != L'/') {
        SkipIdentifier(p);
        wchar_t* nameEnd = p;
        SkipWhitespace(p);
        if (*p != L'=') return Failed(L"Error while parsing attributes", p);
        *p = L' ';
        *nameEnd = L'\0';
        ++p;
        SkipWhitespace(p);
        if (*p != L'"') return Failed(L"Expected attribute value", *p ? p + 1 : p);
        ++p;
        wchar_t* out = p;
        ParseData(p, out, L'"');
        if (*p == L'\0') return Failed(L"Error while parsing attribute string", p);
        *out = L'\0';
        if (out != p) *p = L' ';
        ++p;
        SkipWhitespace(p);
    }
    return true;
}

void CSkinXml::ParseData(wchar_t*& p, wchar_t*& out, wchar_t end) {
    while (*p && *p != end) {
        if (*p == L'&') {
            ++p;
            ParseEntity(p, out);
        } else if (*p == L' ') {
            *out++ = *p++;
            if (!m_preserveWhitespace) SkipWhitespace(p);
        } else {
            *out++ = *p++;
        }
    }
    // The room left by decoded entities reads as whitespace.
    for (wchar_t* q = out; q < p; ++q) *q = L' ';
}

void CSkinXml::ParseEntity(wchar_t*& p, wchar_t*& out) {
    static const struct {
        const wchar_t* name;
        size_t length;
        wchar_t character;
    } named[] = {{L"amp;", 4, L'&'}, {L"lt;", 3, L'<'}, {L"gt;", 3, L'>'}, {L"quot;", 5, L'"'}, {L"apos;", 5, L'\''}};
    for (const auto& entity : named) {
        if (wcsncmp(p, entity.name, entity.length) == 0) {
            *out++ = entity.character;
            p += entity.length;
            return;
        }
    }
    if (*p == L'#') {
        wchar_t* q = p + 1;
        const bool hex = *q == L'x';
        if (hex) ++q;
        unsigned long long value = 0;
        bool overflow = false;
        int digits = 0;
        for (;; ++q, ++digits) {
            int digit;
            if (*q >= L'0' && *q <= L'9') digit = *q - L'0';
            else if (hex && *q >= L'a' && *q <= L'f') digit = *q - L'a' + 10;
            else if (hex && *q >= L'A' && *q <= L'F') digit = *q - L'A' + 10;
            else break;
            value = value * (hex ? 16 : 10) + digit;
            if (value > 0x10FFFF) overflow = true;
            if (overflow) value = 0x110000;   // keeps the sum from wrapping
        }
        if (*q == L';') {
            if (digits > 0 && !overflow) {
                if (value == 9 || value == 10 || value == 13 || (value >= 32 && value <= 0xFFFF)) {
                    *out++ = static_cast<wchar_t>(value);
                } else if (value > 0xFFFF) {
                    // The text is UTF-16: characters above U+FFFF take a surrogate pair.
                    value -= 0x10000;
                    *out++ = static_cast<wchar_t>(0xD800 + (value >> 10));
                    *out++ = static_cast<wchar_t>(0xDC00 + (value & 0x3FF));
                }
            }
            p = q + 1;
            return;
        }
    }
    *out++ = L'&';
}

}  // namespace Veneer
