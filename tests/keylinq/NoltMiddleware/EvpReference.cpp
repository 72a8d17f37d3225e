// OpenSSL as the independent reference of the host and card handles.
#include <openssl/evp.h>

#include "NoltOperatorTestSupport.h"

Bytes EvpEncrypt(const char* name, const Bytes& key, const Bytes& iv, const Bytes& in) {
    Bytes out(in.size() + 32);
    int len = 0, fin = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
    bool ok = cipher && EVP_EncryptInit_ex(ctx, cipher, nullptr, key.data(), iv.empty() ? nullptr : iv.data()) &&
              EVP_EncryptUpdate(ctx, out.data(), &len, in.data(), int(in.size())) &&
              EVP_EncryptFinal_ex(ctx, out.data() + len, &fin);
    EVP_CIPHER_free(cipher);
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) return {};
    out.resize(size_t(len + fin));
    return out;
}

Bytes EvpDigest(const char* name, const Bytes& in) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
    bool ok = md && EVP_Digest(in.data(), in.size(), out.data(), &len, md, nullptr);
    EVP_MD_free(md);
    if (!ok) return {};
    out.resize(len);
    return out;
}
