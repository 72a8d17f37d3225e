// Containers, keys, certificates, hashing, signing and the enveloped SM2
// key-pair import through the device and container handlers, against this
// tree's Keylinq.dll and the virtual key; keys, signatures, digests and
// certificates are checked with OpenSSL (its RSA key and random-method
// calls are the plain ones: deprecated in 3.0, still present).
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <windows.h>

#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FreeWatch.h"
#include "HostPaths.h"
#include "KeylinqLibrary.h"
#include "OpenSslSm2.h"
#include "SKFContainerHandler.h"
#include "SKFDeviceHandler.h"
#include "SKFTestSupport.h"

namespace {

std::wstring KeylinqPath() { return Widen(HostEnvPath("KEYLINQ_DLL")); }

constexpr HRESULT kNoContainer = HRESULT(0x8007006E);
constexpr HRESULT kBadAlgorithm = HRESULT(0x80090008);
constexpr HRESULT kBadKey = HRESULT(0x80090015);
constexpr HRESULT kBadKeyPair = HRESULT(0x80090003);
constexpr HRESULT kBadHashLength = HRESULT(0x80090002);
constexpr DWORD CALG_SHA1_ = 0x8004, CALG_SHA_256_ = 0x800C, CALG_SM3_ = 0x800F;

// Instruction bytes of the key's commands these tests look for.
constexpr uint8_t INS_GEN_RSA = 0x54;
constexpr uint8_t INS_GEN_SM2 = 0x70;
constexpr uint8_t INS_IMPORT_SM2 = 0x72;
constexpr uint8_t INS_READ_CERT = 0x4E;

// ---- entries put in front of Keylinq's, with what they saw

FARPROC g_realImportEcc = nullptr, g_realDigestUpdate = nullptr, g_realClose = nullptr, g_realDisconnect = nullptr;
std::vector<BYTE> g_envelope;
int g_digestUpdates = 0;
std::vector<std::string> g_closeOrder;
ULONG g_disconnectResult = 0xFFFFFFFF;
std::vector<BYTE> g_fakePublicKey;

template <typename F>
F Real(FARPROC p) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(p));
}
ULONG __stdcall RecordImportEcc(HCONTAINER h, ENVELOPEDKEYBLOB* blob) {
    g_envelope.assign(reinterpret_cast<BYTE*>(blob), reinterpret_cast<BYTE*>(blob) + SKF_ENVELOPED_KEY_BLOB_SIZE);
    return Real<ULONG(__stdcall*)(HCONTAINER, ENVELOPEDKEYBLOB*)>(g_realImportEcc)(h, blob);
}
ULONG __stdcall CountDigestUpdate(HANDLE h, BYTE* data, ULONG len) {
    ++g_digestUpdates;
    return Real<ULONG(__stdcall*)(HANDLE, BYTE*, ULONG)>(g_realDigestUpdate)(h, data, len);
}
ULONG __stdcall RecordClose(HCONTAINER h) {
    g_closeOrder.push_back("close container");
    return Real<ULONG(__stdcall*)(HCONTAINER)>(g_realClose)(h);
}
ULONG __stdcall RecordDisconnect(DEVHANDLE h) {
    g_closeOrder.push_back("disconnect");
    g_disconnectResult = Real<ULONG(__stdcall*)(DEVHANDLE)>(g_realDisconnect)(h);
    return g_disconnectResult;
}
ULONG __stdcall FakeExportPublicKey(HCONTAINER, BOOL, BYTE* blob, ULONG* len) {
    if (blob) memcpy(blob, g_fakePublicKey.data(), g_fakePublicKey.size());
    *len = ULONG(g_fakePublicKey.size());
    return SAR_OK;
}

// A binding that can put a recorder in front of an entry, and that can
// play the special provider.
struct TestCaller : ISKFModuleCaller {
    BOOL special = FALSE;
    BOOL IsOrvaneSKFForRMQT() override { return special; }
    void Hook(SKFEntryIndex index, FARPROC* real, void* hook) {
        *real = m_pfnEntries[index];
        m_pfnEntries[index] = reinterpret_cast<FARPROC>(hook);
    }
};

// Answers every PIN request with the default PIN.
struct PinDelegator : ISKFUIDelegator {
    int* requests;
    explicit PinDelegator(int* counter) : requests(counter) {}
    BOOL IsPINCacheEnabled() override { return TRUE; }
    HRESULT SKFCryptSelectDevice(HSKFCRYPTPROV, std::vector<std::wstring>, std::wstring&) override { return E_NOTIMPL; }
    HRESULT SKFCryptUIInputPIN(std::wstring, BOOL, DWORD, std::wstring& pin) override {
        ++*requests;
        pin = L"" DEFAULT_USER_PIN;
        return S_OK;
    }
    HRESULT SKFCryptUISetInitPIN(std::wstring, std::wstring&) override { return E_NOTIMPL; }
};

// ---- OpenSSL side

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
struct RsaFree {
    void operator()(RSA* r) const { RSA_free(r); }
};
using Rsa = std::unique_ptr<RSA, RsaFree>;

Bytes Reversed(const BYTE* p, size_t n) { return Bytes(std::reverse_iterator<const BYTE*>(p + n), std::reverse_iterator<const BYTE*>(p)); }

// X || Y of a CSP SM2 public-key blob.
Bytes PointOfCspBlob(const Bytes& blob) {
    Bytes xy = Reversed(blob.data() + 12, 32);
    const Bytes y = Reversed(blob.data() + 76, 32);
    xy.insert(xy.end(), y.begin(), y.end());
    return xy;
}

Bytes RandomScalar() {
    Bytes d(32);
    RAND_bytes(d.data(), 32);
    d[0] = BYTE((d[0] & 0x7F) | 0x01);
    return d;
}

// A certificate for the given public-key bytes, signed by the CA key with
// that digest (SM3 for an SM2 CA: an SM2-signed certificate).
Bytes MakeCertificate(const Bytes& keyBytes, bool sm2Key, EVP_PKEY* ca, const EVP_MD* md) {
    static long serial = 1;
    std::unique_ptr<X509, X509Free> x(X509_new());
    X509_set_version(x.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x.get()), serial++);
    X509_gmtime_adj(X509_getm_notBefore(x.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(x.get()), 86400L * 30);
    X509_NAME* name = X509_get_subject_name(x.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Container test"), -1,
                               -1, 0);
    X509_set_issuer_name(x.get(), name);
    unsigned char* data = static_cast<unsigned char*>(OPENSSL_malloc(keyBytes.size()));
    memcpy(data, keyBytes.data(), keyBytes.size());
    X509_PUBKEY* pub = X509_get_X509_PUBKEY(x.get());
    if (sm2Key)
        X509_PUBKEY_set0_param(pub, OBJ_nid2obj(NID_X9_62_id_ecPublicKey), V_ASN1_OBJECT, OBJ_nid2obj(NID_sm2), data,
                               int(keyBytes.size()));
    else
        X509_PUBKEY_set0_param(pub, OBJ_nid2obj(NID_rsaEncryption), V_ASN1_NULL, nullptr, data, int(keyBytes.size()));
    if (X509_sign(x.get(), ca, md) <= 0) return {};
    const int n = i2d_X509(x.get(), nullptr);
    Bytes der(size_t(n > 0 ? n : 0));
    unsigned char* p = der.data();
    i2d_X509(x.get(), &p);
    return der;
}

Bytes Sm2CertificateKey(const Bytes& xy) {
    Bytes key(1, 0x04);
    key.insert(key.end(), xy.begin(), xy.end());
    return key;
}

// The DER RSAPublicKey of (n, e) as OpenSSL writes it.
Bytes Pkcs1Of(const Bytes& n, unsigned long e) {
    Rsa rsa(RSA_new());
    BIGNUM* bn = BN_bin2bn(n.data(), int(n.size()), nullptr);
    BIGNUM* be = BN_new();
    BN_set_word(be, e);
    RSA_set0_key(rsa.get(), bn, be, nullptr);
    const int len = i2d_RSAPublicKey(rsa.get(), nullptr);
    Bytes der(size_t(len > 0 ? len : 0));
    unsigned char* p = der.data();
    i2d_RSAPublicKey(rsa.get(), &p);
    return der;
}

Rsa RsaOf(const Bytes& pkcs1) {
    const unsigned char* p = pkcs1.data();
    return Rsa(d2i_RSAPublicKey(nullptr, &p, long(pkcs1.size())));
}

Bytes Digest(const EVP_MD* md, const Bytes& data) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &len, md, nullptr);
    out.resize(len);
    return out;
}

Bytes Pattern(size_t n, BYTE seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = BYTE(seed + i * 13 + (i >> 7));
    return b;
}

// Takes an output of the layer (array new) into a vector.
Bytes Take(BYTE* p, DWORD n) {
    Bytes b(p, p + n);
    delete[] p;
    return b;
}

// ---- fixture: a fresh key, a device handler on it with the PIN road

class Containers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(control.connected());
        caller.LoadSKFModule(KeylinqPath().c_str());
        keyId = AddFreshKey(control);
        KeySession<KeylinqLibrary> probe(Keylinq(), control, keyId);
        wideName = Widen(probe.DeviceName());
        ASSERT_FALSE(wideName.empty());
        SKFRegisterUIDelegator(new PinDelegator(&pinRequests));
        device.reset(CSKFDeviceHandler::FromDeviceName(wideName.c_str(), &caller));
        ASSERT_TRUE(device);
    }
    void TearDown() override {
        device.reset();
        SKFUnregisterUIDelegator();
    }

    size_t Count(uint8_t ins) {
        std::vector<vk::RecordEntry> record;
        EXPECT_EQ(0u, control.Record(keyId, record));
        size_t n = 0;
        for (const vk::RecordEntry& e : record) n += e.ins == ins ? 1 : 0;
        return n;
    }
    void ClearRecord() { ASSERT_EQ(0u, control.ClearRecord(keyId)); }

    // A new container with a key pair of that kind (0x3E00 SM2, 2 RSA).
    Bytes NewContainerWithKey(const std::wstring& name, DWORD alg, DWORD bits = 0) {
        EXPECT_EQ(S_OK, device->CreateContainer(name));
        BYTE* pub = nullptr;
        DWORD size = 0;
        EXPECT_EQ(S_OK, device->GenerateKeyPair(name, alg, bits, &pub, &size));
        return pub ? Take(pub, size) : Bytes();
    }
    // A new device handler on the key (named anew: it may have been replugged).
    void Reopen() {
        device.reset();
        KeySession<KeylinqLibrary> probe(Keylinq(), control, keyId);
        wideName = Widen(probe.DeviceName());
        device.reset(CSKFDeviceHandler::FromDeviceName(wideName.c_str(), &caller));
    }
    std::vector<std::wstring> Names() {
        std::vector<std::wstring> names;
        EXPECT_EQ(S_OK, device->EnumerateAllContainers(names));
        return names;
    }
    bool Has(const std::wstring& name) {
        const std::vector<std::wstring> names = Names();
        return std::find(names.begin(), names.end(), name) != names.end();
    }
    // The container's key written straight through the library (no match check).
    void PutCertificate(const std::wstring& name, BOOL sign, Bytes cert) {
        CSKFContainerHandler* h = device->GetContainerHandler(name);
        ASSERT_NE(nullptr, h);
        ASSERT_EQ(SAR_OK, caller.SKF_ImportCertificate(h->GetContainerHandle(), sign, cert.data(), ULONG(cert.size())));
    }
    Bytes ExportCert(const std::wstring& name, DWORD alg, HRESULT expected = S_OK) {
        BYTE* cert = nullptr;
        DWORD size = 0;
        EXPECT_EQ(expected, device->ExportCertificate(name, alg, &cert, &size));
        return cert ? Take(cert, size) : Bytes();
    }

    // The server's answer: X || Y || D (or other plaintext) encrypted with
    // OpenSSL to the temporary key, in the key's C1C3C2 order or C1C2C3.
    static Bytes Answer(const Bytes& tempBlob, const Bytes& plain, bool c3First) {
        Pkey temp = MakeSm2Key({}, PointOfCspBlob(tempBlob));
        const Bytes raw = Sm2DerToRaw(OpenSslSm2Crypt(temp.get(), plain, true));  // 04 x1 y1 C2 C3
        if (raw.empty()) return {};
        Bytes out(raw.begin() + 1, raw.begin() + 65);
        const size_t c2 = raw.size() - 97;
        if (c3First) {
            out.insert(out.end(), raw.end() - 32, raw.end());
            out.insert(out.end(), raw.begin() + 65, raw.begin() + 65 + c2);
        } else {
            out.insert(out.end(), raw.begin() + 65, raw.end());
        }
        return out;
    }
    Bytes Temporary(const std::wstring& name) {
        BYTE* pub = nullptr;
        DWORD size = 0;
        EXPECT_EQ(S_OK, device->GenerateKeyPair(name, 0xBE00, 0, &pub, &size));
        return pub ? Take(pub, size) : Bytes();
    }
    HRESULT Import(const std::wstring& name, const Bytes& answer) {
        return device->ImportKeyPair(name, 0xBE00, nullptr, 0, answer.data(), DWORD(answer.size()));
    }
    // An encryption key pair made here, imported into the container
    // through the envelope; its X || Y.
    Bytes ImportEncryptionKey(const std::wstring& name) {
        const Bytes temp = Temporary(name);
        const Bytes d = RandomScalar();
        Bytes plain = Sm2PublicOf(d);
        const Bytes xy = plain;
        plain.insert(plain.end(), d.begin(), d.end());
        EXPECT_EQ(S_OK, Import(name, Answer(temp, plain, true)));
        return xy;
    }

    TestCaller caller;
    VirtualKeyControl control;
    uint32_t keyId = 0;
    std::wstring wideName;
    int pinRequests = 0;
    std::unique_ptr<CSKFDeviceHandler> device;
};

// ---- containers

TEST_F(Containers, NamesRoundTripAndOneHandlerServesEachNameUntilDeleted) {
    const std::wstring name = L"\u5BB9\u5668-\u00E9";
    ASSERT_EQ(S_OK, device->CreateContainer(name));
    EXPECT_EQ(1, pinRequests);
    EXPECT_TRUE(Has(name));

    CSKFContainerHandler* h = device->GetContainerHandler(name);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(h, device->GetContainerHandler(name));
    EXPECT_EQ(name, h->GetContainerName());
    ContainerObjInfo info;
    EXPECT_EQ(S_OK, device->GetContainerObjInfo(name, info));
    EXPECT_EQ(name, info.wstrContainerName);
    EXPECT_EQ(0u, info.dwContainerType);
    EXPECT_TRUE(info.strSignCert.empty());
    EXPECT_TRUE(info.strEncCert.empty());

    EXPECT_EQ(S_OK, device->DeleteContainer(name));
    EXPECT_FALSE(Has(name));
    EXPECT_EQ(nullptr, device->GetContainerHandler(name));
    EXPECT_EQ(nullptr, device->GetContainerHandler(L""));

    // An unknown name: every per-container operation fails before a PIN dialog.
    pinRequests = 0;
    BYTE* out = nullptr;
    DWORD size = 0;
    const BYTE data[32] = {1};
    const std::wstring none = L"no such container";
    EXPECT_EQ(kNoContainer, device->GenerateKeyPair(none, 0x3E00, 0, &out, &size));
    EXPECT_EQ(kNoContainer, device->ImportKeyPair(none, 0xBE00, nullptr, 0, data, sizeof data));
    EXPECT_EQ(kNoContainer, device->ExportCertificate(none, 2, &out, &size));
    EXPECT_EQ(kNoContainer, device->ImportCertificate(none, 2, data, sizeof data));
    EXPECT_EQ(kNoContainer, device->SignHashData(none, data, sizeof data, &out, &size));
    EXPECT_EQ(kNoContainer, device->CalculateHashData(data, sizeof data, CALG_SM3_, &out, &size, none));
    EXPECT_EQ(kNoContainer, device->GetContainerObjInfo(none, info));
    EXPECT_EQ(0, pinRequests);
    // Checks before the container is opened.
    EXPECT_EQ(kBadAlgorithm, device->ExportCertificate(none, 0x1234, &out, &size));
    EXPECT_EQ(E_INVALIDARG, device->CalculateHashData(data, sizeof data, CALG_SM3_, &out, &size, L""));
    EXPECT_EQ(kBadAlgorithm, device->CalculateHashData(data, sizeof data, 0x8003, &out, &size, L""));
    EXPECT_EQ(E_INVALIDARG, device->CreateContainer(L""));
    EXPECT_EQ(nullptr, out);
}

TEST_F(Containers, ADeviceHandlerClosesItsContainersBeforeItDisconnects) {
    g_closeOrder.clear();
    caller.Hook(SKFEntry_SKF_CloseContainer, &g_realClose, reinterpret_cast<void*>(&RecordClose));
    caller.Hook(SKFEntry_SKF_DisConnectDev, &g_realDisconnect, reinterpret_cast<void*>(&RecordDisconnect));
    ASSERT_EQ(S_OK, device->CreateContainer(L"one"));
    ASSERT_EQ(S_OK, device->CreateContainer(L"two"));
    g_closeOrder.clear();
    ASSERT_NE(nullptr, device->GetContainerHandler(L"one"));
    ASSERT_NE(nullptr, device->GetContainerHandler(L"two"));
    device.reset();
    EXPECT_EQ((std::vector<std::string>{"close container", "close container", "disconnect"}), g_closeOrder);
    EXPECT_EQ(ULONG(SAR_OK), g_disconnectResult);
}

TEST_F(Containers, CleaningDeletesOnlyContainersTheKeyReportsWithoutCertificates) {
    const Bytes caD = RandomScalar();
    Pkey ca = MakeSm2Key(caD, Sm2PublicOf(caD));
    ASSERT_EQ(S_OK, device->CreateContainer(L"empty"));
    NewContainerWithKey(L"keys only", 0x3E00);
    const Bytes signKey = NewContainerWithKey(L"sign cert", 0x3E00);
    NewContainerWithKey(L"enc cert", 0x3E00);
    const Bytes encXY = ImportEncryptionKey(L"enc cert");
    const Bytes readFails = NewContainerWithKey(L"read fails", 0x3E00);
    PutCertificate(L"sign cert", TRUE, MakeCertificate(Sm2CertificateKey(PointOfCspBlob(signKey)), true, ca.get(), EVP_sm3()));
    PutCertificate(L"enc cert", FALSE, MakeCertificate(Sm2CertificateKey(encXY), true, ca.get(), EVP_sm3()));
    PutCertificate(L"read fails", TRUE, MakeCertificate(Sm2CertificateKey(PointOfCspBlob(readFails)), true, ca.get(), EVP_sm3()));

    // A fresh handler with the PIN verified; the first certificate read the
    // key answers with a failure belongs to "read fails" (the others come
    // after it in no order the test relies on, so it is asked directly).
    device.reset(CSKFDeviceHandler::FromDeviceName(wideName.c_str(), &caller));
    ASSERT_TRUE(device);
    ASSERT_EQ(S_OK, device->VerifyDevicePIN(L"" DEFAULT_USER_PIN));
    ASSERT_NE(nullptr, device->GetContainerHandler(L"read fails"));
    ASSERT_EQ(0u, control.ForceReply(keyId, INS_READ_CERT, 0x6581));
    ContainerObjInfo info;
    EXPECT_EQ(S_OK, device->GetContainerObjInfo(L"read fails", info));
    EXPECT_TRUE(info.strSignCert.empty());  // the read failed: no text, as for no certificate

    // Now the clean-up, with one more failing read waiting for the first
    // certificate read it makes.
    ASSERT_EQ(0u, control.ForceReply(keyId, INS_READ_CERT, 0x6581));
    EXPECT_EQ(S_OK, device->CleanEmptyContainers());
    std::vector<std::wstring> names = Names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::wstring>{L"enc cert", L"read fails", L"sign cert"}), names);
}

TEST_F(Containers, CleaningKeepsACertifiedContainerWhenTheKeyIsPulledAtAnyCommand) {
    const Bytes caD = RandomScalar();
    Pkey ca = MakeSm2Key(caD, Sm2PublicOf(caD));
    const Bytes key = NewContainerWithKey(L"certified", 0x3E00);
    PutCertificate(L"certified", TRUE, MakeCertificate(Sm2CertificateKey(PointOfCspBlob(key)), true, ca.get(), EVP_sm3()));
    device.reset();

    bool completed = false;
    int pulledDuringClean = 0;
    for (uint32_t k = 1; k < 200 && !completed; ++k) {
        Reopen();
        ASSERT_TRUE(device) << "k = " << k;
        ASSERT_EQ(S_OK, device->CreateContainer(L"empty"));
        ASSERT_EQ(0u, control.UnplugAtCommand(keyId, k));
        const HRESULT hr = device->CleanEmptyContainers();
        VirtualKeyState state;
        ASSERT_EQ(0u, control.State(keyId, state));
        ASSERT_EQ(0u, control.UnplugAtCommand(keyId, 0));
        completed = state.plugged;
        device.reset();
        if (!state.plugged) {
            ++pulledDuringClean;
            ASSERT_EQ(0u, control.Plug(keyId));
        }
        Reopen();
        ASSERT_TRUE(device) << "k = " << k;
        EXPECT_TRUE(Has(L"certified")) << "k = " << k << ", hr " << std::hex << hr;
        if (completed) {
            EXPECT_EQ(S_OK, hr);
            EXPECT_FALSE(Has(L"empty"));
        }
        if (Has(L"empty")) {
            ASSERT_EQ(S_OK, device->VerifyDevicePIN(L"" DEFAULT_USER_PIN));
            ASSERT_EQ(S_OK, device->DeleteContainer(L"empty"));
        }
        device.reset();
    }
    EXPECT_TRUE(completed);
    EXPECT_LT(4, pulledDuringClean);
}

// ---- keys

TEST_F(Containers, Sm2KeyPairComesAsTheCspFormOfTheKeysBlob) {
    const Bytes blob = NewContainerWithKey(L"sm2", 0x3E00);
    ASSERT_EQ(140u, blob.size());
    CSKFContainerHandler* h = device->GetContainerHandler(L"sm2");
    ASSERT_NE(nullptr, h);
    ECCPUBLICKEYBLOB keys;
    ULONG len = sizeof keys;
    ASSERT_EQ(SAR_OK, caller.SKF_ExportPublicKey(h->GetContainerHandle(), TRUE, reinterpret_cast<BYTE*>(&keys), &len));
    ASSERT_EQ(132u, len);
    Bytes expected = {6, 2, 0, 0, 0x00, 0x3E, 0, 0};
    const BYTE* raw = reinterpret_cast<const BYTE*>(&keys);
    expected.insert(expected.end(), raw, raw + 4);
    const Bytes x = Reversed(keys.XCoordinate, 64), y = Reversed(keys.YCoordinate, 64);
    expected.insert(expected.end(), x.begin(), x.end());
    expected.insert(expected.end(), y.begin(), y.end());
    EXPECT_EQ(ToHex(expected), ToHex(blob));
    EXPECT_TRUE(MakeSm2Key({}, PointOfCspBlob(blob)));

    BYTE* pub = nullptr;
    DWORD size = 0;
    ASSERT_EQ(S_OK, h->ExportPublicKey(0x3E00, &pub, &size));
    EXPECT_EQ(ToHex(blob), ToHex(Take(pub, size)));
    DWORD type = 9;
    EXPECT_EQ(S_OK, h->GetContainerType(&type));
    EXPECT_EQ(2u, type);
    ECCPUBLICKEYBLOB* asIs = nullptr;
    ASSERT_EQ(S_OK, h->ExportECCSignPublicKey(&asIs));
    EXPECT_EQ(0, memcmp(asIs, &keys, sizeof keys));
    delete asIs;
    // No encryption key yet.
    EXPECT_NE(S_OK, h->ExportPublicKey(1, &pub, &size));
}

class RsaKeys : public Containers, public ::testing::WithParamInterface<DWORD> {};

TEST_P(RsaKeys, Pkcs1KeyIsOpenSslsAndVerifiesTheKeysSignatures) {
    const DWORD bits = GetParam();
    const Bytes pkcs1 = NewContainerWithKey(L"rsa", 2, bits);
    Rsa rsa = RsaOf(pkcs1);
    ASSERT_TRUE(rsa);
    EXPECT_EQ(int(bits), RSA_bits(rsa.get()));
    const int len = i2d_RSAPublicKey(rsa.get(), nullptr);
    Bytes again(size_t(len > 0 ? len : 0));
    unsigned char* p = again.data();
    i2d_RSAPublicKey(rsa.get(), &p);
    EXPECT_EQ(ToHex(pkcs1), ToHex(again));
    CSKFContainerHandler* h = device->GetContainerHandler(L"rsa");
    BYTE* pub = nullptr;
    DWORD size = 0;
    ASSERT_EQ(S_OK, h->ExportPublicKey(2, &pub, &size));
    EXPECT_EQ(ToHex(pkcs1), ToHex(Take(pub, size)));
    DWORD type = 9;
    EXPECT_EQ(S_OK, h->GetContainerType(&type));
    EXPECT_EQ(1u, type);

    // The key's digests of a message, signed as DigestInfo: OpenSSL verifies.
    const Bytes message = Pattern(5000, 3);
    const struct {
        DWORD alg;
        int nid;
        const char* prefix;
    } hashes[] = {{CALG_SHA_256_, NID_sha256, "3031300d060960864801650304020105000420"},
                  {CALG_SHA1_, NID_sha1, "3021300906052b0e03021a05000414"}};
    for (const auto& row : hashes) {
        BYTE* hash = nullptr;
        DWORD hashSize = 0;
        ASSERT_EQ(S_OK, device->CalculateHashData(message.data(), DWORD(message.size()), row.alg, &hash, &hashSize, L""));
        const Bytes digest = Take(hash, hashSize);
        Bytes info = FromHex(row.prefix);
        info.insert(info.end(), digest.begin(), digest.end());
        BYTE* sig = nullptr;
        DWORD sigSize = 0;
        ASSERT_EQ(S_OK, device->SignHashData(L"rsa", info.data(), DWORD(info.size()), &sig, &sigSize));
        const Bytes little = Take(sig, sigSize);
        ASSERT_EQ(bits / 8, little.size());
        const Bytes big = Reversed(little.data(), little.size());
        EXPECT_EQ(1, RSA_verify(row.nid, digest.data(), unsigned(digest.size()), big.data(), unsigned(big.size()),
                                rsa.get()))
            << row.alg;
    }
}

INSTANTIATE_TEST_SUITE_P(Bits, RsaKeys, ::testing::Values(DWORD(1024), DWORD(2048)));

TEST_F(Containers, RefusedGenerationsSendNoCommand) {
    ASSERT_EQ(S_OK, device->CreateContainer(L"refused"));
    ClearRecord();
    const struct {
        DWORD alg, bits;
        HRESULT expected;
    } rows[] = {{1, 1024, kBadAlgorithm}, {0xA400, 1024, kBadAlgorithm}, {0x1234, 1024, kBadAlgorithm},
                {0x6610, 256, kBadAlgorithm},  {2, 256, E_INVALIDARG},       {0x2400, 4096, E_INVALIDARG}};
    for (const auto& row : rows) {
        BYTE* pub = nullptr;
        DWORD size = 0;
        EXPECT_EQ(row.expected, device->GenerateKeyPair(L"refused", row.alg, row.bits, &pub, &size)) << row.alg;
        EXPECT_EQ(nullptr, pub);
    }
    EXPECT_EQ(0u, Count(INS_GEN_RSA));
    EXPECT_EQ(0u, Count(INS_GEN_SM2));
    CSKFContainerHandler* h = device->GetContainerHandler(L"refused");
    DWORD type = 9;
    EXPECT_EQ(S_OK, h->GetContainerType(&type));
    EXPECT_EQ(0u, type);
    BYTE hash[32] = {};
    BYTE* sig = nullptr;
    DWORD size = 0;
    EXPECT_EQ(kBadKeyPair, h->SignHashData(hash, sizeof hash, &sig, &size));
}

// A library blob the special provider or Keylinq returns, and the PKCS#1 key
// (or the failure) the handler makes of it.
struct BlobRow {
    BOOL special;
    ULONG bits;
    bool modulusAtStart;  // else right-aligned
    bool exponentLittleEndian;
    HRESULT expected;
};

class SpecialProvider : public Containers, public ::testing::WithParamInterface<BlobRow> {};

TEST_P(SpecialProvider, RsaBlobsConvertToTheStandardKey) {
    const BlobRow row = GetParam();
    ASSERT_EQ(S_OK, device->CreateContainer(L"blob"));
    CSKFContainerHandler* h = device->GetContainerHandler(L"blob");
    ASSERT_NE(nullptr, h);
    FARPROC real = nullptr;
    caller.special = row.special;
    caller.Hook(SKFEntry_SKF_ExportPublicKey, &real, reinterpret_cast<void*>(&FakeExportPublicKey));

    const size_t bytes = row.bits / 8 <= 256 ? row.bits / 8 : 256;
    Bytes n = Pattern(bytes, 0x51);
    n[0] |= 0x80;
    n[bytes - 1] |= 1;
    RSAPUBLICKEYBLOB blob;
    memset(&blob, 0, sizeof blob);
    blob.AlgID = 0x00010000;
    blob.BitLen = row.bits;
    memcpy(blob.Modulus + (row.modulusAtStart ? 0 : 256 - bytes), n.data(), bytes);
    const BYTE e[4] = {0, 1, 0, 1};
    if (row.exponentLittleEndian) std::reverse_copy(e, e + 4, blob.PublicExponent);
    else memcpy(blob.PublicExponent, e, 4);
    g_fakePublicKey.assign(reinterpret_cast<BYTE*>(&blob), reinterpret_cast<BYTE*>(&blob) + sizeof blob);

    BYTE* pub = nullptr;
    DWORD size = 0;
    EXPECT_EQ(row.expected, h->ExportPublicKey(2, &pub, &size));
    if (row.expected == S_OK) {
        EXPECT_EQ(ToHex(Pkcs1Of(n, 65537)), ToHex(Take(pub, size)));
    } else {
        EXPECT_EQ(nullptr, pub);
    }

    // An SM2 blob is never changed, and must be 256 bits.
    ECCPUBLICKEYBLOB ecc;
    memset(&ecc, 0, sizeof ecc);
    ecc.BitLen = 256;
    const Bytes d = RandomScalar();
    const Bytes xy = Sm2PublicOf(d);
    memcpy(ecc.XCoordinate + 32, xy.data(), 32);
    memcpy(ecc.YCoordinate + 32, xy.data() + 32, 32);
    g_fakePublicKey.assign(reinterpret_cast<BYTE*>(&ecc), reinterpret_cast<BYTE*>(&ecc) + sizeof ecc);
    ASSERT_EQ(S_OK, h->ExportPublicKey(0x3E00, &pub, &size));
    EXPECT_EQ(ToHex(xy), ToHex(PointOfCspBlob(Take(pub, size))));
    ecc.BitLen = 384;
    g_fakePublicKey.assign(reinterpret_cast<BYTE*>(&ecc), reinterpret_cast<BYTE*>(&ecc) + sizeof ecc);
    EXPECT_EQ(kBadKey, h->ExportPublicKey(0x3E00, &pub, &size));
    g_fakePublicKey.resize(100);
    EXPECT_EQ(kBadKey, h->ExportPublicKey(0x3E00, &pub, &size));
    caller.Hook(SKFEntry_SKF_ExportPublicKey, &real, reinterpret_cast<void*>(real));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SpecialProvider,
    ::testing::Values(BlobRow{FALSE, 1024, true, false, S_OK},     // Keylinq's own layout
                      BlobRow{FALSE, 1024, false, false, S_OK},    // the standard's right alignment
                      BlobRow{FALSE, 2048, true, false, S_OK},
                      BlobRow{TRUE, 1024, true, true, S_OK},       // the special provider's layout
                      BlobRow{TRUE, 2048, true, true, S_OK},
                      BlobRow{FALSE, 512, false, false, kBadKey},  // lengths the blob cannot hold or mean
                      BlobRow{TRUE, 512, true, true, kBadKey},
                      BlobRow{FALSE, 4096, true, false, kBadKey},
                      BlobRow{TRUE, 0xFFFFFFF8, true, true, kBadKey}));

TEST(ContainerHandlerForms, CspSm2BlobAndCertificateKeyCheck) {
    ECCPUBLICKEYBLOB ecc;
    memset(&ecc, 0, sizeof ecc);
    ecc.BitLen = 256;
    const Bytes xy = Sm2PublicOf(RandomScalar());
    memcpy(ecc.XCoordinate + 32, xy.data(), 32);
    memcpy(ecc.YCoordinate + 32, xy.data() + 32, 32);
    BYTE* blob = nullptr;
    DWORD size = 0;
    ASSERT_EQ(S_OK, CSKFContainerHandler::ConstructCSPSM2PublicKey(ecc, 0xBE00, &blob, &size));
    Bytes csp = Take(blob, size);
    ASSERT_EQ(140u, csp.size());
    EXPECT_EQ("06020000" "00BE0000" "00010000", ToHex(Bytes(csp.begin(), csp.begin() + 12)));
    EXPECT_EQ(ToHex(xy), ToHex(PointOfCspBlob(csp)));
    EXPECT_EQ(Bytes(32, 0), Bytes(csp.begin() + 44, csp.begin() + 76));

    const Bytes certKey = Sm2CertificateKey(xy);
    Bytes copy = csp;
    EXPECT_EQ(S_OK, CSKFContainerHandler::CheckSM2CertPublicKeyMatched(certKey.data(), DWORD(certKey.size()),
                                                                       copy.data(), DWORD(copy.size())));
    Bytes otherY = certKey;
    otherY[64] ^= 1;
    copy = csp;
    EXPECT_EQ(kBadKey, CSKFContainerHandler::CheckSM2CertPublicKeyMatched(otherY.data(), DWORD(otherY.size()),
                                                                          copy.data(), DWORD(copy.size())));
    Bytes longer = certKey;
    longer.push_back(0);
    copy = csp;
    EXPECT_EQ(kBadKey, CSKFContainerHandler::CheckSM2CertPublicKeyMatched(longer.data(), DWORD(longer.size()),
                                                                          copy.data(), DWORD(copy.size())));
    EXPECT_EQ(E_INVALIDARG, CSKFContainerHandler::CheckSM2CertPublicKeyMatched(certKey.data(), DWORD(certKey.size()),
                                                                               copy.data(), 132));
}

// ---- certificates

TEST_F(Containers, CertificatesImportOnlyForTheContainersOwnKey) {
    const Bytes caD = RandomScalar();
    Pkey sm2Ca = MakeSm2Key(caD, Sm2PublicOf(caD));
    std::unique_ptr<EVP_PKEY, PkeyFree> rsaCa(EVP_RSA_gen(1024));
    ASSERT_TRUE(sm2Ca && rsaCa);

    // SM2: the container's key, another key, the key with two extra octets.
    const Bytes sm2 = NewContainerWithKey(L"sm2", 0x3E00);
    const Bytes own = MakeCertificate(Sm2CertificateKey(PointOfCspBlob(sm2)), true, sm2Ca.get(), EVP_sm3());
    Bytes padded = Sm2CertificateKey(PointOfCspBlob(sm2));
    padded.push_back(0);
    padded.push_back(0);
    const Bytes refused[] = {
        MakeCertificate(Sm2CertificateKey(Sm2PublicOf(RandomScalar())), true, sm2Ca.get(), EVP_sm3()),
        MakeCertificate(padded, true, sm2Ca.get(), EVP_sm3())};
    ClearRecord();
    for (const Bytes& cert : refused) {
        ASSERT_FALSE(cert.empty());
        EXPECT_EQ(kBadKey, device->ImportCertificate(L"sm2", 0x3E00, cert.data(), DWORD(cert.size())));
    }
    EXPECT_EQ(0u, Count(INS_CERT_PIECE));
    ExportCert(L"sm2", 2, HRESULT(0x8007001C));
    ASSERT_EQ(S_OK, device->ImportCertificate(L"sm2", 0x3E00, own.data(), DWORD(own.size())));
    EXPECT_EQ(ToHex(own), ToHex(ExportCert(L"sm2", 2)));
    EXPECT_EQ(ToHex(own), ToHex(ExportCert(L"sm2", 0x3E00)));

    // RSA: the container's PKCS#1 key, the same modulus with exponent 3, the
    // key with two extra octets.
    const Bytes pkcs1 = NewContainerWithKey(L"rsa", 2, 1024);
    Rsa rsa = RsaOf(pkcs1);
    ASSERT_TRUE(rsa);
    Bytes n(size_t(RSA_size(rsa.get())));
    BN_bn2bin(RSA_get0_n(rsa.get()), n.data());
    Bytes longer = pkcs1;
    longer.push_back(0);
    longer.push_back(0);
    const Bytes rsaRefused[] = {MakeCertificate(Pkcs1Of(n, 3), false, rsaCa.get(), EVP_sha256()),
                                MakeCertificate(longer, false, rsaCa.get(), EVP_sha256())};
    ClearRecord();
    for (const Bytes& cert : rsaRefused) {
        ASSERT_FALSE(cert.empty());
        EXPECT_EQ(kBadKey, device->ImportCertificate(L"rsa", 2, cert.data(), DWORD(cert.size())));
    }
    EXPECT_EQ(0u, Count(INS_CERT_PIECE));
    const Bytes rsaOwn = MakeCertificate(pkcs1, false, rsaCa.get(), EVP_sha256());
    ASSERT_EQ(S_OK, device->ImportCertificate(L"rsa", 0x2400, rsaOwn.data(), DWORD(rsaOwn.size())));
    EXPECT_EQ(ToHex(rsaOwn), ToHex(ExportCert(L"rsa", 2)));

    // Certificates that carry the other kind's key bytes: an RSA-signed one
    // holding the SM2 container's CSP blob, an SM2-signed one whose point is
    // read from the RSA key's DER bytes where a CSP blob has its coordinates.
    const Bytes sm2Blob = sm2;
    Bytes fromRsa(1, 0x04);
    const Bytes fx = Reversed(pkcs1.data() + 12, 32), fy = Reversed(pkcs1.data() + 76, 32);
    fromRsa.insert(fromRsa.end(), fx.begin(), fx.end());
    fromRsa.insert(fromRsa.end(), fy.begin(), fy.end());
    const Bytes crossSm2 = MakeCertificate(sm2Blob, false, rsaCa.get(), EVP_sha256());
    const Bytes crossRsa = MakeCertificate(fromRsa, true, sm2Ca.get(), EVP_sm3());
    ClearRecord();
    EXPECT_EQ(kBadKey, device->ImportCertificate(L"sm2", 2, crossSm2.data(), DWORD(crossSm2.size())));
    EXPECT_EQ(kBadKey, device->ImportCertificate(L"rsa", 2, crossRsa.data(), DWORD(crossRsa.size())));
    EXPECT_EQ(0u, Count(INS_CERT_PIECE));

    // Both texts of the container record, Base64 of the DER bytes.
    ContainerObjInfo info;
    ASSERT_EQ(S_OK, device->GetContainerObjInfo(L"rsa", info));
    EXPECT_EQ(1u, info.dwContainerType);
    std::string text;
    for (char c : info.strSignCert)
        if (c != '\r' && c != '\n') text += c;
    Bytes decoded(text.size());
    const int decodedLen = EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                           int(text.size()));
    ASSERT_GE(decodedLen, int(rsaOwn.size()));
    decoded.resize(rsaOwn.size());  // EVP_DecodeBlock keeps the padding's zero bytes
    EXPECT_EQ(ToHex(rsaOwn), ToHex(decoded));

    // A certificate that does not decode.
    const BYTE junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    EXPECT_NE(S_OK, device->ImportCertificate(L"rsa", 2, junk, sizeof junk));
    EXPECT_EQ(kBadAlgorithm, device->ImportCertificate(L"rsa", 3, rsaOwn.data(), DWORD(rsaOwn.size())));
}

// ---- hashing and signing

TEST_F(Containers, Sm3OverTheSignersKeyThenTheKeysSignatureVerifiesWithOpenSsl) {
    const Bytes blob = NewContainerWithKey(L"signer", 0x3E00);
    Pkey key = MakeSm2Key({}, PointOfCspBlob(blob));
    ASSERT_TRUE(key);
    for (size_t size : {size_t(0), size_t(3), size_t(5000)}) {
        const Bytes message = Pattern(size, 9);
        BYTE* hash = nullptr;
        DWORD hashSize = 0;
        ASSERT_EQ(S_OK, device->CalculateHashData(message.data(), DWORD(message.size()), CALG_SM3_, &hash, &hashSize,
                                                  L"signer"));
        const Bytes e = Take(hash, hashSize);
        ASSERT_EQ(32u, e.size());
        BYTE* sig = nullptr;
        DWORD sigSize = 0;
        ASSERT_EQ(S_OK, device->SignHashData(L"signer", e.data(), DWORD(e.size()), &sig, &sigSize));
        const Bytes rs = Take(sig, sigSize);
        ASSERT_EQ(64u, rs.size());
        const Bytes r = Reversed(rs.data(), 32), s = Reversed(rs.data() + 32, 32);
        ECDSA_SIG* es = ECDSA_SIG_new();
        ECDSA_SIG_set0(es, BN_bin2bn(r.data(), 32, nullptr), BN_bin2bn(s.data(), 32, nullptr));
        unsigned char* der = nullptr;
        const int derLen = i2d_ECDSA_SIG(es, &der);
        EXPECT_TRUE(OpenSslSm2Verify(key.get(), message, Bytes(der, der + derLen))) << size;
        OPENSSL_free(der);
        ECDSA_SIG_free(es);
    }
    const BYTE twenty[20] = {1, 2, 3};
    BYTE* sig = nullptr;
    DWORD sigSize = 0;
    EXPECT_EQ(kBadHashLength, device->SignHashData(L"signer", twenty, sizeof twenty, &sig, &sigSize));
    EXPECT_EQ(nullptr, sig);
}

TEST_F(Containers, ShaDigestsEqualOpenSslsInPiecesOf4096) {
    FARPROC real = nullptr;
    caller.Hook(SKFEntry_SKF_DigestUpdate, &g_realDigestUpdate, reinterpret_cast<void*>(&CountDigestUpdate));
    (void)real;
    for (size_t size : {size_t(0), size_t(1), size_t(4095), size_t(4096), size_t(4097), size_t(10000)}) {
        const Bytes data = Pattern(size, 0x22);
        for (const auto& alg : {std::make_pair(CALG_SHA_256_, EVP_sha256()), std::make_pair(CALG_SHA1_, EVP_sha1())}) {
            g_digestUpdates = 0;
            BYTE* hash = nullptr;
            DWORD hashSize = 0;
            ASSERT_EQ(S_OK, device->CalculateHashData(size ? data.data() : nullptr, DWORD(size), alg.first, &hash,
                                                      &hashSize, L"ignored"));
            EXPECT_EQ(ToHex(Digest(alg.second, data)), ToHex(Take(hash, hashSize))) << size;
            EXPECT_EQ(int((size + 4095) / 4096), g_digestUpdates) << size;
        }
    }
    BYTE* hash = nullptr;
    DWORD hashSize = 0;
    EXPECT_EQ(E_INVALIDARG, device->CalculateHashData(nullptr, 1, CALG_SHA1_, &hash, &hashSize, L""));
}

// ---- the enveloped SM2 key pair, the test as the renewal server

// K and the SM2 encryption's k while a test fixes OpenSSL's random bytes.
int FixedBytes(unsigned char* buf, int num) {
    for (int i = 0; i < num; ++i) buf[i] = BYTE(0x01 + i * 7);
    return 1;
}
int FixedStatus() { return 1; }
const RAND_METHOD kFixedRandom = {nullptr, FixedBytes, nullptr, nullptr, FixedBytes, FixedStatus};

std::vector<Bytes> g_secrets;
bool HoldsSecret(const void* p, size_t n) {
    const BYTE* b = static_cast<const BYTE*>(p);
    for (const Bytes& secret : g_secrets)
        for (size_t i = 0; i + secret.size() <= n; ++i)
            if (memcmp(b + i, secret.data(), secret.size()) == 0) return true;
    return false;
}

class Envelope : public Containers {};

TEST_F(Envelope, ServersKeyPairImportsInBothOrdersAndItsCertificateFollows) {
    NewContainerWithKey(L"renew", 0x3E00);
    const Bytes temp = Temporary(L"renew");
    ASSERT_EQ(140u, temp.size());
    EXPECT_EQ(0xBEu, temp[5]);
    caller.Hook(SKFEntry_SKF_ImportECCKeyPair, &g_realImportEcc, reinterpret_cast<void*>(&RecordImportEcc));
    const Bytes caD = RandomScalar();
    Pkey ca = MakeSm2Key(caD, Sm2PublicOf(caD));

    for (bool c3First : {true, false}) {
        const Bytes d = RandomScalar();
        const Bytes xy = Sm2PublicOf(d);
        Bytes plain = xy;
        plain.insert(plain.end(), d.begin(), d.end());
        const Bytes answer = Answer(temp, plain, c3First);
        ASSERT_EQ(96u + 96u, answer.size());

        // K and the SM2 encryption's k fixed: the envelope is checked
        // against one built here with OpenSSL's SM4.
        g_envelope.clear();
        Bytes k(16);
        FixedBytes(k.data(), 16);
        g_secrets = {d, k};
        g_freedSecretBlocks = 0;
        const RAND_METHOD* before = RAND_get_rand_method();
        RAND_set_rand_method(&kFixedRandom);
        g_freedBlockCheck = HoldsSecret;
        const HRESULT hr = Import(L"renew", answer);
        g_freedBlockCheck = nullptr;
        RAND_set_rand_method(before);
        ASSERT_EQ(S_OK, hr) << c3First;
        EXPECT_EQ(0, g_freedSecretBlocks) << "a freed block held D or K";

        ASSERT_EQ(388u, g_envelope.size());
        const BYTE* e = g_envelope.data();
        auto u32 = [e](size_t at) { return uint32_t(e[at]) | uint32_t(e[at + 1]) << 8 | uint32_t(e[at + 2]) << 16 | uint32_t(e[at + 3]) << 24; };
        EXPECT_EQ(1u, u32(0));
        EXPECT_EQ(0x401u, u32(4));
        EXPECT_EQ(256u, u32(8));
        EXPECT_EQ(256u, u32(76));
        EXPECT_EQ(16u, u32(368));
        EXPECT_EQ(ToHex(Bytes(xy.begin(), xy.begin() + 32)), ToHex(Bytes(e + 112, e + 144)));
        EXPECT_EQ(ToHex(Bytes(xy.begin() + 32, xy.end())), ToHex(Bytes(e + 176, e + 208)));
        EXPECT_EQ(Bytes(32, 0), Bytes(e + 80, e + 112));
        EXPECT_EQ(0, memcmp(e + 12, e + 28, 16));  // two zero blocks under one key
        Bytes block(32, 0);
        block.insert(block.end(), d.begin(), d.end());
        Bytes expected(64);
        int outLen = 0;
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        EVP_EncryptInit_ex(ctx, EVP_sm4_ecb(), nullptr, k.data(), nullptr);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_EncryptUpdate(ctx, expected.data(), &outLen, block.data(), 64);
        EVP_CIPHER_CTX_free(ctx);
        EXPECT_EQ(ToHex(expected), ToHex(Bytes(e + 12, e + 76)));
        EXPECT_EQ(Bytes(32, 0), Bytes(e + 208, e + 240));

        CSKFContainerHandler* h = device->GetContainerHandler(L"renew");
        BYTE* pub = nullptr;
        DWORD size = 0;
        ASSERT_EQ(S_OK, h->ExportPublicKey(1, &pub, &size));
        EXPECT_EQ(ToHex(xy), ToHex(PointOfCspBlob(Take(pub, size))));
        const Bytes cert = MakeCertificate(Sm2CertificateKey(xy), true, ca.get(), EVP_sm3());
        EXPECT_EQ(S_OK, device->ImportCertificate(L"renew", 0xBE00, cert.data(), DWORD(cert.size())));
        EXPECT_EQ(ToHex(cert), ToHex(ExportCert(L"renew", 1)));
    }
    caller.Hook(SKFEntry_SKF_ImportECCKeyPair, &g_realImportEcc, reinterpret_cast<void*>(g_realImportEcc));
}

TEST_F(Envelope, AnswersTheHandlerCannotOpenImportNothing) {
    NewContainerWithKey(L"renew", 0x3E00);
    const Bytes first = Temporary(L"renew");
    const Bytes d = RandomScalar();
    Bytes plain = Sm2PublicOf(d);
    plain.insert(plain.end(), d.begin(), d.end());
    const Bytes toFirst = Answer(first, plain, true);
    const Bytes second = Temporary(L"renew");
    EXPECT_NE(ToHex(first), ToHex(second));
    ClearRecord();
    // Encrypted to the replaced temporary key: the decryption fails.
    const HRESULT replaced = Import(L"renew", toFirst);
    EXPECT_TRUE(FAILED(replaced)) << std::hex << replaced;
    // Plaintexts of 64 and 128 bytes.
    EXPECT_EQ(kBadKeyPair, Import(L"renew", Answer(second, Bytes(plain.begin(), plain.begin() + 64), true)));
    Bytes longer = plain;
    longer.insert(longer.end(), d.begin(), d.end());
    EXPECT_EQ(kBadKeyPair, Import(L"renew", Answer(second, longer, false)));
    EXPECT_EQ(0u, Count(INS_IMPORT_SM2));
    // The handler keeps its temporary key: the right answer still imports.
    EXPECT_EQ(S_OK, Import(L"renew", Answer(second, plain, true)));

    // A new device handler (a new provider) has no temporary key.
    device.reset(CSKFDeviceHandler::FromDeviceName(wideName.c_str(), &caller));
    ASSERT_TRUE(device);
    ClearRecord();
    EXPECT_EQ(E_INVALIDARG, Import(L"renew", Answer(second, plain, true)));
    EXPECT_EQ(0u, Count(INS_IMPORT_SM2));

    // An RSA signature key cannot open the envelope: refused before any
    // decryption or import.
    NewContainerWithKey(L"rsa", 2, 1024);
    const Bytes rsaTemp = Temporary(L"rsa");
    ClearRecord();
    EXPECT_EQ(kBadKey, Import(L"rsa", Answer(rsaTemp, plain, true)));
    EXPECT_EQ(0u, Count(INS_IMPORT_SM2));
    // Refused identifiers and missing wrapped keys.
    EXPECT_EQ(kBadAlgorithm, device->ImportKeyPair(L"rsa", 2, plain.data(), 1, plain.data(), 96));
    EXPECT_EQ(E_INVALIDARG, device->ImportKeyPair(L"rsa", 1, nullptr, 0, plain.data(), 96));
}

TEST(ContainerHandlerLife, FreeingTheTemporaryKeyWipesIt) {
    SM2KeyHandle* h = nullptr;
    ASSERT_EQ(S_OK, SKFExtCipher::CreateKeyHandle(&h));
    g_secrets = {Bytes(h->pbPrivateKey, h->pbPrivateKey + h->dwPrivateKeySize)};
    g_freedSecretBlocks = 0;
    g_freedBlockCheck = HoldsSecret;
    FreeSM2KeyHandle(h);
    FreeSM2KeyHandle(nullptr);
    g_freedBlockCheck = nullptr;
    EXPECT_EQ(0, g_freedSecretBlocks);

    ISKFModuleCaller unloaded;
    CSKFContainerHandler handler(&unloaded);
    EXPECT_EQ(S_OK, handler.CloseContainer());  // nothing open
    EXPECT_EQ(nullptr, CSKFContainerHandler::FromContainerName(L"x", nullptr, &unloaded));
    EXPECT_EQ(nullptr, CSKFContainerHandler::FromContainerName(L"", reinterpret_cast<HAPPLICATION>(1), &unloaded));
    BYTE* out = nullptr;
    DWORD size = 0;
    EXPECT_EQ(E_INVALIDARG, handler.GenerateKeyPair(0xBE00, 0, &out, &size));
}

}  // namespace
