#pragma once
// The legacy signature verifier's own small DER reader: a tree of nodes
// that point into the parsed bytes (which must outlive the tree), path
// look-ups such as "0.6.1:03", and a table of the 16 object identifiers the
// verifier recognises. Nothing here traces or keeps state.
#include <windows.h>

struct Asn1TreeNode {
    BYTE Tag;              // the single tag byte as encoded
    DWORD Size;            // content length
    const BYTE* Data;      // first content byte
    DWORD TotalSize;       // header and content
    const BYTE* Header;    // first header byte
    Asn1TreeNode* Child;   // first child (constructed elements)
    Asn1TreeNode* Next;    // next sibling
};

enum Asn1DigestAlg {
    DigestAlg_Unknown = 0,
    DigestAlg_SHA1 = 1,    // 20-byte digests
    DigestAlg_SHA256 = 2,  // 32-byte digests
};

// Keys of the identifier table.
enum Asn1OidKey {
    OID_sha1 = 1,
    OID_sha256 = 2,
    OID_sha1WithRSAEncryption = 3,
    OID_sha256WithRSAEncryption = 4,
    OID_SpcSpOpusInfo = 5,
    OID_SpcStatementType = 6,
    OID_SpcIndirectDataContent = 7,
    OID_contentType = 8,
    OID_messageDigest = 9,
    OID_countersignature = 10,
    OID_signedData = 11,
    OID_TSTInfo = 12,
    OID_nestedSignature = 13,
    OID_RFC3161TimeStamp = 14,
    OID_subjectKeyIdentifier = 15,
    OID_authorityKeyIdentifier = 16,
};

struct Asn1OidEntry {
    DWORD Key;
    BYTE Length;
    BYTE Value[19];  // DER content of the identifier
};
constexpr int ASN1_OID_COUNT = 16;
extern const Asn1OidEntry g_Asn1OidTable[ASN1_OID_COUNT];

// Nesting deeper than this is refused as malformed.
constexpr int ASN1_MAX_DEPTH = 64;

// The tree of the first element of the bytes (leading zero bytes skipped),
// or null when no well-formed element is there.
Asn1TreeNode* ParseAsn1Data(const BYTE* pbData, DWORD dwLength);
// Frees the node, its children and its following siblings.
void FreeAsn1Tree(Asn1TreeNode* pNode);
// Walks "i[:tag].j[:tag]...": child indexes from 0, an optional hexadecimal
// tag the chosen child must have (0 or none: any). Null when a step fails.
Asn1TreeNode* GetAsn1Node(Asn1TreeNode* pNode, const char* pszPath);
// The node's first OBJECT IDENTIFIER child equals the table entry.
BOOL Asn1OIDMatches(const Asn1TreeNode* pNode, DWORD dwKey);
// The first SEQUENCE child for which Asn1OIDMatches holds.
Asn1TreeNode* SearchAsn1Object(Asn1TreeNode* pNode, DWORD dwKey);
// The digest family of an AlgorithmIdentifier node (null gives unknown).
Asn1DigestAlg GetAsn1DigestAlg(const Asn1TreeNode* pAlgorithmNode);
