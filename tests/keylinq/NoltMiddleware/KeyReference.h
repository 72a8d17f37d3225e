#pragma once
// Independent references on OpenSSL (KeyObjectReference.cpp), shared by
// the key-object tests and the SKF tests.
#include <cstdint>
#include <cstring>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
inline Bytes Text(const char* s) { return Bytes(s, s + strlen(s)); }

// Independent references on OpenSSL (KeyObjectReference.cpp).
Bytes RefSm3(const Bytes& in);
Bytes RefSha1(const Bytes& in);
// Z of GM/T 0003 with the id "1234567812345678" for the public key X || Y.
Bytes RefSm2Z(const Bytes& publicKey);
// Verifies r || s over the message with OpenSSL's SM2 (id set explicitly).
bool RefSm2VerifyMessage(const Bytes& publicKey, const Bytes& message, const Bytes& signature);
// OpenSSL's SM2 encryption to X || Y, in the key's form 04 || x1 || y1 || C3 || C2.
Bytes RefSm2Encrypt(const Bytes& publicKey, const Bytes& message);
// PKCS#1 v1.5 verification of a SHA-1 digest with the modulus and exponent.
bool RefRsaVerifySha1(const Bytes& modulus, const Bytes& exponent, const Bytes& digest, const Bytes& signature);
// A fresh RSA key pair of that many bits and its numbers, big-endian.
struct RefRsaKey {
    Bytes n, e, d, p, q, dp, dq;
};
RefRsaKey RefRsaGenerate(int bits);
// PKCS#1 v1.5 encryption under n and e.
Bytes RefRsaEncrypt(const Bytes& n, const Bytes& e, const Bytes& plain);
// SM4-ECB without padding.
Bytes RefSm4Ecb(const Bytes& key, const Bytes& in);

// m^x mod n with OpenSSL's big numbers, into n's length (raw RSA).
Bytes RefModExp(const Bytes& n, const Bytes& x, const Bytes& m);
// OpenSSL's raw RSA public-key operation (verify-recover without padding).
Bytes RefRsaVerifyRecoverRaw(const Bytes& n, const Bytes& e, const Bytes& signature);
// PKCS#1 v1.5 verification of a SHA-256 digest with the modulus and exponent.
bool RefRsaVerifySha256(const Bytes& modulus, const Bytes& exponent, const Bytes& digest, const Bytes& signature);
// A fresh RSA key pair with the public exponent e (small e for forgeries).
RefRsaKey RefRsaGenerateE(int bits, unsigned e);
// A fresh SM2 key pair: X || Y and d.
struct RefSm2Key {
    Bytes publicKey, d;
};
RefSm2Key RefSm2Generate();
// OpenSSL's SM2 signature r || s over the message (id set explicitly).
Bytes RefSm2SignMessage(const RefSm2Key& key, const Bytes& message);
// OpenSSL's SM2 decryption of 04 || x1 || y1 || C3 || C2; empty on failure.
Bytes RefSm2Decrypt(const RefSm2Key& key, const Bytes& cipher);
// OpenSSL's EVP cipher by name ("SM4-ECB", "DES-EDE3-CBC", ...), PKCS#7
// padding on or off, encrypting or decrypting; empty on failure.
Bytes RefCipher(const char* name, const Bytes& key, const Bytes& iv, const Bytes& in, bool pad, bool encrypt);
// OpenSSL's digest by name ("SHA1", "SHA256", "SM3").
Bytes RefDigest(const char* name, const Bytes& in);
// The SM2 key exchange on OpenSSL's curve arithmetic and SM3, for either
// side: t = d + x̄(own temporary) · r, the shared point [t](peer + [x̄(peer
// temporary)] peer temporary), and klen bytes of KDF(x ‖ y ‖ ZA ‖ ZB), ZA
// being the sponsor's Z and ZB the responder's.
Bytes RefSm2Exchange(const RefSm2Key& own, const RefSm2Key& ownTemp, const Bytes& peer, const Bytes& peerTemp,
                     const Bytes& zSponsor, const Bytes& zResponder, size_t klen);
