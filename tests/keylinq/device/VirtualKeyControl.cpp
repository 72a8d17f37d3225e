#include <winsock2.h>

#include "VirtualKeyControl.h"
#include "VirtualKeyLink.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using VirtualKeyLink::ReceiveAll;
using VirtualKeyLink::SendAll;

VirtualKeyControl::VirtualKeyControl() : m_socket(uintptr_t(INVALID_SOCKET)) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = VirtualKeyLink::Connect();
    if (s != INVALID_SOCKET) m_socket = uintptr_t(s);
}

VirtualKeyControl::~VirtualKeyControl() {
    if (connected()) closesocket(SOCKET(m_socket));
    WSACleanup();
}

bool VirtualKeyControl::connected() const { return m_socket != uintptr_t(INVALID_SOCKET); }

uint32_t VirtualKeyControl::Call(const std::vector<uint8_t>& request, std::vector<uint8_t>* data) {
    if (!connected()) return vk::ERR_DEVICE_NOT_CONNECTED;
    vk::Writer message;
    message.u32(uint32_t(request.size())).bytes(request);
    uint8_t head[4];
    SOCKET s = SOCKET(m_socket);
    if (!SendAll(s, message.data().data(), message.data().size()) || !ReceiveAll(s, head, 4))
        return vk::ERR_DEVICE_NOT_CONNECTED;
    size_t n = size_t(head[0]) << 24 | size_t(head[1]) << 16 | size_t(head[2]) << 8 | head[3];
    std::vector<uint8_t> reply(n);
    if (n < 4 || !ReceiveAll(s, reply.data(), n)) return vk::ERR_DEVICE_NOT_CONNECTED;
    vk::Reader r(reply);
    uint32_t error = r.u32();
    if (data) *data = r.rest();
    return error;
}

uint32_t VirtualKeyControl::AddKey(uint16_t vid, uint16_t pid, uint8_t alg, uint32_t* id, uint16_t featureLength) {
    std::vector<uint8_t> data;
    uint32_t error = Call(vk::Writer().u8(vk::CTL_ADD_KEY).u16(vid).u16(pid).u8(alg).u16(featureLength).take(), &data);
    if (!error && id) *id = vk::Reader(data).u32();
    return error;
}

uint32_t VirtualKeyControl::Plug(uint32_t id) { return Call(vk::Writer().u8(vk::CTL_PLUG).u32(id).take()); }
uint32_t VirtualKeyControl::Unplug(uint32_t id) { return Call(vk::Writer().u8(vk::CTL_UNPLUG).u32(id).take()); }
uint32_t VirtualKeyControl::Reset(uint32_t id) { return Call(vk::Writer().u8(vk::CTL_RESET).u32(id).take()); }
uint32_t VirtualKeyControl::ForceReply(uint32_t id, uint8_t ins, uint16_t sw, const std::vector<uint8_t>& data) {
    return Call(vk::Writer().u8(vk::CTL_FORCE_REPLY).u32(id).u8(ins).u16(sw).bytes(data).take());
}
uint32_t VirtualKeyControl::Busy(uint32_t id, uint32_t reads) {
    return Call(vk::Writer().u8(vk::CTL_BUSY).u32(id).u32(reads).take());
}
uint32_t VirtualKeyControl::DropSession(uint32_t id) {
    return Call(vk::Writer().u8(vk::CTL_DROP_SESSION).u32(id).take());
}
uint32_t VirtualKeyControl::ClearRecord(uint32_t id) {
    return Call(vk::Writer().u8(vk::CTL_CLEAR_RECORD).u32(id).take());
}

uint32_t VirtualKeyControl::Record(uint32_t id, std::vector<vk::RecordEntry>& entries) {
    std::vector<uint8_t> data;
    uint32_t error = Call(vk::Writer().u8(vk::CTL_GET_RECORD).u32(id).take(), &data);
    entries.clear();
    if (error) return error;
    vk::Reader r(data);
    uint32_t count = r.u32();
    for (uint32_t i = 0; i < count && r.ok(); ++i) {
        vk::RecordEntry e;
        vk::DecodeRecordEntry(r.bytes(r.u16()), e);
        entries.push_back(e);
    }
    return r.ok() ? 0 : vk::ERR_INVALID_PARAMETER;
}

uint32_t VirtualKeyControl::State(uint32_t id, VirtualKeyState& state) {
    std::vector<uint8_t> data;
    uint32_t error = Call(vk::Writer().u8(vk::CTL_GET_STATE).u32(id).take(), &data);
    if (error) return error;
    vk::Reader r(data);
    state.plugged = r.u8() != 0;
    state.authenticated = r.u8() != 0;
    state.session = r.u8() != 0;
    state.alg = r.u8();
    std::vector<uint8_t> key = r.bytes(16);
    std::vector<uint8_t> counter = r.bytes(2);
    state.devicePath = r.str();
    state.instanceId = r.str();
    if (!r.ok()) return vk::ERR_INVALID_PARAMETER;
    std::copy(key.begin(), key.end(), state.sessionKey);
    std::copy(counter.begin(), counter.end(), state.counter);
    return 0;
}

uint32_t VirtualKeyControl::SetPinVerified(uint32_t id, uint8_t pinType, uint8_t* authCode) {
    std::vector<uint8_t> data;
    uint32_t error = Call(vk::Writer().u8(vk::CTL_PIN_VERIFIED).u32(id).u8(pinType).take(), &data);
    if (error) return error;
    if (data.size() != 16) return vk::ERR_INVALID_PARAMETER;
    if (authCode) std::copy(data.begin(), data.end(), authCode);
    return 0;
}
uint32_t VirtualKeyControl::LosePinVerification(uint32_t id) {
    return Call(vk::Writer().u8(vk::CTL_PIN_LOSE).u32(id).take());
}
uint32_t VirtualKeyControl::FailCommandAt(uint32_t id, uint32_t k, uint16_t sw) {
    return Call(vk::Writer().u8(vk::CTL_FAIL_AT).u32(id).u32(k).u16(sw).take());
}
uint32_t VirtualKeyControl::UnplugAtCommand(uint32_t id, uint32_t k) {
    return Call(vk::Writer().u8(vk::CTL_UNPLUG_AT).u32(id).u32(k).take());
}

uint32_t VirtualKeyControl::RequireButton(uint32_t id, uint8_t ins, uint32_t polls, uint16_t outcome, uint16_t p1) {
    vk::Writer w;
    w.u8(vk::CTL_BUTTON_REQUIRE).u32(id).u8(ins).u32(polls).u16(outcome);
    if (p1 != vk::BUTTON_ANY_P1) {
        if (p1 > 0xFF) return vk::ERR_INVALID_PARAMETER;
        w.u8(uint8_t(p1));
    }
    return Call(w.take());
}
uint32_t VirtualKeyControl::PressButton(uint32_t id) { return Call(vk::Writer().u8(vk::CTL_BUTTON_PRESS).u32(id).take()); }
uint32_t VirtualKeyControl::ButtonState(uint32_t id, bool* waiting, uint32_t* tries, uint32_t* minGapMs) {
    std::vector<uint8_t> data;
    uint32_t error = Call(vk::Writer().u8(vk::CTL_BUTTON_STATE).u32(id).take(), &data);
    if (error) return error;
    vk::Reader r(data);
    bool w = r.u8() != 0;
    uint32_t t = r.u32(), gap = r.u32();
    if (!r.ok()) return vk::ERR_INVALID_PARAMETER;
    if (waiting) *waiting = w;
    if (tries) *tries = t;
    if (minGapMs) *minGapMs = gap;
    return 0;
}

uint32_t VirtualKeyControl::Files(uint32_t id, std::map<uint16_t, uint32_t>& files, uint32_t* freeSpace) {
    std::vector<uint8_t> data;
    files.clear();
    uint32_t error = Call(vk::Writer().u8(vk::CTL_FILES).u32(id).take(), &data);
    if (error) return error;
    vk::Reader r(data);
    const uint32_t free = r.u32();
    const uint32_t count = r.u32();
    for (uint32_t i = 0; i < count && r.ok(); ++i) {
        const uint16_t file = r.u16();
        files[file] = r.u32();
    }
    if (!r.ok()) return vk::ERR_INVALID_PARAMETER;
    if (freeSpace) *freeSpace = free;
    return 0;
}
uint32_t VirtualKeyControl::SetDataSpace(uint32_t id, uint32_t bytes) {
    return Call(vk::Writer().u8(vk::CTL_DATA_SPACE).u32(id).u32(bytes).take());
}
