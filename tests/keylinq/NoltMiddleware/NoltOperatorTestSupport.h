#pragma once
// Fixture of the platform operator's tests: the operator tests' key and
// context with a CNoltOperator in place of the plain operator, and OpenSSL
// references for the host ciphers and digests.
#include <string>

#include "NoltOperator.h"
#include "OperatorTestSupport.h"

class NoltOperatorTest : public OperatorTest {
protected:
    void OpenNoltKey(uint8_t alg = 19) {
        OpenKey(alg);
        delete op;
        nolt = new CNoltOperator(context);
        op = nolt;
        ASSERT_EQ(0u, op->Initialize(0));
        Clear();
    }
    // The key's authorisation code after a verification through the key's
    // test control, copied into the device handle.
    void PinVerifiedByControl(uint8_t pinType = 1) {
        ASSERT_EQ(0u, control.SetPinVerified(keyId, pinType, record()->m_abyAuthCode));
        record()->m_nAuthCodeLen = 16;
    }
    bool AuthCodeEmpty() {
        for (uint8_t b : record()->m_abyAuthCode)
            if (b) return false;
        return record()->m_nAuthCodeLen == 0;
    }
    CNoltOperator* nolt = nullptr;
};

// name: an OpenSSL cipher name ("SM4-CBC", "DES-EDE3-CBC"), PKCS padding.
Bytes EvpEncrypt(const char* name, const Bytes& key, const Bytes& iv, const Bytes& in);
// name: an OpenSSL digest name ("MD5", "SHA1", "SM3").
Bytes EvpDigest(const char* name, const Bytes& in);
inline Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }
