#pragma once
// A small DER engine. Encoding wraps given content in one identifier octet
// and a DER length; callers nest elements by concatenating encodings and
// wrapping them again. Decoding turns BER/DER bytes into a tree of ASN1Node
// records that point back into the caller's buffer. The engine knows no
// types: an element is constructed or primitive by its identifier alone.
#include <windows.h>

#include <new>
#include <vector>

// One decoded element. The source buffer is not owned and must stay alive
// and unchanged as long as the tree is used.
struct ASN1Node {
    const BYTE* pbySource;       // first byte of the decoded buffer
    ULONGLONG ullContentOffset;  // first content octet, from the start of the source
    BYTE byTag;                  // the identifier octet as read
    DWORD dwLengthOfLength;      // length octets, the first one included
    DWORD dwContentLength;       // 0xFFFFFFFF while an indefinite length is open
    DWORD dwTotalLength;         // 1 + length octets + content; 0xFFFFFFFF while open
    DWORD dwLimit;               // offset of the last octet of the source
    WORD wIndefinite;            // 1 while an indefinite length's end is not found
    ASN1Node* pParent;           // null for the root
    std::vector<ASN1Node*> vetNodes;  // children in content order, owned

    ASN1Node();
    ~ASN1Node();
    ASN1Node(const ASN1Node&) = delete;
    ASN1Node& operator=(const ASN1Node&) = delete;
};

// Number of DER length octets for the length; with a non-null out pointer
// also allocates (array new) and fills them. -1 when the allocation fails.
int EncodeASN1Length(ULONGLONG ullLength, BYTE** ppbyLength);

// identifier || DER length || content, allocated with array new. 0 on
// success; E_INVALIDARG for missing pointers, a negative length or an
// encoding that would not fit in 32 bits; E_FAIL when the length octets
// cannot be produced; E_OUTOFMEMORY.
HRESULT ASN1Encode(BYTE** ppbyEncodedData, DWORD* pdwEncodedLength, BYTE byTag, const BYTE* pbyContent,
                   int nContentLength);
HRESULT ASN1Encode(BYTE** ppbyEncodedData, DWORD* pdwEncodedLength, BYTE byTag, const BYTE* pbyContent,
                   DWORD dwContentLength);

// ASN1Encode of the content appended to out: the callers that nest
// elements build them in vectors. Codes as ASN1Encode's.
HRESULT ASN1EncodeAppend(std::vector<BYTE>& out, BYTE byTag, const BYTE* pbyContent, DWORD dwContentLength);
inline HRESULT ASN1EncodeAppend(std::vector<BYTE>& out, BYTE byTag, const std::vector<BYTE>& content) {
    return ASN1EncodeAppend(out, byTag, content.empty() ? nullptr : content.data(), DWORD(content.size()));
}

// A copy of the bytes in a new buffer (array new) for a caller that frees
// it with array delete; E_OUTOFMEMORY when it cannot be allocated.
HRESULT CopyToNewBuffer(const std::vector<BYTE>& data, BYTE** ppbyOut, DWORD* pdwOutLength);

// Runs a producer of a new buffer, called as produce(BYTE**, DWORD*), and
// moves the bytes it made into out. Returns the producer's code.
template <typename Producer>
HRESULT CollectBuffer(std::vector<BYTE>& out, Producer&& produce) {
    BYTE* buffer = nullptr;
    DWORD length = 0;
    HRESULT hr = produce(&buffer, &length);
    if (hr == S_OK) {
        try {
            out.assign(buffer, buffer + length);
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
    }
    delete[] buffer;
    return hr;
}

// Nesting deeper than this many levels (the root is level 1) is refused.
constexpr int ASN1_MAX_NESTING = 127;

// Decodes the element at the start of the buffer and all it contains.
// Returns 0, or -1 on any failure. *ppRootNode receives the root once its
// header is read and keeps the partial tree on a later failure; the caller
// deletes it in both cases. Bytes after the root element are ignored.
int DecodeASN1MemoryEx(ASN1Node** ppRootNode, const BYTE* pbyBuffer, DWORD dwBufferSize);

// Decodes a node's content into children; pnLevel is the shared nesting
// counter. Returns 0 or -1.
int DecodeASN1Children(ASN1Node* pNode, int* pnLevel);
