// The set of live handles, guarded by one lock: exports on several threads
// add, look up and remove handles concurrently.
#include "SKFHandles.h"

#include <windows.h>

#include <map>

namespace {

struct HandleEntry {
    SKFHandleKind kind;
    CDeviceContext* context;
};

class CHandleTable {
public:
    CHandleTable() { InitializeCriticalSection(&m_lock); }
    ~CHandleTable() { DeleteCriticalSection(&m_lock); }

    void Add(const void* handle, SKFHandleKind kind, CDeviceContext* context) {
        Locked guard(m_lock);
        m_entries[handle] = HandleEntry{kind, context};
    }
    bool Remove(const void* handle, SKFHandleKind kind) {
        Locked guard(m_lock);
        auto it = m_entries.find(handle);
        if (it == m_entries.end() || it->second.kind != kind) return false;
        m_entries.erase(it);
        return true;
    }
    bool Find(const void* handle, SKFHandleKind kind, CDeviceContext** context) {
        Locked guard(m_lock);
        auto it = m_entries.find(handle);
        if (it == m_entries.end() || it->second.kind != kind) return false;
        if (context) *context = it->second.context;
        return true;
    }
    uint32_t Count(SKFHandleKind kind) {
        Locked guard(m_lock);
        uint32_t n = 0;
        for (const auto& entry : m_entries)
            if (entry.second.kind == kind) ++n;
        return n;
    }

    void Visit(SKFHandleKind kind, void (*visit)(const void*, void*), void* arg) {
        Locked guard(m_lock);
        for (const auto& entry : m_entries)
            if (entry.second.kind == kind) visit(entry.first, arg);
    }

private:
    struct Locked {
        explicit Locked(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
        ~Locked() { LeaveCriticalSection(&m_cs); }
        CRITICAL_SECTION& m_cs;
    };
    CRITICAL_SECTION m_lock;
    std::map<const void*, HandleEntry> m_entries;
};

CHandleTable& Table() {
    static CHandleTable table;
    return table;
}

}  // namespace

namespace SKFHandles {

void Add(const void* handle, SKFHandleKind kind, CDeviceContext* context) { Table().Add(handle, kind, context); }
bool Remove(const void* handle, SKFHandleKind kind) { return Table().Remove(handle, kind); }
bool Find(const void* handle, SKFHandleKind kind, CDeviceContext** context) {
    return Table().Find(handle, kind, context);
}
uint32_t Count(SKFHandleKind kind) { return Table().Count(kind); }
void Visit(SKFHandleKind kind, void (*visit)(const void*, void*), void* arg) { Table().Visit(kind, visit, arg); }

}  // namespace SKFHandles
