// The legacy signature verifier's DER node tree and identifier table.
#include "ImageVerifyAsn1.h"

#include <cstring>
#include <new>

const Asn1OidEntry g_Asn1OidTable[ASN1_OID_COUNT] = {
    {1, 5, {0x2B, 0x0E, 0x03, 0x02, 0x1A}},                                     // 1.3.14.3.2.26
    {2, 9, {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01}},             // 2.16.840.1.101.3.4.2.1
    {3, 9, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x05}},             // 1.2.840.113549.1.1.5
    {4, 9, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B}},             // 1.2.840.113549.1.1.11
    {5, 10, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0C}},      // 1.3.6.1.4.1.311.2.1.12
    {6, 10, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0B}},      // 1.3.6.1.4.1.311.2.1.11
    {7, 10, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04}},      // 1.3.6.1.4.1.311.2.1.4
    {8, 9, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x03}},             // 1.2.840.113549.1.9.3
    {9, 9, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04}},             // 1.2.840.113549.1.9.4
    {10, 9, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x06}},            // 1.2.840.113549.1.9.6
    {11, 9, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02}},            // 1.2.840.113549.1.7.2
    {12, 11, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x10, 0x01, 0x04}},  // 1.2.840.113549.1.9.16.1.4
    {13, 10, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x04, 0x01}},     // 1.3.6.1.4.1.311.2.4.1
    {14, 10, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x03, 0x03, 0x01}},     // 1.3.6.1.4.1.311.3.3.1
    {15, 3, {0x55, 0x1D, 0x0E}},                                                // 2.5.29.14
    {16, 3, {0x55, 0x1D, 0x23}},                                                // 2.5.29.35
};

namespace {

bool IsDescended(BYTE tag) { return tag == 0x30 || tag == 0x31 || (tag & 0xA0) == 0xA0; }

// Parses one element from at most dwLength bytes; *pdwConsumed receives the
// bytes used, leading zero bytes included. Lengths are compared in 64 bits
// so that a length near 2^32 cannot wrap past the check.
Asn1TreeNode* ParseElement(const BYTE* pbData, DWORD dwLength, int depth, DWORD* pdwConsumed) {
    if (depth > ASN1_MAX_DEPTH) return nullptr;
    DWORD pos = 0;
    while (pos < dwLength && pbData[pos] == 0) ++pos;
    if (dwLength - pos < 2) return nullptr;

    const BYTE* header = pbData + pos;
    const DWORD available = dwLength - pos;
    const BYTE tag = header[0];
    const BYTE lengthByte = header[1];
    DWORD headerSize = 2;
    unsigned long long contentSize = 0;
    if (lengthByte < 0x80) {
        contentSize = lengthByte;
    } else if (lengthByte == 0x80) {
        contentSize = 0;  // indefinite lengths are not followed
    } else if (lengthByte <= 0x84) {
        const DWORD count = lengthByte & 0x0F;
        if (available < 2 + count) return nullptr;
        for (DWORD i = 0; i < count; ++i) contentSize = (contentSize << 8) | header[2 + i];
        headerSize += count;
    } else {
        return nullptr;
    }
    if (headerSize + contentSize > available) return nullptr;

    Asn1TreeNode* node = new (std::nothrow) Asn1TreeNode();
    if (!node) return nullptr;
    node->Tag = tag;
    node->Size = static_cast<DWORD>(contentSize);
    node->Data = header + headerSize;
    node->TotalSize = headerSize + node->Size;
    node->Header = header;

    if (IsDescended(tag) && node->Size > 0) {
        Asn1TreeNode** link = &node->Child;
        DWORD consumed = 0;
        while (consumed < node->Size) {
            DWORD used = 0;
            Asn1TreeNode* child = ParseElement(node->Data + consumed, node->Size - consumed, depth + 1, &used);
            if (!child) {
                FreeAsn1Tree(node);
                return nullptr;
            }
            *link = child;
            link = &child->Next;
            consumed += used;
        }
    }
    *pdwConsumed = pos + node->TotalSize;
    return node;
}

// Reads "index[:tag]" of at most 15 characters (the index at most 7 digits).
bool ParseStep(const char* step, size_t length, unsigned long* index, unsigned long* tag) {
    if (length == 0 || length > 15) return false;
    size_t i = 0;
    *index = 0;
    while (i < length && step[i] >= '0' && step[i] <= '9') {
        if (i >= 7) return false;
        *index = *index * 10 + static_cast<unsigned long>(step[i] - '0');
        ++i;
    }
    if (i == 0) return false;
    *tag = 0;
    if (i == length) return true;
    if (step[i] != ':' || i + 1 == length) return false;
    for (++i; i < length; ++i) {
        const char c = step[i];
        unsigned long v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else return false;
        *tag = (*tag << 4) | v;
        if (*tag > 0xFF) return false;
    }
    return true;
}

const Asn1OidEntry* FindEntry(DWORD dwKey) {
    for (const Asn1OidEntry& e : g_Asn1OidTable)
        if (e.Key == dwKey) return &e;
    return nullptr;
}

}  // namespace

Asn1TreeNode* ParseAsn1Data(const BYTE* pbData, DWORD dwLength) {
    if (!pbData) return nullptr;
    DWORD consumed = 0;
    return ParseElement(pbData, dwLength, 1, &consumed);
}

void FreeAsn1Tree(Asn1TreeNode* pNode) {
    while (pNode) {
        Asn1TreeNode* next = pNode->Next;
        FreeAsn1Tree(pNode->Child);  // depth bounded by ASN1_MAX_DEPTH
        delete pNode;
        pNode = next;
    }
}

Asn1TreeNode* GetAsn1Node(Asn1TreeNode* pNode, const char* pszPath) {
    if (!pNode || !pszPath) return nullptr;
    const char* step = pszPath;
    while (pNode) {
        const char* end = strchr(step, '.');
        const size_t length = end ? static_cast<size_t>(end - step) : strlen(step);
        unsigned long index = 0, tag = 0;
        if (!ParseStep(step, length, &index, &tag)) return nullptr;
        Asn1TreeNode* child = pNode->Child;
        for (unsigned long i = 0; child && i < index; ++i) child = child->Next;
        if (!child || (tag != 0 && child->Tag != tag)) return nullptr;
        pNode = child;
        if (!end) return pNode;
        step = end + 1;
    }
    return nullptr;
}

BOOL Asn1OIDMatches(const Asn1TreeNode* pNode, DWORD dwKey) {
    const Asn1OidEntry* entry = FindEntry(dwKey);
    if (!pNode || !entry) return FALSE;
    for (const Asn1TreeNode* child = pNode->Child; child; child = child->Next) {
        if (child->Tag != 0x06) continue;
        return child->Size == entry->Length && memcmp(child->Data, entry->Value, entry->Length) == 0;
    }
    return FALSE;
}

Asn1TreeNode* SearchAsn1Object(Asn1TreeNode* pNode, DWORD dwKey) {
    if (!pNode) return nullptr;
    for (Asn1TreeNode* child = pNode->Child; child; child = child->Next)
        if (child->Tag == 0x30 && Asn1OIDMatches(child, dwKey)) return child;
    return nullptr;
}

Asn1DigestAlg GetAsn1DigestAlg(const Asn1TreeNode* pAlgorithmNode) {
    if (Asn1OIDMatches(pAlgorithmNode, OID_sha1) || Asn1OIDMatches(pAlgorithmNode, OID_sha1WithRSAEncryption))
        return DigestAlg_SHA1;
    if (Asn1OIDMatches(pAlgorithmNode, OID_sha256) || Asn1OIDMatches(pAlgorithmNode, OID_sha256WithRSAEncryption))
        return DigestAlg_SHA256;
    return DigestAlg_Unknown;
}
