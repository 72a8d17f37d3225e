#pragma once
// Fixture of the key, certificate and confirmation tests: a key of its own
// (SM algorithms) under a platform operator, connected, with the user PIN
// counted as verified and the authorisation code in the device handle, and
// one container "C1" read into the operator's cache.
#include <cstring>
#include <string>
#include <vector>

#include "DeviceContext.h"
#include "DeviceTestSupport.h"
#include "APDUKey.h"
#include "NoltOperator.h"
#include "KeyReference.h"


class KeyOperatorTest : public VirtualKeyTest {
protected:
    void SetUp() override {
        VirtualKeyTest::SetUp();
        keyId = AddKey(19, &path);
        context = new CQuibContext();
        ASSERT_EQ(0u, context->Open(VEMU_DRIVER_HID, path.c_str()));
        op = new CNoltOperator(context);
        ASSERT_EQ(0u, op->Initialize(0));
        VerifyUserPin();
        ASSERT_EQ(0u, op->CreateContainer("C1"));
        ASSERT_EQ(0u, op->GetContainerInfo("C1", 1, nullptr, &exchangeFID, nullptr, 0));
        Clear();
    }
    void TearDown() override {
        if (op && op->Finalize() != 0) delete context;
        delete op;
        VirtualKeyTest::TearDown();
    }
    // The key counts the user PIN as verified; its code goes to the handle.
    void VerifyUserPin() {
        VM_DEVICE_HANDLE* record = context->GetDeviceHandle();
        ASSERT_EQ(0u, control.SetPinVerified(keyId, 1, record->m_abyAuthCode));
        record->m_nAuthCodeLen = 16;
    }
    std::vector<vk::RecordEntry> Entries() { return Record(keyId); }
    // The commands the key read since the last clear, as CLA INS P1.
    std::vector<uint32_t> Sent() {
        std::vector<uint32_t> sent;
        for (const vk::RecordEntry& e : Entries()) sent.push_back(uint32_t(e.cla) << 16 | e.ins << 8 | e.p1);
        return sent;
    }
    size_t Count(uint8_t ins) {
        size_t n = 0;
        for (const vk::RecordEntry& e : Entries()) n += e.ins == ins;
        return n;
    }
    void Clear() { ASSERT_EQ(0u, control.ClearRecord(keyId)); }

    uint32_t keyId = 0;
    std::string path;
    CDeviceContext* context = nullptr;
    CNoltOperator* op = nullptr;
    uint16_t exchangeFID = 0;
};


