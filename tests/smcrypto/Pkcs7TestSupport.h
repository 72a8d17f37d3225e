#pragma once
// Shared pieces of the GM/T content-type tests: the host's reference files,
// decoding through the GM/T-aware decoder, and the same DER with the
// PKCS#7 content types exchanged for the GM/T ones (or back).
#include "HostPaths.h"
#include "TestBytes.h"
#include "sm_pkcs7.h"

#include <openssl/objects.h>
#include <openssl/pkcs7.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

constexpr char kGmtDataOid[] = "1.2.156.10197.6.1.4.2.1";
constexpr char kGmtSignedOid[] = "1.2.156.10197.6.1.4.2.2";
constexpr char kPkcs7DataOid[] = "1.2.840.113549.1.7.1";
constexpr char kPkcs7SignedOid[] = "1.2.840.113549.1.7.2";

struct Pkcs7Free {
    void operator()(PKCS7* p) const { PKCS7_free(p); }
};
using Pkcs7Ptr = std::unique_ptr<PKCS7, Pkcs7Free>;

inline Bytes ReadRef(const std::string& name) {
    std::ifstream f(HostEnvPath("PKCS7_REFERENCE_DIR") + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Through smcrypto's decoder, which must take the whole input.
inline Pkcs7Ptr DecodeSm(const Bytes& der) {
    const unsigned char* p = der.data();
    Pkcs7Ptr p7(smcrypto::d2i_SM_PKCS7(nullptr, &p, long(der.size())));
    if (p7 && p != der.data() + der.size()) p7.reset();
    return p7;
}

inline Bytes Encode(PKCS7* p7) {
    unsigned char* der = nullptr;
    const int len = i2d_PKCS7(p7, &der);
    Bytes out;
    if (len > 0) out.assign(der, der + len);
    OPENSSL_free(der);
    return out;
}

// The dotted identifier as encoded (never a name).
inline std::string OidText(const ASN1_OBJECT* o) {
    char text[64] = {0};
    OBJ_obj2txt(text, sizeof(text), o, 1);
    return text;
}

inline Bytes OidContent(const char* dotted) {
    ASN1_OBJECT* o = OBJ_txt2obj(dotted, 1);
    Bytes b(OBJ_get0_data(o), OBJ_get0_data(o) + OBJ_length(o));
    ASN1_OBJECT_free(o);
    return b;
}

namespace pkcs7_test_detail {
inline void PutTlv(Bytes& out, unsigned char tag, const Bytes& content) {
    out.push_back(tag);
    const size_t n = content.size();
    if (n < 0x80) {
        out.push_back((unsigned char)n);
    } else {
        int bytes = 0;
        for (size_t v = n; v; v >>= 8) ++bytes;
        out.push_back((unsigned char)(0x80 | bytes));
        for (int i = bytes - 1; i >= 0; --i) out.push_back((unsigned char)(n >> (8 * i)));
    }
    out.insert(out.end(), content.begin(), content.end());
}

// Re-encodes definite-length DER with single-byte tags, every OBJECT
// IDENTIFIER whose content is from[i] written as to[i].
inline bool SwapOids(const unsigned char* p, size_t len, const Bytes (&from)[2], const Bytes (&to)[2], Bytes& out) {
    size_t i = 0;
    while (i < len) {
        if (len - i < 2) return false;
        const unsigned char tag = p[i++];
        size_t n = p[i++];
        if (n & 0x80) {
            const size_t count = n & 0x7F;
            if (count == 0 || count > 4 || len - i < count) return false;
            n = 0;
            for (size_t k = 0; k < count; ++k) n = (n << 8) | p[i++];
        }
        if (len - i < n) return false;
        Bytes content(p + i, p + i + n);
        i += n;
        if (tag & 0x20) {
            Bytes inner;
            if (!SwapOids(content.data(), content.size(), from, to, inner)) return false;
            content.swap(inner);
        } else if (tag == 0x06) {
            for (int k = 0; k < 2; ++k)
                if (content == from[k]) {
                    content = to[k];
                    break;
                }
        }
        PutTlv(out, tag, content);
    }
    return true;
}
}  // namespace pkcs7_test_detail

// The DER with pkcs7-data/pkcs7-signedData replaced by the GM/T types.
inline Bytes GmtOf(const Bytes& der) {
    const Bytes from[2] = {OidContent(kPkcs7DataOid), OidContent(kPkcs7SignedOid)};
    const Bytes to[2] = {OidContent(kGmtDataOid), OidContent(kGmtSignedOid)};
    Bytes out;
    return pkcs7_test_detail::SwapOids(der.data(), der.size(), from, to, out) ? out : Bytes();
}

// The DER with the GM/T types replaced by pkcs7-data/pkcs7-signedData.
inline Bytes StandardOf(const Bytes& der) {
    const Bytes from[2] = {OidContent(kGmtDataOid), OidContent(kGmtSignedOid)};
    const Bytes to[2] = {OidContent(kPkcs7DataOid), OidContent(kPkcs7SignedOid)};
    Bytes out;
    return pkcs7_test_detail::SwapOids(der.data(), der.size(), from, to, out) ? out : Bytes();
}
