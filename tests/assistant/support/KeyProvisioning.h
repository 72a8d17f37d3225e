#pragma once
// Puts a virtual key into the state of a key in use, through Keylinq's own
// exports and the test server's certification authorities: a container
// with an SM2 signature pair made on the key and a certificate for it,
// optionally a container with an RSA-1024 pair and its certificate, a
// container that holds only a key (another application's), and one seal
// file. What it made is reported back (names, DERs, the key's serial).
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "KeylinqLibrary.h"
#include "TestServerControl.h"
#include "VirtualKeyControl.h"

namespace provisioning {

// The virtual key's user PIN.
constexpr char USER_PIN[] = "12345678";

struct Plan {
    bool freshKey = true;         // a new virtual key of its own, else the program's first key
    int64_t notBefore = 0;        // Unix seconds of the certificates' validity; both 0: the CA's default
    int64_t notAfter = 0;
    bool rsaCertificate = false;  // also an RSA-1024 container with its certificate
    bool keyOnlyContainer = true; // also a container with an SM2 pair and no certificate
    std::string seal = "seal data of the test key";  // the one seal file's bytes
};

struct Key {
    uint32_t keyId = 0;             // the virtual key's id
    std::string deviceName;         // as SKF_EnumDev lists it
    std::string serial;             // DEVINFO's serial number
    std::string sm2Container;
    std::string sm2Point;           // 04 || X || Y of its signature key
    std::string sm2Certificate;     // DER
    std::string rsaContainer;       // empty without one
    std::string rsaCertificate;     // DER
    std::string keyOnlyContainer;   // empty without one
    std::string keyOnlyPoint;
    std::string sealFile;           // the seal file's name
};

// Carries the plan out; false with a message on the first failure.
bool Provision(KeylinqLibrary& keylinq, VirtualKeyControl& keyControl, testserver::ServerControl& server,
               const Plan& plan, Key& key, std::string& error);

// A key connected and its application opened, closed again on destruction.
class Session {
public:
    Session(KeylinqLibrary& keylinq, const std::string& deviceName);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ULONG Open();
    ULONG VerifyUserPin();
    std::vector<std::string> ContainerNames();
    std::vector<std::string> FileNames();
    // A file's content; empty when it cannot be read.
    std::string File(const std::string& name);
    // The container's public key (04 || X || Y) or certificate (DER); empty when absent.
    std::string Point(const std::string& container, BOOL sign);
    std::string Certificate(const std::string& container, BOOL sign);

    KeylinqLibrary& k;
    DEVHANDLE dev = nullptr;
    HAPPLICATION app = nullptr;

private:
    std::string m_deviceName;
};

// One container as the key reports it: its certificates (DER) and public
// keys (04 || X || Y), each empty when absent.
struct ContainerState {
    std::string name, signCert, encCert, signPoint, encPoint;
    bool operator==(const ContainerState& o) const {
        return name == o.name && signCert == o.signCert && encCert == o.encCert && signPoint == o.signPoint &&
               encPoint == o.encPoint;
    }
};

// Every container of the key, in the key's order (empty when it cannot be opened).
std::vector<ContainerState> Containers(KeylinqLibrary& keylinq, const std::string& deviceName);

// The containers of `now` whose names `before` lacks; the names of those of
// `before` that are gone from `now` or differ there go to `changed`.
std::vector<ContainerState> AddedContainers(const std::vector<ContainerState>& before,
                                            const std::vector<ContainerState>& now, std::vector<std::string>& changed);

}  // namespace provisioning
