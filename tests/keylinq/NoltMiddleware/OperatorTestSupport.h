#pragma once
// Fixture of the operator tests: a key of their own on the virtual key, a
// device context of the edition in use opened on it, and a device operator.
#include <cstring>
#include <string>
#include <vector>

#include "DeviceContext.h"
#include "DeviceOperator.h"
#include "DeviceTestSupport.h"

class OperatorTest : public VirtualKeyTest {
protected:
    void OpenKey(uint8_t alg) {
        keyId = AddKey(alg, &path);
        context = new CQuibContext();
        ASSERT_EQ(0u, context->Open(VEMU_DRIVER_HID, path.c_str()));
        op = new CDeviceOperator(context);
    }
    void TearDown() override {
        if (op && op->Finalize() != 0) delete context;  // a context Finalize could not close
        delete op;
        VirtualKeyTest::TearDown();
    }
    VM_DEVICE_HANDLE* record() { return context->GetDeviceHandle(); }
    // The commands the key has read since the last clear, as CLA INS P1.
    std::vector<uint32_t> Sent() {
        std::vector<uint32_t> sent;
        for (const vk::RecordEntry& e : Record(keyId)) sent.push_back(uint32_t(e.cla) << 16 | e.ins << 8 | e.p1);
        return sent;
    }
    void Clear() { ASSERT_EQ(0u, control.ClearRecord(keyId)); }

    uint32_t keyId = 0;
    std::string path;
    CDeviceContext* context = nullptr;
    CDeviceOperator* op = nullptr;
};

using Bytes = std::vector<uint8_t>;

// References computed with OpenSSL (OpenSslReference.cpp).
// The first block(s) of the zero-IV CBC encryption of 16 bytes under a
// 16-byte key: SM4 for 19, two-key triple DES for 3.
Bytes ReferenceCbc16(uint8_t alg, const uint8_t key[16], const uint8_t in[16]);
Bytes ReferenceSm4Ecb(const uint8_t key[16], const uint8_t in[16]);
Bytes ReferenceMd5(const Bytes& in);
// A root key that is not the library's: SM2 (19) or RSA-1024 (3). Signs
// "VEMU-Product" || public key the way a key vendor's root does (SM3 and
// raw r || s, or SHA-1 and PKCS#1 v1.5) and checks its own signature.
struct ForeignRoot {
    explicit ForeignRoot(uint8_t alg);
    ~ForeignRoot();
    Bytes Sign(const Bytes& publicKey) const;
    bool Verify(const Bytes& publicKey, const Bytes& signature) const;
    uint8_t alg;
    void* pkey;  // EVP_PKEY
};
