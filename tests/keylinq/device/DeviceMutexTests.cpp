// The device mutex across processes: a helper program opens the same
// virtual key with a device context of its own (DeviceMutexHelper.cpp).
#include <string>

#include "DeviceContext.h"
#include "DeviceTestSupport.h"
#include "HostPaths.h"

namespace {

class Helper {
public:
    // Starts the helper in a mode on the key; its events carry a prefix
    // of their own.
    Helper(const char* mode, const std::string& path) {
        static int serial = 0;
        m_prefix = "Local\\keylinq-mutex-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
        for (const char* what : {"opened", "acquired", "held", "release"}) {
            m_events.push_back(CreateEventA(nullptr, TRUE, FALSE, (m_prefix + "-" + what).c_str()));
        }
        std::string exe = HostEnvPath("KEYLINQ_MUTEX_HELPER");
        std::string command = "\"" + exe + "\" " + mode + " \"" + path + "\" " + m_prefix;
        std::vector<char> line(command.begin(), command.end());
        line.push_back('\0');
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        if (!exe.empty() &&
            CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &m_process)) {
            CloseHandle(m_process.hThread);
        } else {
            m_process.hProcess = nullptr;
        }
    }
    ~Helper() {
        if (m_process.hProcess) {
            if (WaitForSingleObject(m_process.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(m_process.hProcess, 1);
            CloseHandle(m_process.hProcess);
        }
        for (HANDLE event : m_events) CloseHandle(event);
    }
    bool started() const { return m_process.hProcess != nullptr; }
    bool WaitFor(const char* what, DWORD ms) {
        return WaitForSingleObject(Event(what), ms) == WAIT_OBJECT_0;
    }
    void Signal(const char* what) { SetEvent(Event(what)); }
    // The exit code, or 0xFFFFFFFF when it did not end in time.
    DWORD Finish(DWORD ms = 20000) {
        DWORD code = 0xFFFFFFFF;
        if (WaitForSingleObject(m_process.hProcess, ms) == WAIT_OBJECT_0) GetExitCodeProcess(m_process.hProcess, &code);
        return code;
    }

private:
    HANDLE Event(const char* what) {
        static const char* names[] = {"opened", "acquired", "held", "release"};
        for (size_t i = 0; i < 4; ++i) {
            if (std::string(names[i]) == what) return m_events[i];
        }
        return nullptr;
    }
    std::string m_prefix;
    std::vector<HANDLE> m_events;
    PROCESS_INFORMATION m_process = {};
};

class DeviceMutexTest : public VirtualKeyTest {
protected:
    void SetUp() override {
        VirtualKeyTest::SetUp();
        AddKey(19, &path);
        ASSERT_EQ(0u, context.Open(VEMU_DRIVER_HID, path.c_str()));
    }
    void TearDown() override {
        context.Close();
        VirtualKeyTest::TearDown();
    }
    std::string path;
    CQuibContext context;
};

TEST_F(DeviceMutexTest, SecondProcessBlocksWhileFirstHoldsAndProceedsAfterRelease) {
    ASSERT_EQ(0u, context.WaitDevMutex());
    Helper helper("wait", path);
    ASSERT_TRUE(helper.started()) << "KEYLINQ_MUTEX_HELPER";
    ASSERT_TRUE(helper.WaitFor("opened", 20000));
    // Its own context on the same key names the same mutex: it waits.
    EXPECT_FALSE(helper.WaitFor("acquired", 700));
    ASSERT_EQ(0u, context.ReleaseDevMutex());
    EXPECT_TRUE(helper.WaitFor("acquired", 20000));
    EXPECT_EQ(0u, helper.Finish());
}

TEST_F(DeviceMutexTest, WaitEndsWithTimeoutCodeWhileAnotherProcessHolds) {
    Helper helper("hold", path);
    ASSERT_TRUE(helper.started()) << "KEYLINQ_MUTEX_HELPER";
    ASSERT_TRUE(helper.WaitFor("held", 20000));
    EXPECT_EQ(0x800705B4u, context.WaitDevMutexFor(200));
    helper.Signal("release");
    EXPECT_EQ(0u, helper.Finish());
    ASSERT_EQ(0u, context.WaitDevMutex());
    EXPECT_EQ(0u, context.ReleaseDevMutex());
}

TEST_F(DeviceMutexTest, MutexAbandonedByADeadProcessIsTaken) {
    Helper helper("abandon", path);
    ASSERT_TRUE(helper.started()) << "KEYLINQ_MUTEX_HELPER";
    ASSERT_TRUE(helper.WaitFor("held", 20000));
    EXPECT_EQ(0u, helper.Finish());
    ASSERT_EQ(0u, context.WaitDevMutexFor(5000));
    // Ours now: one release succeeds, a second finds it no longer owned.
    EXPECT_EQ(0u, context.ReleaseDevMutex());
    EXPECT_EQ(0x80070000u | ERROR_NOT_OWNER, context.ReleaseDevMutex());
}

}  // namespace
