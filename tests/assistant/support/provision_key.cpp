// Provisions a virtual key for a hand-run or scripted renewal:
//   provision_key [--existing] [--validity NOT_BEFORE NOT_AFTER] [--rsa]
//                 [--no-key-only] [--seal HEX]
// with KEYLINQ_DLL, KEYLINQ_VIRTUAL_KEY_PORT_FILE and TEST_SERVER_PORT_FILE
// set. Prints one "name value" line per item (bytes in hexadecimal).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "KeyProvisioning.h"

int main(int argc, char** argv) {
    provisioning::Plan plan;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--existing") {
            plan.freshKey = false;
        } else if (arg == "--rsa") {
            plan.rsaCertificate = true;
        } else if (arg == "--no-key-only") {
            plan.keyOnlyContainer = false;
        } else if (arg == "--validity" && i + 2 < argc) {
            plan.notBefore = std::strtoll(argv[++i], nullptr, 10);
            plan.notAfter = std::strtoll(argv[++i], nullptr, 10);
        } else if (arg == "--seal" && i + 1 < argc) {
            plan.seal = testserver::ServerControl::Unhex(argv[++i]);
        } else {
            std::fprintf(stderr,
                         "usage: provision_key [--existing] [--validity NOT_BEFORE NOT_AFTER] [--rsa] "
                         "[--no-key-only] [--seal HEX]\n");
            return 2;
        }
    }
    const char* portFile = std::getenv("TEST_SERVER_PORT_FILE");
    testserver::ServerControl server(portFile ? testserver::ReadPortFile(portFile) : 0);
    VirtualKeyControl keyControl;
    provisioning::Key key;
    std::string error;
    if (!provisioning::Provision(Keylinq(), keyControl, server, plan, key, error)) {
        std::fprintf(stderr, "provision_key: %s\n", error.c_str());
        return 1;
    }
    auto hex = [](const std::string& bytes) { return testserver::ServerControl::Hex(bytes); };
    std::printf("KEY_ID %u\nDEVICE %s\nSERIAL %s\nSM2_CONTAINER %s\nSM2_POINT %s\nSM2_CERT %s\n", key.keyId,
                key.deviceName.c_str(), key.serial.c_str(), key.sm2Container.c_str(), hex(key.sm2Point).c_str(),
                hex(key.sm2Certificate).c_str());
    if (!key.rsaContainer.empty())
        std::printf("RSA_CONTAINER %s\nRSA_CERT %s\n", key.rsaContainer.c_str(), hex(key.rsaCertificate).c_str());
    if (!key.keyOnlyContainer.empty())
        std::printf("KEY_ONLY_CONTAINER %s\nKEY_ONLY_POINT %s\n", key.keyOnlyContainer.c_str(),
                    hex(key.keyOnlyPoint).c_str());
    std::printf("SEAL_FILE %s\n", key.sealFile.c_str());
    return 0;
}
