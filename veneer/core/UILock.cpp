#include "UILock.h"

#include <windows.h>

namespace Veneer {
namespace {
struct SharedLock {
    CRITICAL_SECTION section;
    SharedLock() { InitializeCriticalSection(&section); }
    ~SharedLock() { DeleteCriticalSection(&section); }
};
SharedLock& Instance() {
    static SharedLock lock;
    return lock;
}
// Built before any thread of the program starts.
SharedLock& g_early = Instance();
}  // namespace

void LockUIShared() { EnterCriticalSection(&Instance().section); }
void UnlockUIShared() { LeaveCriticalSection(&Instance().section); }

}  // namespace Veneer
