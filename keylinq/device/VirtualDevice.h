#pragma once
// What the test binding's pieces share (test builds only): requests to the
// virtual key over a connection, and the registry of the handles the binding
// gives out. A handle stays alive while a call on it runs: the registry
// hands out shared references, and closing only drops the registry's one.
#include <winsock2.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "protocol/VkProtocol.h"

namespace DevicePlatform {
namespace Virtual {

// One request and its reply. False with the thread's last error set (the
// key's error value) when the key refused or the connection failed.
bool Call(SOCKET s, const std::vector<uint8_t>& request, std::vector<uint8_t>& data);
// The same on a new connection that ends with the call (listing).
bool CallOnce(const std::vector<uint8_t>& request, std::vector<uint8_t>& data);

enum class HandleKind { File, Card, UsbInterface };

struct VirtualHandle {
    explicit VirtualHandle(HandleKind k) : kind(k) {}
    ~VirtualHandle();
    VirtualHandle(const VirtualHandle&) = delete;
    VirtualHandle& operator=(const VirtualHandle&) = delete;

    // Requests on this handle's connection, one at a time.
    bool Request(const std::vector<uint8_t>& request, std::vector<uint8_t>& data);

    const HandleKind kind;
    SOCKET socket = INVALID_SOCKET;        // File, Card: the connection it owns
    bool overlapped = false;               // File: opened with FILE_FLAG_OVERLAPPED
    DWORD protocol = 0;                    // Card: the active protocol
    std::shared_ptr<VirtualHandle> file;   // UsbInterface: the file handle it works on
    std::mutex io;
};

// Registers a handle; the value given out is its address.
void* AddHandle(const std::shared_ptr<VirtualHandle>& handle);
// The handle of that value and kind, or null (last error ERROR_INVALID_HANDLE).
std::shared_ptr<VirtualHandle> FindHandle(const void* value, HandleKind kind);
// Drops the registry's reference; false when there is no such handle.
bool RemoveHandle(const void* value, HandleKind kind);

// Handles of that kind still registered.
int CountHandles(HandleKind kind);

// A new connection bound by an open request (OP_OPEN or OP_CCID_CONNECT);
// INVALID_SOCKET with the last error set when it fails.
SOCKET OpenConnection(const std::vector<uint8_t>& openRequest, DWORD& error);

// The functions of the pseudo-modules WinSCard.dll and winusb.dll, by name.
struct VirtualFunction {
    const char* name;
    FARPROC address;
};
template <class F>
FARPROC AsProc(F f) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}
std::vector<VirtualFunction> WinSCardFunctions();
std::vector<VirtualFunction> WinUsbFunctions();

}  // namespace Virtual
}  // namespace DevicePlatform
