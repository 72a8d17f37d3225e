#include "AppContext.h"

#include "TraceHelper.h"

#define TRACE_MODULE L"AppContext"

const wchar_t APP_QUIT_EVENT_NAME[] = L"{B58EDE1B-0F60-40C2-8641-FC17C86B3692}";

void CreateStartupEvents(AppEventSet& events) {
    TRACE_SCOPE(L"CreateStartupEvents");
    events.hQuit = CreateEventW(nullptr, TRUE, FALSE, APP_QUIT_EVENT_NAME);
    events.hRescan = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    events.hScanDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    events.hRenew = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    TRACE_STEP(L"Events created");
}

void CloseStartupEvents(AppEventSet& events) {
    HANDLE* handles[] = {&events.hQuit, &events.hRescan, &events.hScanDone, &events.hRenew};
    for (HANDLE* h : handles) {
        if (*h) CloseHandle(*h);
        *h = nullptr;
    }
}

namespace {
// A node of an entry's further list: only its link is known here.
struct ProfileNode {
    ProfileNode* pNext;
};
}  // namespace

HRESULT DestroyUSBKEYMgrProfile(USBKEYLibraryEntry** ppHead) {
    TRACE_SCOPE(L"DestroyUSBKEYMgrProfile");
    if (!ppHead) return S_OK;
    USBKEYLibraryEntry* entry = *ppHead;
    while (entry) {
        ProfileNode* node = static_cast<ProfileNode*>(entry->pReserved);
        while (node) {
            ProfileNode* next = node->pNext;
            delete[] reinterpret_cast<BYTE*>(node);
            node = next;
        }
        USBKEYLibraryEntry* next = entry->pNext;
        delete[] reinterpret_cast<BYTE*>(entry);
        entry = next;
    }
    *ppHead = nullptr;
    return S_OK;
}

PluggedKeyInfoCache::PluggedKeyInfoCache(USBKEYLibraryEntry** ppProfile)
    : m_now(), m_scanResult(S_OK), m_ppProfile(nullptr) {
    InitializeCriticalSection(&m_lock);
    Clear();
    m_ppProfile = ppProfile;
    GetSystemTimeAsFileTime(&m_now);
}

PluggedKeyInfoCache::~PluggedKeyInfoCache() {
    if (m_ppProfile) DestroyUSBKEYMgrProfile(m_ppProfile);
    Clear();
    DeleteCriticalSection(&m_lock);
}

void PluggedKeyInfoCache::Clear() {
    EnterCriticalSection(&m_lock);
    m_now = FILETIME();
    for (SKFUserCSPInfo& record : m_records) record.Clear();
    m_records.clear();
    m_scanResult = S_OK;
    m_ppProfile = nullptr;
    LeaveCriticalSection(&m_lock);
}

void PluggedKeyInfoCache::SetNow(const FILETIME& now) {
    EnterCriticalSection(&m_lock);
    m_now = now;
    LeaveCriticalSection(&m_lock);
}

FILETIME PluggedKeyInfoCache::GetNow() {
    EnterCriticalSection(&m_lock);
    FILETIME now = m_now;
    LeaveCriticalSection(&m_lock);
    return now;
}

void PluggedKeyInfoCache::Store(const std::vector<SKFUserCSPInfo>& records, HRESULT scanResult) {
    EnterCriticalSection(&m_lock);
    m_records = records;
    m_scanResult = scanResult;
    LeaveCriticalSection(&m_lock);
}

void PluggedKeyInfoCache::CopyOut(std::vector<SKFUserCSPInfo>& records, HRESULT* pScanResult) {
    EnterCriticalSection(&m_lock);
    records = m_records;
    if (pScanResult) *pScanResult = m_scanResult;
    LeaveCriticalSection(&m_lock);
}
