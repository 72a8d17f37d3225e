#pragma once
// One process-wide recursive lock around the UI library's shared state: the
// skin archive settings and its cached reader, the shared resource set and
// the resource catalog's maps. Windows run on more than one thread at times
// (a PIN dialog on a worker thread beside the main window), so every reader
// and writer of that state takes it.
namespace Veneer {

void LockUIShared();
void UnlockUIShared();

class CUISharedLock {
public:
    CUISharedLock() { LockUIShared(); }
    ~CUISharedLock() { UnlockUIShared(); }
    CUISharedLock(const CUISharedLock&) = delete;
    CUISharedLock& operator=(const CUISharedLock&) = delete;
};

}  // namespace Veneer
