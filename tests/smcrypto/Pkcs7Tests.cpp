// The GM/T 0010 content types in OpenSSL's PKCS#7 code: SignedData made by
// the host's openssl, its content types exchanged for the GM/T ones, goes
// through smcrypto's decoder and then through OpenSSL's own functions, side
// by side with the untouched standard form.
#include "OpenSslSm2.h"
#include "Pkcs7TestSupport.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace {

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
struct BioFree {
    void operator()(BIO* b) const { BIO_free_all(b); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

std::unique_ptr<X509, X509Free> SignerCert() {
    const Bytes der = ReadRef("signer.der");
    const unsigned char* p = der.data();
    return std::unique_ptr<X509, X509Free>(d2i_X509(nullptr, &p, long(der.size())));
}

Pkey SignerKey() {
    const Bytes pem = ReadRef("signer.key");
    BIO* in = BIO_new_mem_buf(pem.data(), int(pem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr);
    BIO_free(in);
    return Pkey(key);
}

Bytes ReadAll(BIO* bio) {
    Bytes out;
    unsigned char buffer[256];
    int n = 0;
    while ((n = BIO_read(bio, buffer, sizeof(buffer))) > 0) out.insert(out.end(), buffer, buffer + n);
    return out;
}

// Every signer checked over content read through PKCS7_dataInit: the
// embedded content, or `content` for a detached signature.
bool SignersVerify(PKCS7* p7, const Bytes& content) {
    BIO* source = content.empty() ? nullptr : BIO_new_mem_buf(content.data(), int(content.size()));
    BioPtr bio(PKCS7_dataInit(p7, source));
    if (!bio) {
        BIO_free(source);
        return false;
    }
    ReadAll(bio.get());
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(p7);
    if (sk_PKCS7_SIGNER_INFO_num(signers) < 1) return false;
    for (int i = 0; i < sk_PKCS7_SIGNER_INFO_num(signers); ++i) {
        PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(signers, i);
        X509* cert = X509_find_by_issuer_and_serial(p7->d.sign->cert, si->issuer_and_serial->issuer,
                                                    si->issuer_and_serial->serial);
        if (!cert || PKCS7_signatureVerify(bio.get(), p7, si, cert) != 1) return false;
    }
    return true;
}

struct Form {
    const char* name;
    Bytes standard, gmt, content;  // content: what a detached form was made over
};

class GmtPkcs7 : public ::testing::Test {
protected:
    void SetUp() override {
        message = ReadRef("message.txt");
        ASSERT_FALSE(message.empty());
        for (const char* name : {"embedded", "detached"}) {
            Form f{name, ReadRef(std::string(name) + ".der"), {}, {}};
            ASSERT_FALSE(f.standard.empty()) << name;
            f.gmt = GmtOf(f.standard);
            ASSERT_FALSE(f.gmt.empty()) << name;
            ASSERT_EQ(f.standard, StandardOf(f.gmt));
            if (std::string(name) == "detached") f.content = message;
            forms.push_back(f);
        }
    }
    void TearDown() override { EXPECT_EQ(0u, ERR_peek_error()) << ERR_error_string(ERR_peek_error(), nullptr); }

    Bytes message;
    std::vector<Form> forms;
};

}  // namespace

// An outer sm-pkcs7-signedData decodes as signedData, its inner
// sm-pkcs7-data as data, and the structure encodes to the same bytes.
// OpenSSL's own decoder leaves the GM/T types as "other"; standard PKCS#7
// passes through unchanged.
TEST_F(GmtPkcs7, DecodesAsSignedDataWithInnerDataAndEncodesTheSameBytes) {
    for (const Form& f : forms) {
        SCOPED_TRACE(f.name);
        Pkcs7Ptr gmt = DecodeSm(f.gmt);
        ASSERT_TRUE(gmt);
        EXPECT_TRUE(PKCS7_type_is_signed(gmt.get()));
        ASSERT_TRUE(gmt->d.sign && gmt->d.sign->contents);
        EXPECT_TRUE(PKCS7_type_is_data(gmt->d.sign->contents));
        EXPECT_EQ(kGmtSignedOid, OidText(gmt->type));
        EXPECT_EQ(kGmtDataOid, OidText(gmt->d.sign->contents->type));
        EXPECT_EQ(1, sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(gmt.get())));
        EXPECT_EQ(f.gmt, Encode(gmt.get()));

        const unsigned char* p = f.gmt.data();
        Pkcs7Ptr plain(d2i_PKCS7(nullptr, &p, long(f.gmt.size())));
        ASSERT_TRUE(plain);
        EXPECT_FALSE(PKCS7_type_is_signed(plain.get()));

        Pkcs7Ptr standard = DecodeSm(f.standard);
        ASSERT_TRUE(standard);
        EXPECT_EQ(kPkcs7SignedOid, OidText(standard->type));
        EXPECT_EQ(f.standard, Encode(standard.get()));
    }
}

// An outer sm-pkcs7-data is data; its content comes back from
// PKCS7_get_octet_string and it encodes to the same bytes.
TEST_F(GmtPkcs7, OuterGmtDataIsData) {
    Bytes content, der;
    pkcs7_test_detail::PutTlv(content, 0x04, ToBytes("abc"));
    Bytes explicitContent, body;
    pkcs7_test_detail::PutTlv(explicitContent, 0xA0, content);
    pkcs7_test_detail::PutTlv(body, 0x06, OidContent(kGmtDataOid));
    body.insert(body.end(), explicitContent.begin(), explicitContent.end());
    pkcs7_test_detail::PutTlv(der, 0x30, body);

    Pkcs7Ptr p7 = DecodeSm(der);
    ASSERT_TRUE(p7);
    EXPECT_TRUE(PKCS7_type_is_data(p7.get()));
    ASN1_OCTET_STRING* os = PKCS7_get_octet_string(p7.get());
    ASSERT_TRUE(os);
    EXPECT_EQ(ToBytes("abc"), Bytes(os->data, os->data + os->length));
    EXPECT_EQ(der, Encode(p7.get()));
}

// A GM/T signedData whose content is no SignedData is refused like a
// malformed pkcs7-signedData: nothing is returned and the input is not
// consumed.
TEST_F(GmtPkcs7, GmtSignedDataWithOtherContentIsRefused) {
    Bytes content, explicitContent, body, der;
    pkcs7_test_detail::PutTlv(content, 0x04, ToBytes("not a SignedData"));
    pkcs7_test_detail::PutTlv(explicitContent, 0xA0, content);
    pkcs7_test_detail::PutTlv(body, 0x06, OidContent(kGmtSignedOid));
    body.insert(body.end(), explicitContent.begin(), explicitContent.end());
    pkcs7_test_detail::PutTlv(der, 0x30, body);

    const unsigned char* p = der.data();
    EXPECT_EQ(nullptr, smcrypto::d2i_SM_PKCS7(nullptr, &p, long(der.size())));
    EXPECT_EQ(der.data(), p);
    EXPECT_EQ(ASN1_R_DECODE_ERROR, ERR_GET_REASON(ERR_peek_last_error()));
    ERR_clear_error();
}

// PKCS7_get_octet_string, the detached control and PKCS7_stream give the
// same answers for the GM/T types as for pkcs7-signedData/pkcs7-data, and
// making the signature detached drops the inner content alike.
TEST_F(GmtPkcs7, DetachedControlOctetStringAndStreamAsForPkcs7) {
    for (const Form& f : forms) {
        SCOPED_TRACE(f.name);
        Pkcs7Ptr gmt = DecodeSm(f.gmt), standard = DecodeSm(f.standard);
        ASSERT_TRUE(gmt && standard);
        const bool detached = !f.content.empty();
        for (PKCS7* p7 : {gmt.get(), standard.get()}) {
            ASN1_OCTET_STRING* os = PKCS7_get_octet_string(p7->d.sign->contents);
            if (detached) {
                EXPECT_EQ(nullptr, os);
            } else {
                ASSERT_TRUE(os);
                EXPECT_EQ(message, Bytes(os->data, os->data + os->length));
            }
            EXPECT_EQ(detached ? 1 : 0, PKCS7_ctrl(p7, PKCS7_OP_GET_DETACHED_SIGNATURE, 0, nullptr));
            EXPECT_EQ(detached ? 1 : 0, PKCS7_is_detached(p7));
        }

        EXPECT_EQ(1, PKCS7_set_detached(gmt.get(), 1));
        EXPECT_EQ(1, PKCS7_set_detached(standard.get(), 1));
        EXPECT_EQ(nullptr, gmt->d.sign->contents->d.data);
        const Bytes gmtDetached = Encode(gmt.get());
        EXPECT_EQ(GmtOf(Encode(standard.get())), gmtDetached);
        if (detached) EXPECT_EQ(f.gmt, gmtDetached);
        else EXPECT_LT(gmtDetached.size(), f.gmt.size() - message.size());
    }

    // PKCS7_stream marks the inner content of the embedded form for streaming.
    const Form& embedded = forms[0];
    Pkcs7Ptr gmt = DecodeSm(embedded.gmt);
    ASSERT_TRUE(gmt);
    unsigned char** boundary = nullptr;
    ASSERT_EQ(1, PKCS7_stream(&boundary, gmt.get()));
    ASN1_OCTET_STRING* os = gmt->d.sign->contents->d.data;
    EXPECT_EQ(&os->data, boundary);
    EXPECT_TRUE(os->flags & ASN1_STRING_FLAG_NDEF);
    // The detached form has no inner content to stream, for either type.
    Pkcs7Ptr gmtDetached = DecodeSm(forms[1].gmt), standardDetached = DecodeSm(forms[1].standard);
    EXPECT_EQ(0, PKCS7_stream(&boundary, gmtDetached.get()));
    EXPECT_EQ(0, PKCS7_stream(&boundary, standardDetached.get()));
}

// PKCS7_dataInit reads the embedded content (or takes the detached one)
// through the signed digests: the host's signature verifies over it for
// the GM/T types as for PKCS#7, and not over a changed text.
TEST_F(GmtPkcs7, DataInitFeedsTheSignatureCheck) {
    for (const Form& f : forms) {
        SCOPED_TRACE(f.name);
        for (const Bytes* der : {&f.gmt, &f.standard}) {
            Pkcs7Ptr p7 = DecodeSm(*der);
            ASSERT_TRUE(p7);
            EXPECT_TRUE(SignersVerify(p7.get(), f.content));
        }
        if (f.content.empty()) continue;
        Pkcs7Ptr p7 = DecodeSm(f.gmt);
        Bytes changed = f.content;
        changed[0] ^= 1;
        EXPECT_FALSE(SignersVerify(p7.get(), changed));
        ERR_clear_error();
    }

    // The content read through the embedded form's data BIO is the text.
    Pkcs7Ptr p7 = DecodeSm(forms[0].gmt);
    BioPtr bio(PKCS7_dataInit(p7.get(), nullptr));
    ASSERT_TRUE(bio);
    EXPECT_EQ(message, ReadAll(bio.get()));
}

// PKCS7_dataFinal signs for a signer added to a detached GM/T SignedData:
// the result keeps the GM/T types, carries no content and both signatures
// verify over the text.
TEST_F(GmtPkcs7, DataFinalSignsIntoADetachedGmtSignedData) {
    auto cert = SignerCert();
    auto key = SignerKey();
    ASSERT_TRUE(cert && key);
    Pkcs7Ptr p7 = DecodeSm(forms[1].gmt);
    ASSERT_TRUE(p7);
    ASSERT_EQ(1, PKCS7_ctrl(p7.get(), PKCS7_OP_GET_DETACHED_SIGNATURE, 0, nullptr));
    ASSERT_TRUE(PKCS7_add_signature(p7.get(), cert.get(), key.get(), EVP_sha256()));
    BioPtr bio(PKCS7_dataInit(p7.get(), nullptr));
    ASSERT_TRUE(bio);
    ASSERT_EQ(int(message.size()), BIO_write(bio.get(), message.data(), int(message.size())));
    ASSERT_EQ(1, BIO_flush(bio.get()));
    ASSERT_EQ(1, PKCS7_dataFinal(p7.get(), bio.get()));

    const Bytes der = Encode(p7.get());
    Pkcs7Ptr again = DecodeSm(der);
    ASSERT_TRUE(again);
    EXPECT_EQ(kGmtSignedOid, OidText(again->type));
    EXPECT_EQ(kGmtDataOid, OidText(again->d.sign->contents->type));
    EXPECT_EQ(nullptr, again->d.sign->contents->d.data);
    EXPECT_EQ(2, sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(again.get())));
    EXPECT_TRUE(SignersVerify(again.get(), message));
}
