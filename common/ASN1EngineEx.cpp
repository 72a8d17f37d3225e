// DER encoding of single elements and BER/DER decoding into node trees.
// Every bound of the decoder is computed in 64 bits, so no length read from
// the input can wrap an offset back into the buffer.
#include "ASN1EngineEx.h"

#include <cstring>
#include <new>

#include "TraceHelper.h"

#define TRACE_MODULE L"ASN1EngineEx"

namespace {

constexpr DWORD kOpenLength = 0xFFFFFFFF;
// Long-form lengths are collected in 32 bits: more octets cannot be read.
constexpr DWORD kMaxLongFormOctets = 4;

const wchar_t kDecodeName[] = L"DecodeASN1MemoryEx";
const wchar_t kChildrenName[] = L"DecodeASN1Children";

#define DIAGNOSE(function, step, reason) TraceDiagnosticLine(TRACE_MODULE, __LINE__, function, step, reason)

// One element header as read from the buffer.
struct Header {
    BYTE tag = 0;
    DWORD lengthOctetCount = 0;
    DWORD contentLength = 0;
    ULONGLONG contentOffset = 0;
    WORD indefinite = 0;
};

// Reads the header at offset pos; the element must lie before boundEnd
// (exclusive), which never exceeds the buffer size.
bool ReadHeader(const BYTE* source, ULONGLONG pos, ULONGLONG boundEnd, Header& h) {
    TraceValue(L"ASN1 header position", static_cast<DWORD>(pos));
    if (pos + 2 > boundEnd) {
        DIAGNOSE(kDecodeName, L"Read header", L"identifier or length octet out of bounds");
        return false;
    }
    h.tag = source[pos];
    const BYTE first = source[pos + 1];
    if (first < 0x80) {
        h.lengthOctetCount = 1;
        h.contentLength = first;
        h.contentOffset = pos + 2;
        h.indefinite = 0;
    } else if (first == 0x80) {
        h.lengthOctetCount = 1;
        h.contentLength = kOpenLength;
        h.contentOffset = pos + 2;
        h.indefinite = 1;
    } else {
        const DWORD k = first & 0x7F;
        if (k > kMaxLongFormOctets) {
            DIAGNOSE(kDecodeName, L"Read length", L"more long-form length octets than 32 bits hold");
            return false;
        }
        if (pos + 2 + k > boundEnd) {
            DIAGNOSE(kDecodeName, L"Read length", L"long-form length octets out of bounds");
            return false;
        }
        DWORD length = 0;
        for (DWORD i = 0; i < k; ++i) length = (length << 8) | source[pos + 2 + i];
        h.lengthOctetCount = k + 1;
        h.contentLength = length;
        h.contentOffset = pos + 2 + k;
        h.indefinite = 0;
    }
    if (!h.indefinite && h.contentOffset + h.contentLength > boundEnd) {
        DIAGNOSE(kDecodeName, L"Read length", L"content out of bounds");
        return false;
    }
    TraceValue(L"ASN1 tag", h.tag);
    TraceValue(L"ASN1 content length", h.contentLength);
    return true;
}

ASN1Node* NewNode(const BYTE* source, DWORD limit, const Header& h, ASN1Node* parent) {
    ASN1Node* node = new (std::nothrow) ASN1Node;
    if (!node) return nullptr;
    node->pbySource = source;
    node->dwLimit = limit;
    node->byTag = h.tag;
    node->dwLengthOfLength = h.lengthOctetCount;
    node->dwContentLength = h.contentLength;
    node->ullContentOffset = h.contentOffset;
    node->wIndefinite = h.indefinite;
    node->pParent = parent;
    // contentOffset + contentLength lies within the buffer, so this fits.
    node->dwTotalLength = h.indefinite ? kOpenLength : 1 + h.lengthOctetCount + h.contentLength;
    return node;
}

bool IsLeafTag(BYTE tag) { return tag <= 0x1F || (tag >= 0x80 && tag <= 0x8F); }

// Closes an indefinite length whose content (end-of-contents octets
// included) is `content` octets long.
bool CloseIndefinite(ASN1Node* node, ULONGLONG content) {
    const ULONGLONG total = 1ULL + node->dwLengthOfLength + content;
    if (total >= kOpenLength) {
        DIAGNOSE(kChildrenName, L"End of contents", L"element longer than 32 bits hold");
        return false;
    }
    node->dwContentLength = static_cast<DWORD>(content);
    node->dwTotalLength = static_cast<DWORD>(total);
    node->wIndefinite = 0;
    return true;
}

int DecodeContent(ASN1Node* node, int* level) {
    const BYTE* source = node->pbySource;
    const ULONGLONG size = 1ULL + node->dwLimit;

    if (IsLeafTag(node->byTag)) {
        if (!node->wIndefinite) return 0;
        // A primitive element of indefinite length ends at the first two zero octets.
        for (ULONGLONG at = node->ullContentOffset; at + 2 <= size; ++at) {
            if (source[at] == 0 && source[at + 1] == 0)
                return CloseIndefinite(node, at - node->ullContentOffset + 2) ? 0 : -1;
        }
        DIAGNOSE(kChildrenName, L"End of contents", L"no end-of-contents octets in the buffer");
        return -1;
    }

    const ULONGLONG boundEnd = node->wIndefinite ? size : node->ullContentOffset + node->dwContentLength;
    ULONGLONG consumed = 0;
    while (node->wIndefinite || consumed < node->dwContentLength) {
        const ULONGLONG at = node->ullContentOffset + consumed;
        if (node->wIndefinite) {
            if (at + 2 > size) {
                DIAGNOSE(kChildrenName, L"End of contents", L"no end-of-contents octets in the buffer");
                return -1;
            }
            if (source[at] == 0 && source[at + 1] == 0) return CloseIndefinite(node, consumed + 2) ? 0 : -1;
        }
        Header h;
        if (!ReadHeader(source, at, boundEnd, h)) return -1;
        ASN1Node* child = NewNode(source, node->dwLimit, h, node);
        if (!child) {
            DIAGNOSE(kChildrenName, L"New node", L"!pChildNode");
            return -1;
        }
        if (DecodeASN1Children(child, level) != 0) {
            delete child;
            return -1;
        }
        try {
            node->vetNodes.push_back(child);
        } catch (const std::bad_alloc&) {
            delete child;
            DIAGNOSE(kChildrenName, L"Append node", L"out of memory");
            return -1;
        }
        consumed += child->dwTotalLength;
        if (!node->wIndefinite && consumed > node->dwContentLength) {
            DIAGNOSE(kChildrenName, L"Children", L"children longer than their parent's content");
            return -1;
        }
    }
    return 0;
}

}  // namespace

ASN1Node::ASN1Node()
    : pbySource(nullptr),
      ullContentOffset(0),
      byTag(0),
      dwLengthOfLength(0),
      dwContentLength(0),
      dwTotalLength(0),
      dwLimit(0),
      wIndefinite(0),
      pParent(nullptr) {}

ASN1Node::~ASN1Node() {
    for (ASN1Node* child : vetNodes) delete child;
    vetNodes.clear();
}

int EncodeASN1Length(ULONGLONG ullLength, BYTE** ppbyLength) {
    int count = 1;
    if (ullLength >= 0x80)
        for (ULONGLONG rest = ullLength; rest; rest >>= 8) ++count;
    if (!ppbyLength) return count;
    BYTE* octets = new (std::nothrow) BYTE[count];
    if (!octets) return -1;
    if (count == 1) {
        octets[0] = static_cast<BYTE>(ullLength);
    } else {
        octets[0] = static_cast<BYTE>(0x80 | (count - 1));
        for (int i = count - 1; i >= 1; --i, ullLength >>= 8) octets[i] = static_cast<BYTE>(ullLength);
    }
    *ppbyLength = octets;
    return count;
}

namespace {

HRESULT Encode(BYTE** ppbyEncodedData, DWORD* pdwEncodedLength, BYTE byTag, const BYTE* pbyContent,
               ULONGLONG contentLength) {
    TRACE_NAME(L"ASN1Encode");
    HRESULT hr = S_OK;
    BYTE* lengthOctets = nullptr;
    BYTE* encoded = nullptr;
    int nLengthOfLength = 0;
    ULONGLONG total = 0;

    CHECK_GOTO(!ppbyEncodedData || !pdwEncodedLength, L"Check Parameter",
               E_INVALIDARG);
    CHECK_GOTO(!pbyContent && contentLength != 0, L"Check Parameter", E_INVALIDARG);
    // The whole element, not just its content, must be countable in 32 bits;
    // nothing is allocated for one that is not.
    total = 1ULL + EncodeASN1Length(contentLength, nullptr) + contentLength;
    CHECK_GOTO(total > 0xFFFFFFFFULL, L"Check Length", E_INVALIDARG);

    nLengthOfLength = EncodeASN1Length(contentLength, &lengthOctets);
    CHECK_GOTO(-1 == nLengthOfLength, L"EncodeASN1Length", E_FAIL);
    TRACE_STEP(L"EncodeASN1Length");

    encoded = new (std::nothrow) BYTE[static_cast<size_t>(total)];
    if (!encoded) {
        hr = E_OUTOFMEMORY;
        TRACE_FAIL(L"New buffer", L"!pbyEncodedData", hr);
        goto exit;
    }
    TRACE_STEP(L"New buffer");
    encoded[0] = byTag;
    memcpy(encoded + 1, lengthOctets, static_cast<size_t>(nLengthOfLength));
    if (contentLength) memcpy(encoded + 1 + nLengthOfLength, pbyContent, static_cast<size_t>(contentLength));
    *ppbyEncodedData = encoded;
    *pdwEncodedLength = static_cast<DWORD>(total);
    encoded = nullptr;

exit:
    delete[] lengthOctets;
    delete[] encoded;
    return hr;
}

}  // namespace

HRESULT ASN1Encode(BYTE** ppbyEncodedData, DWORD* pdwEncodedLength, BYTE byTag, const BYTE* pbyContent,
                   int nContentLength) {
    if (nContentLength < 0) {
        TRACE_NAME(L"ASN1Encode");
        TRACE_FAIL(L"Check Length", L"nContentLength < 0", E_INVALIDARG);
        return E_INVALIDARG;
    }
    return Encode(ppbyEncodedData, pdwEncodedLength, byTag, pbyContent, static_cast<ULONGLONG>(nContentLength));
}

HRESULT ASN1Encode(BYTE** ppbyEncodedData, DWORD* pdwEncodedLength, BYTE byTag, const BYTE* pbyContent,
                   DWORD dwContentLength) {
    return Encode(ppbyEncodedData, pdwEncodedLength, byTag, pbyContent, dwContentLength);
}

HRESULT ASN1EncodeAppend(std::vector<BYTE>& out, BYTE byTag, const BYTE* pbyContent, DWORD dwContentLength) {
    BYTE* encoded = nullptr;
    DWORD length = 0;
    const HRESULT hr = Encode(&encoded, &length, byTag, pbyContent, dwContentLength);
    if (hr != S_OK) return hr;
    try {
        out.insert(out.end(), encoded, encoded + length);
    } catch (const std::bad_alloc&) {
        delete[] encoded;
        return E_OUTOFMEMORY;
    }
    delete[] encoded;
    return S_OK;
}

HRESULT CopyToNewBuffer(const std::vector<BYTE>& data, BYTE** ppbyOut, DWORD* pdwOutLength) {
    if (!ppbyOut || !pdwOutLength) return E_INVALIDARG;
    BYTE* copy = new (std::nothrow) BYTE[data.empty() ? 1 : data.size()];
    if (!copy) return E_OUTOFMEMORY;
    if (!data.empty()) memcpy(copy, data.data(), data.size());
    *ppbyOut = copy;
    *pdwOutLength = DWORD(data.size());
    return S_OK;
}

int DecodeASN1Children(ASN1Node* pNode, int* pnLevel) {
    if (!pNode || !pnLevel) return -1;
    if (++*pnLevel > ASN1_MAX_NESTING) {
        DIAGNOSE(kChildrenName, L"Check level", L"nesting deeper than 127 levels");
        --*pnLevel;
        return -1;
    }
    TraceValue(L"ASN1 nesting level", static_cast<DWORD>(*pnLevel));
    const int result = DecodeContent(pNode, pnLevel);
    --*pnLevel;
    return result;
}

int DecodeASN1MemoryEx(ASN1Node** ppRootNode, const BYTE* pbyBuffer, DWORD dwBufferSize) {
    TRACE_SCOPE(kDecodeName);
    if (!ppRootNode || !pbyBuffer || dwBufferSize == 0) {
        DIAGNOSE(traceFunc_, L"Check Parameter", L"no buffer");
        return -1;
    }
    *ppRootNode = nullptr;
    Header h;
    if (!ReadHeader(pbyBuffer, 0, dwBufferSize, h)) return -1;
    ASN1Node* root = NewNode(pbyBuffer, dwBufferSize - 1, h, nullptr);
    if (!root) {
        DIAGNOSE(traceFunc_, L"New node", L"!pRootNode");
        return -1;
    }
    *ppRootNode = root;
    int level = 0;
    return DecodeASN1Children(root, &level);
}
