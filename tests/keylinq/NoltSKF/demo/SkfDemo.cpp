// A small SKF application: loads Keylinq.dll by name, as any SKF
// application does, lists the keys, connects to each, prints its device
// information, then signs on the key: opens the application, verifies the
// user PIN, creates a container, generates an SM2 key pair, signs the SM3
// digest of a message over the signer's Z value, verifies the signature
// with the exported public key, deletes the container and disconnects.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "SKFApi.h"

namespace {

struct Skf {
    PFN_SKF_EnumDev EnumDev;
    PFN_SKF_ConnectDev ConnectDev;
    PFN_SKF_GetDevInfo GetDevInfo;
    PFN_SKF_DisConnectDev DisConnectDev;
    PFN_SKF_OpenApplication OpenApplication;
    PFN_SKF_CloseApplication CloseApplication;
    PFN_SKF_VerifyPIN VerifyPIN;
    PFN_SKF_CreateContainer CreateContainer;
    PFN_SKF_CloseContainer CloseContainer;
    PFN_SKF_DeleteContainer DeleteContainer;
    PFN_SKF_GenECCKeyPair GenECCKeyPair;
    PFN_SKF_ExportPublicKey ExportPublicKey;
    PFN_SKF_DigestInit DigestInit;
    PFN_SKF_Digest Digest;
    PFN_SKF_CloseHandle CloseHandle;
    PFN_SKF_ECCSignData ECCSignData;
    PFN_SKF_ECCVerify ECCVerify;
};

constexpr ULONG kSgdSm2_1 = 0x00020200;
constexpr ULONG kSgdSm3 = 0x00000001;
constexpr ULONG kUserPinType = 1;
const char kDefaultUserPin[] = "12345678";
const char kSignerId[] = "1234567812345678";
const char kMessage[] = "Keylinq demo: a message signed on the key";

template <class T>
bool Bind(HMODULE module, const char* name, T* fn) {
    *fn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!*fn) std::printf("Keylinq.dll has no %s\n", name);
    return *fn != nullptr;
}

std::string Text(const char* field, size_t size) {
    std::string s(field, size);
    return s.substr(0, s.find('\0'));
}

void PrintDevInfo(const DEVINFO& info) {
    std::printf("  Version          %u.%u\n", info.Version.major, info.Version.minor);
    std::printf("  Manufacturer     %s\n", Text(info.Manufacturer, sizeof info.Manufacturer).c_str());
    std::printf("  Issuer           %s\n", Text(info.Issuer, sizeof info.Issuer).c_str());
    std::printf("  Label            %s\n", Text(info.Label, sizeof info.Label).c_str());
    std::printf("  SerialNumber     %s\n", Text(info.SerialNumber, sizeof info.SerialNumber).c_str());
    std::printf("  HWVersion        %u.%u\n", info.HWVersion.major, info.HWVersion.minor);
    std::printf("  FirmwareVersion  %u.%u\n", info.FirmwareVersion.major, info.FirmwareVersion.minor);
    std::printf("  AlgSymCap        0x%08lX\n", info.AlgSymCap);
    std::printf("  AlgAsymCap       0x%08lX\n", info.AlgAsymCap);
    std::printf("  AlgHashCap       0x%08lX\n", info.AlgHashCap);
    std::printf("  DevAuthAlgId     0x%08lX\n", info.DevAuthAlgId);
    std::printf("  TotalSpace       %lu\n", info.TotalSpace);
    std::printf("  FreeSpace        %lu\n", info.FreeSpace);
    std::printf("  MaxECCBufferSize %lu\n", info.MaxECCBufferSize);
    std::printf("  MaxBufferSize    %lu\n", info.MaxBufferSize);
}

bool Check(const char* what, ULONG rc) {
    if (rc != SAR_OK) std::printf("  %s: 0x%08lX\n", what, rc);
    return rc == SAR_OK;
}

void PrintHex(const char* label, const BYTE* p, size_t n) {
    std::printf("  %-16s ", label);
    for (size_t i = 0; i < n; ++i) std::printf("%02X", p[i]);
    std::printf("\n");
}

// The signing round on a connected key; true when the signature verified.
bool SignAndVerify(const Skf& skf, DEVHANDLE dev) {
    char appName[] = "ZELK";
    char containerName[] = "KeylinqDemo";
    HAPPLICATION app = nullptr;
    if (!Check("SKF_OpenApplication", skf.OpenApplication(dev, appName, &app))) return false;
    bool ok = false;
    std::string pin = kDefaultUserPin;
    ULONG retry = 0;
    HCONTAINER container = nullptr;
    if (Check("SKF_VerifyPIN", skf.VerifyPIN(app, kUserPinType, &pin[0], &retry))) {
        skf.DeleteContainer(app, containerName);  // a leftover of an interrupted run
        if (Check("SKF_CreateContainer", skf.CreateContainer(app, containerName, &container))) {
            ECCPUBLICKEYBLOB generated = {};
            ECCPUBLICKEYBLOB exported = {};
            ULONG exportedLen = sizeof exported;
            HANDLE hash = nullptr;
            BYTE digest[32] = {};
            ULONG digestLen = sizeof digest;
            ECCSIGNATUREBLOB signature = {};
            BYTE id[sizeof kSignerId];
            memcpy(id, kSignerId, sizeof id);
            BYTE* message = reinterpret_cast<BYTE*>(const_cast<char*>(kMessage));
            ok = Check("SKF_GenECCKeyPair", skf.GenECCKeyPair(container, kSgdSm2_1, &generated)) &&
                 Check("SKF_ExportPublicKey", skf.ExportPublicKey(container, TRUE,
                                                                  reinterpret_cast<BYTE*>(&exported), &exportedLen)) &&
                 Check("SKF_DigestInit", skf.DigestInit(dev, kSgdSm3, &exported, id, 16, &hash)) &&
                 Check("SKF_Digest", skf.Digest(hash, message, ULONG(strlen(kMessage)), digest, &digestLen)) &&
                 Check("SKF_ECCSignData", skf.ECCSignData(container, digest, digestLen, &signature)) &&
                 Check("SKF_ECCVerify", skf.ECCVerify(dev, &exported, digest, digestLen, &signature));
            if (hash) skf.CloseHandle(hash);
            if (ok) {
                std::printf("  Message          \"%s\"\n", kMessage);
                PrintHex("Public key X", exported.XCoordinate + 32, 32);
                PrintHex("Public key Y", exported.YCoordinate + 32, 32);
                PrintHex("SM3(Z||M)", digest, 32);
                PrintHex("Signature r", signature.r + 32, 32);
                PrintHex("Signature s", signature.s + 32, 32);
                std::printf("  Signature verified with the exported public key.\n");
            }
            Check("SKF_CloseContainer", skf.CloseContainer(container));
            if (!Check("SKF_DeleteContainer", skf.DeleteContainer(app, containerName))) ok = false;
        }
    }
    if (!Check("SKF_CloseApplication", skf.CloseApplication(app))) ok = false;
    return ok;
}

}  // namespace

int main() {
    HMODULE module = LoadLibraryW(L"Keylinq.dll");
    if (!module) {
        std::printf("cannot load Keylinq.dll (error %lu)\n", GetLastError());
        return 2;
    }
    Skf skf = {};
    if (!Bind(module, "SKF_EnumDev", &skf.EnumDev) || !Bind(module, "SKF_ConnectDev", &skf.ConnectDev) ||
        !Bind(module, "SKF_GetDevInfo", &skf.GetDevInfo) || !Bind(module, "SKF_DisConnectDev", &skf.DisConnectDev) ||
        !Bind(module, "SKF_OpenApplication", &skf.OpenApplication) ||
        !Bind(module, "SKF_CloseApplication", &skf.CloseApplication) ||
        !Bind(module, "SKF_VerifyPIN", &skf.VerifyPIN) || !Bind(module, "SKF_CreateContainer", &skf.CreateContainer) ||
        !Bind(module, "SKF_CloseContainer", &skf.CloseContainer) ||
        !Bind(module, "SKF_DeleteContainer", &skf.DeleteContainer) ||
        !Bind(module, "SKF_GenECCKeyPair", &skf.GenECCKeyPair) ||
        !Bind(module, "SKF_ExportPublicKey", &skf.ExportPublicKey) ||
        !Bind(module, "SKF_DigestInit", &skf.DigestInit) || !Bind(module, "SKF_Digest", &skf.Digest) ||
        !Bind(module, "SKF_CloseHandle", &skf.CloseHandle) || !Bind(module, "SKF_ECCSignData", &skf.ECCSignData) ||
        !Bind(module, "SKF_ECCVerify", &skf.ECCVerify))
        return 2;

    int status = 0;
    ULONG size = 0;
    ULONG rc = skf.EnumDev(TRUE, nullptr, &size);
    std::vector<char> list(size + 1, 0);
    if (rc == SAR_OK) rc = skf.EnumDev(TRUE, list.data(), &size);
    if (rc != SAR_OK) {
        std::printf("SKF_EnumDev: 0x%08lX\n", rc);
        return 1;
    }
    int keys = 0;
    for (const char* name = list.data(); *name; name += strlen(name) + 1) {
        ++keys;
        std::printf("Key %d: %s\n", keys, name);
        DEVHANDLE dev = nullptr;
        rc = skf.ConnectDev(const_cast<char*>(name), &dev);
        if (rc != SAR_OK) {
            std::printf("  SKF_ConnectDev: 0x%08lX\n", rc);
            status = 1;
            continue;
        }
        DEVINFO info = {};
        rc = skf.GetDevInfo(dev, &info);
        if (rc == SAR_OK)
            PrintDevInfo(info);
        else {
            std::printf("  SKF_GetDevInfo: 0x%08lX\n", rc);
            status = 1;
        }
        if (!SignAndVerify(skf, dev)) status = 1;
        rc = skf.DisConnectDev(dev);
        if (rc != SAR_OK) {
            std::printf("  SKF_DisConnectDev: 0x%08lX\n", rc);
            status = 1;
        }
    }
    if (keys == 0) std::printf("No key present.\n");
    FreeLibrary(module);
    return status;
}
