// The loopback connection to the virtual key process (test builds only).
#include "VirtualKeyLink.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace VirtualKeyLink {

unsigned short KeyPort() {
    if (const char* address = std::getenv("KEYLINQ_VIRTUAL_KEY")) {
        const char* colon = std::strrchr(address, ':');
        return colon ? (unsigned short)std::strtoul(colon + 1, nullptr, 10) : 0;
    }
    const char* file = std::getenv("KEYLINQ_VIRTUAL_KEY_PORT_FILE");
    if (!file || !*file) return 0;
    std::string path = file;
    if (path[0] == '/') path = "Z:" + path;
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return 0;
    unsigned port = 0;
    if (std::fscanf(f, "%u", &port) != 1) port = 0;
    std::fclose(f);
    return (unsigned short)port;
}

SOCKET Connect() {
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
    unsigned short port = KeyPort();
    if (!port) {
        SetLastError(ERROR_DEV_NOT_EXIST);
        return INVALID_SOCKET;
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return s;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        closesocket(s);
        SetLastError(ERROR_DEV_NOT_EXIST);
        return INVALID_SOCKET;
    }
    return s;
}

bool SendAll(SOCKET s, const uint8_t* p, size_t n) {
    while (n) {
        int sent = send(s, reinterpret_cast<const char*>(p), int(n), 0);
        if (sent <= 0) return false;
        p += sent;
        n -= size_t(sent);
    }
    return true;
}

bool ReceiveAll(SOCKET s, uint8_t* p, size_t n) {
    while (n) {
        int got = recv(s, reinterpret_cast<char*>(p), int(n), 0);
        if (got <= 0) return false;
        p += got;
        n -= size_t(got);
    }
    return true;
}

}  // namespace VirtualKeyLink
