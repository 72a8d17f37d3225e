#pragma once
// The tests' side of the virtual key's control protocol, over Winsock to
// the key process named by the environment (as the HID binding finds it).
#include <windows.h>

#include <cstdint>
#include <string>
#include <map>
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
    // The PIN of that type (0 administrator, 1 user) counts as verified; the
    // key's new authorisation code (16 bytes) to `authCode` when not null.
    uint32_t SetPinVerified(uint32_t id, uint8_t pinType, uint8_t* authCode = nullptr);
    // The key forgets the PIN verification: its authorisation code goes stale.
    uint32_t LosePinVerification(uint32_t id);
    // The k-th command from now (1: the next) gets the bare status word sw; k 0 cancels.
    uint32_t FailCommandAt(uint32_t id, uint32_t k, uint16_t sw);
    // The k-th command from now finds the key pulled out; k 0 cancels.
    uint32_t UnplugAtCommand(uint32_t id, uint32_t k);
    // Commands with that INS wait for the button (the multi-step signatures:
    // their last step): `polls` tries get F321 (0xFFFFFFFF: until a press),
    // the next one `outcome` (0x9000 carries it out, 0xF322 / 0xF323 refuse
    // it); outcome 0 drops the rule. A p1 of 0 to 255 holds only that step
    // of the INS (1: the response of a PIN exchange), whose other steps then
    // pass and keep the wait.
    uint32_t RequireButton(uint32_t id, uint8_t ins, uint32_t polls, uint16_t outcome = 0x9000,
                           uint16_t p1 = vk::BUTTON_ANY_P1);
    uint32_t PressButton(uint32_t id);
    // The tries of the current or last wait and the shortest time between
    // two of them in ms (0xFFFFFFFF: fewer than two).
    uint32_t ButtonState(uint32_t id, bool* waiting, uint32_t* tries, uint32_t* minGapMs);
    // The key's data files (id -> size) and the space they leave free.
    uint32_t Files(uint32_t id, std::map<uint16_t, uint32_t>& files, uint32_t* freeSpace);
    // The space the key's data files share (48 KiB unless set).
    uint32_t SetDataSpace(uint32_t id, uint32_t bytes);

    // Any request of the control protocol; the key's reply data to `data`.
    uint32_t Request(const std::vector<uint8_t>& request, std::vector<uint8_t>* data = nullptr) {
        return Call(request, data);
    }

private:
    uint32_t Call(const std::vector<uint8_t>& request, std::vector<uint8_t>* data = nullptr);
    uintptr_t m_socket;
};
