// The provider and the SKFCrypt facade against a signed copy of this tree's
// Keylinq.dll and the virtual key: trusted loading (signed, refused and
// missing libraries, registry look-up), the acquire flags, the key
// operations with OpenSSL checking what the key made, the device record,
// seals, the PIN proved before the device lock, and key discovery over
// certificates that the host's openssl made.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Base64Utility.h"
#include "CustomSKFInterface.h"
#include "HostPaths.h"
#include "KeylinqLibrary.h"
#include "OpenSslSm2.h"
#include "SKFContainerHandler.h"
#include "SKFCryptoAPI.h"
#include "SKFTestSupport.h"
#include "TestBytes.h"
#include "TraceHelper.h"

namespace {

constexpr HRESULT kOutOfMemory = HRESULT(0x8007000E);
constexpr HRESULT kBadFlags = HRESULT(0x80090029);
constexpr HRESULT kBadHash = HRESULT(0x80090008);
constexpr HRESULT kBadKeyType = HRESULT(0x80090002);

std::wstring SignedDir() {
    std::wstring dir = Widen(HostEnvPath("SIGNED_KEYLINQ_DIR"));
    std::replace(dir.begin(), dir.end(), L'/', L'\\');
    return dir;
}
std::wstring SignedKeylinq() { return SignedDir() + L"\\Keylinq.dll"; }
std::wstring CopyOf(const wchar_t* name) { return SignedDir() + L"\\" + name; }

bool Mapped(const std::wstring& path) { return GetModuleHandleW(path.c_str()) != nullptr; }

Bytes Take(BYTE* p, DWORD n) {
    Bytes b(p, p + n);
    delete[] p;
    return b;
}
Bytes Reversed(const BYTE* p, size_t n) { return Bytes(std::reverse_iterator<const BYTE*>(p + n), std::reverse_iterator<const BYTE*>(p)); }

// X || Y of the 140-byte CSP SM2 public-key blob (coordinates least
// significant byte first).
Bytes PointOfCspBlob(const Bytes& blob) {
    Bytes xy = Reversed(blob.data() + 12, 32);
    const Bytes y = Reversed(blob.data() + 76, 32);
    xy.insert(xy.end(), y.begin(), y.end());
    return xy;
}

// ---- failure log
std::vector<std::wstring> g_lines;
void RecordLine(ULONG64, const TraceMessageArgs& m) {
    if (m.kind == TraceMessageKind::Failure || m.kind == TraceMessageKind::StepOrFailure)
        g_lines.push_back(m.text ? m.text : L"");
}
struct TraceCapture {
    TraceCapture() {
        g_lines.clear();
        SetTraceWriter(RecordLine);
        SetTraceControlState(true, 1, 0x06);
    }
    ~TraceCapture() {
        SetTraceControlState(false, 0, 0);
        SetTraceWriter(nullptr);
    }
    bool Has(const wchar_t* text) const {
        for (const std::wstring& l : g_lines)
            if (l.find(text) != std::wstring::npos) return true;
        return false;
    }
};

// Answers every PIN request with the default PIN; with a hook run while
// the "dialog" is open.
struct TestDelegator : ISKFUIDelegator {
    std::atomic<int>* requests;
    std::function<void()> whileOpen;
    explicit TestDelegator(std::atomic<int>* counter) : requests(counter) {}
    BOOL IsPINCacheEnabled() override { return TRUE; }
    HRESULT SKFCryptSelectDevice(HSKFCRYPTPROV, std::vector<std::wstring>, std::wstring&) override { return E_NOTIMPL; }
    HRESULT SKFCryptUIInputPIN(std::wstring, BOOL, DWORD, std::wstring& pin) override {
        ++*requests;
        if (whileOpen) whileOpen();
        pin = L"" DEFAULT_USER_PIN;
        return S_OK;
    }
    HRESULT SKFCryptUISetInitPIN(std::wstring, std::wstring&) override { return E_NOTIMPL; }
};

class Provider : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(control.connected());
        delegator = new TestDelegator(&pinRequests);
        SKFRegisterUIDelegator(delegator);
        keyId = AddFreshKey(control);
        device = DeviceOf(keyId);
        ASSERT_FALSE(device.empty());
    }
    void TearDown() override {
        SKFCryptReleaseContext(prov);
        SKFUnregisterUIDelegator();
    }
    std::wstring DeviceOf(uint32_t id) {
        KeySession<KeylinqLibrary> probe(Keylinq(), control, id);
        return Widen(probe.DeviceName());
    }
    // A handle on the test's key.
    void Acquire() { ASSERT_EQ(S_OK, SKFCryptAcquireContext(device.c_str(), nullptr, &prov, nullptr, 0, SignedKeylinq().c_str())); }
    size_t Commands() {
        std::vector<vk::RecordEntry> record;
        EXPECT_EQ(0u, control.Record(keyId, record));
        return record.size();
    }
    // Whether another connection takes the key's device lock within 5 s.
    bool LockFreeElsewhere() {
        KeySession<KeylinqLibrary> other(Keylinq(), control, keyId);
        if (other.Connect() != SAR_OK) return false;
        const auto start = std::chrono::steady_clock::now();
        bool ok = false;
        std::thread t([&] {
            ok = Keylinq().SKF_LockDev(other.dev, 0xFFFFFFFF) == SAR_OK;
            if (ok) Keylinq().SKF_UnlockDev(other.dev);
        });
        t.join();
        return ok && std::chrono::steady_clock::now() - start < std::chrono::seconds(5);
    }
    // The certificate written straight into a container of the handle's provider.
    void PutCertificate(HSKFCRYPTPROV h, const std::wstring& dev, const std::wstring& container, BOOL sign,
                        const Bytes& cert) {
        CSKFContainerHandler* c = h->GetDeviceHandler(dev)->GetContainerHandler(container);
        ASSERT_NE(nullptr, c);
        DWORD type = 0;
        if (c->GetContainerType(&type) != S_OK || type == SKF_CONTAINER_NO_SIGN_KEY) {
            // The key keeps certificates only in a container with keys.
            ASSERT_EQ(S_OK, SKFCryptAcquireContext(dev.c_str(), container.c_str(), &h, nullptr, 0, nullptr));
            ASSERT_EQ(S_OK, SKFCryptGenerateKey(h, SKF_ALG_CALG_SM2_SIGN, nullptr, nullptr));
            c = h->GetDeviceHandler(dev)->GetContainerHandler(container);
        }
        ASSERT_NE(nullptr, c);
        ASSERT_EQ(SAR_OK, h->SKF_ImportCertificate(c->GetContainerHandle(), sign, const_cast<BYTE*>(cert.data()),
                                                   ULONG(cert.size())));
    }

    VirtualKeyControl control;
    std::atomic<int> pinRequests{0};
    TestDelegator* delegator = nullptr;
    uint32_t keyId = 0;
    std::wstring device;
    HSKFCRYPTPROV prov = nullptr;
};

// ---- trusted loading

TEST_F(Provider, OnlyTheSignedLibraryLoadsRefusedCopiesAreNeverMapped) {
    CSKFCryptProvider* p = CSKFCryptProvider::FromModulePath(SignedKeylinq().c_str());
    ASSERT_NE(nullptr, p);
    EXPECT_TRUE(Mapped(SignedKeylinq()));
    EXPECT_EQ(SignedKeylinq(), p->GetModulePath());
    EXPECT_FALSE(p->IsOrvaneSKFForRMQT());
    EXPECT_EQ(S_OK, p->ActivateProvider());
    delete p;
    EXPECT_FALSE(Mapped(SignedKeylinq()));

    for (const wchar_t* copy : {L"Keylinq-unsigned.dll", L"Keylinq-foreign.dll", L"Keylinq-altered.dll"}) {
        TraceCapture log;
        EXPECT_EQ(nullptr, CSKFCryptProvider::FromModulePath(CopyOf(copy).c_str())) << copy;
        EXPECT_FALSE(Mapped(CopyOf(copy))) << copy;
        EXPECT_TRUE(log.Has(L"VerifySpecFileTrust")) << copy;
    }
    {
        TraceCapture log;
        EXPECT_EQ(nullptr, CSKFCryptProvider::FromModulePath(CopyOf(L"Missing.dll").c_str()));
        EXPECT_TRUE(log.Has(L"PathFileExistsW"));
        EXPECT_FALSE(log.Has(L"VerifyFileTrustPrivate"));
    }
    // The facade turns every refusal into E_OUTOFMEMORY; the log keeps the reason.
    TraceCapture log;
    EXPECT_EQ(kOutOfMemory, SKFCryptAcquireContext(device.c_str(), nullptr, &prov, nullptr, 0,
                                                   CopyOf(L"Keylinq-foreign.dll").c_str()));
    EXPECT_EQ(nullptr, prov);
    EXPECT_TRUE(log.Has(L"pSKFCryptProv == NULL"));
    EXPECT_TRUE(log.Has(L"VerifySpecFileTrust"));
}

// A CryptoAPI provider entry of the test's own, in the 32-bit registry view.
struct ProviderEntry {
    std::wstring key;
    ProviderEntry(const std::wstring& name, const std::wstring& value)
        : key(L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\" + name) {
        HKEY h = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0,
                                                 KEY_WRITE | KEY_WOW64_32KEY, nullptr, &h, nullptr));
        RegSetValueExW(h, L"SKFBin Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       DWORD((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(h);
    }
    ~ProviderEntry() { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_32KEY, 0); }
};

TEST_F(Provider, FromProviderNameFindsTheLibraryThroughItsRegistryEntry) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring inSystem = std::wstring(system) + L"\\KeylinqProviderTest.dll";
    ASSERT_TRUE(CopyFileW(SignedKeylinq().c_str(), inSystem.c_str(), FALSE));
    SetEnvironmentVariableW(L"KEYLINQ_SIGNED_DIR", SignedDir().c_str());

    const struct {
        const wchar_t* name;
        std::wstring value;
        BOOL orvane;
    } rows[] = {
        {L"Certaide Test Full Path", SignedKeylinq(), FALSE},
        {L"Certaide Test Variable", L"%KEYLINQ_SIGNED_DIR%\\Keylinq.dll", FALSE},
        {L"Certaide Test Bare Name", L"KeylinqProviderTest.dll", FALSE},
        {L"orvane tessmark1000 csp v1.0", SignedKeylinq(), TRUE},
    };
    for (const auto& row : rows) {
        ProviderEntry entry(row.name, row.value);
        std::unique_ptr<CSKFCryptProvider> p(CSKFCryptProvider::FromProviderName(row.name));
        ASSERT_NE(nullptr, p) << row.name;
        EXPECT_EQ(row.name, p->GetProviderName());
        EXPECT_EQ(row.orvane, p->IsOrvaneSKFForRMQT()) << row.name;
        EXPECT_EQ(S_OK, p->ActivateProvider()) << row.name;
    }
    {
        ProviderEntry refused(L"Certaide Test Refused", CopyOf(L"Keylinq-unsigned.dll"));
        EXPECT_EQ(nullptr, CSKFCryptProvider::FromProviderName(L"Certaide Test Refused"));
    }
    EXPECT_EQ(nullptr, CSKFCryptProvider::FromProviderName(L"Certaide Test Not Registered"));

    // A name too long for the key text is refused before anything is read;
    // one of the longest length is looked up.
    TraceCapture log;
    EXPECT_EQ(nullptr, CSKFCryptProvider::FromProviderName(std::wstring(521, L'n').c_str()));
    EXPECT_FALSE(log.Has(L"ReadRegistryData"));
    EXPECT_EQ(nullptr, CSKFCryptProvider::FromProviderName(std::wstring(520, L'n').c_str()));
    EXPECT_TRUE(log.Has(L"ReadRegistryData"));

    // With a module path as well, the registry is not read.
    ProviderEntry entry(L"Certaide Test Refused", CopyOf(L"Keylinq-unsigned.dll"));
    EXPECT_EQ(S_OK, SKFCryptAcquireContext(device.c_str(), nullptr, &prov, L"Certaide Test Refused", 0,
                                           SignedKeylinq().c_str()));
    DeleteFileW(inSystem.c_str());
}

// ---- acquire flags

TEST_F(Provider, AcquireFlags) {
    TraceCapture log;
    // An unsupported flag: nothing left behind.
    EXPECT_EQ(kBadFlags, SKFCryptAcquireContext(device.c_str(), nullptr, &prov, nullptr, 0x40, SignedKeylinq().c_str()));
    EXPECT_EQ(nullptr, prov);
    EXPECT_FALSE(Mapped(SignedKeylinq()));
    EXPECT_TRUE(log.Has(L"Not Supported Acquire Context Flags."));
    // Creating needs a container and a device.
    EXPECT_EQ(E_INVALIDARG, SKFCryptAcquireContext(device.c_str(), L"", &prov, nullptr, 8, SignedKeylinq().c_str()));
    EXPECT_EQ(E_INVALIDARG, SKFCryptAcquireContext(nullptr, L"c", &prov, nullptr, 8, SignedKeylinq().c_str()));
    EXPECT_TRUE(log.Has(L"No Device Acquired."));
    EXPECT_EQ(nullptr, prov);
    EXPECT_EQ(0u, pinRequests.load());
    // The high bits open the device like 0.
    ASSERT_EQ(S_OK, SKFCryptAcquireContext(device.c_str(), nullptr, &prov, nullptr, 0xF0000000, SignedKeylinq().c_str()));
    ASSERT_NE(nullptr, prov);
    EXPECT_EQ(device, prov->GetCurrentDevice());
    EXPECT_EQ(L"", prov->GetCurrentContainer());

    // Deleting without a name removes the empty containers (on this key
    // deleting needs the PIN that the handle has proved).
    ASSERT_EQ(S_OK, SKFCryptAcquireContext(device.c_str(), L"empty", &prov, nullptr, 8, nullptr));
    ASSERT_EQ(S_OK, SKFCryptAcquireContext(device.c_str(), nullptr, &prov, nullptr, 0x10, nullptr));
    EXPECT_EQ(L"", prov->GetCurrentContainer());
    EXPECT_EQ(HRESULT(0x8007006E), SKFCryptAcquireContext(nullptr, L"empty", &prov, nullptr, 0, nullptr));
    // A reused handle stays the caller's after a failure.
    EXPECT_EQ(device, prov->GetCurrentDevice());
    SKFCryptReleaseContext(prov);
    prov = nullptr;
    // Without a handle the call does its work and frees its provider. (Once
    // it has connected a key, Keylinq keeps itself mapped: the unmapping is
    // seen above, before any key was connected.)
    EXPECT_EQ(S_OK, SKFCryptAcquireContext(device.c_str(), nullptr, nullptr, nullptr, 0x10, SignedKeylinq().c_str()));
}

// ---- key operations

TEST_F(Provider, KeyOperationsOnTheCurrentContainer) {
    Acquire();
    BYTE* pub = nullptr;
    DWORD pubSize = 0;
    // No container chosen yet.
    EXPECT_EQ(E_INVALIDARG, SKFCryptGenerateKey(prov, SKF_ALG_CALG_SM2_SIGN, &pub, &pubSize));
    ASSERT_EQ(S_OK, SKFCryptAcquireContext(nullptr, L"signer", &prov, nullptr, 8, nullptr));
    EXPECT_EQ(L"signer", prov->GetCurrentContainer());
    ASSERT_EQ(S_OK, SKFCryptGenerateKey(prov, SKF_ALG_CALG_SM2_SIGN, &pub, &pubSize));
    const Bytes blob = Take(pub, pubSize);
    ASSERT_EQ(140u, blob.size());

    // The point that the library itself reports.
    CSKFContainerHandler* c = prov->GetDeviceHandler(device)->GetContainerHandler(L"signer");
    ECCPUBLICKEYBLOB ecc = {};
    ULONG eccSize = sizeof ecc;
    ASSERT_EQ(SAR_OK, prov->SKF_ExportPublicKey(c->GetContainerHandle(), TRUE, reinterpret_cast<BYTE*>(&ecc), &eccSize));
    Bytes xy(ecc.XCoordinate + 32, ecc.XCoordinate + 64);
    xy.insert(xy.end(), ecc.YCoordinate + 32, ecc.YCoordinate + 64);
    EXPECT_EQ(ToHex(xy), ToHex(PointOfCspBlob(blob)));

    // SM3 over Z and the data, verified by OpenSSL with the id set.
    Pkey key = MakeSm2Key({}, xy);
    ASSERT_TRUE(key);
    const Bytes message = ToBytes("a session text to sign");
    BYTE* sig = nullptr;
    DWORD sigSize = 0;
    ASSERT_EQ(S_OK, SKFCryptSignBinaryData(prov, message.data(), DWORD(message.size()), SKF_CALG_SM3, &sig, &sigSize));
    const Bytes rs = Take(sig, sigSize);
    ASSERT_EQ(64u, rs.size());
    const Bytes r = Reversed(rs.data(), 32), s = Reversed(rs.data() + 32, 32);
    ECDSA_SIG* es = ECDSA_SIG_new();
    ECDSA_SIG_set0(es, BN_bin2bn(r.data(), 32, nullptr), BN_bin2bn(s.data(), 32, nullptr));
    unsigned char* der = nullptr;
    const int derLen = i2d_ECDSA_SIG(es, &der);
    EXPECT_TRUE(OpenSslSm2Verify(key.get(), message, Bytes(der, der + derLen)));
    OPENSSL_free(der);
    ECDSA_SIG_free(es);
    // Empty data passes the facade.
    EXPECT_EQ(S_OK, SKFCryptSignBinaryData(prov, nullptr, 0, SKF_CALG_SM3, &sig, &sigSize));
    delete[] sig;
    EXPECT_EQ(E_INVALIDARG, SKFCryptSignBinaryData(prov, nullptr, 1, SKF_CALG_SM3, &sig, &sigSize));

    // A DigestInfo is no SM2 input; an unknown hash never reaches the key.
    EXPECT_EQ(kBadKeyType, SKFCryptSignBinaryData(prov, message.data(), DWORD(message.size()), SKF_CALG_SHA_256, &sig, &sigSize));
    ASSERT_EQ(0u, control.ClearRecord(keyId));
    EXPECT_EQ(kBadHash, SKFCryptSignBinaryData(prov, message.data(), DWORD(message.size()), 0x8003, &sig, &sigSize));
    EXPECT_EQ(0u, Commands());

    // An RSA key cannot be made here; the key is free afterwards.
    EXPECT_EQ(E_INVALIDARG, SKFCryptGenerateKey(prov, SKF_ALG_AT_SIGNATURE, nullptr, nullptr));
    EXPECT_TRUE(LockFreeElsewhere());

    // The current names: a failed open keeps them, a delete empties the container.
    EXPECT_NE(S_OK, SKFCryptAcquireContext(nullptr, L"no such container", &prov, nullptr, 0, nullptr));
    EXPECT_EQ(L"signer", prov->GetCurrentContainer());
    ASSERT_EQ(S_OK, SKFCryptAcquireContext(nullptr, L"other", &prov, nullptr, 8, nullptr));
    ASSERT_EQ(S_OK, SKFCryptAcquireContext(nullptr, L"signer", &prov, nullptr, 0x10, nullptr));
    EXPECT_EQ(device, prov->GetCurrentDevice());
    EXPECT_EQ(L"", prov->GetCurrentContainer());
    EXPECT_EQ(E_INVALIDARG, SKFCryptExportCertificate(prov, &sig, &sigSize));
}

TEST_F(Provider, DeviceRecordSealsAndDeviceList) {
    Acquire();
    std::vector<std::wstring> names;
    ASSERT_EQ(S_OK, SKFCryptEnumDevices(prov, names));
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), device));

    // Seals round-trip over the file the key already has.
    ASSERT_EQ(S_OK, SKFCryptAcquireContext(nullptr, L"pin", &prov, nullptr, 8, nullptr));
    {
        CSKFDeviceHandler* d = prov->GetDeviceHandler(device);
        char fileName[] = "SEAL";
        ASSERT_EQ(SAR_OK, prov->SKF_CreateFile(d->GetApplicationHandle(), fileName, 4));
        BYTE old[] = {1, 2, 3, 4};
        ASSERT_EQ(SAR_OK, prov->SKF_WriteFile(d->GetApplicationHandle(), fileName, old, 4));
    }
    const std::string text = "seal data of the test";
    std::vector<BYTE> bytes(text.begin(), text.end());
    SealData seal = {bytes.data(), DWORD(bytes.size())};
    ASSERT_EQ(S_OK, WriteSeadDataToUkey(device.c_str(), prov, seal));
    std::vector<SealData> seals;
    ASSERT_EQ(S_OK, SKFCryptGetDeviceSeals(nullptr, prov, seals));
    ASSERT_EQ(1u, seals.size());
    EXPECT_EQ(text, std::string(reinterpret_cast<char*>(seals[0].pbySealData), seals[0].dwSealDataSize));
    for (SealData& s : seals) delete[] s.pbySealData;

    // Three containers, one without a certificate: two listed.
    std::ifstream in(HostEnvPath("DISCOVERY_CERTS") + "/rsa-2048.der", std::ios::binary);
    const Bytes cert((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(cert.empty());
    for (const wchar_t* name : {L"with sign", L"bare", L"second"})
        ASSERT_EQ(S_OK, SKFCryptAcquireContext(nullptr, name, &prov, nullptr, 8, nullptr));
    PutCertificate(prov, device, L"with sign", TRUE, cert);
    PutCertificate(prov, device, L"second", TRUE, cert);
    DeviceObjInfo info;
    ASSERT_EQ(S_OK, SKFCryptGetDeviceInfo(device.c_str(), prov, info));
    EXPECT_EQ(SignedKeylinq(), info.wstrModulePath);
    EXPECT_EQ(device, info.wstrDeviceName);
    ASSERT_EQ(2u, info.vetContainers.size());
    EXPECT_EQ(L"with sign", info.vetContainers[0].wstrContainerName);
    EXPECT_EQ(L"second", info.vetContainers[1].wstrContainerName);
    EXPECT_EQ(SKF_PIN_STATE_DEFAULT, info.dwPINState);

    // No tries left: locked, whatever else the key says.
    KeySession<KeylinqLibrary> other(Keylinq(), control, keyId);
    ASSERT_EQ(SAR_OK, other.Open());
    for (int i = 0; i < 6; ++i) other.Verify("00000000");
    DeviceObjInfo locked;
    ASSERT_EQ(S_OK, SKFCryptGetDeviceInfo(nullptr, prov, locked));
    EXPECT_EQ(0u, locked.dwRemainRetryCount);
    EXPECT_EQ(SKF_PIN_STATE_LOCKED, locked.dwPINState);
}

// The reader of the test below, run as a process of its own (the test
// program again, for this case only): reads the key named in
// PROVIDER_TEST_READER_DEVICE under the key library's device lock.
TEST(ProviderReader, ReadsTheKeyUnderItsLock) {
    const char* name = std::getenv("PROVIDER_TEST_READER_DEVICE");
    if (!name) GTEST_SKIP() << "run by NoDeviceLockWhileThePinDialogIsOpen";
    std::string device = name;
    DEVHANDLE dev = nullptr;
    ASSERT_EQ(SAR_OK, Keylinq().SKF_ConnectDev(&device[0], &dev));
    ASSERT_EQ(SAR_OK, Keylinq().SKF_LockDev(dev, 0xFFFFFFFF));
    DEVINFO info = {};
    EXPECT_EQ(SAR_OK, Keylinq().SKF_GetDevInfo(dev, &info));
    Keylinq().SKF_UnlockDev(dev);
    Keylinq().SKF_DisConnectDev(dev);
}

// Runs the reader process and says whether it read the key within 15 s.
bool ReaderProcessReads(const std::wstring& device) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    SetEnvironmentVariableA("PROVIDER_TEST_READER_DEVICE", std::string(device.begin(), device.end()).c_str());
    std::wstring command = std::wstring(L"\"") + self + L"\" --gtest_filter=ProviderReader.*";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    const BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableA("PROVIDER_TEST_READER_DEVICE", nullptr);
    if (!started) return false;
    const DWORD wait = WaitForSingleObject(pi.hProcess, 15000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    if (wait != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return wait == WAIT_OBJECT_0 && code == 0;
}

// While the PIN dialog is open, another process reads the key at once:
// the PIN is proved before the device lock is taken.
TEST_F(Provider, NoDeviceLockWhileThePinDialogIsOpen) {
    Acquire();
    ASSERT_EQ(S_OK, SKFCryptAcquireContext(nullptr, L"signer", &prov, nullptr, 8, nullptr));
    ASSERT_EQ(S_OK, SKFCryptGenerateKey(prov, SKF_ALG_CALG_SM2_SIGN, nullptr, nullptr));
    // A new handle: empty PIN cache, so signing asks.
    SKFCryptReleaseContext(prov);
    prov = nullptr;
    ASSERT_EQ(S_OK, SKFCryptAcquireContext(device.c_str(), L"signer", &prov, nullptr, 0, SignedKeylinq().c_str()));
    bool readWhileOpen = false;
    delegator->whileOpen = [&] { readWhileOpen = ReaderProcessReads(device); };
    const int before = pinRequests.load();
    BYTE* sig = nullptr;
    DWORD sigSize = 0;
    const BYTE data[] = {1, 2, 3};
    EXPECT_EQ(S_OK, SKFCryptSignBinaryData(prov, data, sizeof data, SKF_CALG_SM3, &sig, &sigSize));
    delete[] sig;
    delegator->whileOpen = nullptr;
    EXPECT_EQ(before + 1, pinRequests.load());
    EXPECT_TRUE(readWhileOpen);
}

// ---- discovery

struct CertReading {
    Bytes der;
    std::wstring serial;
    long long notBefore = 0, notAfter = 0;
    DWORD bits = 0;
};
CertReading ReadCert(const std::string& name) {
    const std::string dir = HostEnvPath("DISCOVERY_CERTS");
    CertReading c;
    std::ifstream der(dir + "/" + name + ".der", std::ios::binary);
    c.der.assign(std::istreambuf_iterator<char>(der), std::istreambuf_iterator<char>());
    std::ifstream txt(dir + "/" + name + ".txt");
    std::string serial;
    txt >> serial >> c.notBefore >> c.notAfter >> c.bits;
    c.serial = Widen(serial);
    return c;
}
FILETIME FromUnix(long long seconds) {
    const ULONGLONG t = ULONGLONG(seconds) * 10000000ULL + 116444736000000000ULL;
    return FILETIME{DWORD(t), DWORD(t >> 32)};
}
long long ToUnix(FILETIME ft) {
    const ULONGLONG t = (ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return (long long)((t - 116444736000000000ULL) / 10000000ULL);
}

TEST_F(Provider, DiscoveryListsEveryKeyWithItsCertificatesAtTheGivenTime) {
    const CertReading sm2 = ReadCert("sm2-sign"), rsa = ReadCert("rsa-2048");
    ASSERT_FALSE(sm2.der.empty());
    // Only the test's two keys are plugged.
    const uint32_t key2 = AddFreshKey(control);
    const std::wstring device2 = DeviceOf(key2);
    for (uint32_t id = 1; id < keyId; ++id) control.Unplug(id);

    Acquire();
    const struct {
        const wchar_t* container;
        const CertReading* sign;
    } key1[] = {{L"sm2", &sm2}, {L"empty", nullptr}, {L"rsa", &rsa}};
    for (const auto& c : key1) {
        ASSERT_EQ(S_OK, SKFCryptAcquireContext(nullptr, c.container, &prov, nullptr, 8, nullptr));
        if (c.sign) PutCertificate(prov, device, c.container, TRUE, c.sign->der);
    }
    // Key 2: a certificate whose outer frame holds but whose body does not
    // decode, then a good one.
    Bytes corrupt = sm2.der;
    corrupt[4] ^= 0x01;  // the to-be-signed part's SEQUENCE tag
    ASSERT_EQ(S_OK, SKFCryptAcquireContext(device2.c_str(), L"corrupt", &prov, nullptr, 8, nullptr));
    PutCertificate(prov, device2, L"corrupt", TRUE, corrupt);
    ASSERT_EQ(S_OK, SKFCryptAcquireContext(device2.c_str(), L"good", &prov, nullptr, 8, nullptr));
    PutCertificate(prov, device2, L"good", TRUE, sm2.der);
    SKFCryptReleaseContext(prov);
    prov = nullptr;

    // 90 days before the SM2 certificate ends.
    const FILETIME now = FromUnix(sm2.notAfter - 90LL * 86400);
    SKFUserCSPInfoSet set;
    ASSERT_EQ(S_OK, SyncGetPluggedUSBKeyCSPInfoBySKF((L"||" + SignedKeylinq()).c_str(), set, now));
    ASSERT_EQ(1u, set.vetCSPInfo.size());
    const std::vector<SKFUserKeyInfo>& keys = set.vetCSPInfo[0].vetKeyInfo;
    ASSERT_EQ(2u, keys.size());
    const SKFUserKeyInfo& k1 = keys[0].wstrDeviceName == device ? keys[0] : keys[1];
    const SKFUserKeyInfo& k2 = keys[0].wstrDeviceName == device ? keys[1] : keys[0];
    EXPECT_EQ(1u, k1.dwPINNotLocked);
    EXPECT_EQ(0u, k1.dwPINNotDefault);
    EXPECT_FALSE(k1.wstrSerialNumber.empty());
    ASSERT_EQ(2u, k1.vetCertInfo.size());
    const struct {
        const wchar_t* container;
        const CertReading* cert;
        const wchar_t* cn;
        DWORD sign, sm;
    } expected[] = {{L"sm2", &sm2, L"CN=Discovery SM2 Signer", 1, 1},
                    {L"rsa", &rsa, L"CN=Discovery RSA Signer", 1, 0}};
    for (size_t i = 0; i < 2; ++i) {
        const SKFUserCertInfo& got = k1.vetCertInfo[i];
        const auto& want = expected[i];
        EXPECT_EQ(want.container, got.wstrContainerName);
        EXPECT_EQ(want.cert->serial, got.wstrSerialNumber) << i;
        EXPECT_EQ(want.cert->notBefore, ToUnix(got.ftNotBefore)) << i;
        EXPECT_EQ(want.cert->notAfter, ToUnix(got.ftNotAfter)) << i;
        EXPECT_EQ(want.cert->bits, got.dwKeyBits) << i;
        EXPECT_EQ(want.sign, got.dwSignCert) << i;
        EXPECT_EQ(want.sm, got.dwSMCert) << i;
        EXPECT_EQ(1u, got.dwFilled);
        EXPECT_EQ(std::wstring(want.cn), got.wstrSubjectCN) << i;
        EXPECT_EQ(std::wstring(want.cn) + L", SN=" + want.cert->serial, got.wstrDisplayName) << i;
        EXPECT_NE(std::wstring::npos, got.wstrSubject.find(L"O=Certaide Test")) << i;
    }
    EXPECT_EQ(2u, k1.vetCertInfo[0].dwStatus);
    EXPECT_EQ(90u, k1.vetCertInfo[0].dwDaysLeft);
    // The corrupt certificate skips its container only.
    ASSERT_EQ(1u, k2.vetCertInfo.size());
    EXPECT_EQ(L"good", k2.vetCertInfo[0].wstrContainerName);

    // Key 2 failing its information leaves key 1 listed.
    ASSERT_EQ(0u, control.FailCommandAt(key2, 1, 0x6F00));
    SKFUserCSPInfoSet partial;
    ASSERT_EQ(S_OK, SyncGetPluggedUSBKeyCSPInfoBySKF(SignedKeylinq().c_str(), partial, now));
    ASSERT_EQ(1u, partial.vetCSPInfo.size());
    ASSERT_EQ(1u, partial.vetCSPInfo[0].vetKeyInfo.size());
    EXPECT_EQ(device, partial.vetCSPInfo[0].vetKeyInfo[0].wstrDeviceName);
    // Every key failing: the scan failed, it did not find "no key".
    ASSERT_EQ(0u, control.FailCommandAt(keyId, 1, 0x6F00));
    ASSERT_EQ(0u, control.FailCommandAt(key2, 1, 0x6F00));
    SKFUserCSPInfoSet failed;
    EXPECT_LT(SyncGetPluggedUSBKeyCSPInfoBySKF(SignedKeylinq().c_str(), failed, now), 0);
    EXPECT_TRUE(failed.vetCSPInfo.empty());
    control.FailCommandAt(keyId, 0, 0);
    control.FailCommandAt(key2, 0, 0);

    // An untrusted library is a failure, not an empty success.
    SKFUserCSPInfoSet refused;
    EXPECT_EQ(kOutOfMemory, SyncGetPluggedUSBKeyCSPInfoBySKF(CopyOf(L"Keylinq-unsigned.dll").c_str(), refused, now));
    EXPECT_TRUE(refused.vetCSPInfo.empty());

    // No key plugged: 0 and nothing.
    control.Unplug(keyId);
    control.Unplug(key2);
    SKFUserCSPInfoSet none;
    EXPECT_EQ(S_OK, SyncGetPluggedUSBKeyCSPInfoBySKF(SignedKeylinq().c_str(), none, now));
    EXPECT_TRUE(none.vetCSPInfo.empty());
    control.Plug(keyId);
    control.Plug(key2);

    wchar_t* path = reinterpret_cast<wchar_t*>(1);
    EXPECT_EQ(HRESULT(0x80070490), GetSKFDLLPath(&path));
    EXPECT_EQ(reinterpret_cast<wchar_t*>(1), path);
}

std::string Base64Of(const Bytes& der) {
    char* text = nullptr;
    int length = 0;
    EXPECT_EQ(S_OK, Base64EncodeEx(der.data(), int(der.size()), &text, &length, ATL_BASE64_FLAG_NOCRLF));
    std::string out(text ? text : "", size_t(length));
    delete[] text;
    return out;
}

// Which certificate of a container makes its record.
TEST(DiscoveryRecord, SignatureCertificateFirstEncryptionOnlyWhenItCanSign) {
    const CertReading sm2 = ReadCert("sm2-sign"), encDs = ReadCert("enc-ds"), encNoDs = ReadCert("enc-nods");
    ASSERT_FALSE(encDs.der.empty());
    const FILETIME now = FromUnix(encDs.notAfter + 1);
    ContainerObjInfo both;
    both.wstrContainerName = L"both";
    both.strSignCert = Base64Of(sm2.der);
    both.strEncCert = Base64Of(encNoDs.der);
    SKFUserCertInfo info;
    ASSERT_EQ(S_OK, SKFUserCertInfoFromContainer(both, now, info));
    EXPECT_EQ(1u, info.dwSignCert);
    EXPECT_EQ(sm2.serial, info.wstrSerialNumber);
    EXPECT_EQ(L"both", info.wstrContainerName);

    ContainerObjInfo enc;
    enc.wstrContainerName = L"enc";
    enc.strEncCert = Base64Of(encDs.der);
    ASSERT_EQ(S_OK, SKFUserCertInfoFromContainer(enc, now, info));
    EXPECT_EQ(0u, info.dwSignCert);
    EXPECT_EQ(encDs.serial, info.wstrSerialNumber);
    EXPECT_EQ(L"CN=Discovery Encipherment DS, SN=3003", info.wstrDisplayName);
    EXPECT_EQ(2048u, info.dwKeyBits);
    EXPECT_EQ(0u, info.dwSMCert);
    EXPECT_EQ(3u, info.dwStatus);  // expired a second ago
    EXPECT_EQ(0u, info.dwDaysLeft);

    enc.strEncCert = Base64Of(encNoDs.der);
    EXPECT_EQ(S_FALSE, SKFUserCertInfoFromContainer(enc, now, info));
    enc.strEncCert.clear();
    EXPECT_EQ(S_FALSE, SKFUserCertInfoFromContainer(enc, now, info));
    enc.strSignCert = Base64Of(Bytes(sm2.der.begin(), sm2.der.begin() + 40));
    EXPECT_LT(SKFUserCertInfoFromContainer(enc, now, info), 0);
}

}  // namespace
