#include "TransportControl.h"

uint32_t TransportControl::AddKey(uint16_t vid, uint16_t pid, uint8_t alg, uint8_t transport, uint32_t* id) {
    std::vector<uint8_t> data;
    uint32_t error = m_control.Request(
        vk::Writer().u8(vk::CTL_ADD_KEY).u16(vid).u16(pid).u8(alg).u16(vk::FEATURE_REPORT_LENGTH).u8(transport).take(),
        &data);
    if (!error && id) *id = vk::Reader(data).u32();
    return error;
}

uint32_t TransportControl::Units(uint32_t id, std::vector<TransportUnit>& units) {
    std::vector<uint8_t> data;
    units.clear();
    uint32_t error = m_control.Request(vk::Writer().u8(vk::CTL_TRANSPORT_RECORD).u32(id).take(), &data);
    if (error) return error;
    vk::Reader r(data);
    uint32_t count = r.u32();
    for (uint32_t i = 0; i < count && r.ok(); ++i) {
        TransportUnit unit;
        unit.kind = r.u8();
        unit.bytes = r.bytes(r.u16());
        units.push_back(unit);
    }
    return r.ok() ? 0 : vk::ERR_INVALID_PARAMETER;
}

uint32_t TransportControl::CcidResponseSize(uint32_t id, uint16_t size) {
    return m_control.Request(vk::Writer().u8(vk::CTL_CCID_RESPONSE_SIZE).u32(id).u16(size).take());
}

uint32_t TransportControl::CcidNextAnswer(uint32_t id, const std::vector<uint8_t>& answer) {
    return m_control.Request(vk::Writer().u8(vk::CTL_CCID_NEXT_ANSWER).u32(id).bytes(answer).take());
}

uint32_t TransportControl::CcidResetNext(uint32_t id) {
    return m_control.Request(vk::Writer().u8(vk::CTL_CCID_RESET_NEXT).u32(id).take());
}

uint32_t TransportControl::AddReader(const std::string& name, bool card, const std::vector<uint8_t>& atr,
                                     uint32_t* readerId) {
    std::vector<uint8_t> data;
    uint32_t error =
        m_control.Request(vk::Writer().u8(vk::CTL_ADD_READER).str(name).u8(card ? 1 : 0).bytes(atr).take(), &data);
    if (!error && readerId) *readerId = vk::Reader(data).u32();
    return error;
}

uint32_t TransportControl::RemoveReader(uint32_t readerId) {
    return m_control.Request(vk::Writer().u8(vk::CTL_REMOVE_READER).u32(readerId).take());
}

uint32_t TransportControl::UsbStatus(uint32_t id, uint8_t mode) {
    return m_control.Request(vk::Writer().u8(vk::CTL_USB_STATUS).u32(id).u8(mode).take());
}

uint32_t TransportControl::UsbAnnounce(uint32_t id, uint32_t length) {
    return m_control.Request(vk::Writer().u8(vk::CTL_USB_ANNOUNCE).u32(id).u32(length).take());
}

uint32_t TransportControl::ScsiStatus(uint32_t id, uint8_t status) {
    return m_control.Request(vk::Writer().u8(vk::CTL_SCSI_STATUS).u32(id).u8(status).take());
}
