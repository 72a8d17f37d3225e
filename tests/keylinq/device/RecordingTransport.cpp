#include "RecordingTransport.h"

#include <cstring>

#include "SymKeyHandle.h"

namespace {
constexpr uint32_t MODE_CBC = 2;
}

RecordingTransport::RecordingTransport(VM_DEVICE_HANDLE& record) : m_record(record) {
    m_record.m_pTransport = this;
    m_record.m_bySecMode = APDU_SEC_NONE;
}

void RecordingTransport::StartSession(uint8_t alg) {
    m_alg = alg;
    for (int i = 0; i < 16; ++i) m_sessionKey[i] = uint8_t(0x40 + i);
    m_counter[0] = 0x12;
    m_counter[1] = 0x34;
    m_record.m_byAlgID = alg;
    std::memcpy(m_record.m_abySessionKey, m_sessionKey, 16);
    m_record.m_nSessionKeyLen = 16;
    m_record.m_abyCounter[0] = m_counter[0];
    m_record.m_abyCounter[1] = m_counter[1];
    m_record.m_bySecMode = APDU_SEC_ENC;
}

void RecordingTransport::Queue(uint16_t sw, const std::vector<uint8_t>& data) { m_replies.push_back({sw, data}); }

uint32_t RecordingTransport::VEmuSendCommand(const BYTE* frame, DWORD frameLen, BYTE* reply, DWORD* replyLen,
                                             DWORD) {
    if (frameLen < 8) return VEMU_E_INVALID_ARG;
    RecordedCommand c;
    c.cla = frame[0];
    c.ins = frame[1];
    c.p1 = frame[2];
    c.p2 = frame[3];
    const uint32_t bodyLen = uint32_t(frame[4]) << 8 | frame[5];
    c.le = uint16_t(frame[6] << 8 | frame[7]);
    if (frameLen != 8 + bodyLen) return VEMU_E_INVALID_ARG;
    const bool secure = c.cla == 0xB4;
    if (secure) {
        std::vector<uint8_t> plain(bodyLen + 16);
        uint32_t plainLen = 0;
        if (CSymKeyHandle::Decrypt(m_alg, MODE_CBC, m_sessionKey, nullptr, frame + 8, bodyLen, plain.data(),
                                   &plainLen) != 0 || plainLen < 4)
            return VEMU_E_INVALID_ARG;
        // The counter the key expects, and Lc equal to the data that follows.
        if (plain[0] != m_counter[0] || plain[1] != m_counter[1] || (uint32_t(plain[2]) << 8 | plain[3]) != plainLen - 4)
            return VEMU_E_INVALID_ARG;
        c.data.assign(plain.begin() + 4, plain.begin() + plainLen);
    } else {
        c.data.assign(frame + 8, frame + 8 + bodyLen);
    }
    commands.push_back(c);

    Reply r{0x9000, {}};
    if (!m_replies.empty()) {
        r = m_replies.front();
        m_replies.pop_front();
    }
    std::vector<uint8_t> body = r.data;
    if (secure && r.sw == 0x9000) {
        // Next counter, data length, data, under the session key.
        uint16_t next = uint16_t((m_counter[0] << 8 | m_counter[1]) + 1);
        m_counter[0] = uint8_t(next >> 8);
        m_counter[1] = uint8_t(next);
        std::vector<uint8_t> block = {m_counter[0], m_counter[1], uint8_t(r.data.size() >> 8), uint8_t(r.data.size())};
        block.insert(block.end(), r.data.begin(), r.data.end());
        body.assign(block.size() + 16, 0);
        uint32_t bodyOut = 0;
        if (CSymKeyHandle::Encrypt(m_alg, MODE_CBC, m_sessionKey, nullptr, block.data(), uint32_t(block.size()),
                                   body.data(), &bodyOut) != 0)
            return VEMU_E_INVALID_ARG;
        body.resize(bodyOut);
    }
    std::vector<uint8_t> out = {uint8_t(r.sw >> 8), uint8_t(r.sw), uint8_t(body.size() >> 8), uint8_t(body.size())};
    out.insert(out.end(), body.begin(), body.end());
    if (*replyLen < out.size()) return VEMU_E_DOES_NOT_FIT;
    std::memcpy(reply, out.data(), out.size());
    *replyLen = DWORD(out.size());
    return 0;
}
