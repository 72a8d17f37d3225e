// Throughput of the host cryptography against OpenSSL's EVP on the same
// input: MB/s for digests and ciphers, operations per second for the
// public-key checks and SM2 encryption, and the ratio ours / OpenSSL. Every
// row first checks that both sides produce the same bytes.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <windows.h>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/des.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "SoftCrypto.h"

#ifndef BENCH_OPENSSL_LABEL
#define BENCH_OPENSSL_LABEL "OpenSSL"
#endif

namespace {

using Bytes = std::vector<uint8_t>;
int g_failures = 0;
double g_seconds = 0.25;  // measuring time per side and row

double Now() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

// Runs fn repeatedly for about g_seconds; returns runs per second.
double Rate(const std::function<void()>& fn) {
    fn();  // warm up
    long runs = 0;
    const double start = Now();
    double elapsed = 0;
    do {
        fn();
        ++runs;
        elapsed = Now() - start;
    } while (elapsed < g_seconds);
    return runs / elapsed;
}

void Row(const std::string& name, double ours, double theirs, const char* unit) {
    std::printf("%-34s %12.1f %12.1f %8.2f  %s\n", name.c_str(), ours, theirs, theirs > 0 ? ours / theirs : 0.0, unit);
}

void Mismatch(const std::string& name) {
    std::printf("%-34s MISMATCH: the two sides produced different bytes\n", name.c_str());
    ++g_failures;
}

Bytes Random(size_t n, uint32_t seed) {
    Bytes b(n);
    for (auto& x : b) {
        seed = seed * 1103515245u + 12345u;
        x = static_cast<uint8_t>(seed >> 16);
    }
    return b;
}

// ---- digests

Bytes OurDigest(uint8_t id, const Bytes& data, size_t piece) {
    HASH_CTX* ctx = nullptr;
    Hash_Init(&ctx, id);
    for (size_t at = 0; at < data.size(); at += piece)
        Hash_Update(ctx, data.data() + at, static_cast<uint32_t>(std::min(piece, data.size() - at)));
    Bytes out(64);
    uint32_t len = 0;
    Hash_Final(ctx, out.data(), &len);
    out.resize(len);
    return out;
}

Bytes EvpDigest(EVP_MD_CTX* ctx, const EVP_MD* md, const Bytes& data, size_t piece) {
    EVP_DigestInit_ex(ctx, md, nullptr);
    for (size_t at = 0; at < data.size(); at += piece)
        EVP_DigestUpdate(ctx, data.data() + at, std::min(piece, data.size() - at));
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx, out.data(), &len);
    out.resize(len);
    return out;
}

void BenchDigests() {
    struct {
        const char* name;
        uint8_t id;
        const char* evpName;
    } const algs[] = {{"SM3", VM_ALG_SM3, "SM3"}, {"SHA-1", SOFT_HASH_SHA1, "SHA1"}, {"SHA-256", SOFT_HASH_SHA256, "SHA256"},
                      {"SHA-512", SOFT_HASH_SHA512, "SHA512"}, {"MD5", SOFT_HASH_MD5, "MD5"}};
    const size_t sizes[] = {64, 1024, 1 << 20};
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    for (const auto& a : algs) {
        EVP_MD* md = EVP_MD_fetch(nullptr, a.evpName, nullptr);
        for (size_t size : sizes) {
            const Bytes data = Random(size, static_cast<uint32_t>(size));
            for (size_t piece : {size, size_t(63)}) {
                const std::string name = std::string(a.name) + " " +
                                         (size >= 1 << 20 ? "1 MiB" : size >= 1024 ? "1 KiB" : "64 B") +
                                         (piece == size ? " whole" : " in 63 B");
                if (!md || OurDigest(a.id, data, piece) != EvpDigest(ctx, md, data, piece)) {
                    Mismatch(name);
                    continue;
                }
                const double ours = Rate([&] { OurDigest(a.id, data, piece); });
                const double theirs = Rate([&] { EvpDigest(ctx, md, data, piece); });
                Row(name, ours * size / 1e6, theirs * size / 1e6, "MB/s");
            }
        }
        EVP_MD_free(md);
    }
    EVP_MD_CTX_free(ctx);
}

// ---- ciphers

Bytes OurCipher(uint8_t alg, uint32_t mode, bool decrypt, const Bytes& key, const Bytes& iv, const Bytes& in) {
    SYMKEY_CTX* ctx = nullptr;
    if (decrypt)
        SymDecryptInit(&ctx, alg, mode, key.data(), iv.data());
    else
        SymEncryptInit(&ctx, alg, mode, key.data(), iv.data());
    Bytes out(in.size() + 16);
    uint32_t n1 = 0, n2 = 0;
    SymKeyUpdate(ctx, in.data(), static_cast<uint32_t>(in.size()), out.data(), &n1);
    if (SymKeyFinal(ctx, out.data() + n1, &n2) != 0) {
        SymKeyFree(ctx);
        return Bytes();
    }
    out.resize(n1 + n2);
    return out;
}

Bytes EvpCipher(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* cipher, bool decrypt, const Bytes& key, const Bytes& iv,
                const Bytes& in) {
    EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv.data(), decrypt ? 0 : 1);
    Bytes out(in.size() + 16);
    int n1 = 0, n2 = 0;
    EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size()));
    if (EVP_CipherFinal_ex(ctx, out.data() + n1, &n2) != 1) return Bytes();
    out.resize(n1 + n2);
    return out;
}

// Single DES lives in OpenSSL's legacy provider, which the static library
// does not carry: its low-level DES functions serve instead (no padding,
// so the padded input is given whole).
Bytes LowLevelDes(bool cbc, bool decrypt, const Bytes& key, const Bytes& iv, const Bytes& in) {
    DES_key_schedule ks;
    DES_cblock k, ivec;
    std::memcpy(k, key.data(), 8);
    std::memcpy(ivec, iv.data(), 8);
    DES_set_key_unchecked(&k, &ks);
    Bytes out(in.size());
    if (cbc) {
        DES_ncbc_encrypt(in.data(), out.data(), static_cast<long>(in.size()), &ks, &ivec, decrypt ? DES_DECRYPT : DES_ENCRYPT);
    } else {
        for (size_t at = 0; at + 8 <= in.size(); at += 8)
            DES_ecb_encrypt(reinterpret_cast<const_DES_cblock*>(const_cast<uint8_t*>(in.data() + at)),
                            reinterpret_cast<DES_cblock*>(out.data() + at), &ks, decrypt ? DES_DECRYPT : DES_ENCRYPT);
    }
    return out;
}

void BenchCiphers() {
    const size_t size = 64 * 1024;
    const Bytes plain = Random(size, 99);
    const Bytes key = Random(24, 5), iv = Random(16, 6);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    struct {
        const char* name;
        uint8_t alg;
        const EVP_CIPHER* ecb;
        const EVP_CIPHER* cbc;
    } const algs[] = {{"SM4", SOFT_ALG_SM4, EVP_sm4_ecb(), EVP_sm4_cbc()},
                      {"DES", SOFT_ALG_DES, nullptr, nullptr},
                      {"3DES", SOFT_ALG_DES3, EVP_des_ede3_ecb(), EVP_des_ede3_cbc()}};
    for (const auto& a : algs) {
        for (uint32_t mode : {SOFT_MODE_ECB, SOFT_MODE_CBC}) {
            const bool cbc = mode != SOFT_MODE_ECB;
            const Bytes cipherText = OurCipher(a.alg, mode, false, key, iv, plain);
            for (bool decrypt : {false, true}) {
                const std::string name = std::string(a.name) + (cbc ? " CBC" : " ECB") + (decrypt ? " decrypt" : " encrypt") +
                                         (a.ecb ? "" : " (DES_*)");
                const Bytes& in = decrypt ? cipherText : plain;
                std::function<Bytes()> theirs;
                if (a.ecb) {
                    const EVP_CIPHER* c = cbc ? a.cbc : a.ecb;
                    theirs = [&, c, decrypt] { return EvpCipher(ctx, c, decrypt, key, iv, in); };
                } else {
                    // The low-level functions see the padded plaintext, or the ciphertext whole.
                    Bytes padded = plain;
                    padded.insert(padded.end(), 8, 8);
                    const Bytes low = decrypt ? cipherText : padded;
                    theirs = [=, &key, &iv] { return LowLevelDes(cbc, decrypt, key, iv, low); };
                }
                Bytes ours = OurCipher(a.alg, mode, decrypt, key, iv, in);
                Bytes reference = theirs();
                if (!a.ecb && decrypt) reference.resize(size);  // strip the padding block
                if (ours.empty() || ours != reference) {
                    Mismatch(name);
                    continue;
                }
                const double r1 = Rate([&] { OurCipher(a.alg, mode, decrypt, key, iv, in); });
                const double r2 = Rate([&] { theirs(); });
                Row(name, r1 * size / 1e6, r2 * size / 1e6, "MB/s");
            }
        }
    }
    EVP_CIPHER_CTX_free(ctx);
}

// ---- public key

void BenchPublicKey() {
    // SM2: a key and an OpenSSL signature of a digest.
    EVP_PKEY* sm2 = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    uint8_t point[65];
    size_t pointLen = 0;
    EVP_PKEY_get_octet_string_param(sm2, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof(point), &pointLen);
    const uint8_t* pub = point + 1;
    const Bytes e = Random(32, 11);
    EVP_PKEY_CTX* sctx = EVP_PKEY_CTX_new(sm2, nullptr);
    EVP_PKEY_sign_init(sctx);
    size_t derLen = 128;
    Bytes der(derLen);
    EVP_PKEY_sign(sctx, der.data(), &derLen, e.data(), e.size());
    der.resize(derLen);
    const uint8_t* p = der.data();
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(derLen));
    uint8_t rs[64];
    BN_bn2binpad(ECDSA_SIG_get0_r(sig), rs, 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(sig), rs + 32, 32);
    ECDSA_SIG_free(sig);
    EVP_PKEY_CTX* vctx = EVP_PKEY_CTX_new(sm2, nullptr);
    EVP_PKEY_verify_init(vctx);
    auto evpVerify = [&] { return EVP_PKEY_verify(vctx, der.data(), der.size(), e.data(), e.size()); };
    if (SM2_Verify(pub, e.data(), rs, 64) != 0 || evpVerify() != 1) {
        Mismatch("SM2_Verify");
    } else {
        Row("SM2_Verify", Rate([&] { SM2_Verify(pub, e.data(), rs, 64); }), Rate([&] { evpVerify(); }), "op/s");
    }

    // SM2 encryption of 16 bytes; both ciphertexts must decrypt with OpenSSL to the message.
    const Bytes msg = Random(16, 12);
    uint8_t raw[16 + 97];
    uint32_t rawLen = 0;
    EVP_PKEY_CTX* ectx = EVP_PKEY_CTX_new(sm2, nullptr);
    EVP_PKEY_encrypt_init(ectx);
    Bytes evpOut(256);
    auto evpEncrypt = [&] {
        size_t n = evpOut.size();
        return EVP_PKEY_encrypt(ectx, evpOut.data(), &n, msg.data(), msg.size()) == 1 ? n : 0;
    };
    const size_t evpLen = evpEncrypt();
    EVP_PKEY_CTX* dctx = EVP_PKEY_CTX_new(sm2, nullptr);
    EVP_PKEY_decrypt_init(dctx);
    Bytes back(256);
    size_t backLen = back.size();
    const bool evpOk = evpLen && EVP_PKEY_decrypt(dctx, back.data(), &backLen, evpOut.data(), evpLen) == 1 &&
                       Bytes(back.begin(), back.begin() + backLen) == msg;
    const bool oursOk = SM2_Encrypt(pub, msg.data(), 16, raw, &rawLen) == 0 && rawLen == 113;
    // Ours, put into OpenSSL's DER form {x, y, C3, C2} (32-byte coordinates, minimal INTEGERs).
    Bytes body;
    auto integer = [&](const uint8_t* v) {
        size_t skip = 0;
        while (skip < 31 && v[skip] == 0 && v[skip + 1] < 0x80) ++skip;
        const bool pad = v[skip] >= 0x80;
        body.push_back(0x02);
        body.push_back(static_cast<uint8_t>(32 - skip + pad));
        if (pad) body.push_back(0);
        body.insert(body.end(), v + skip, v + 32);
    };
    integer(raw + 1);
    integer(raw + 33);
    body.push_back(0x04);
    body.push_back(32);
    body.insert(body.end(), raw + 81, raw + 113);
    body.push_back(0x04);
    body.push_back(16);
    body.insert(body.end(), raw + 65, raw + 81);
    Bytes ourDer = {0x30, static_cast<uint8_t>(body.size())};
    ourDer.insert(ourDer.end(), body.begin(), body.end());
    backLen = back.size();
    const bool oursDecrypts = oursOk && EVP_PKEY_decrypt(dctx, back.data(), &backLen, ourDer.data(), ourDer.size()) == 1 &&
                              Bytes(back.begin(), back.begin() + backLen) == msg;
    if (!evpOk || !oursDecrypts) {
        Mismatch("SM2_Encrypt (16 B)");
    } else {
        Row("SM2_Encrypt (16 B)", Rate([&] { SM2_Encrypt(pub, msg.data(), 16, raw, &rawLen); }),
            Rate([&] { evpEncrypt(); }), "op/s");
    }
    EVP_PKEY_CTX_free(sctx);
    EVP_PKEY_CTX_free(vctx);
    EVP_PKEY_CTX_free(ectx);
    EVP_PKEY_CTX_free(dctx);
    EVP_PKEY_free(sm2);

    // RSA-2048, PKCS#1 v1.5 with SHA-256.
    EVP_PKEY* rsa = EVP_RSA_gen(2048);
    SOFT_RSA_PUBKEY key{};
    BIGNUM *n = nullptr, *ex = nullptr;
    EVP_PKEY_get_bn_param(rsa, OSSL_PKEY_PARAM_RSA_N, &n);
    EVP_PKEY_get_bn_param(rsa, OSSL_PKEY_PARAM_RSA_E, &ex);
    key.nLen = static_cast<uint32_t>(BN_num_bytes(n));
    key.eLen = 4;
    BN_bn2binpad(n, key.modulus, static_cast<int>(key.nLen));
    BN_bn2binpad(ex, key.exponent, 4);
    BN_free(n);
    BN_free(ex);
    const Bytes digest = Random(32, 13);
    EVP_PKEY_CTX* rs_ctx = EVP_PKEY_CTX_new(rsa, nullptr);
    EVP_PKEY_sign_init(rs_ctx);
    EVP_PKEY_CTX_set_rsa_padding(rs_ctx, RSA_PKCS1_PADDING);
    EVP_PKEY_CTX_set_signature_md(rs_ctx, EVP_sha256());
    size_t sigLen = 256;
    Bytes rsaSig(sigLen);
    EVP_PKEY_sign(rs_ctx, rsaSig.data(), &sigLen, digest.data(), digest.size());
    EVP_PKEY_CTX* rv_ctx = EVP_PKEY_CTX_new(rsa, nullptr);
    EVP_PKEY_verify_init(rv_ctx);
    EVP_PKEY_CTX_set_rsa_padding(rv_ctx, RSA_PKCS1_PADDING);
    EVP_PKEY_CTX_set_signature_md(rv_ctx, EVP_sha256());
    auto rsaEvp = [&] { return EVP_PKEY_verify(rv_ctx, rsaSig.data(), sigLen, digest.data(), digest.size()); };
    auto rsaOurs = [&] { return RSA_Verify(&key, SOFT_HASH_SHA256, digest.data(), rsaSig.data(), 256); };
    if (rsaOurs() != 0 || rsaEvp() != 1) {
        Mismatch("RSA_Verify (2048, SHA-256)");
    } else {
        Row("RSA_Verify (2048, SHA-256)", Rate([&] { rsaOurs(); }), Rate([&] { rsaEvp(); }), "op/s");
    }
    EVP_PKEY_CTX_free(rs_ctx);
    EVP_PKEY_CTX_free(rv_ctx);
    EVP_PKEY_free(rsa);
}

}  // namespace

int main(int argc, char** argv) {
    // --quick: shorter measurements (a smoke run).
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--quick") == 0) g_seconds = 0.02;
    std::printf("Keylinq host cryptography against %s (%s, %d-bit)\n", BENCH_OPENSSL_LABEL,
                OpenSSL_version(OPENSSL_VERSION), static_cast<int>(sizeof(void*) * 8));
    std::printf("%-34s %12s %12s %8s\n", "row", "ours", "OpenSSL", "ratio");
    BenchDigests();
    BenchCiphers();
    BenchPublicKey();
    if (g_failures) std::printf("%d row(s) did not match\n", g_failures);
    return g_failures ? 1 : 0;
}
