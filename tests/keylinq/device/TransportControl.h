#pragma once
// The tests' side of the virtual key's transport controls: keys on the
// mass-storage, CCID and WinUSB transports, readers without a key, and the
// transport units the key received.
#include <cstdint>
#include <string>
#include <vector>

#include "VirtualKeyControl.h"

struct TransportUnit {
    uint8_t kind = 0;  // vk::TransportUnitKind
    std::vector<uint8_t> bytes;
};

class TransportControl {
public:
    explicit TransportControl(VirtualKeyControl& control) : m_control(control) {}

    uint32_t AddKey(uint16_t vid, uint16_t pid, uint8_t alg, uint8_t transport, uint32_t* id);
    uint32_t Units(uint32_t id, std::vector<TransportUnit>& units);
    uint32_t CcidResponseSize(uint32_t id, uint16_t size);
    uint32_t CcidNextAnswer(uint32_t id, const std::vector<uint8_t>& answer);
    uint32_t CcidResetNext(uint32_t id);
    uint32_t AddReader(const std::string& name, bool card, const std::vector<uint8_t>& atr, uint32_t* readerId);
    uint32_t RemoveReader(uint32_t readerId);
    // mode 1: the next status wrapper has a stale tag; 2: it is short.
    uint32_t UsbStatus(uint32_t id, uint8_t mode);
    uint32_t UsbAnnounce(uint32_t id, uint32_t length);
    uint32_t ScsiStatus(uint32_t id, uint8_t status);

private:
    VirtualKeyControl& m_control;
};
