#pragma once
// Fixture of the container, key and cryptographic command tests: a new SM
// key with a session and a verified user PIN, the three command objects on
// its record, and the commands the key read since the last mark.
#include <string>
#include <vector>

#include "APDUContainer.h"
#include "APDUCrypto.h"
#include "APDUKey.h"
#include "DeviceTestSupport.h"
#include "KeySession.h"

using ByteVec = std::vector<uint8_t>;

class KeyCommandTest : public VirtualKeyTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // The commands since the last call (or the set-up).
    std::vector<vk::RecordEntry> Taken();
    // auth code, 0x0000, key file id.
    ByteVec Prefix(uint16_t fid) const;
    // A container named `name` with an SM2 signature key; its file-id base.
    uint16_t ContainerWithSm2SignKey(const char* name);

    uint32_t keyId = 0;
    std::string path;
    KeySession session;
    CAPDUContainerQuib container{&session.record};
    CAPDUKey keyCmd{&session.record};
    CAPDUCrypto crypto{&session.record};
    uint8_t auth[16] = {};
};

ByteVec Cat(ByteVec a, const ByteVec& b);
ByteVec Bytes(const uint8_t* p, size_t n);
