// Replaces the global operator new and delete of the test program. While
// tracking, every pointer handed out is kept in a fixed table (no
// allocation of its own), so that a second delete of it is seen.
#include "AllocTracker.h"

#include <cstdlib>
#include <new>

namespace {
constexpr size_t SLOTS = 1 << 14;
void* g_live[SLOTS];
bool g_tracking = false;
AllocStats g_stats;
bool g_tableFull = false;

void Remember(void* p) {
    for (auto& slot : g_live)
        if (!slot) {
            slot = p;
            return;
        }
    g_tableFull = true;
}

bool Forget(void* p) {
    for (auto& slot : g_live)
        if (slot == p) {
            slot = nullptr;
            return true;
        }
    return false;
}

void* Allocate(size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (p && g_tracking) {
        ++g_stats.allocations;
        Remember(p);
    }
    return p;
}

void Release(void* p) {
    if (!p) return;
    if (g_tracking) {
        ++g_stats.frees;
        if (!Forget(p)) {
            ++g_stats.badFrees;
            return;  // never hand a pointer that is not ours back to the heap while tracking
        }
    }
    std::free(p);
}
}  // namespace

void StartAllocTracking() {
    for (auto& slot : g_live) slot = nullptr;
    g_stats = AllocStats{0, 0, 0};
    g_tableFull = false;
    g_tracking = true;
}

AllocStats StopAllocTracking() {
    g_tracking = false;
    return g_stats;
}

void* operator new(size_t n) {
    void* p = Allocate(n);
    if (!p) throw std::bad_alloc();
    return p;
}
void* operator new[](size_t n) {
    void* p = Allocate(n);
    if (!p) throw std::bad_alloc();
    return p;
}
void* operator new(size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
