#pragma once
// Shared pieces of the certificate, signing and request tests: the files of
// make-pkcs-reference.sh, the output folder read by the host checks after
// the program, and SM2 signatures by our own core with keys made by openssl.
#include <windows.h>
#include <wincrypt.h>

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <fstream>
#include <iterator>
#include <string>

#include "HostPaths.h"
#include "TestBytes.h"
#include "sm2_core.h"

inline std::string RefPath(const std::string& name) { return HostEnvPath("PKCS_REFERENCE_DIR") + "/" + name; }
inline std::string OutPath(const std::string& name) { return HostEnvPath("PKCS_OUTPUT_DIR") + "/" + name; }

inline Bytes ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}
inline bool WriteBytes(const std::string& path, const Bytes& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    return bool(f);
}
inline void WriteOut(const std::string& name, const Bytes& data) {
    CreateDirectoryA(HostEnvPath("PKCS_OUTPUT_DIR").c_str(), nullptr);
    WriteBytes(OutPath(name), data);
}

struct CertFree {
    void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
};
using CertPtr = std::unique_ptr<const CERT_CONTEXT, CertFree>;

inline CertPtr LoadCert(const std::string& name) {
    const Bytes der = ReadBytes(RefPath(name));
    return CertPtr(der.empty() ? nullptr
                               : CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                                              DWORD(der.size())));
}

// d and X || Y of an SM2 key file written by openssl.
struct Sm2KeyPair {
    Bytes d, xy;
};
inline Sm2KeyPair LoadSm2Key(const std::string& name) {
    Sm2KeyPair pair;
    FILE* f = fopen(RefPath(name).c_str(), "rb");
    if (!f) return pair;
    EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    fclose(f);
    BIGNUM* d = nullptr;
    unsigned char point[65];
    size_t pointLen = 0;
    if (key && EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d) == 1 &&
        EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof(point), &pointLen) == 1 &&
        pointLen == 65) {
        pair.d.resize(32);
        BN_bn2binpad(d, pair.d.data(), 32);
        pair.xy.assign(point + 1, point + 65);
    }
    BN_clear_free(d);
    EVP_PKEY_free(key);
    return pair;
}

// e = SM3(Z || M) with the default id.
inline Bytes Sm2Digest(const Bytes& xy, const Bytes& message) {
    unsigned char z[32], e[32];
    _SM2_CalculateDefaultZValue(xy.data(), xy.data() + 32, z);
    const unsigned char* pieces[] = {z, message.data()};
    const size_t lengths[] = {32, message.size()};
    SM2CoreSM3(pieces, lengths, 2, e);
    return Bytes(e, e + 32);
}

// Raw r || s by our SM2 core over the message.
inline Bytes Sm2CoreSign(const Sm2KeyPair& key, const Bytes& message) {
    const Bytes e = Sm2Digest(key.xy, message);
    BIGNUM* be = BN_bin2bn(e.data(), 32, nullptr);
    BIGNUM* bd = BN_bin2bn(key.d.data(), 32, nullptr);
    ECDSA_SIG* sig = _SM2_sign(be, bd, SM2_CURVE_NID);
    Bytes rs;
    if (sig) {
        const BIGNUM *r = nullptr, *s = nullptr;
        ECDSA_SIG_get0(sig, &r, &s);
        rs.resize(64);
        BN_bn2binpad(r, rs.data(), 32);
        BN_bn2binpad(s, rs.data() + 32, 32);
    }
    ECDSA_SIG_free(sig);
    BN_free(be);
    BN_clear_free(bd);
    return rs;
}

// The bytes of a Base64 text (line breaks ignored), by OpenSSL.
inline Bytes FromBase64(const std::string& text) {
    std::string clean;
    for (char c : text)
        if (c != '\r' && c != '\n') clean += c;
    Bytes out(clean.size() / 4 * 3 + 3);
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(clean.data()), int(clean.size()));
    if (n < 0 || clean.size() % 4) return {};
    size_t len = size_t(n);
    if (!clean.empty() && clean.back() == '=') --len;
    if (clean.size() > 1 && clean[clean.size() - 2] == '=') --len;
    out.resize(len);
    return out;
}
