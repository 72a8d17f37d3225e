#pragma once
// The tests' side of the virtual key's control protocol, over Winsock to
// the key process named by the environment (as the HID binding finds it).
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/VkProtocol.h"

struct VirtualKeyState {
    bool plugged = false;
    bool authenticated = false;
    bool session = false;
    uint8_t alg = 0;
    uint8_t sessionKey[16] = {};
    uint8_t counter[2] = {};
    std::string devicePath;
    std::string instanceId;
};

class VirtualKeyControl {
public:
    VirtualKeyControl();
    ~VirtualKeyControl();
    bool connected() const;

    // Each returns the key's error value (0: done).
    uint32_t AddKey(uint16_t vid, uint16_t pid, uint8_t alg, uint32_t* id, uint16_t featureLength = 329);
    uint32_t Plug(uint32_t id);
    uint32_t Unplug(uint32_t id);
    uint32_t Reset(uint32_t id);
    uint32_t ForceReply(uint32_t id, uint8_t ins, uint16_t sw, const std::vector<uint8_t>& data = {});
    uint32_t Busy(uint32_t id, uint32_t reads);
    uint32_t DropSession(uint32_t id);
    uint32_t ClearRecord(uint32_t id);
    uint32_t Record(uint32_t id, std::vector<vk::RecordEntry>& entries);
    uint32_t State(uint32_t id, VirtualKeyState& state);

private:
    uint32_t Call(const std::vector<uint8_t>& request, std::vector<uint8_t>* data = nullptr);
    uintptr_t m_socket;
};
