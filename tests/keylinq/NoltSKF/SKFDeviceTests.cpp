// The device exports against the virtual key: listing, connecting, device
// information, label, raw commands, the device mutex across threads and
// processes, and disconnecting.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "KeylinqLibrary.h"

namespace {

std::vector<std::string> SplitList(const char* list, ULONG size) {
    std::vector<std::string> names;
    for (ULONG i = 0; i < size && list[i];) {
        names.emplace_back(list + i);
        i += ULONG(names.back().size() + 1);
    }
    return names;
}

uint32_t BigEndian32(const BYTE* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | p[2] << 8 | p[3]; }

// The device-information command as the key's frame carries it: B0 04 00 00,
// no body, Le 288.
std::vector<BYTE> DeviceInfoCommand() { return {0xB0, 0x04, 0x00, 0x00, 0x00, 0x00, 0x01, 0x20}; }

class SKFDevice : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, k.missing);
        ULONG size = 0;
        ASSERT_EQ(SAR_OK, k.SKF_EnumDev(TRUE, nullptr, &size));
        std::vector<char> list(size);
        ASSERT_EQ(SAR_OK, k.SKF_EnumDev(TRUE, list.data(), &size));
        names = SplitList(list.data(), size);
        ASSERT_FALSE(names.empty()) << "no virtual key listed";
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"KEYLINQ_TEST_MUTEX_TIMEOUT_MS", nullptr);
        if (dev) {
            EXPECT_EQ(SAR_OK, k.SKF_DisConnectDev(dev));
        }
    }
    void Connect(size_t index = 0) {
        ASSERT_EQ(SAR_OK, k.SKF_ConnectDev(&names[index][0], &dev));
        ASSERT_NE(nullptr, dev);
    }
    std::vector<BYTE> Transmit(std::vector<BYTE> command, ULONG* rc) {
        std::vector<BYTE> reply(1024);
        ULONG len = ULONG(reply.size());
        *rc = k.SKF_Transmit(dev, command.data(), ULONG(command.size()), reply.data(), &len);
        reply.resize(*rc == SAR_OK ? len : 0);
        return reply;
    }

    KeylinqLibrary& k = Keylinq();
    std::vector<std::string> names;
    DEVHANDLE dev = nullptr;
};

TEST_F(SKFDevice, EnumDevAnswersSizeThenData) {
    ULONG size = 0;
    ASSERT_EQ(SAR_OK, k.SKF_EnumDev(TRUE, nullptr, &size));
    ULONG expected = 1;
    for (const std::string& name : names) expected += ULONG(name.size() + 1);
    EXPECT_EQ(expected, size);  // every path with its NUL, and the closing NUL

    std::vector<char> list(size, 'x');
    ULONG shortSize = size - 1;
    EXPECT_EQ(SAR_BUFFER_TOO_SMALL, k.SKF_EnumDev(TRUE, list.data(), &shortSize));
    EXPECT_EQ(size, shortSize);
    EXPECT_EQ('x', list[0]);
    for (const std::string& name : names) EXPECT_NE(std::string::npos, name.find("pid_f408")) << name;
}

TEST_F(SKFDevice, GetDevInfoMapsTheKeysRecordFieldByField) {
    Connect();
    ULONG rc = 0;
    const std::vector<BYTE> reply = Transmit(DeviceInfoCommand(), &rc);
    ASSERT_EQ(SAR_OK, rc);
    ASSERT_EQ(4u + 288u, reply.size());
    ASSERT_EQ(0x90, reply[0]);
    const BYTE* rec = reply.data() + 4;

    DEVINFO info;
    memset(&info, 0xCC, sizeof info);
    ASSERT_EQ(SAR_OK, k.SKF_GetDevInfo(dev, &info));
    EXPECT_EQ(rec[0], info.Version.major);
    EXPECT_EQ(rec[1], info.Version.minor);
    EXPECT_EQ(0, memcmp(rec + 4, info.Manufacturer, 64));
    EXPECT_EQ(0, memcmp(rec + 68, info.Issuer, 64));
    EXPECT_EQ(0, memcmp(rec + 132, info.Label, 32));
    EXPECT_EQ(0, memcmp(rec + 164, info.SerialNumber, 32));
    EXPECT_EQ(0, memcmp(rec + 196, &info.HWVersion, 2));
    EXPECT_EQ(0, memcmp(rec + 198, &info.FirmwareVersion, 2));
    EXPECT_EQ(BigEndian32(rec + 200), info.AlgSymCap);
    EXPECT_EQ(BigEndian32(rec + 204), info.AlgAsymCap);
    EXPECT_EQ(BigEndian32(rec + 208), info.AlgHashCap);
    EXPECT_EQ(BigEndian32(rec + 212), info.DevAuthAlgId);
    EXPECT_EQ(BigEndian32(rec + 216), info.TotalSpace);
    EXPECT_EQ(BigEndian32(rec + 220), info.FreeSpace);
    EXPECT_EQ(128u, info.MaxECCBufferSize);
    EXPECT_EQ(256u, info.MaxBufferSize);
    for (BYTE b : info.Reserved) ASSERT_EQ(0, b);
    // What the virtual key documents of itself.
    EXPECT_STREQ("Keylinq Virtual Key", std::string(info.Manufacturer, 64).c_str());
    EXPECT_EQ(64u * 1024u, info.TotalSpace);
    EXPECT_TRUE(info.DevAuthAlgId == 0x1301 || info.DevAuthAlgId == 0x0301) << std::hex << info.DevAuthAlgId;
}

TEST_F(SKFDevice, SetLabelTakes32CharactersAndRefuses33) {
    Connect();
    char label32[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    char label33[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456";
    ASSERT_EQ(SAR_OK, k.SKF_SetLabel(dev, label32));
    DEVINFO info = {};
    ASSERT_EQ(SAR_OK, k.SKF_GetDevInfo(dev, &info));
    EXPECT_EQ(0, memcmp(label32, info.Label, 32));
    EXPECT_EQ(SAR_INDATALENERR, k.SKF_SetLabel(dev, label33));
    char shortLabel[] = "demo";
    ASSERT_EQ(SAR_OK, k.SKF_SetLabel(dev, shortLabel));
    ASSERT_EQ(SAR_OK, k.SKF_GetDevInfo(dev, &info));
    EXPECT_EQ(std::string("demo") + std::string(28, '\0'), std::string(info.Label, 32));
}

TEST_F(SKFDevice, TransmitReturnsTheRawReplyWithItsStatusWord) {
    Connect();
    ULONG rc = 0;
    // An instruction the key does not know: its status word comes back as
    // data, not as a failure.
    const std::vector<BYTE> reply = Transmit({0xB0, 0x7E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, &rc);
    EXPECT_EQ(SAR_OK, rc);
    ASSERT_GE(reply.size(), 4u);
    EXPECT_EQ(0x6D, reply[0]);
    EXPECT_EQ(0x00, reply[1]);
}

TEST_F(SKFDevice, UnsupportedDeviceAuthenticationRunsTheFrameFirst) {
    Connect();
    BYTE key[16] = {};
    EXPECT_EQ(SAR_INVALIDPARAMERR, k.SKF_DevAuth(dev, key, 15));
    EXPECT_EQ(SAR_NOTSUPPORTYETERR, k.SKF_DevAuth(dev, key, 16));
    EXPECT_EQ(SAR_NOTSUPPORTYETERR, k.SKF_ChangeDevAuthKey(dev, key, 16));
    // A device handle is not an application handle.
    ULONG count = 0;
    char pin[] = "12345678";
    EXPECT_EQ(SAR_INVALIDHANDLEERR, k.SKF_VerifyPIN(dev, 1, pin, &count));
}

TEST_F(SKFDevice, LockDevMakesAnotherThreadWaitAndFail) {
    Connect();
    SetEnvironmentVariableW(L"KEYLINQ_TEST_MUTEX_TIMEOUT_MS", L"300");
    ASSERT_EQ(SAR_OK, k.SKF_LockDev(dev, 0xFFFFFFFF));
    DEVINFO info = {};
    EXPECT_EQ(SAR_OK, k.SKF_GetDevInfo(dev, &info));  // the owner passes at once

    ULONG other = 0;
    DWORD waited = 0;
    std::thread([&] {
        DEVINFO mine = {};
        const DWORD start = GetTickCount();
        other = k.SKF_GetDevInfo(dev, &mine);
        waited = GetTickCount() - start;
    }).join();
    EXPECT_EQ(SAR_TIMEOUTERR, other);
    EXPECT_GE(waited, 250u);

    EXPECT_EQ(SAR_OK, k.SKF_UnlockDev(dev));
    std::thread([&] {
        DEVINFO mine = {};
        other = k.SKF_GetDevInfo(dev, &mine);
    }).join();
    EXPECT_EQ(SAR_OK, other);
    EXPECT_EQ(SAR_OK, k.SKF_UnlockDev(dev));  // not owned: still SAR_OK
}

// The two sides of LockDevMakesAnotherProcessWait meet through two events
// named after the parent's process id.
std::wstring EventName(const wchar_t* what, DWORD parent) {
    return L"Local\\KeylinqSkfTest-" + std::wstring(what) + L"-" + std::to_wstring(parent);
}

// Run by LockDevMakesAnotherProcessWait in a process of its own: connects
// the key, lets the parent lock it, then finds it taken.
TEST(SKFDeviceChild, WaitsForTheKeyThatAnotherProcessLocked) {
    char name[512];
    char parent[16];
    if (!GetEnvironmentVariableA("KEYLINQ_SKF_CHILD_DEVICE", name, sizeof name) ||
        !GetEnvironmentVariableA("KEYLINQ_SKF_CHILD_PARENT", parent, sizeof parent))
        GTEST_SKIP();
    const DWORD parentId = strtoul(parent, nullptr, 10);
    HANDLE connected = OpenEventW(EVENT_MODIFY_STATE, FALSE, EventName(L"connected", parentId).c_str());
    HANDLE locked = OpenEventW(SYNCHRONIZE, FALSE, EventName(L"locked", parentId).c_str());
    ASSERT_TRUE(connected && locked);
    KeylinqLibrary& k = Keylinq();
    DEVHANDLE dev = nullptr;
    ASSERT_EQ(SAR_OK, k.SKF_ConnectDev(name, &dev));
    SetEvent(connected);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(locked, 30000));
    DEVINFO info = {};
    EXPECT_EQ(SAR_TIMEOUTERR, k.SKF_GetDevInfo(dev, &info));
    CloseHandle(connected);
    CloseHandle(locked);
}

TEST_F(SKFDevice, LockDevMakesAnotherProcessWait) {
    Connect();
    const DWORD self = GetCurrentProcessId();
    HANDLE connected = CreateEventW(nullptr, TRUE, FALSE, EventName(L"connected", self).c_str());
    HANDLE locked = CreateEventW(nullptr, TRUE, FALSE, EventName(L"locked", self).c_str());
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) + L"\" --gtest_filter=SKFDeviceChild.*";
    SetEnvironmentVariableA("KEYLINQ_SKF_CHILD_DEVICE", names[0].c_str());
    SetEnvironmentVariableA("KEYLINQ_SKF_CHILD_PARENT", std::to_string(self).c_str());
    SetEnvironmentVariableW(L"KEYLINQ_TEST_MUTEX_TIMEOUT_MS", L"300");
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    const BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableA("KEYLINQ_SKF_CHILD_DEVICE", nullptr);
    SetEnvironmentVariableA("KEYLINQ_SKF_CHILD_PARENT", nullptr);
    ASSERT_TRUE(started);
    const HANDLE childOrConnected[] = {pi.hProcess, connected};
    EXPECT_EQ(WAIT_OBJECT_0 + 1, WaitForMultipleObjects(2, childOrConnected, FALSE, 30000));
    ASSERT_EQ(SAR_OK, k.SKF_LockDev(dev, 0));
    SetEvent(locked);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 30000));
    DWORD exitCode = 1;
    GetExitCodeProcess(pi.hProcess, &exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(connected);
    CloseHandle(locked);
    EXPECT_EQ(0u, exitCode) << "the other process did not wait for the locked key";
    EXPECT_EQ(SAR_OK, k.SKF_UnlockDev(dev));
}

TEST_F(SKFDevice, DisconnectLeavesNoHandleBehind) {
    DWORD before = 0, after = 0;
    GetProcessHandleCount(GetCurrentProcess(), &before);
    Connect();
    DEVHANDLE closed = dev;
    ASSERT_EQ(SAR_OK, k.SKF_DisConnectDev(dev));
    dev = nullptr;
    GetProcessHandleCount(GetCurrentProcess(), &after);
    EXPECT_EQ(before, after);
    DEVINFO info = {};
    EXPECT_EQ(SAR_INVALIDHANDLEERR, k.SKF_GetDevInfo(closed, &info));
    EXPECT_EQ(SAR_INVALIDHANDLEERR, k.SKF_LockDev(closed, 0));
    EXPECT_EQ(SAR_INVALIDHANDLEERR, k.SKF_DisConnectDev(closed));
}

TEST_F(SKFDevice, ConnectRefusesAPathThatNamesNoKey) {
    char bogus[] = "\\\\?\\hid#vid_3a5c&pid_f408#7&ffff&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    char noPid[] = "no-such-device";
    DEVHANDLE h = nullptr;
    EXPECT_NE(SAR_OK, k.SKF_ConnectDev(bogus, &h));
    EXPECT_EQ(nullptr, h);
    EXPECT_EQ(SAR_NAMELENERR, k.SKF_ConnectDev(noPid, &h));  // no device name in the path
    EXPECT_EQ(nullptr, h);
}

TEST_F(SKFDevice, GetDevStateMatchesTheWholeName) {
    ULONG state = 7;
    EXPECT_EQ(SAR_OK, k.SKF_GetDevState(&names[0][0], &state));
    EXPECT_EQ(1u, state);
    std::string prefix = names[0].substr(0, names[0].size() / 2);
    EXPECT_EQ(SAR_OK, k.SKF_GetDevState(&prefix[0], &state));
    EXPECT_EQ(0u, state);
    char empty[] = "";
    state = 7;
    EXPECT_EQ(SAR_OK, k.SKF_GetDevState(empty, &state));
    EXPECT_EQ(0u, state);
}

}  // namespace
