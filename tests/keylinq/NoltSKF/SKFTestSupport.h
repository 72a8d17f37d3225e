#pragma once
// What the SKF tests share: the exports as an application reaches them
// (looked up in Keylinq.dll, or linked into the test program), a key of the
// virtual key opened as the application "ZELK", and the key's own record
// of the commands it received.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "SKFApi.h"
#include "VirtualKeyControl.h"

// The virtual key's default keys: 1 plays the SM algorithms, 2 RSA and
// triple DES.
constexpr uint32_t kSmKey = 1;
constexpr uint32_t kRsaKey = 2;
constexpr ULONG kUserPin = 1;
constexpr ULONG kAdminPin = 0;
#define DEFAULT_USER_PIN "12345678"

inline std::vector<std::string> SplitNameList(const char* list, ULONG size) {
    std::vector<std::string> names;
    for (ULONG i = 0; i < size && list[i];) {
        names.emplace_back(list + i);
        i += ULONG(names.back().size() + 1);
    }
    return names;
}

inline bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && _strnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// A virtual key with a fresh state of its own (PINs at their defaults, no
// files, no containers): tests that spend tries or fill the key take one.
inline uint32_t AddFreshKey(VirtualKeyControl& control, uint8_t alg = 19) {
    uint32_t id = 0;
    EXPECT_EQ(0u, control.AddKey(KEYLINQ_USB_VENDOR_ID, 0xF408, alg, &id));
    return id;
}

// One key connected and its application opened through the exports.
template <class Api>
class KeySession {
public:
    KeySession(Api& k, VirtualKeyControl& control, uint32_t keyId) : m_k(k), m_control(control), m_keyId(keyId) {}
    ~KeySession() { Close(); }
    KeySession(const KeySession&) = delete;
    KeySession& operator=(const KeySession&) = delete;

    // The key's name as SKF_EnumDev lists it.
    std::string DeviceName() {
        VirtualKeyState state;
        if (m_control.State(m_keyId, state) != 0) return std::string();
        ULONG size = 0;
        if (m_k.SKF_EnumDev(TRUE, nullptr, &size) != SAR_OK) return std::string();
        std::vector<char> list(size + 1);
        if (m_k.SKF_EnumDev(TRUE, list.data(), &size) != SAR_OK) return std::string();
        for (const std::string& name : SplitNameList(list.data(), size))
            if (SameText(name, state.devicePath)) return name;
        return std::string();
    }
    ULONG Connect() {
        std::string name = DeviceName();
        if (name.empty()) return SAR_FAIL;
        return m_k.SKF_ConnectDev(&name[0], &dev);
    }
    ULONG Open() {
        ULONG rc = Connect();
        if (rc != SAR_OK) return rc;
        char zelk[] = "ZELK";
        return m_k.SKF_OpenApplication(dev, zelk, &app);
    }
    void Close() {
        if (app) {
            EXPECT_EQ(SAR_OK, m_k.SKF_CloseApplication(app));
        }
        app = nullptr;
        if (dev) {
            EXPECT_EQ(SAR_OK, m_k.SKF_DisConnectDev(dev));
        }
        dev = nullptr;
    }
    ULONG Verify(const char* pin, ULONG type = kUserPin, ULONG* retry = nullptr) {
        ULONG left = 0xFFFF;
        std::string text(pin);
        return m_k.SKF_VerifyPIN(app, type, &text[0], retry ? retry : &left);
    }

    // The key's record since the last clear.
    void ClearRecord() { EXPECT_EQ(0u, m_control.ClearRecord(m_keyId)); }
    std::vector<vk::RecordEntry> Record() {
        std::vector<vk::RecordEntry> entries;
        EXPECT_EQ(0u, m_control.Record(m_keyId, entries));
        return entries;
    }
    size_t CountIns(uint8_t ins, int p1 = -1) {
        size_t n = 0;
        for (const vk::RecordEntry& e : Record())
            if (e.ins == ins && (p1 < 0 || e.p1 == p1)) ++n;
        return n;
    }
    uint32_t KeyId() const { return m_keyId; }

    DEVHANDLE dev = nullptr;
    HAPPLICATION app = nullptr;

private:
    Api& m_k;
    VirtualKeyControl& m_control;
    uint32_t m_keyId;
};

// Another thread holds the key's device mutex (SKF_LockDev) from the
// constructor until Release.
template <class Api>
class HeldDevice {
public:
    HeldDevice(Api& k, DEVHANDLE dev)
        : m_locked(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_release(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        m_holder = std::thread([this, &k, dev] {
            EXPECT_EQ(SAR_OK, k.SKF_LockDev(dev, 0xFFFFFFFF));
            SetEvent(m_locked);
            WaitForSingleObject(m_release, INFINITE);
            EXPECT_EQ(SAR_OK, k.SKF_UnlockDev(dev));
        });
        WaitForSingleObject(m_locked, INFINITE);
    }
    ~HeldDevice() {
        Release();
        CloseHandle(m_locked);
        CloseHandle(m_release);
    }
    HeldDevice(const HeldDevice&) = delete;
    HeldDevice& operator=(const HeldDevice&) = delete;
    void Release() {
        if (!m_holder.joinable()) return;
        SetEvent(m_release);
        m_holder.join();
    }

private:
    HANDLE m_locked;
    HANDLE m_release;
    std::thread m_holder;
};

// Instruction bytes of the key's commands that the tests look for.
constexpr uint8_t INS_PIN_STATUS = 0x14;   // B4 14 00 P2 (P2 1 also ends a wait for the button)
constexpr uint8_t INS_CHANGE_PIN = 0x16;
constexpr uint8_t INS_VERIFY_PIN = 0x18;
constexpr uint8_t INS_CERT_PIECE = 0x4C;
constexpr uint8_t INS_READ_FILE = 0x38;
