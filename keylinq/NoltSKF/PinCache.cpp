// The per-key PIN cache. The protection is SM4-CBC under the first 16
// bytes of a 32-byte random key (CreateProtectData / AcquireProtectData).
#include "PinCache.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <map>

#include "DialogObject.h"
#include "SoftCrypto.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DialogObject"

void CPlainPin::Assign(const char* pin, uint32_t len) {
    Clear();
    m_pin.assign(pin, len);
}

void CPlainPin::Clear() {
    if (!m_pin.empty()) SecureZeroMemory(&m_pin[0], m_pin.size());
    m_pin.clear();
}

namespace {

struct PinEntry {
    uint8_t key[32] = {};
    uint8_t* pbData = nullptr;  // the protected PIN, allocated by CreateProtectData
    uint32_t cbData = 0;

    void Wipe() {
        if (pbData) {
            SecureZeroMemory(pbData, cbData);
            free(pbData);
        }
        pbData = nullptr;
        cbData = 0;
        SecureZeroMemory(key, sizeof key);
    }
};

class CPinTable {
public:
    CPinTable() { InitializeCriticalSection(&m_lock); }
    ~CPinTable() {
        Clear();
        DeleteCriticalSection(&m_lock);
    }
    void Lock() { EnterCriticalSection(&m_lock); }
    void Unlock() { LeaveCriticalSection(&m_lock); }
    std::map<std::string, PinEntry>& Entries() { return m_entries; }
    void Clear() {
        Lock();
        for (auto& entry : m_entries) entry.second.Wipe();
        m_entries.clear();
        Unlock();
    }

private:
    CRITICAL_SECTION m_lock;
    std::map<std::string, PinEntry> m_entries;
};

CPinTable& Table() {
    static CPinTable table;
    return table;
}

struct TableLock {
    TableLock() { Table().Lock(); }
    ~TableLock() { Table().Unlock(); }
};

// Protects the PIN under a new key, outside the lock.
uint32_t Protect(const char* pszPin, uint32_t nPinLen, PinEntry& entry) {
    TRACE_NAME(L"PinCache::Protect");
    uint32_t hr = GenRand(sizeof entry.key, entry.key, 1);
    if (hr != 0) {
        TRACE_FAIL(L"GenRandomDataByTimeSeed", L"ALG_OPENSSL_OK != nRet", hr);
        entry.Wipe();
        return hr;
    }
    hr = CreateProtectData(reinterpret_cast<const uint8_t*>(pszPin), nPinLen, entry.key, sizeof entry.key,
                           &entry.pbData, &entry.cbData);
    if (hr != 0) {
        TRACE_FAIL(L"CreateProtectData for PIN", L"VM_ERR_OK != hResult", hr);
        entry.Wipe();
        return hr;
    }
    return 0;
}

uint32_t Put(const char* pszDeviceName, const char* pszPin, uint32_t nPinLen, bool onlyIfCached) {
    if (!pszDeviceName || !pszPin || nPinLen == 0) return 0x80070057u;
    if (onlyIfCached && !PinCache::Has(pszDeviceName)) return 0;
    PinEntry fresh;
    const uint32_t hr = Protect(pszPin, nPinLen, fresh);
    TableLock lock;
    auto& entries = Table().Entries();
    auto it = entries.find(pszDeviceName);
    const bool cached = it != entries.end();
    if (cached) {
        it->second.Wipe();
        entries.erase(it);
    }
    if (hr != 0) return hr;
    // A replacement whose entry was dropped meanwhile stays dropped.
    if (onlyIfCached && !cached) {
        fresh.Wipe();
        return 0;
    }
    entries[pszDeviceName] = fresh;
    return 0;
}

}  // namespace

namespace PinCache {

uint32_t Store(const char* pszDeviceName, const char* pszPin, uint32_t nPinLen) {
    return Put(pszDeviceName, pszPin, nPinLen, false);
}

uint32_t Replace(const char* pszDeviceName, const char* pszPin, uint32_t nPinLen) {
    return Put(pszDeviceName, pszPin, nPinLen, true);
}

uint32_t Recover(const char* pszDeviceName, CPlainPin& pin) {
    TRACE_NAME(L"PinCache::Recover");
    PinEntry copy;
    {
        TableLock lock;
        auto& entries = Table().Entries();
        auto it = pszDeviceName ? entries.find(pszDeviceName) : entries.end();
        if (it == entries.end() || it->second.cbData == 0) {
            TRACE_FAIL(L"CHECK g_stPIN", L"0 == g_stPIN.stEncryptedPIN.cbData", HRESULT(0x80006982u));
            return 0x80006982u;
        }
        memcpy(copy.key, it->second.key, sizeof copy.key);
        copy.pbData = static_cast<uint8_t*>(malloc(it->second.cbData));
        if (!copy.pbData) return 0x8007000Eu;
        memcpy(copy.pbData, it->second.pbData, it->second.cbData);
        copy.cbData = it->second.cbData;
    }
    uint8_t* plain = nullptr;
    uint32_t plainLen = 0;
    uint32_t hr = AcquireProtectData(copy.pbData, copy.cbData, copy.key, sizeof copy.key, &plain, &plainLen);
    copy.Wipe();
    if (hr != 0) {
        TRACE_FAIL(L"AcquireProtectData", L"VM_ERR_OK != hResult", hr);
        return hr;
    }
    pin.Assign(reinterpret_cast<const char*>(plain), plainLen);
    SecureZeroMemory(plain, plainLen);
    free(plain);
    return 0;
}

bool Has(const char* pszDeviceName) {
    if (!pszDeviceName) return false;
    TableLock lock;
    auto& entries = Table().Entries();
    auto it = entries.find(pszDeviceName);
    return it != entries.end() && it->second.cbData != 0;
}

void Drop(const char* pszDeviceName) {
    if (!pszDeviceName) return;
    TableLock lock;
    auto& entries = Table().Entries();
    auto it = entries.find(pszDeviceName);
    if (it == entries.end()) return;
    it->second.Wipe();
    entries.erase(it);
}

}  // namespace PinCache

void ClearPinCache() { Table().Clear(); }
