#pragma once
// Helpers of the container, key and cryptographic command builders: the
// fixed-capacity working buffer in which a command's data is assembled, and
// the step macros that trace each step and return its failure.
//
// The working buffer never grows past its capacity: a put that would not fit
// is dropped and marks the buffer as overflowed, and the builder refuses the
// command (APDU_E_TOO_LONG) before anything is sent.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "APDU.h"
#include "TraceHelper.h"

template <size_t N>
class CommandData {
public:
    CommandData() = default;
    CommandData(const CommandData&) = delete;
    CommandData& operator=(const CommandData&) = delete;
    // The data may hold authentication codes, keys and plaintext.
    ~CommandData() { SecureZeroMemory(m_buf, N); }

    CommandData& u8(uint8_t v) { return bytes(&v, 1); }
    CommandData& u16(uint16_t v) {
        const uint8_t b[2] = {uint8_t(v >> 8), uint8_t(v)};
        return bytes(b, 2);
    }
    CommandData& u32(uint32_t v) {
        const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
        return bytes(b, 4);
    }
    CommandData& bytes(const uint8_t* p, size_t n) {
        if (m_overflow || n > N - m_len || (n && !p)) {
            m_overflow = true;
            return *this;
        }
        if (n) std::memcpy(m_buf + m_len, p, n);
        m_len += n;
        return *this;
    }
    bool fits() const { return !m_overflow; }
    const uint8_t* data() const { return m_buf; }
    uint16_t size() const { return uint16_t(m_len); }

private:
    uint8_t m_buf[N] = {};
    size_t m_len = 0;
    bool m_overflow = false;
};

// The prefix of private-key commands: auth code (16), 0x0000, key file id.
template <size_t N>
inline CommandData<N>& PutKeyPrefix(CommandData<N>& data, const uint8_t* pbyAuthCode, uint16_t nKeyFID) {
    return data.bytes(pbyAuthCode, AUTH_CODE_LENGTH).u16(0).u16(nKeyFID);
}
constexpr uint32_t KEY_PREFIX_LEN = AUTH_CODE_LENGTH + 4;

// Runs one step of a builder (inside a function that used TRACE_NAME): a
// failure is traced with the step's name and returned, a success traced.
#define APDU_STEP_REASON(step, expr, reason)                \
    do {                                                    \
        uint32_t stepResult_ = (expr);                      \
        if (stepResult_ != 0) {                             \
            TRACE_FAIL(step, reason, stepResult_);          \
            return stepResult_;                             \
        }                                                   \
        TRACE_STEP(step);                                   \
    } while (0)
#define APDU_STEP(step, expr) APDU_STEP_REASON(step, expr, L"VM_ERR_OK != hResult")

// An argument check: traced with the given reason and returned.
#define APDU_CHECK(cond, step, reason, code) \
    do {                                     \
        if (cond) {                          \
            TRACE_FAIL(step, reason, code);  \
            return code;                     \
        }                                    \
    } while (0)

// The command's data did not fit its working buffer.
#define APDU_CHECK_FITS(data) APDU_CHECK(!(data).fits(), L"CHECK data length", L"length > capacity", APDU_E_TOO_LONG)

constexpr uint32_t APDU_E_BAD_ALGID = 0x80070114u;  // an algorithm id the command does not know
