#pragma once
// The live SKF handles of the process with their kind. A handle is the
// address of the object behind it; the exports refuse any handle that is
// not in this set (closed, never issued, or of another kind) instead of
// using it.
#include <cstdint>

class CDeviceContext;

enum class SKFHandleKind : uint32_t {
    Device = 1,       // DEVHANDLE
    Application = 2,  // HAPPLICATION
    Container = 3,    // HCONTAINER
    Key = 4,          // HANDLE of a key, hash, MAC or agreement object
};

namespace SKFHandles {

// Adds a handle of the kind whose device work runs under the context's mutex.
void Add(const void* handle, SKFHandleKind kind, CDeviceContext* context);
// Removes the handle; false when it was not live with that kind.
bool Remove(const void* handle, SKFHandleKind kind);
// True when the handle is live with that kind; its context to `context`.
bool Find(const void* handle, SKFHandleKind kind, CDeviceContext** context);
// Number of live handles of the kind.
uint32_t Count(SKFHandleKind kind);
// Calls visit(handle, arg) for each live handle of the kind, under the
// set's lock: a handle that is being removed is either visited before its
// removal or not at all.
void Visit(SKFHandleKind kind, void (*visit)(const void* handle, void* arg), void* arg);

}  // namespace SKFHandles
