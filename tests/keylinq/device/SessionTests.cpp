// A whole connection through the HID transport: the key is found by its
// vendor and product, opened, authenticated, given a session key, and
// driven under secure messaging; a second process then uses the same key.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "DeviceTestSupport.h"
#include "KeySession.h"

namespace {

class SessionTest : public VirtualKeyTest, public ::testing::WithParamInterface<uint8_t> {};

TEST_P(SessionTest, FindsOpensAuthenticatesAndTalksUnderSecureMessaging) {
    std::string path;
    uint32_t id = AddKey(GetParam(), &path);
    char list[4160];
    DWORD size = sizeof list;
    ASSERT_EQ(0u, VEmuEnumDevice(VEMU_DRIVER_HID, KEYLINQ_USB_VENDOR_ID, KEYLINQ_USB_PRODUCT_ID, list, &size));
    std::vector<std::string> paths = SplitPathList(list, size);
    ASSERT_NE(paths.end(), std::find(paths.begin(), paths.end(), path));

    KeySession session;
    ASSERT_EQ(0u, session.Open(path));
    ASSERT_EQ(0u, session.ReadAlgorithm());
    EXPECT_EQ(GetParam(), session.record.m_byAlgID);
    ASSERT_EQ(0u, session.ExternalAuth());
    ASSERT_EQ(0u, session.SetSessionKey());
    VirtualKeyState state;
    ASSERT_EQ(0u, control.State(id, state));
    ASSERT_TRUE(state.session);
    EXPECT_EQ(0, std::memcmp(state.sessionKey, session.record.m_abySessionKey, 16));
    ASSERT_EQ(0u, control.ClearRecord(id));

    uint8_t first[2] = {session.record.m_abySessionKey[0], session.record.m_abySessionKey[1]};
    EXPECT_EQ(0, std::memcmp(first, session.record.m_abyCounter, 2)) << "the first counter is R's first two bytes";
    // P2 is the PIN type: the administrator's (10 tries), the user's (6).
    for (uint8_t i = 0; i < 3; ++i) {
        uint8_t status[4] = {};
        ASSERT_EQ(0u, session.PinStatus(status, i % 2)) << int(i);
        EXPECT_EQ(0, std::memcmp(status, i % 2 ? "\x06\x06\x01\x00" : "\x0A\x0A\x01\x00", 4));
    }
    // The key's record: the three commands as it decrypted them, each
    // with the counter that the reply before it handed out.
    std::vector<vk::RecordEntry> record = Record(id);
    ASSERT_EQ(3u, record.size());
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(record[i].secure);
        EXPECT_EQ(0x14, record[i].ins);
        EXPECT_EQ(i % 2, record[i].p2);
        EXPECT_EQ((std::vector<uint8_t>{0, 0}), record[i].data);
    }
    EXPECT_EQ(0, std::memcmp(first, record[0].counter, 2));
    EXPECT_NE(0, std::memcmp(record[0].counter, record[1].counter, 2));

    // A key that lost the session refuses the probe; a new session key cures it.
    ASSERT_EQ(0u, control.DropSession(id));
    uint8_t status[4];
    EXPECT_EQ(0x80006982u, session.PinStatus(status));
    ASSERT_EQ(0u, session.SetSessionKey());
    EXPECT_EQ(0u, session.PinStatus(status));
}

INSTANTIATE_TEST_SUITE_P(Algorithms, SessionTest, ::testing::Values(uint8_t(19), uint8_t(3)),
                         [](const ::testing::TestParamInfo<uint8_t>& info) {
                             return info.param == 19 ? std::string("SM") : std::string("RSA");
                         });

// Runs this program again with a filter for the child's half.
DWORD RunChild(const std::string& path) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    SetEnvironmentVariableA("KEYLINQ_TEST_CHILD_KEY", path.c_str());
    std::string command = std::string("\"") + self + "\" --gtest_filter=TwoProcesses.ChildUsesTheKey";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    DWORD code = 0xFFFFFFFF;
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, 60000);
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    SetEnvironmentVariableA("KEYLINQ_TEST_CHILD_KEY", nullptr);
    return code;
}

class TwoProcesses : public VirtualKeyTest {};

TEST_F(TwoProcesses, UseOneKeyInTurn) {
    std::string path;
    uint32_t id = AddKey(19, &path);
    {
        KeySession first;
        ASSERT_EQ(0u, first.Open(path));
        ASSERT_EQ(0u, first.Connect());
        uint8_t status[4];
        ASSERT_EQ(0u, first.PinStatus(status));

        // The child sets up its own session on the same key and uses it.
        ASSERT_EQ(0u, RunChild(path));
        VirtualKeyState state;
        ASSERT_EQ(0u, control.State(id, state));
        EXPECT_NE(0, std::memcmp(state.sessionKey, first.record.m_abySessionKey, 16));

        // Our session key is gone from the key: the probe fails, a new one works.
        EXPECT_NE(0u, first.PinStatus(status));
        ASSERT_EQ(0u, first.SetSessionKey());
        EXPECT_EQ(0u, first.PinStatus(status));
    }
    std::vector<vk::RecordEntry> record = Record(id);
    size_t setSessions = std::count_if(record.begin(), record.end(), [](const vk::RecordEntry& e) { return e.ins == 0x0A; });
    EXPECT_EQ(3u, setSessions) << "parent, child, parent again";
}

TEST_F(TwoProcesses, ChildUsesTheKey) {
    const char* path = std::getenv("KEYLINQ_TEST_CHILD_KEY");
    if (!path) GTEST_SKIP() << "the child half of UseOneKeyInTurn";
    KeySession session;
    ASSERT_EQ(0u, session.Open(path));
    ASSERT_EQ(0u, session.Connect());
    uint8_t status[4];
    ASSERT_EQ(0u, session.PinStatus(status));
    ASSERT_EQ(0u, session.PinStatus(status));
}

}  // namespace
