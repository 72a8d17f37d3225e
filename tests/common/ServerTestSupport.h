#pragma once
// The test server of the Windows network tests: its port (from the file
// that CTest's fixture names in TEST_SERVER_PORT_FILE), its control
// connection, and URLs on it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TestServerControl.h"

inline uint16_t TestServerPort() {
    const char* file = std::getenv("TEST_SERVER_PORT_FILE");
    return file ? testserver::ReadPortFile(file) : 0;
}

// "scheme://127.0.0.1:port/path" on the test server.
inline std::wstring ServerUrl(const wchar_t* scheme, uint16_t port, const wchar_t* path) {
    return std::wstring(scheme) + L"://127.0.0.1:" + std::to_wstring(port) + path;
}

// A loopback port on which nothing listens (bound, then released).
inline uint16_t ClosedLoopbackPort() {
    testserver::StartSockets();
    SOCKET probe = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    ::bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len);
    closesocket(probe);
    return ntohs(addr.sin_port);
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(0, port) << "no test server: TEST_SERVER_PORT_FILE";
        ASSERT_TRUE(control.connected());
        ASSERT_TRUE(control.Set("RESET"));
    }
    uint16_t port = TestServerPort();
    testserver::ServerControl control{port};
};
