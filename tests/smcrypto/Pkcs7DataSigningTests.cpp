// The GM/T 0010 SignedData that DataSigning writes (an SM3 digest selects
// the GM/T content types), read by OpenSSL through smcrypto's decoder.
// CryptoAPI's headers first: OpenSSL's then drop their clashing names.
#include "DataSigning.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include "PkcsTestSupport.h"
#include "Pkcs7TestSupport.h"

namespace {

Bytes DataSigningDer(PCCERT_CONTEXT cert, const Bytes& message, const Bytes& encryptedDigest, DWORD contentFlag) {
    BSTR text = nullptr;
    DWORD length = 0;
    if (EncapsulatePKCS7(cert, SM3_DIGEST_OID, SM2_SM3_SIGNATURE_OID, message.data(), DWORD(message.size()),
                         encryptedDigest.data(), DWORD(encryptedDigest.size()), &text, &length, 0, contentFlag, 0,
                         nullptr) != S_OK)
        return {};
    std::string narrow;
    for (UINT i = 0; i < SysStringLen(text); ++i) narrow += char(text[i]);
    SysFreeString(text);
    return FromBase64(narrow);
}

Bytes Sm3(const Bytes& data) {
    Bytes out(32);
    EVP_Digest(data.data(), data.size(), out.data(), nullptr, EVP_sm3(), nullptr);
    return out;
}

}  // namespace

TEST(GmtPkcs7DataSigning, DecodesAsSignedDataAndWorksAsPkcs7) {
    const Bytes certDer = ReadRef("signer.der");
    CertPtr cert(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, certDer.data(),
                                              DWORD(certDer.size())));
    ASSERT_TRUE(cert);
    const Bytes message = ReadRef("message.txt");
    BYTE* encoded = nullptr;
    DWORD encodedSize = 0;
    const Bytes rs = RandomBytes(64);
    ASSERT_EQ(S_OK, SM2EncodeRawSignature(&encodedSize, rs.data(), 64, &encoded, SM2_ENCODE_OCTET_STRING));
    const Bytes encryptedDigest(encoded, encoded + encodedSize);
    delete[] encoded;

    const Bytes detachedDer = DataSigningDer(cert.get(), message, encryptedDigest, 0);
    const Bytes embeddedDer = DataSigningDer(cert.get(), message, encryptedDigest, 1);
    ASSERT_FALSE(detachedDer.empty());
    ASSERT_FALSE(embeddedDer.empty());
    for (const Bytes* der : {&detachedDer, &embeddedDer}) {
        const bool detached = der == &detachedDer;
        SCOPED_TRACE(detached ? "detached" : "embedded");
        Pkcs7Ptr p7 = DecodeSm(*der);
        ASSERT_TRUE(p7);
        ASSERT_TRUE(PKCS7_type_is_signed(p7.get()));
        ASSERT_TRUE(PKCS7_type_is_data(p7->d.sign->contents));
        EXPECT_EQ(kGmtSignedOid, OidText(p7->type));
        EXPECT_EQ(kGmtDataOid, OidText(p7->d.sign->contents->type));
        EXPECT_EQ(*der, Encode(p7.get()));

        ASN1_OCTET_STRING* os = PKCS7_get_octet_string(p7->d.sign->contents);
        EXPECT_EQ(detached ? Bytes() : message, os ? Bytes(os->data, os->data + os->length) : Bytes());
        EXPECT_EQ(detached ? 1 : 0, PKCS7_ctrl(p7.get(), PKCS7_OP_GET_DETACHED_SIGNATURE, 0, nullptr));

        // The data BIO hashes the content with the signed digest, SM3.
        BIO* source = detached ? BIO_new_mem_buf(message.data(), int(message.size())) : nullptr;
        BIO* bio = PKCS7_dataInit(p7.get(), source);
        ASSERT_TRUE(bio);
        Bytes read(message.size() + 8);
        EXPECT_EQ(int(message.size()), BIO_read(bio, read.data(), int(read.size())));
        read.resize(message.size());
        EXPECT_EQ(message, read);
        EVP_MD_CTX* md = nullptr;
        ASSERT_EQ(1, BIO_get_md_ctx(BIO_find_type(bio, BIO_TYPE_MD), &md));
        EXPECT_EQ(NID_sm3, EVP_MD_get_type(EVP_MD_CTX_get0_md(md)));
        Bytes digest(32);
        ASSERT_EQ(1, EVP_DigestFinal_ex(md, digest.data(), nullptr));
        EXPECT_EQ(Sm3(message), digest);
        BIO_free_all(bio);

        // Made detached, the embedded form is DataSigning's detached form.
        ASSERT_EQ(1, PKCS7_set_detached(p7.get(), 1));
        EXPECT_EQ(detachedDer, Encode(p7.get()));
    }
    EXPECT_EQ(0u, ERR_peek_error());
}
