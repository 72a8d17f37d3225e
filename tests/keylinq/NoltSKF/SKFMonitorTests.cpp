// SKF_WaitForDevEvent and SKF_CancelWaitForDevEvent under Xvfb: device
// arrivals and removals injected into the monitor's hidden dialog as the
// system would send them.
#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "KeylinqLibrary.h"

namespace {

const GUID kHidClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

std::wstring InterfaceName(unsigned vid, unsigned pid) {
    wchar_t name[200];
    swprintf(name, 200, L"\\\\?\\HID#VID_%04X&PID_%04X#7&2C0B8E2D&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
             vid, pid);
    return name;
}

std::string Lower(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += char(towlower(c));
    return s;
}

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM out) {
    wchar_t cls[16];
    GetClassNameW(hwnd, cls, 16);
    if (wcscmp(cls, L"#32770") != 0) return TRUE;
    *reinterpret_cast<HWND*>(out) = hwnd;
    return FALSE;
}

// A wait on a thread of its own.
class PendingWait {
public:
    explicit PendingWait(ULONG nameRoom = 260, bool withName = true) : m_room(nameRoom), m_withName(withName) {
        m_thread = std::thread([this] {
            m_threadId = GetCurrentThreadId();
            m_len = m_room;
            m_rc = Keylinq().SKF_WaitForDevEvent(m_withName ? m_name : nullptr, &m_len, &m_event);
            m_done = true;
        });
    }
    ~PendingWait() {
        if (m_thread.joinable()) {
            if (!m_done) Keylinq().SKF_CancelWaitForDevEvent();
            m_thread.join();
        }
    }
    // The monitor's dialog window, once it runs.
    HWND Dialog() {
        for (int i = 0; i < 500 && !m_done; ++i) {
            HWND found = nullptr;
            if (m_threadId) EnumThreadWindows(m_threadId, FindDialog, reinterpret_cast<LPARAM>(&found));
            if (found && GetWindowThreadProcessId(found, nullptr) == m_threadId) return found;
            Sleep(10);
        }
        return nullptr;
    }
    bool Finished(DWORD ms) {
        for (DWORD t = 0; t < ms && !m_done; t += 10) Sleep(10);
        if (m_done) m_thread.join();
        return m_done;
    }
    ULONG rc() const { return m_rc; }
    ULONG event() const { return m_event; }
    ULONG len() const { return m_len; }
    std::string name() const { return std::string(m_name); }

private:
    ULONG m_room;
    bool m_withName;
    std::thread m_thread;
    std::atomic<DWORD> m_threadId{0};
    std::atomic<bool> m_done{false};
    char m_name[300] = {};
    ULONG m_len = 0, m_event = 99, m_rc = 99;
};

void SendDeviceChange(HWND dialog, WPARAM what, const std::wstring& name) {
    std::string buffer(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + name.size() * sizeof(wchar_t), '\0');
    auto* b = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(&buffer[0]);
    b->dbcc_size = DWORD(buffer.size());
    b->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    b->dbcc_classguid = kHidClass;
    memcpy(b->dbcc_name, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    SendMessageW(dialog, WM_DEVICECHANGE, what, reinterpret_cast<LPARAM>(b));
}

class SKFMonitor : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, Keylinq().missing);
        Keylinq().SKF_CancelWaitForDevEvent();  // no dialog left from an earlier test
    }
    const std::wstring ours = InterfaceName(KEYLINQ_USB_VENDOR_ID, 0xF408);
};

TEST_F(SKFMonitor, ArrivalOfOurKeyEndsTheWaitWithItsLowerCaseName) {
    PendingWait wait;
    HWND dialog = wait.Dialog();
    ASSERT_NE(nullptr, dialog);
    // The modal loop shows the dialog; its first paint hides it again.
    for (int i = 0; i < 500 && IsWindowVisible(dialog); ++i) Sleep(10);
    EXPECT_FALSE(IsWindowVisible(dialog));
    SendDeviceChange(dialog, DBT_DEVICEARRIVAL, ours);
    ASSERT_TRUE(wait.Finished(5000));
    EXPECT_EQ(SAR_OK, wait.rc());
    EXPECT_EQ(1u, wait.event());
    EXPECT_EQ(Lower(ours), wait.name());
    EXPECT_EQ(ours.size() + 1, wait.len());
}

TEST_F(SKFMonitor, RemovalEndsTheWaitWithEvent2) {
    PendingWait wait;
    HWND dialog = wait.Dialog();
    ASSERT_NE(nullptr, dialog);
    SendDeviceChange(dialog, DBT_DEVICEREMOVECOMPLETE, ours);
    ASSERT_TRUE(wait.Finished(5000));
    EXPECT_EQ(SAR_OK, wait.rc());
    EXPECT_EQ(2u, wait.event());
    EXPECT_EQ(Lower(ours), wait.name());
}

TEST_F(SKFMonitor, OtherDevicesAndEventsLeaveTheWaitRunning) {
    PendingWait wait;
    HWND dialog = wait.Dialog();
    ASSERT_NE(nullptr, dialog);
    SendDeviceChange(dialog, DBT_DEVICEARRIVAL, InterfaceName(0x845E, 0x0001));           // Wine's own HID device
    SendDeviceChange(dialog, DBT_DEVICEARRIVAL, InterfaceName(KEYLINQ_USB_VENDOR_ID, 0xF409));  // another product
    SendDeviceChange(dialog, DBT_DEVICEARRIVAL, InterfaceName(0x1234, 0xF408));          // another vendor
    SendDeviceChange(dialog, DBT_DEVICEQUERYREMOVE, ours);                               // not an arrival or removal
    SendDeviceChange(dialog, DBT_DEVICEARRIVAL, L"\\\\?\\HID#VID_3A5");                   // no usable markers
    EXPECT_FALSE(wait.Finished(300));
    EXPECT_EQ(SAR_OK, Keylinq().SKF_CancelWaitForDevEvent());
    ASSERT_TRUE(wait.Finished(5000));
    EXPECT_EQ(SAR_OK, wait.rc());
    EXPECT_EQ(0u, wait.event());
    EXPECT_EQ(260u, wait.len());  // left as the caller set it
}

TEST_F(SKFMonitor, CancelWithoutAWaitIsRefused) {
    EXPECT_EQ(SAR_NOT_EVENTERR, Keylinq().SKF_CancelWaitForDevEvent());
    EXPECT_EQ(SAR_NOT_EVENTERR, Keylinq().SKF_CancelWaitForDevEvent());
}

TEST_F(SKFMonitor, CancelAfterAFinishedWaitReleasesItsDialog) {
    {
        PendingWait wait;
        HWND dialog = wait.Dialog();
        ASSERT_NE(nullptr, dialog);
        SendDeviceChange(dialog, DBT_DEVICEARRIVAL, ours);
        ASSERT_TRUE(wait.Finished(5000));
    }
    EXPECT_EQ(SAR_OK, Keylinq().SKF_CancelWaitForDevEvent());
    EXPECT_EQ(SAR_NOT_EVENTERR, Keylinq().SKF_CancelWaitForDevEvent());
}

TEST_F(SKFMonitor, ShortNameBufferGetsTheLengthAndTheEvent) {
    PendingWait wait(ULONG(ours.size()));  // one byte short of the name and its NUL
    HWND dialog = wait.Dialog();
    ASSERT_NE(nullptr, dialog);
    SendDeviceChange(dialog, DBT_DEVICEARRIVAL, ours);
    ASSERT_TRUE(wait.Finished(5000));
    EXPECT_EQ(SAR_INDATALENERR, wait.rc());
    EXPECT_EQ(ours.size() + 1, wait.len());
    EXPECT_EQ(1u, wait.event());
}

TEST_F(SKFMonitor, NullNameBufferGetsTheLengthAndTheEvent) {
    PendingWait wait(0, false);
    HWND dialog = wait.Dialog();
    ASSERT_NE(nullptr, dialog);
    SendDeviceChange(dialog, DBT_DEVICEREMOVECOMPLETE, ours);
    ASSERT_TRUE(wait.Finished(5000));
    EXPECT_EQ(SAR_OK, wait.rc());
    EXPECT_EQ(ours.size() + 1, wait.len());
    EXPECT_EQ(2u, wait.event());
}

TEST_F(SKFMonitor, ANewWaitEndsTheWaitOfAnotherThread) {
    PendingWait first;
    ASSERT_NE(nullptr, first.Dialog());
    PendingWait second;
    HWND dialog = second.Dialog();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(first.Finished(5000));
    EXPECT_EQ(SAR_OK, first.rc());
    EXPECT_EQ(0u, first.event());
    SendDeviceChange(dialog, DBT_DEVICEARRIVAL, ours);
    ASSERT_TRUE(second.Finished(5000));
    EXPECT_EQ(1u, second.event());
}

TEST_F(SKFMonitor, FailedNotificationRegistrationFailsTheWait) {
    SetEnvironmentVariableW(L"KEYLINQ_TEST_FAIL_DEVICE_NOTIFY", L"1");
    PendingWait wait;
    const bool finished = wait.Finished(5000);
    SetEnvironmentVariableW(L"KEYLINQ_TEST_FAIL_DEVICE_NOTIFY", nullptr);
    ASSERT_TRUE(finished) << "the wait did not end without notifications";
    EXPECT_NE(SAR_OK, wait.rc());
    EXPECT_EQ(0u, wait.event());
}

TEST_F(SKFMonitor, CancelRightAfterTheWaitStartsIsNotLost) {
    for (int i = 0; i < 20; ++i) {
        PendingWait wait;
        while (Keylinq().SKF_CancelWaitForDevEvent() != SAR_OK) Sleep(0);
        ASSERT_TRUE(wait.Finished(5000)) << "round " << i;
        EXPECT_EQ(0u, wait.event());
    }
}

}  // namespace
