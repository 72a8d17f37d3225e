#pragma once
// A transport that records every command frame a command object sends and
// answers from a script, for exact-frame tests of the command builders. With
// a session set on it, it opens protected (0xB4) commands and protects its
// replies the way the key does, so the recorded data is what the key would
// read after secure messaging.
#include <cstdint>
#include <deque>
#include <vector>

#include "DeviceInfo.h"
#include "VemuComm.h"

struct RecordedCommand {
    uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
    uint16_t le = 0;
    std::vector<uint8_t> data;  // after secure messaging is removed
};

class RecordingTransport : public IVemuComm {
public:
    // Opens `record` on this transport, plain (no session).
    explicit RecordingTransport(VM_DEVICE_HANDLE& record);
    // Secure messaging under a fixed session key (SM4, or the algorithm given).
    void StartSession(uint8_t alg = 19);

    // The next reply: status word and data. With nothing queued: 9000, no data.
    void Queue(uint16_t sw, const std::vector<uint8_t>& data = {});

    std::vector<RecordedCommand> commands;

    uint32_t VEmuEnumDevice(WORD, WORD, char*, DWORD*) override { return 0; }
    uint32_t VEmuOpenDevice(const char*) override { return 0; }
    uint32_t VEmuCloseDevice() override { return 0; }
    uint32_t VEmuGetDeviceID(const char*, WORD*, WORD*) override { return 0; }
    uint32_t VEmuSendCommand(const BYTE* frame, DWORD frameLen, BYTE* reply, DWORD* replyLen,
                            DWORD timeoutSeconds) override;

private:
    struct Reply {
        uint16_t sw;
        std::vector<uint8_t> data;
    };
    VM_DEVICE_HANDLE& m_record;
    std::deque<Reply> m_replies;
    uint8_t m_alg = 0;
    uint8_t m_sessionKey[16] = {};
    uint8_t m_counter[2] = {};
};
