#pragma once
// Fixture of the device tests: keys of their own on the running virtual
// key, unplugged again when the test ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VemuComm.h"
#include "VirtualKeyControl.h"

class VirtualKeyTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(control.connected()) << "no virtual key: KEYLINQ_VIRTUAL_KEY_PORT_FILE"; }
    void TearDown() override {
        for (uint32_t id : added) control.Unplug(id);
    }

    // A new key; its device path to `path`.
    uint32_t AddKey(uint8_t alg, std::string* path, uint16_t pid = KEYLINQ_USB_PRODUCT_ID,
                    uint16_t vid = KEYLINQ_USB_VENDOR_ID, uint16_t featureLength = 329) {
        uint32_t id = 0;
        EXPECT_EQ(0u, control.AddKey(vid, pid, alg, &id, featureLength));
        added.push_back(id);
        VirtualKeyState state;
        EXPECT_EQ(0u, control.State(id, state));
        if (path) *path = state.devicePath;
        return id;
    }

    std::vector<vk::RecordEntry> Record(uint32_t id) {
        std::vector<vk::RecordEntry> entries;
        EXPECT_EQ(0u, control.Record(id, entries));
        return entries;
    }

    VirtualKeyControl control;
    std::vector<uint32_t> added;
};

// Device paths of a list (each with its NUL, then a closing NUL).
inline std::vector<std::string> SplitPathList(const char* list, unsigned long size) {
    std::vector<std::string> paths;
    for (unsigned long i = 0; i + 1 < size;) {
        std::string path(list + i);
        paths.push_back(path);
        i += static_cast<unsigned long>(path.size() + 1);
    }
    return paths;
}
