#pragma once
// Fixture of the transport tests: keys of their own on any transport of the
// virtual key, the transport record, and readers without a key that are
// removed again when the test ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceTestSupport.h"
#include "TransportControl.h"
#include "VemuComm.h"

class TransportTest : public VirtualKeyTest {
protected:
    void TearDown() override {
        for (uint32_t id : readers) transports.RemoveReader(id);
        VirtualKeyTest::TearDown();
    }

    // A new SM key on the transport (a driver type); its device path (a
    // reader name for CCID) to `path`.
    uint32_t AddTransportKey(DWORD type, std::string* path, uint16_t pid = KEYLINQ_USB_PRODUCT_ID) {
        uint32_t id = 0;
        EXPECT_EQ(0u, transports.AddKey(KEYLINQ_USB_VENDOR_ID, pid, 19, uint8_t(type), &id));
        added.push_back(id);
        VirtualKeyState state;
        EXPECT_EQ(0u, control.State(id, state));
        if (path) *path = state.devicePath;
        return id;
    }
    uint32_t AddReader(const std::string& name, bool card, const std::vector<uint8_t>& atr) {
        uint32_t id = 0;
        EXPECT_EQ(0u, transports.AddReader(name, card, atr, &id));
        readers.push_back(id);
        return id;
    }
    std::vector<TransportUnit> Units(uint32_t id, uint8_t kind) {
        std::vector<TransportUnit> all, some;
        EXPECT_EQ(0u, transports.Units(id, all));
        for (const TransportUnit& u : all)
            if (u.kind == kind) some.push_back(u);
        return some;
    }
    // The paths that VEmuEnumDevice lists for the type and product id.
    std::vector<std::string> Listed(DWORD type, WORD pid = KEYLINQ_USB_PRODUCT_ID) {
        char list[4160];
        DWORD size = sizeof list;
        EXPECT_EQ(0u, VEmuEnumDevice(type, 0, pid, list, &size));
        return SplitPathList(list, size);
    }

    TransportControl transports{control};
    std::vector<uint32_t> readers;
};

// An open transport of a key, closed with the test.
struct OpenTransport {
    OpenTransport(DWORD type, const std::string& path) { result = VEmuOpenDevice(type, path.c_str(), &handle); }
    ~OpenTransport() {
        if (handle) VEmuCloseDevice(handle);
    }
    uint32_t Send(const std::vector<uint8_t>& frame, std::vector<uint8_t>& reply, DWORD room = 4096) {
        reply.assign(room, 0);
        DWORD length = room;
        uint32_t hr = VEmuSendCommand(handle, frame.data(), DWORD(frame.size()), reply.data(), &length, 180);
        reply.resize(hr == 0 ? length : room);
        return hr;
    }
    VEMU_HANDLE handle = nullptr;
    uint32_t result = 0;
};

// A plain command frame: B0 INS P1 P2, body length, Le, body.
inline std::vector<uint8_t> PlainFrame(uint8_t ins, uint8_t p1, uint16_t le, const std::vector<uint8_t>& body = {}) {
    std::vector<uint8_t> f = {0xB0, ins, p1, 0x00, uint8_t(body.size() >> 8), uint8_t(body.size()), uint8_t(le >> 8),
                              uint8_t(le)};
    f.insert(f.end(), body.begin(), body.end());
    return f;
}
