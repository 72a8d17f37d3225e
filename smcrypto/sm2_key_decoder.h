#pragma once
// The legacy EC private key whose privateKey is an INTEGER (SM2_PRIVATEKEY,
// sm2_asn1.h) in OpenSSL's decoding: d2i_PrivateKey, d2i_AutoPrivateKey and
// the PEM readers try the library's decoders first, and a DER key of the
// type-specific structure that the library cannot read as an RFC 5915 EC
// private key (privateKey an OCTET STRING) is read by a decoder of a
// built-in provider of ours, which hands it to the library's EC key
// management (an EC or SM2 key, as the caller asked). The standard form
// stays the library's; a failed attempt of ours leaves no error behind.

namespace smcrypto {

// Adds and loads the provider, once per process (OpenSSL still loads its
// default provider by itself); 1 or 0.
int RegisterSM2KeyDecoder();

}  // namespace smcrypto
