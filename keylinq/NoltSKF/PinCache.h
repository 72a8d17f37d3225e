#pragma once
// The cached user PIN of each connected key, under the key's device name.
// A PIN verified on one key is only ever tried again on that key: trying it
// on another would cost that key's tries and hand it the PIN. Each entry
// holds the PIN SM4-protected under a random key drawn anew at every
// caching; the plain PIN lives only in short-lived buffers that are wiped.
// One lock guards the entries, so exports for two keys on two threads
// never meet in an unlocked cache.
#include <cstdint>
#include <string>

// A PIN in the clear, wiped when it goes.
class CPlainPin {
public:
    CPlainPin() = default;
    ~CPlainPin() { Clear(); }
    CPlainPin(const CPlainPin&) = delete;
    CPlainPin& operator=(const CPlainPin&) = delete;
    void Assign(const char* pin, uint32_t len);
    void Clear();
    const char* Data() const { return m_pin.c_str(); }
    uint32_t Length() const { return uint32_t(m_pin.size()); }

private:
    std::string m_pin;
};

namespace PinCache {

// Replaces the key's entry with the PIN. On failure the key has no entry.
uint32_t Store(const char* pszDeviceName, const char* pszPin, uint32_t nPinLen);
// Replaces the key's entry only when it has one (a changed PIN).
uint32_t Replace(const char* pszDeviceName, const char* pszPin, uint32_t nPinLen);
// The key's PIN; 0x80006982 (not logged in) when it has none.
uint32_t Recover(const char* pszDeviceName, CPlainPin& pin);
bool Has(const char* pszDeviceName);
// Wipes and removes the key's entry.
void Drop(const char* pszDeviceName);

}  // namespace PinCache

// Wipes and removes every entry: at load and at unload.
void ClearPinCache();
