// The key library binding against this tree's Keylinq.dll (test binding)
// and the virtual key: what gets bound, what an unloaded or foreign module
// leaves, a second load, one run through the wrappers, and the fixed
// arguments as Keylinq receives them.
#include <gtest/gtest.h>

#include <windows.h>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "HostPaths.h"
#include "OpenSslSm2.h"
#include "SKFCryptProvider.h"
#include "SKFTestSupport.h"
#include "TraceHelper.h"

namespace {

std::wstring KeylinqPath() { return Widen(HostEnvPath("KEYLINQ_DLL")); }

std::wstring BaseName(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// ---- a recording pass-through in front of an entry

FARPROC g_forwardTo[SKF_ENTRY_COUNT];
std::vector<std::vector<uintptr_t>> g_recorded[SKF_ENTRY_COUNT];

template <class T>
uintptr_t Word(T value) {
    if constexpr (std::is_pointer<T>::value)
        return reinterpret_cast<uintptr_t>(value);
    else
        return static_cast<uintptr_t>(value);
}

// Records the arguments of entry I, then calls what the entry held.
template <int I, class... A>
ULONG __stdcall PassThrough(A... args) {
    g_recorded[I].push_back({Word(args)...});
    return reinterpret_cast<ULONG(__stdcall*)(A...)>(reinterpret_cast<void*>(g_forwardTo[I]))(args...);
}

template <int I, class... A>
FARPROC PassThroughFor(ULONG(__stdcall*)(A...)) {
    ULONG(__stdcall * pass)(A...) = &PassThrough<I, A...>;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(pass));
}

// The binding with its table in view.
class ModuleCallerView : public ISKFModuleCaller {
public:
    FARPROC Entry(int index) const { return m_pfnEntries[index]; }
    static const char* Name(int index) { return EntryName(index); }
    int BoundCount() const {
        int n = 0;
        for (FARPROC entry : m_pfnEntries) n += entry ? 1 : 0;
        return n;
    }
    void Unbind(int index) { m_pfnEntries[index] = nullptr; }
    template <int I, class Pfn>
    void Intercept() {
        ASSERT_NE(nullptr, m_pfnEntries[I]) << EntryName(I);
        g_forwardTo[I] = m_pfnEntries[I];
        g_recorded[I].clear();
        m_pfnEntries[I] = PassThroughFor<I>(Pfn(nullptr));
    }
};
#define INTERCEPT(view, name) (view).Intercept<SKFEntry_##name, PFN_##name>()

// Every wrapper called with null arguments: all must answer 487 when their
// entries are empty (a call into anything would fail or crash otherwise).
std::vector<ULONG> CallEveryWrapper(ISKFModuleCaller& c) {
    return {
        c.SKF_EnumDev(nullptr, nullptr),
        c.SKF_ConnectDev(nullptr, nullptr),
        c.SKF_DisConnectDev(nullptr),
        c.SKF_GetDevInfo(nullptr, nullptr),
        c.SKF_LockDev(nullptr),
        c.SKF_UnlockDev(nullptr),
        c.SKF_GetPINInfo(nullptr, nullptr, nullptr, nullptr),
        c.SKF_VerifyPIN(nullptr, nullptr, nullptr),
        c.SKF_ClearSecureState(nullptr),
        c.SKF_EnumApplication(nullptr, nullptr, nullptr),
        c.SKF_OpenApplication(nullptr, nullptr, nullptr),
        c.SKF_CloseApplication(nullptr),
        c.SKF_CreateFile(nullptr, nullptr, 0),
        c.SKF_DeleteFile(nullptr, nullptr),
        c.SKF_EnumFiles(nullptr, nullptr, nullptr),
        c.SKF_GetFileInfo(nullptr, nullptr, nullptr),
        c.SKF_ReadFile(nullptr, nullptr, 0, nullptr, nullptr),
        c.SKF_WriteFile(nullptr, nullptr, nullptr, 0),
        c.SKF_CreateContainer(nullptr, nullptr, nullptr),
        c.SKF_DeleteContainer(nullptr, nullptr),
        c.SKF_EnumContainer(nullptr, nullptr, nullptr),
        c.SKF_OpenContainer(nullptr, nullptr, nullptr),
        c.SKF_CloseContainer(nullptr),
        c.SKF_ImportCertificate(nullptr, TRUE, nullptr, 0),
        c.SKF_ExportCertificate(nullptr, TRUE, nullptr, nullptr),
        c.SKF_GenRSAKeyPair(nullptr, 1024, nullptr),
        c.SKF_ImportRSAKeyPair(nullptr, nullptr, 0, nullptr, 0),
        c.SKF_RSASignData(nullptr, nullptr, 0, nullptr, nullptr),
        c.SKF_GenECCKeyPair(nullptr, nullptr),
        c.SKF_ImportECCKeyPair(nullptr, nullptr),
        c.SKF_ECCSignData(nullptr, nullptr, 0, nullptr),
        c.SKF_ExportPublicKey(nullptr, TRUE, nullptr, nullptr),
        c.SKF_DigestInit(nullptr, 1, nullptr, nullptr, 0, nullptr),
        c.SKF_DigestUpdate(nullptr, nullptr, 0),
        c.SKF_DigestFinal(nullptr, nullptr, nullptr),
        c.SKF_CloseHandle(nullptr),
    };
}

void ExpectUnbound(ModuleCallerView& caller, const char* what) {
    EXPECT_EQ(0, caller.BoundCount()) << what;
    const std::vector<ULONG> results = CallEveryWrapper(caller);
    EXPECT_EQ(36u, results.size());
    for (size_t i = 0; i < results.size(); ++i) EXPECT_EQ(487u, results[i]) << what << ", wrapper " << i;
}

// A size-then-data call three ways: a null buffer gives the size, a buffer
// one byte short SAR_BUFFER_TOO_SMALL (and the size), the exact size the
// data, with nothing written past it. An empty answer (size 0) is taken
// only where the caller allows it.
std::vector<BYTE> SizeThenData(const char* what, const std::function<ULONG(BYTE*, ULONG*)>& call,
                               bool mayBeEmpty = false) {
    ULONG size = 0;
    EXPECT_EQ(SAR_OK, call(nullptr, &size)) << what;
    if (!mayBeEmpty) {
        EXPECT_LT(0u, size) << what;
    }
    if (size == 0 || size > 0x100000) return {};
    std::vector<BYTE> data(size + 1, 0xEE);
    ULONG shortSize = size - 1;
    EXPECT_EQ(SAR_BUFFER_TOO_SMALL, call(data.data(), &shortSize)) << what;
    EXPECT_EQ(size, shortSize) << what;
    ULONG fullSize = size;
    EXPECT_EQ(SAR_OK, call(data.data(), &fullSize)) << what;
    EXPECT_EQ(size, fullSize) << what;
    EXPECT_EQ(0xEE, data[size]) << what;
    data.resize(size);
    return data;
}

std::vector<std::string> NameList(const std::vector<BYTE>& list) {
    return SplitNameList(reinterpret_cast<const char*>(list.data()), ULONG(list.size()));
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& n : names)
        if (n == name) return true;
    return false;
}

class ModuleCaller : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(KeylinqPath().empty()) << "KEYLINQ_DLL is not set"; }
};

TEST_F(ModuleCaller, KeylinqBindsAllButInitDev) {
    ModuleCallerView caller;
    EXPECT_FALSE(caller.IsOrvaneSKFForRMQT());
    EXPECT_TRUE(caller.GetModulePath().empty());
    EXPECT_EQ(0, caller.BoundCount());

    caller.LoadSKFModule(KeylinqPath().c_str());
    EXPECT_EQ(KeylinqPath(), caller.GetModulePath());
    EXPECT_EQ(71, caller.BoundCount());
    EXPECT_EQ(nullptr, caller.Entry(SKFEntry_SKF_InitDev));
    EXPECT_STREQ("SKF_InitDev", ModuleCallerView::Name(10));
    // Each entry is Keylinq's export of that name.
    HMODULE keylinq = GetModuleHandleW(BaseName(KeylinqPath()).c_str());
    ASSERT_NE(nullptr, keylinq);
    for (int i = 0; i < SKF_ENTRY_COUNT; ++i) {
        if (i == SKFEntry_SKF_InitDev) continue;
        EXPECT_EQ(GetProcAddress(keylinq, ModuleCallerView::Name(i)), caller.Entry(i)) << ModuleCallerView::Name(i);
    }
    EXPECT_STREQ("SKF_WaitForDevEvent", ModuleCallerView::Name(0));
    EXPECT_STREQ("SKF_CloseHandle", ModuleCallerView::Name(71));
    EXPECT_EQ(nullptr, ModuleCallerView::Name(72));

    caller.ReleaseSKFModule();
    EXPECT_TRUE(caller.GetModulePath().empty());
    EXPECT_EQ(nullptr, GetModuleHandleW(BaseName(KeylinqPath()).c_str()));
    ExpectUnbound(caller, "released");
}

TEST_F(ModuleCaller, AnEmptyEntryFailsOnlyItsOwnWrapper) {
    ModuleCallerView caller;
    caller.LoadSKFModule(KeylinqPath().c_str());
    caller.Unbind(SKFEntry_SKF_EnumDev);
    ULONG size = 1234;
    EXPECT_EQ(487u, caller.SKF_EnumDev(nullptr, &size));
    EXPECT_EQ(1234u, size);  // nothing was called
    // The others still reach Keylinq, whose argument checks answer.
    EXPECT_EQ(SAR_INVALIDPARAMERR, caller.SKF_ConnectDev(nullptr, nullptr));
    EXPECT_EQ(SAR_INVALIDHANDLEERR, caller.SKF_CloseApplication(nullptr));
}

TEST_F(ModuleCaller, AMissingPathOrAForeignLibraryLeavesEveryEntryEmpty) {
    ModuleCallerView caller;
    caller.LoadSKFModule(L"Z:\\no\\such\\folder\\Keylinq.dll");
    EXPECT_TRUE(caller.GetModulePath().empty());
    ExpectUnbound(caller, "missing path");

    caller.LoadSKFModule(nullptr);
    EXPECT_TRUE(caller.GetModulePath().empty());
    ExpectUnbound(caller, "null path");

    // A system library without SKF names loads, and binds nothing.
    wchar_t system[MAX_PATH];
    ASSERT_LT(0u, GetSystemDirectoryW(system, MAX_PATH));
    const std::wstring version = std::wstring(system) + L"\\version.dll";
    caller.LoadSKFModule(version.c_str());
    EXPECT_EQ(version, caller.GetModulePath());
    ExpectUnbound(caller, "version.dll");

    // A failed load after a good one frees the good one and ends unloaded.
    caller.LoadSKFModule(KeylinqPath().c_str());
    EXPECT_EQ(71, caller.BoundCount());
    caller.LoadSKFModule(L"Z:\\no\\such\\folder\\Keylinq.dll");
    EXPECT_TRUE(caller.GetModulePath().empty());
    EXPECT_EQ(nullptr, GetModuleHandleW(BaseName(KeylinqPath()).c_str()));
    ExpectUnbound(caller, "failed second load");
}

TEST_F(ModuleCaller, ASecondLoadFreesTheFirstModule) {
    wchar_t temp[MAX_PATH];
    ASSERT_LT(0u, GetTempPathW(MAX_PATH, temp));
    const std::wstring copy = std::wstring(temp) + L"KeylinqSecondCopy.dll";
    ASSERT_TRUE(CopyFileW(KeylinqPath().c_str(), copy.c_str(), FALSE)) << GetLastError();
    {
        ModuleCallerView caller;
        caller.LoadSKFModule(KeylinqPath().c_str());
        ASSERT_NE(nullptr, GetModuleHandleW(BaseName(KeylinqPath()).c_str()));

        caller.LoadSKFModule(copy.c_str());
        EXPECT_EQ(nullptr, GetModuleHandleW(BaseName(KeylinqPath()).c_str()));
        HMODULE second = GetModuleHandleW(L"KeylinqSecondCopy.dll");
        ASSERT_NE(nullptr, second);
        EXPECT_EQ(copy, caller.GetModulePath());
        EXPECT_EQ(71, caller.BoundCount());
        EXPECT_EQ(GetProcAddress(second, "SKF_EnumDev"), caller.Entry(SKFEntry_SKF_EnumDev));
        ULONG size = 0;
        EXPECT_EQ(SAR_OK, caller.SKF_EnumDev(nullptr, &size));  // the copy answers
    }
    // The destructor released it.
    EXPECT_EQ(nullptr, GetModuleHandleW(L"KeylinqSecondCopy.dll"));
    EXPECT_TRUE(DeleteFileW(copy.c_str())) << GetLastError();
}

// ---- what loading traces under the step flag

struct TraceRecord {
    TraceMessageKind kind;
    std::wstring text, text2;
    ULONG code;
};
std::vector<TraceRecord> g_trace;
void RecordTrace(ULONG64, const TraceMessageArgs& m) {
    g_trace.push_back({m.kind, m.text ? m.text : L"", m.text2 ? m.text2 : L"", m.code});
}

std::vector<TraceRecord> TraceLoad(ISKFModuleCaller& caller, const wchar_t* path) {
    g_trace.clear();
    SetTraceWriter(RecordTrace);
    SetTraceControlState(true, 1, 0x04);
    caller.LoadSKFModule(path);
    SetTraceControlState(false, 0, 0);
    SetTraceWriter(nullptr);
    return g_trace;
}

TEST_F(ModuleCaller, LoadingTracesPathHandleErrorAndEveryAddress) {
    ModuleCallerView caller;
    std::vector<TraceRecord> lines = TraceLoad(caller, KeylinqPath().c_str());
    ASSERT_EQ(3u + SKF_ENTRY_COUNT, lines.size());
    EXPECT_EQ(TraceMessageKind::ValueString, lines[0].kind);
    EXPECT_EQ(KeylinqPath(), lines[0].text2);
    HMODULE keylinq = GetModuleHandleW(BaseName(KeylinqPath()).c_str());
    EXPECT_EQ(TraceMessageKind::ValueNumber, lines[1].kind);
    EXPECT_EQ(ULONG(reinterpret_cast<uintptr_t>(keylinq)), lines[1].code);
    EXPECT_EQ(TraceMessageKind::ValueNumber, lines[2].kind);
    for (int i = 0; i < SKF_ENTRY_COUNT; ++i) {
        const TraceRecord& line = lines[3 + i];
        EXPECT_EQ(TraceMessageKind::ValueNumber, line.kind);
        EXPECT_EQ(Widen(ModuleCallerView::Name(i)), line.text);
        EXPECT_EQ(ULONG(reinterpret_cast<uintptr_t>(caller.Entry(i))), line.code) << ModuleCallerView::Name(i);
    }

    // A failed load: no handle, the loader's error, no addresses.
    lines = TraceLoad(caller, L"Z:\\no\\such\\folder\\Keylinq.dll");
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(0u, lines[1].code);
    EXPECT_NE(0u, lines[2].code);
}

// One key of the virtual key through the wrappers: connected, its
// application opened and the user PIN verified.
class WrapperRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(control.connected());
        caller.LoadSKFModule(KeylinqPath().c_str());
        ASSERT_EQ(71, caller.BoundCount());
        keyId = AddFreshKey(control);
    }
    void TearDown() override {
        if (container) {
            EXPECT_EQ(SAR_OK, caller.SKF_CloseContainer(container));
        }
        if (!containerName.empty()) {
            EXPECT_EQ(SAR_OK, caller.SKF_DeleteContainer(app, &containerName[0]));
        }
        if (app) {
            EXPECT_EQ(SAR_OK, caller.SKF_CloseApplication(app));
        }
        if (dev) {
            EXPECT_EQ(SAR_OK, caller.SKF_DisConnectDev(dev));
        }
    }

    // The fresh key's name as SKF_EnumDev lists it.
    std::string DeviceName() {
        VirtualKeyState state;
        EXPECT_EQ(0u, control.State(keyId, state));
        const std::vector<BYTE> list = SizeThenData(
            "SKF_EnumDev", [&](BYTE* p, ULONG* n) { return caller.SKF_EnumDev(reinterpret_cast<LPSTR>(p), n); });
        for (const std::string& name : NameList(list))
            if (SameText(name, state.devicePath)) return name;
        ADD_FAILURE() << "the fresh key is not listed";
        return std::string();
    }
    void OpenAndLogIn() {
        std::string name = DeviceName();
        ASSERT_FALSE(name.empty());
        ASSERT_EQ(SAR_OK, caller.SKF_ConnectDev(&name[0], &dev));
        char zelk[] = "ZELK";
        ASSERT_EQ(SAR_OK, caller.SKF_OpenApplication(dev, zelk, &app));
        char pin[] = DEFAULT_USER_PIN;
        ULONG retry = 0xFFFF;
        ASSERT_EQ(SAR_OK, caller.SKF_VerifyPIN(app, pin, &retry));
    }
    std::vector<std::string> Containers() {
        return NameList(SizeThenData(
            "SKF_EnumContainer",
            [&](BYTE* p, ULONG* n) { return caller.SKF_EnumContainer(app, reinterpret_cast<LPSTR>(p), n); },
            true));
    }

    ModuleCallerView caller;
    VirtualKeyControl control;
    uint32_t keyId = 0;
    DEVHANDLE dev = nullptr;
    HAPPLICATION app = nullptr;
    HCONTAINER container = nullptr;  // closed, and its container deleted, at the end
    std::string containerName;
};

TEST_F(WrapperRun, DeviceApplicationPinAndFile) {
    std::string name = DeviceName();
    ASSERT_FALSE(name.empty());
    ASSERT_EQ(SAR_OK, caller.SKF_ConnectDev(&name[0], &dev));

    DEVINFO info;
    memset(&info, 0xCC, sizeof info);
    ASSERT_EQ(SAR_OK, caller.SKF_GetDevInfo(dev, &info));
    EXPECT_LT(0u, strnlen(info.Manufacturer, sizeof info.Manufacturer));
    EXPECT_LT(0u, strnlen(info.SerialNumber, sizeof info.SerialNumber));
    EXPECT_EQ(SAR_OK, caller.SKF_LockDev(dev));
    EXPECT_EQ(SAR_OK, caller.SKF_UnlockDev(dev));

    const std::vector<BYTE> apps = SizeThenData("SKF_EnumApplication", [&](BYTE* p, ULONG* n) {
        return caller.SKF_EnumApplication(dev, reinterpret_cast<LPSTR>(p), n);
    });
    ASSERT_EQ(6u, apps.size());
    EXPECT_EQ(0, memcmp(apps.data(), "ZELK\0\0", 6));
    std::string appName = NameList(apps).at(0);
    ASSERT_EQ(SAR_OK, caller.SKF_OpenApplication(dev, &appName[0], &app));

    ULONG maxTries = 0, remaining = 0;
    BOOL isDefault = FALSE;
    ASSERT_EQ(SAR_OK, caller.SKF_GetPINInfo(app, &maxTries, &remaining, &isDefault));
    EXPECT_EQ(6u, maxTries);  // the user PIN's
    EXPECT_EQ(6u, remaining);
    EXPECT_TRUE(isDefault);

    // The key's record shows the user PIN's exchange (type in P2 of one of
    // its two steps).
    ASSERT_EQ(0u, control.ClearRecord(keyId));
    char pin[] = DEFAULT_USER_PIN;
    ULONG retry = 0xFFFF;
    ASSERT_EQ(SAR_OK, caller.SKF_VerifyPIN(app, pin, &retry));
    std::vector<vk::RecordEntry> record;
    ASSERT_EQ(0u, control.Record(keyId, record));
    int pinType = -1, steps = 0;
    for (const vk::RecordEntry& e : record) {
        if (e.ins != INS_VERIFY_PIN) continue;
        ++steps;
        pinType = (pinType < 0 ? 0 : pinType) | e.p2;
    }
    EXPECT_EQ(2, steps);
    EXPECT_EQ(1, pinType);

    // A file anyone may read and write, written whole and read back.
    char file[] = "wrapped.bin";
    std::vector<BYTE> content(300);
    for (size_t i = 0; i < content.size(); ++i) content[i] = BYTE(i * 13 + 7);
    ASSERT_EQ(SAR_OK, caller.SKF_CreateFile(app, file, ULONG(content.size())));
    FILEATTRIBUTE attr;
    memset(&attr, 0, sizeof attr);
    ASSERT_EQ(SAR_OK, caller.SKF_GetFileInfo(app, file, &attr));
    EXPECT_STREQ(file, attr.FileName);
    EXPECT_EQ(content.size(), attr.FileSize);
    EXPECT_EQ(0xFFu, attr.ReadRights);
    EXPECT_EQ(0xFFu, attr.WriteRights);
    EXPECT_TRUE(Contains(NameList(SizeThenData("SKF_EnumFiles", [&](BYTE* p, ULONG* n) {
                             return caller.SKF_EnumFiles(app, reinterpret_cast<LPSTR>(p), n);
                         })),
                         file));
    ASSERT_EQ(SAR_OK, caller.SKF_WriteFile(app, file, content.data(), ULONG(content.size())));
    const std::vector<BYTE> back = SizeThenData(
        "SKF_ReadFile", [&](BYTE* p, ULONG* n) { return caller.SKF_ReadFile(app, file, attr.FileSize, p, n); });
    EXPECT_EQ(content, back);
    ASSERT_EQ(SAR_OK, caller.SKF_DeleteFile(app, file));
    ULONG size = 0;
    EXPECT_NE(SAR_OK, caller.SKF_ReadFile(app, file, attr.FileSize, nullptr, &size));

    EXPECT_EQ(SAR_OK, caller.SKF_ClearSecureState(app));
}

TEST_F(WrapperRun, ContainerWithAnSM2KeyPair) {
    OpenAndLogIn();
    char name[] = "wrapper-run";
    HCONTAINER& h = container;
    ASSERT_EQ(SAR_OK, caller.SKF_CreateContainer(app, name, &h));
    containerName = name;
    EXPECT_TRUE(Contains(Containers(), name));
    ASSERT_EQ(SAR_OK, caller.SKF_CloseContainer(h));
    h = nullptr;
    ASSERT_EQ(SAR_OK, caller.SKF_OpenContainer(app, name, &h));

    ECCPUBLICKEYBLOB generated;
    memset(&generated, 0, sizeof generated);
    const ULONG rc = caller.SKF_GenECCKeyPair(h, &generated);
    ASSERT_EQ(SAR_OK, rc) << std::hex << rc;
    EXPECT_EQ(256u, generated.BitLen);
    const Bytes xy = [&] {
        Bytes b(generated.XCoordinate + 32, generated.XCoordinate + 64);
        b.insert(b.end(), generated.YCoordinate + 32, generated.YCoordinate + 64);
        return b;
    }();
    EXPECT_EQ(Bytes(32, 0), Bytes(generated.XCoordinate, generated.XCoordinate + 32));
    // A point of OpenSSL's SM2 curve.
    Pkey key = MakeSm2Key({}, xy);
    ASSERT_TRUE(key) << "not a point of the SM2 curve";

    // The container's signature public key is the generated one.
    const std::vector<BYTE> exported = SizeThenData("SKF_ExportPublicKey", [&](BYTE* p, ULONG* n) {
        return caller.SKF_ExportPublicKey(h, TRUE, p, n);
    });
    ASSERT_EQ(sizeof generated, exported.size());
    EXPECT_EQ(0, memcmp(exported.data(), &generated, sizeof generated));

    // The key signs a digest with it: OpenSSL verifies the signature.
    BYTE digest[32];
    for (int i = 0; i < 32; ++i) digest[i] = BYTE(0xA5 ^ (i * 11));
    ECCSIGNATUREBLOB signature;
    memset(&signature, 0, sizeof signature);
    ASSERT_EQ(SAR_OK, caller.SKF_ECCSignData(h, digest, sizeof digest, &signature));
    Bytes raw(signature.r + 32, signature.r + 64);
    raw.insert(raw.end(), signature.s + 32, signature.s + 64);
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(raw.data(), 32, nullptr), BN_bin2bn(raw.data() + 32, 32, nullptr));
    unsigned char* der = nullptr;
    const int derLen = i2d_ECDSA_SIG(sig, &der);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key.get(), nullptr);
    ASSERT_EQ(1, EVP_PKEY_verify_init(ctx));
    EXPECT_EQ(1, EVP_PKEY_verify(ctx, der, size_t(derLen), digest, sizeof digest));
    EVP_PKEY_CTX_free(ctx);
    OPENSSL_free(der);
    ECDSA_SIG_free(sig);

    EXPECT_EQ(SAR_OK, caller.SKF_CloseContainer(h));
    h = nullptr;
    EXPECT_EQ(SAR_OK, caller.SKF_DeleteContainer(app, name));
    containerName.clear();
    EXPECT_FALSE(Contains(Containers(), name));
}

TEST_F(WrapperRun, ContainerListsAndClosedHandlesComeBackUnfolded) {
    OpenAndLogIn();
    char container[] = "closed-handles";
    HCONTAINER h = nullptr;
    ASSERT_EQ(SAR_OK, caller.SKF_CreateContainer(app, container, &h));
    EXPECT_EQ(std::vector<std::string>{container}, Containers());
    // No key pair yet: the export fails and leaves the size as set.
    ULONG size = 77;
    EXPECT_NE(SAR_OK, caller.SKF_ExportPublicKey(h, TRUE, nullptr, &size));
    EXPECT_EQ(77u, size);
    ASSERT_EQ(SAR_OK, caller.SKF_CloseContainer(h));
    EXPECT_EQ(0x0A000005u, caller.SKF_CloseContainer(h));
    ASSERT_EQ(SAR_OK, caller.SKF_DeleteContainer(app, container));

    ASSERT_EQ(SAR_OK, caller.SKF_CloseApplication(app));
    EXPECT_EQ(0x0A000005u, caller.SKF_CloseApplication(app));
    ULONG retry = 0;
    char pin[] = DEFAULT_USER_PIN;
    EXPECT_EQ(0x0A000005u, caller.SKF_VerifyPIN(app, pin, &retry));
    app = nullptr;
    ASSERT_EQ(SAR_OK, caller.SKF_DisConnectDev(dev));
    EXPECT_EQ(0x0A000005u, caller.SKF_DisConnectDev(dev));
    DEVINFO info;
    EXPECT_EQ(0x0A000005u, caller.SKF_GetDevInfo(dev, &info));
    dev = nullptr;
}

// Recording pass-throughs in front of the entries whose wrappers fix
// arguments: Keylinq receives each fixed value, and the caller's arguments
// unchanged around it.
TEST_F(WrapperRun, FixedArgumentsReachKeylinq) {
    INTERCEPT(caller, SKF_EnumDev);
    INTERCEPT(caller, SKF_LockDev);
    INTERCEPT(caller, SKF_GetPINInfo);
    INTERCEPT(caller, SKF_VerifyPIN);
    INTERCEPT(caller, SKF_CreateFile);
    INTERCEPT(caller, SKF_ReadFile);
    INTERCEPT(caller, SKF_WriteFile);
    INTERCEPT(caller, SKF_GenECCKeyPair);
    INTERCEPT(caller, SKF_ImportRSAKeyPair);

    OpenAndLogIn();
    ASSERT_EQ(3u, g_recorded[SKFEntry_SKF_EnumDev].size());  // size, short buffer, data
    for (const std::vector<uintptr_t>& call : g_recorded[SKFEntry_SKF_EnumDev]) EXPECT_EQ(1u, call[0]);
    ASSERT_EQ(1u, g_recorded[SKFEntry_SKF_VerifyPIN].size());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(app), g_recorded[SKFEntry_SKF_VerifyPIN][0][0]);
    EXPECT_EQ(1u, g_recorded[SKFEntry_SKF_VerifyPIN][0][1]);

    EXPECT_EQ(SAR_OK, caller.SKF_LockDev(dev));
    EXPECT_EQ(SAR_OK, caller.SKF_UnlockDev(dev));
    ASSERT_EQ(1u, g_recorded[SKFEntry_SKF_LockDev].size());
    EXPECT_EQ((std::vector<uintptr_t>{reinterpret_cast<uintptr_t>(dev), 0xFFFFFFFFu}),
              g_recorded[SKFEntry_SKF_LockDev][0]);

    ULONG maxTries = 0, remaining = 0;
    BOOL isDefault = FALSE;
    EXPECT_EQ(SAR_OK, caller.SKF_GetPINInfo(app, &maxTries, &remaining, &isDefault));
    EXPECT_EQ(6u, maxTries);  // the user PIN's; the administrator's has 10
    ASSERT_EQ(1u, g_recorded[SKFEntry_SKF_GetPINInfo].size());
    EXPECT_EQ((std::vector<uintptr_t>{reinterpret_cast<uintptr_t>(app), 1u, reinterpret_cast<uintptr_t>(&maxTries),
                                      reinterpret_cast<uintptr_t>(&remaining),
                                      reinterpret_cast<uintptr_t>(&isDefault)}),
              g_recorded[SKFEntry_SKF_GetPINInfo][0]);

    char file[] = "fixed.bin";
    BYTE data[40];
    for (size_t i = 0; i < sizeof data; ++i) data[i] = BYTE(i);
    ASSERT_EQ(SAR_OK, caller.SKF_CreateFile(app, file, sizeof data));
    ASSERT_EQ(SAR_OK, caller.SKF_WriteFile(app, file, data, sizeof data));
    BYTE back[sizeof data] = {};
    ULONG backLen = sizeof back;
    ASSERT_EQ(SAR_OK, caller.SKF_ReadFile(app, file, sizeof back, back, &backLen));
    EXPECT_EQ(0, memcmp(data, back, sizeof data));
    ASSERT_EQ(1u, g_recorded[SKFEntry_SKF_CreateFile].size());
    EXPECT_EQ((std::vector<uintptr_t>{reinterpret_cast<uintptr_t>(app), reinterpret_cast<uintptr_t>(file),
                                      sizeof data, 0xFFu, 0xFFu}),
              g_recorded[SKFEntry_SKF_CreateFile][0]);
    ASSERT_EQ(1u, g_recorded[SKFEntry_SKF_WriteFile].size());
    EXPECT_EQ((std::vector<uintptr_t>{reinterpret_cast<uintptr_t>(app), reinterpret_cast<uintptr_t>(file), 0u,
                                      reinterpret_cast<uintptr_t>(data), sizeof data}),
              g_recorded[SKFEntry_SKF_WriteFile][0]);
    ASSERT_EQ(1u, g_recorded[SKFEntry_SKF_ReadFile].size());
    EXPECT_EQ((std::vector<uintptr_t>{reinterpret_cast<uintptr_t>(app), reinterpret_cast<uintptr_t>(file), 0u,
                                      sizeof back, reinterpret_cast<uintptr_t>(back),
                                      reinterpret_cast<uintptr_t>(&backLen)}),
              g_recorded[SKFEntry_SKF_ReadFile][0]);
    EXPECT_EQ(SAR_OK, caller.SKF_DeleteFile(app, file));

    // The key-pair calls reach Keylinq with their algorithms: Keylinq
    // refuses any other SM2 algorithm with SAR_INVALIDPARAMERR before its
    // handle check, so a foreign handle shows what it was given.
    HCONTAINER foreign = reinterpret_cast<HCONTAINER>(0x5A5A0000);
    ECCPUBLICKEYBLOB blob;
    EXPECT_EQ(SAR_INVALIDHANDLEERR, caller.SKF_GenECCKeyPair(foreign, &blob));
    ASSERT_EQ(1u, g_recorded[SKFEntry_SKF_GenECCKeyPair].size());
    EXPECT_EQ((std::vector<uintptr_t>{0x5A5A0000u, 0x00020100u, reinterpret_cast<uintptr_t>(&blob)}),
              g_recorded[SKFEntry_SKF_GenECCKeyPair][0]);
    BYTE wrapped[16] = {}, encrypted[16] = {};
    EXPECT_EQ(SAR_INVALIDHANDLEERR, caller.SKF_ImportRSAKeyPair(foreign, wrapped, 16, encrypted, 8));
    ASSERT_EQ(1u, g_recorded[SKFEntry_SKF_ImportRSAKeyPair].size());
    EXPECT_EQ((std::vector<uintptr_t>{0x5A5A0000u, 1u, reinterpret_cast<uintptr_t>(wrapped), 16u,
                                      reinterpret_cast<uintptr_t>(encrypted), 8u}),
              g_recorded[SKFEntry_SKF_ImportRSAKeyPair][0]);
}

}  // namespace
