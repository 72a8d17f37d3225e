// The set of live handles, guarded by one lock: exports on several threads
// add, look up and remove handles concurrently. Each handle counts the
// export calls running on it, so that a close on another thread never
// frees an object that a call still uses.
#include "SKFHandles.h"

#include <windows.h>

#include <map>

namespace {

struct HandleEntry {
    SKFHandleKind kind;
    CDeviceContext* context;
    SKFHandles::Destroy destroy;  // null: the closing export destroys the object
    uint64_t serial;              // tells this entry from a later one at the same address
    uint32_t running;             // export calls under way
    bool closed;                  // closed, waiting for its running calls
};

class CHandleTable {
public:
    CHandleTable() { InitializeCriticalSection(&m_lock); }
    ~CHandleTable() { DeleteCriticalSection(&m_lock); }

    void Add(const void* handle, SKFHandleKind kind, CDeviceContext* context, SKFHandles::Destroy destroy) {
        Locked guard(m_lock);
        m_entries[handle] = HandleEntry{kind, context, destroy, ++m_serial, 0, false};
    }
    bool Remove(const void* handle, SKFHandleKind kind, bool* busy) {
        Locked guard(m_lock);
        if (busy) *busy = false;
        auto it = Live(handle, kind);
        if (it == m_entries.end()) return false;
        if (it->second.running > 0) {
            if (busy) *busy = true;
            return false;
        }
        m_entries.erase(it);
        return true;
    }
    bool Find(const void* handle, SKFHandleKind kind, CDeviceContext** context) {
        Locked guard(m_lock);
        auto it = Live(handle, kind);
        if (it == m_entries.end()) return false;
        if (context) *context = it->second.context;
        return true;
    }
    bool Begin(const void* handle, SKFHandleKind kind, CDeviceContext** context, uint64_t* ticket) {
        Locked guard(m_lock);
        auto it = Live(handle, kind);
        if (it == m_entries.end()) return false;
        ++it->second.running;
        if (context) *context = it->second.context;
        *ticket = it->second.serial;
        return true;
    }
    void End(uint64_t ticket) {
        const void* handle = nullptr;
        SKFHandles::Destroy destroy = nullptr;
        {
            Locked guard(m_lock);
            for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
                if (it->second.serial != ticket) continue;
                if (--it->second.running == 0 && it->second.closed) {
                    handle = it->first;
                    destroy = it->second.destroy;
                    m_entries.erase(it);
                }
                break;
            }
        }
        if (destroy) destroy(handle);
    }
    bool Close(const void* handle, SKFHandleKind kind) {
        SKFHandles::Destroy destroy = nullptr;
        {
            Locked guard(m_lock);
            auto it = Live(handle, kind);
            if (it == m_entries.end() || !it->second.destroy) return false;
            if (it->second.running == 0) {
                destroy = it->second.destroy;
                m_entries.erase(it);
            } else {
                it->second.closed = true;
            }
        }
        if (destroy) destroy(handle);
        return true;
    }
    uint32_t RunningCalls(const void* handle) {
        Locked guard(m_lock);
        auto it = m_entries.find(handle);
        return it == m_entries.end() ? 0 : it->second.running;
    }
    uint32_t Count(SKFHandleKind kind) {
        Locked guard(m_lock);
        uint32_t n = 0;
        for (const auto& entry : m_entries)
            if (entry.second.kind == kind && !entry.second.closed) ++n;
        return n;
    }

    void Visit(SKFHandleKind kind, void (*visit)(const void*, void*), void* arg) {
        Locked guard(m_lock);
        for (const auto& entry : m_entries)
            if (entry.second.kind == kind && !entry.second.closed) visit(entry.first, arg);
    }

private:
    std::map<const void*, HandleEntry>::iterator Live(const void* handle, SKFHandleKind kind) {
        auto it = m_entries.find(handle);
        if (it == m_entries.end() || it->second.kind != kind || it->second.closed) return m_entries.end();
        return it;
    }
    struct Locked {
        explicit Locked(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
        ~Locked() { LeaveCriticalSection(&m_cs); }
        CRITICAL_SECTION& m_cs;
    };
    CRITICAL_SECTION m_lock;
    std::map<const void*, HandleEntry> m_entries;
    uint64_t m_serial = 0;
};

CHandleTable& Table() {
    static CHandleTable table;
    return table;
}

}  // namespace

namespace SKFHandles {

void Add(const void* handle, SKFHandleKind kind, CDeviceContext* context) {
    Table().Add(handle, kind, context, nullptr);
}
void Add(const void* handle, SKFHandleKind kind, CDeviceContext* context, Destroy destroy) {
    Table().Add(handle, kind, context, destroy);
}
bool Begin(const void* handle, SKFHandleKind kind, CDeviceContext** context, uint64_t* ticket) {
    return Table().Begin(handle, kind, context, ticket);
}
void End(uint64_t ticket) { Table().End(ticket); }
bool Close(const void* handle, SKFHandleKind kind) { return Table().Close(handle, kind); }
bool Remove(const void* handle, SKFHandleKind kind, bool* busy) { return Table().Remove(handle, kind, busy); }
bool Find(const void* handle, SKFHandleKind kind, CDeviceContext** context) {
    return Table().Find(handle, kind, context);
}
uint32_t RunningCalls(const void* handle) { return Table().RunningCalls(handle); }
uint32_t Count(SKFHandleKind kind) { return Table().Count(kind); }
void Visit(SKFHandleKind kind, void (*visit)(const void*, void*), void* arg) { Table().Visit(kind, visit, arg); }

}  // namespace SKFHandles
