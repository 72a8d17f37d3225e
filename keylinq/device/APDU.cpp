#include "APDU.h"

#include <cstring>
#include <new>

#include "DeviceResult.h"
#include "SymKeyHandle.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"APDU"

namespace {

constexpr uint32_t MODE_CBC = 2;
// The most that padding adds to a protected block.
constexpr uint32_t MAX_PADDING = 16;

// Command data carries keys, authentication codes and plaintext: the data
// buffer is cleared before it is freed. The bytes behind Lc are kept zero
// (a fresh buffer is zeroed, a reused one cleared behind the new data), so
// clearing Lc bytes clears the whole buffer.
void ClearAndFree(uint8_t*& data, uint16_t length) {
    if (data) SecureZeroMemory(data, length);
    delete[] data;
    data = nullptr;
}

}  // namespace

CAPDU::CAPDU(VM_DEVICE_HANDLE* pDeviceHandle, uint32_t nTimeOut)
    : m_pDeviceHandle(pDeviceHandle), m_nTimeOut(nTimeOut), CLA(0), INS(0), P1(0), P2(0), Lc(0), Le(0),
      m_pbyData(nullptr) {}

CAPDU::~CAPDU() { ClearAndFree(m_pbyData, Lc); }

uint32_t CAPDU::SetAPDUHeader(uint8_t byCLA, uint8_t byINS, uint8_t byP1, uint8_t byP2) {
    CLA = byCLA;
    INS = byINS;
    P1 = byP1;
    P2 = byP2;
    ClearAndFree(m_pbyData, Lc);
    Lc = 0;
    Le = 0;
    return 0;
}

uint32_t CAPDU::SetAPDUData(const uint8_t* pbyData, uint16_t nLen) {
    TRACE_NAME(L"CAPDU::SetAPDUData");
    uint32_t hr = 0;
    if (!m_pbyData || Lc < nLen) {
        ClearAndFree(m_pbyData, Lc);
        m_pbyData = new (std::nothrow) uint8_t[nLen ? nLen : 1]();
        Lc = 0;
        CHECK_GOTO(!m_pbyData, L"New buffer", APDU_E_OUT_OF_MEMORY);
    } else if (Lc > nLen) {
        // Reused for shorter data: nothing of the earlier command stays behind.
        SecureZeroMemory(m_pbyData + nLen, Lc - nLen);
    }
    if (nLen) std::memcpy(m_pbyData, pbyData, nLen);
    Lc = nLen;
exit:
    return hr;
}

uint32_t CAPDU::GetCryptByte(const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CAPDU::GetCryptByte");
    uint32_t hr = 0;
    uint8_t work[APDU_BUFFER_LEN];
    uint32_t outLen = 0;
    hr = CSymKeyHandle::Encrypt(m_pDeviceHandle->m_byAlgID, MODE_CBC, m_pDeviceHandle->m_abySessionKey, nullptr,
                                pbyIn, nInLen, work, &outLen);
    if (hr != 0) {
        TRACE_FAIL(L"CSymKeyHandle::Encrypt", L"VM_ERR_OK != hResult", hr);
        return hr;
    }
    TRACE_STEP(L"CSymKeyHandle::Encrypt");
    std::memcpy(pbyOut, work, outLen);
    *pnOutLen = outLen;
    return 0;
}

uint32_t CAPDU::GetPlainByte(const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CAPDU::GetPlainByte");
    uint32_t hr = 0;
    uint8_t work[APDU_BUFFER_LEN];
    uint32_t outLen = 0;
    hr = CSymKeyHandle::Decrypt(m_pDeviceHandle->m_byAlgID, MODE_CBC, m_pDeviceHandle->m_abySessionKey, nullptr,
                                pbyIn, nInLen, work, &outLen);
    if (hr != 0) {
        TRACE_FAIL(L"CSymKeyHandle::Decrypt", L"VM_ERR_OK != hResult", hr);
    } else {
        TRACE_STEP(L"CSymKeyHandle::Decrypt");
        std::memcpy(pbyOut, work, outLen);
        *pnOutLen = outLen;
    }
    // The plaintext of a reply (authentication codes, decrypted data).
    SecureZeroMemory(work, sizeof work);
    return hr;
}

uint32_t CAPDU::SendAPDUCmd(uint8_t* pbyRecv, uint32_t* pnRecvLen) {
    TRACE_NAME(L"CAPDU::SendAPDUCmd");
    uint32_t hr = 0;
    uint8_t frame[APDU_BUFFER_LEN];
    uint8_t block[APDU_BUFFER_LEN];  // the protected block, later the reply as received
    uint8_t body[APDU_BUFFER_LEN];   // the body, later the reply as read
    uint32_t bodyLen = 0;
    DWORD replyLen = APDU_BUFFER_LEN;
    const uint8_t* reply = block;
    uint32_t readLen = 0;
    uint32_t sw = 0;
    uint32_t dataLen = 0;
    const bool secure = CLA == APDU_CLA_SECURE;

    if (!secure) {
        // Plain command: the body is the data.
        CHECK_GOTO(Lc > APDU_BUFFER_LEN - APDU_SEND_HEADER_LEN, L"CHECK Lc", APDU_E_TOO_LONG);
        if (Lc) std::memcpy(body, m_pbyData, Lc);
        bodyLen = Lc;
    } else {
        if (m_pDeviceHandle->m_bySecMode != APDU_SEC_ENC) {
            hr = APDU_E_NO_SESSION;
            TRACE_FAIL(L"CHECK SecurityMode", L"APDU_SEC_ENC != secmod", hr);
            goto exit;
        }
        // Protected block: counter as stored, Lc big-endian, data.
        CHECK_GOTO(4u + Lc + MAX_PADDING > APDU_BUFFER_LEN, L"CHECK Lc", APDU_E_TOO_LONG);
        block[0] = m_pDeviceHandle->m_abyCounter[0];
        block[1] = m_pDeviceHandle->m_abyCounter[1];
        block[2] = uint8_t(Lc >> 8);
        block[3] = uint8_t(Lc);
        if (Lc) std::memcpy(block + 4, m_pbyData, Lc);
        hr = GetCryptByte(block, 4u + Lc, body, &bodyLen);
        if (hr != 0) {
            TRACE_FAIL(L"GetCryptByte", L"VM_ERR_OK != hResult", hr);
            goto exit;
        }
        TRACE_STEP(L"GetCryptByte");
        CHECK_GOTO(bodyLen > APDU_BUFFER_LEN - APDU_SEND_HEADER_LEN, L"CHECK body length", APDU_E_TOO_LONG);
    }

    frame[0] = secure ? APDU_CLA_SECURE : APDU_CLA_PLAIN;
    frame[1] = INS;
    frame[2] = P1;
    frame[3] = P2;
    frame[4] = uint8_t(bodyLen >> 8);
    frame[5] = uint8_t(bodyLen);
    frame[6] = uint8_t(Le >> 8);
    frame[7] = uint8_t(Le);
    std::memcpy(frame + APDU_SEND_HEADER_LEN, body, bodyLen);

    hr = VEmuSendCommand(m_pDeviceHandle->m_pTransport, frame, bodyLen + APDU_SEND_HEADER_LEN, block, &replyLen,
                         m_nTimeOut);
    if (hr != 0) {
        hr = FoldResult(hr);
        TRACE_FAIL(L"VEmuSendCommand", L"VM_ERR_OK != hResult", hr);
        goto exit;
    }
    TRACE_STEP(L"VEmuSendCommand");
    CHECK_GOTO(replyLen < APDU_RECV_HEADER_LEN, L"CHECK reply length", APDU_E_BAD_REPLY);

    readLen = replyLen;
    if (secure && replyLen > APDU_RECV_HEADER_LEN) {
        // The body is the protected reply: next counter, two bytes, data.
        uint32_t plainLen = 0;
        hr = GetPlainByte(block + APDU_RECV_HEADER_LEN, replyLen - APDU_RECV_HEADER_LEN, body, &plainLen);
        if (hr != 0) {
            TRACE_FAIL(L"GetPlainByte", L"VM_ERR_OK != hResult", hr);
            goto exit;
        }
        TRACE_STEP(L"GetPlainByte");
        // Shorter than its own header: refused, and the counter stays.
        CHECK_GOTO(plainLen < APDU_RECV_HEADER_LEN, L"CHECK plain length", APDU_E_BAD_REPLY);
        m_pDeviceHandle->m_abyCounter[0] = body[0];
        m_pDeviceHandle->m_abyCounter[1] = body[1];
        body[0] = block[0];
        body[1] = block[1];
        reply = body;
        readLen = plainLen;
    }

    sw = uint32_t(reply[0]) << 8 | reply[1];
    if (sw != 0x9000) {
        hr = APDU_STATUS_BASE + sw;
        TRACE_FAIL(L"CHECK SW1SW2", L"VM_ERR_OK != hResult", hr);
        goto exit;
    }
    if (pbyRecv && pnRecvLen) {
        dataLen = readLen - APDU_RECV_HEADER_LEN;
        if (*pnRecvLen < dataLen) {
            hr = APDU_E_DOES_NOT_FIT;
            TRACE_FAIL(L"CHECK *pnRecvLen SIZE", L"*pnRecvLen < datalen - APDU_RECV_HEADER_LEN", hr);
            goto exit;
        }
        std::memcpy(pbyRecv, reply + APDU_RECV_HEADER_LEN, dataLen);
        *pnRecvLen = dataLen;
    }
exit:
    // The work areas held the command data and the reply in the clear.
    SecureZeroMemory(frame, sizeof frame);
    SecureZeroMemory(block, sizeof block);
    SecureZeroMemory(body, sizeof body);
    return hr;
}
