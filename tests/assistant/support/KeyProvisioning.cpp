#include "KeyProvisioning.h"

#include <cstring>

namespace provisioning {
namespace {

constexpr ULONG kUserPinType = 1;
constexpr ULONG kSm2SignAlg = 0x00020100;

std::vector<std::string> SplitNames(const char* list, ULONG size) {
    std::vector<std::string> names;
    for (ULONG i = 0; i < size && list[i];) {
        names.emplace_back(list + i);
        i += ULONG(names.back().size() + 1);
    }
    return names;
}

std::string Hex(const std::string& bytes) { return testserver::ServerControl::Hex(bytes); }

std::string NewContainerName(const char* role) {
    GUID guid;
    CoCreateGuid(&guid);
    char text[64];
    std::snprintf(text, sizeof text, "%s-%08lX%04X", role, static_cast<unsigned long>(guid.Data1), guid.Data2);
    return text;
}

std::string PointOf(const ECCPUBLICKEYBLOB& blob) {
    return "\x04" + std::string(reinterpret_cast<const char*>(blob.XCoordinate + 32), 32) +
           std::string(reinterpret_cast<const char*>(blob.YCoordinate + 32), 32);
}

bool Fail(std::string& error, const std::string& what, ULONG rc) {
    char code[16];
    std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(rc));
    error = what + " failed: " + code;
    return false;
}

// The server's certificate for a public key, inside the plan's validity.
bool Issue(testserver::ServerControl& server, const Plan& plan, const std::string& command, std::string& der,
           std::string& error) {
    if (plan.notBefore || plan.notAfter) {
        const std::string validity =
            "ISSUE_VALIDITY " + std::to_string(plan.notBefore) + " " + std::to_string(plan.notAfter);
        if (!server.Set(validity)) return error = "the server refuses " + validity, false;
    }
    std::vector<std::string> results;
    std::string answer;
    const bool issued = server.CaCommand(command, results, &answer) && results.size() == 1;
    // What the server issues later (a renewal) gets its default validity again.
    if ((plan.notBefore || plan.notAfter) && !server.Set("ISSUE_VALIDITY 0 0"))
        return error = "the server refuses ISSUE_VALIDITY 0 0", false;
    if (!issued) return error = "the server refuses to issue: " + answer, false;
    der = results[0];
    return true;
}

}  // namespace

Session::Session(KeylinqLibrary& keylinq, const std::string& deviceName) : k(keylinq), m_deviceName(deviceName) {}

Session::~Session() {
    if (app) k.SKF_CloseApplication(app);
    if (dev) k.SKF_DisConnectDev(dev);
}

ULONG Session::Open() {
    std::string name = m_deviceName;
    ULONG rc = k.SKF_ConnectDev(&name[0], &dev);
    if (rc != SAR_OK) return rc;
    char zelk[] = "ZELK";
    return k.SKF_OpenApplication(dev, zelk, &app);
}

ULONG Session::VerifyUserPin() {
    std::string pin = USER_PIN;
    ULONG retry = 0;
    return k.SKF_VerifyPIN(app, kUserPinType, &pin[0], &retry);
}

std::vector<std::string> Session::ContainerNames() {
    ULONG size = 0;
    if (k.SKF_EnumContainer(app, nullptr, &size) != SAR_OK) return {};
    std::vector<char> list(size + 1);
    if (k.SKF_EnumContainer(app, list.data(), &size) != SAR_OK) return {};
    return SplitNames(list.data(), size);
}

std::vector<std::string> Session::FileNames() {
    ULONG size = 0;
    if (k.SKF_EnumFiles(app, nullptr, &size) != SAR_OK) return {};
    std::vector<char> list(size + 1);
    if (k.SKF_EnumFiles(app, list.data(), &size) != SAR_OK) return {};
    return SplitNames(list.data(), size);
}

std::string Session::File(const std::string& name) {
    std::string fileName = name;
    FILEATTRIBUTE info = {};
    if (k.SKF_GetFileInfo(app, &fileName[0], &info) != SAR_OK) return std::string();
    std::string data(info.FileSize, '\0');
    ULONG length = info.FileSize;
    if (k.SKF_ReadFile(app, &fileName[0], 0, info.FileSize, reinterpret_cast<BYTE*>(&data[0]), &length) != SAR_OK)
        return std::string();
    data.resize(length);
    return data;
}

std::string Session::Point(const std::string& container, BOOL sign) {
    std::string name = container;
    HCONTAINER handle = nullptr;
    if (k.SKF_OpenContainer(app, &name[0], &handle) != SAR_OK) return std::string();
    ECCPUBLICKEYBLOB blob = {};
    ULONG length = sizeof blob;
    const ULONG rc = k.SKF_ExportPublicKey(handle, sign, reinterpret_cast<BYTE*>(&blob), &length);
    k.SKF_CloseContainer(handle);
    return rc == SAR_OK && length == sizeof blob ? PointOf(blob) : std::string();
}

std::string Session::Certificate(const std::string& container, BOOL sign) {
    std::string name = container;
    HCONTAINER handle = nullptr;
    if (k.SKF_OpenContainer(app, &name[0], &handle) != SAR_OK) return std::string();
    ULONG length = 0;
    std::string der;
    if (k.SKF_ExportCertificate(handle, sign, nullptr, &length) == SAR_OK) {
        der.assign(length, '\0');
        if (k.SKF_ExportCertificate(handle, sign, reinterpret_cast<BYTE*>(&der[0]), &length) == SAR_OK)
            der.resize(length);
        else
            der.clear();
    }
    k.SKF_CloseContainer(handle);
    return der;
}

bool Provision(KeylinqLibrary& keylinq, VirtualKeyControl& keyControl, testserver::ServerControl& server,
               const Plan& plan, Key& key, std::string& error) {
    key = Key();
    if (!keylinq.module || keylinq.missing) return error = "Keylinq.dll is not loaded (KEYLINQ_DLL)", false;
    if (!keyControl.connected()) return error = "no virtual key (KEYLINQ_VIRTUAL_KEY_PORT_FILE)", false;
    if (!server.connected()) return error = "no test server (TEST_SERVER_PORT_FILE)", false;
    if (plan.freshKey) {
        const uint32_t rc = keyControl.AddKey(KEYLINQ_USB_VENDOR_ID, 0xF408, 19, &key.keyId);
        if (rc) return Fail(error, "adding a virtual key", rc);
    } else {
        key.keyId = 1;
    }
    VirtualKeyState state;
    if (keyControl.State(key.keyId, state) != 0) return error = "the virtual key has no state", false;
    {
        ULONG size = 0;
        if (keylinq.SKF_EnumDev(TRUE, nullptr, &size) != SAR_OK) return error = "SKF_EnumDev failed", false;
        std::vector<char> list(size + 1);
        if (keylinq.SKF_EnumDev(TRUE, list.data(), &size) != SAR_OK) return error = "SKF_EnumDev failed", false;
        for (const std::string& name : SplitNames(list.data(), size))
            if (_stricmp(name.c_str(), state.devicePath.c_str()) == 0) key.deviceName = name;
        if (key.deviceName.empty()) return error = "the key is not listed: " + state.devicePath, false;
    }
    Session s(keylinq, key.deviceName);
    ULONG rc = s.Open();
    if (rc != SAR_OK) return Fail(error, "opening the key", rc);
    DEVINFO info = {};
    rc = keylinq.SKF_GetDevInfo(s.dev, &info);
    if (rc != SAR_OK) return Fail(error, "SKF_GetDevInfo", rc);
    key.serial.assign(info.SerialNumber, strnlen(info.SerialNumber, sizeof info.SerialNumber));
    rc = s.VerifyUserPin();
    if (rc != SAR_OK) return Fail(error, "SKF_VerifyPIN", rc);

    // An SM2 pair made on the key in a new container; returns its point.
    auto sm2Container = [&](const char* role, std::string& name, std::string& point) {
        name = NewContainerName(role);
        HCONTAINER handle = nullptr;
        rc = keylinq.SKF_CreateContainer(s.app, &name[0], &handle);
        if (rc != SAR_OK) return Fail(error, "SKF_CreateContainer", rc);
        ECCPUBLICKEYBLOB blob = {};
        rc = keylinq.SKF_GenECCKeyPair(handle, kSm2SignAlg, &blob);
        keylinq.SKF_CloseContainer(handle);
        if (rc != SAR_OK) return Fail(error, "SKF_GenECCKeyPair", rc);
        point = PointOf(blob);
        return true;
    };
    auto importCertificate = [&](const std::string& container, const std::string& der) {
        std::string name = container;
        HCONTAINER handle = nullptr;
        rc = keylinq.SKF_OpenContainer(s.app, &name[0], &handle);
        if (rc != SAR_OK) return Fail(error, "SKF_OpenContainer", rc);
        std::string copy = der;
        rc = keylinq.SKF_ImportCertificate(handle, TRUE, reinterpret_cast<BYTE*>(&copy[0]), ULONG(copy.size()));
        keylinq.SKF_CloseContainer(handle);
        if (rc != SAR_OK) return Fail(error, "SKF_ImportCertificate", rc);
        return true;
    };

    if (!sm2Container("SM2", key.sm2Container, key.sm2Point) ||
        !Issue(server, plan, "CA_ISSUE SIGN " + Hex(key.sm2Point), key.sm2Certificate, error) ||
        !importCertificate(key.sm2Container, key.sm2Certificate))
        return false;

    if (plan.rsaCertificate) {
        key.rsaContainer = NewContainerName("RSA");
        HCONTAINER handle = nullptr;
        rc = keylinq.SKF_CreateContainer(s.app, &key.rsaContainer[0], &handle);
        if (rc != SAR_OK) return Fail(error, "SKF_CreateContainer (RSA)", rc);
        RSAPUBLICKEYBLOB blob = {};
        rc = keylinq.SKF_GenRSAKeyPair(handle, 1024, &blob);
        keylinq.SKF_CloseContainer(handle);
        if (rc != SAR_OK) return Fail(error, "SKF_GenRSAKeyPair", rc);
        const std::string modulus(reinterpret_cast<const char*>(blob.Modulus), blob.BitLen / 8);
        const std::string exponent(reinterpret_cast<const char*>(blob.PublicExponent), 4);
        if (!Issue(server, plan, "CA_ISSUE_RSA " + Hex(modulus) + " " + Hex(exponent), key.rsaCertificate, error) ||
            !importCertificate(key.rsaContainer, key.rsaCertificate))
            return false;
    }

    if (plan.keyOnlyContainer && !sm2Container("KEY", key.keyOnlyContainer, key.keyOnlyPoint)) return false;

    for (std::string name : s.FileNames()) {
        rc = keylinq.SKF_DeleteFile(s.app, &name[0]);
        if (rc != SAR_OK) return Fail(error, "SKF_DeleteFile " + name, rc);
    }
    key.sealFile = "SealData";
    std::string fileName = key.sealFile, seal = plan.seal;
    rc = keylinq.SKF_CreateFile(s.app, &fileName[0], ULONG(seal.size()), 0xFF, 0xFF);
    if (rc != SAR_OK) return Fail(error, "SKF_CreateFile", rc);
    if (!seal.empty()) {
        rc = keylinq.SKF_WriteFile(s.app, &fileName[0], 0, reinterpret_cast<BYTE*>(&seal[0]), ULONG(seal.size()));
        if (rc != SAR_OK) return Fail(error, "SKF_WriteFile", rc);
    }
    // The key forgets the verification, as a key that was just plugged in.
    keylinq.SKF_ClearSecureState(s.app);
    return true;
}

std::vector<ContainerState> Containers(KeylinqLibrary& keylinq, const std::string& deviceName) {
    Session s(keylinq, deviceName);
    std::vector<ContainerState> out;
    if (s.Open() != SAR_OK) return out;
    for (const std::string& name : s.ContainerNames())
        out.push_back({name, s.Certificate(name, TRUE), s.Certificate(name, FALSE), s.Point(name, TRUE),
                       s.Point(name, FALSE)});
    return out;
}

std::vector<ContainerState> AddedContainers(const std::vector<ContainerState>& before,
                                            const std::vector<ContainerState>& now, std::vector<std::string>& changed) {
    std::vector<ContainerState> added;
    for (const ContainerState& old : before) {
        bool same = false;
        for (const ContainerState& c : now) same = same || c == old;
        if (!same) changed.push_back(old.name);
    }
    for (const ContainerState& c : now) {
        bool known = false;
        for (const ContainerState& old : before) known = known || c.name == old.name;
        if (!known) added.push_back(c);
    }
    return added;
}

}  // namespace provisioning
