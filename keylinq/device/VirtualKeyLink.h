#pragma once
// The loopback connection to the virtual key process (test builds only):
// its address from the environment, a connected socket, whole-buffer I/O.
// Used by the test binding of the HID platform calls and by the tests'
// control client of the key.
#include <winsock2.h>

#include <cstddef>
#include <cstdint>

namespace VirtualKeyLink {

// The key's port: KEYLINQ_VIRTUAL_KEY ("127.0.0.1:port") or the file named by
// KEYLINQ_VIRTUAL_KEY_PORT_FILE (a host path is read through drive Z:); 0 if neither.
unsigned short KeyPort();
// A socket connected to the key on 127.0.0.1, or INVALID_SOCKET with the
// thread's last error ERROR_DEV_NOT_EXIST.
SOCKET Connect();
bool SendAll(SOCKET s, const uint8_t* p, size_t n);
bool ReceiveAll(SOCKET s, uint8_t* p, size_t n);

}  // namespace VirtualKeyLink
