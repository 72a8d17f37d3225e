#pragma once
// A key connection set up by hand with the command objects, the way the
// device context and the device operator connect: device information
// (algorithm id), chip serial number, external authentication, the
// exported authentication key checked against the built-in root, and a
// new session key wrapped under it.
#include <string>

#include "APDU.h"

extern const uint8_t EXTERNAL_AUTH_MASTER_KEY[16];

struct KeySession {
    CDeviceInfo record;
    CAPDU apdu{&record};

    ~KeySession() { Close(); }
    uint32_t Open(const std::string& devicePath);
    uint32_t Close();
    // Reads the algorithm id from the device information.
    uint32_t ReadAlgorithm();
    uint32_t ExternalAuth();
    uint32_t SetSessionKey();
    // All of the above after Open.
    uint32_t Connect();
    // The PIN-status probe under secure messaging (4 status bytes).
    uint32_t PinStatus(uint8_t status[4], uint8_t p2 = 0);
    // A plain command with a reply.
    uint32_t Plain(uint8_t ins, uint8_t p1, uint16_t le, uint8_t* out, uint32_t* outLen);
};
