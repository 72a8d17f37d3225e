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

// Destroys the object behind a closed handle.
typedef void (*Destroy)(const void* handle);

// Adds a handle of the kind whose device work runs under the context's mutex.
void Add(const void* handle, SKFHandleKind kind, CDeviceContext* context);
// The same for a handle that is closed with Close: destroy ends its object
// once the handle is closed and no export call runs on it.
void Add(const void* handle, SKFHandleKind kind, CDeviceContext* context, Destroy destroy);

// A running export call on a live handle of the kind: true with its context
// and a ticket for End; the handle's object stays alive until End.
bool Begin(const void* handle, SKFHandleKind kind, CDeviceContext** context, uint64_t* ticket);
// Ends the call of that ticket; a handle closed meanwhile has its object
// destroyed by the last call that ends.
void End(uint64_t ticket);
// Closes a handle added with a destroy function: out of the live set at
// once (no later call finds it), its object destroyed now or when its last
// running call ends. False when it was not live with that kind.
bool Close(const void* handle, SKFHandleKind kind);
// Removes the handle; false when it was not live with that kind, or when
// an export call still runs on it (*busy then true).
bool Remove(const void* handle, SKFHandleKind kind, bool* busy = nullptr);
// True when the handle is live with that kind; its context to `context`.
bool Find(const void* handle, SKFHandleKind kind, CDeviceContext** context);
// Export calls running on a handle (a closed one included until its end).
uint32_t RunningCalls(const void* handle);
// Number of live handles of the kind.
uint32_t Count(SKFHandleKind kind);
// Calls visit(handle, arg) for each live handle of the kind, under the
// set's lock: a handle that is being removed is either visited before its
// removal or not at all.
void Visit(SKFHandleKind kind, void (*visit)(const void* handle, void* arg), void* arg);

}  // namespace SKFHandles
