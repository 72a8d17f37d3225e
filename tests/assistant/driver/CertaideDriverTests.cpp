// The driver's pieces: control rectangles from layout text, journal lines
// and their values, and input, device changes, the tray icon and captures
// against a small window of this test's own (on a thread of its own, so
// its messages flow while the test waits).
#include <windows.h>
#include <dbt.h>
#include <shellapi.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CertaideDriver.h"

using namespace certdrive;

namespace {

const wchar_t kLayout[] =
    L"<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    L"<Window size=\"400,300\">"
    L" <VerticalLayout inset=\"10,10,10,10\" childpadding=\"4\">"
    L"  <HorizontalLayout height=\"40\" name=\"top\">"
    L"   <Button name=\"a\" width=\"100\"/>"
    L"   <Control />"
    L"   <Button name=\"b\" width=\"50\" padding=\"5,3,0,0\" height=\"20\"/>"
    L"  </HorizontalLayout>"
    L"  <Container name=\"middle\">"
    L"   <Label name=\"floating\" float=\"true\" pos=\"20,30,120,54\"/>"
    L"   <Combo name=\"inner\" float=\"true\" pos=\"-5,-8,60,40\"/>"
    L"  </Container>"
    L"  <Label name=\"hidden\" visible=\"false\" height=\"500\"/>"
    L"  <Button name=\"bottom\" height=\"30\" padding=\"0,6,0,2\"/>"
    L" </VerticalLayout>"
    L"</Window>";

TEST(SkinLayoutTest, ControlRectanglesFollowTheLayoutAtEachDpi) {
    SkinLayout layout;
    std::string error;
    ASSERT_TRUE(layout.LoadText(kLayout, &error)) << error;
    // Client 400 x 300: content 380 x 280 from (10,10); fixed heights 40 and
    // 30 + 8 padding, two gaps of 4 (the hidden label does not count): the
    // container gets 280 - 78 - 8 = 194.
    struct Case {
        const wchar_t* name;
        int dpi;
        RECT expected;
    } cases[] = {
        {L"top", 96, {10, 10, 390, 50}},
        {L"a", 96, {10, 10, 110, 50}},
        {L"b", 96, {340, 13, 390, 33}},  // after 100 + the stretchy share (225) + its left padding
        {L"middle", 96, {10, 54, 390, 248}},
        {L"floating", 96, {30, 84, 130, 108}},
        {L"inner", 96, {70, 94, 135, 142}},  // a negative left takes the right as x (60)
        {L"bottom", 96, {10, 258, 390, 288}},
        {L"floating", 144, {45, 126, 195, 162}},  // the same layout at 600 x 450
        {L"bottom", 144, {15, 387, 585, 432}},
    };
    for (const Case& c : cases) {
        const double scale = c.dpi / 96.0;
        RECT r = {};
        ASSERT_TRUE(layout.ControlRect(c.name, SIZE{LONG(400 * scale), LONG(300 * scale)}, c.dpi, &r));
        EXPECT_EQ(c.expected.left, r.left) << Utf8(c.name) << " at " << c.dpi;
        EXPECT_EQ(c.expected.top, r.top) << Utf8(c.name) << " at " << c.dpi;
        EXPECT_EQ(c.expected.right, r.right) << Utf8(c.name) << " at " << c.dpi;
        EXPECT_EQ(c.expected.bottom, r.bottom) << Utf8(c.name) << " at " << c.dpi;
    }
    RECT r;
    EXPECT_FALSE(layout.ControlRect(L"absent", SIZE{400, 300}, 96, &r));
    EXPECT_FALSE(layout.LoadText(L"<Window><Button></Window>", &error));
}

TEST(JournalTest, ValuesOfDetailsKeepBlanksAndUpperCaseEquals) {
    struct Case {
        const char* details;
        const char* name;
        const char* value;
    } cases[] = {
        {"name=cert_issuer_label text=C=CN, O=Test CA, CN=Root", "text", "C=CN, O=Test CA, CN=Root"},
        {"name=cert_issuer_label text=x", "name", "cert_issuer_label"},
        {"name=cert_certdnsn_combo items=Alice, SN=01AB|Alice, SN=02CD selected=1", "items",
         "Alice, SN=01AB|Alice, SN=02CD"},
        {"name=cert_certdnsn_combo items=Alice, SN=01AB|Alice, SN=02CD selected=1", "selected", "1"},
        {"status=40 code=0x00000000 enabled=a,b text=done", "enabled", "a,b"},
        {"status=40 code=0x00000000 enabled= text=", "enabled", ""},
        {"status=40", "code", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.value, DetailValue(c.details, c.name)) << c.details;
}

std::wstring TempFile(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring path = std::wstring(dir) + name;
    DeleteFileW(path.c_str());
    return path;
}

void Append(const std::wstring& path, const std::string& bytes) {
    HANDLE f = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           0, nullptr);
    DWORD written = 0;
    WriteFile(f, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(f);
}

TEST(JournalTest, WaitsForLinesAfterAMarkAndIgnoresAPartialLine) {
    const std::wstring path = TempFile(L"driver-journal.txt");
    Journal journal(path);
    EXPECT_TRUE(journal.Lines().empty());  // no file yet
    Append(path, "10 app started pid=7\n20 status status=42 code=0x00000000 enabled= text=\n30 status sta");
    const size_t mark = journal.Mark();
    EXPECT_EQ(2u, mark);
    EXPECT_EQ(1, journal.Count("status"));
    EXPECT_EQ(-1, journal.Find("status", {"status=40"}));

    std::thread writer([&] {
        Sleep(300);
        Append(path, "tus=40 code=0x00000000 enabled=cert_reloadukey_btn text=renewed\n");
    });
    JournalLine line;
    const int at = journal.WaitFor("status", {"status=40", "renewed"}, 5000, mark, &line);
    writer.join();
    EXPECT_EQ(2, at);
    EXPECT_EQ(30u, line.ms);
    EXPECT_EQ("renewed", DetailValue(line.details, "text"));
    EXPECT_EQ(-1, journal.WaitFor("status", {"status=41"}, 200, mark));
    EXPECT_EQ(1, journal.Count("status", {}, mark));
    ASSERT_TRUE(journal.Last("status", {}, &line));
    EXPECT_EQ("status=40 code=0x00000000 enabled=cert_reloadukey_btn text=renewed", line.details);
    DeleteFileW(path.c_str());
}

// ------------------------------------------------------------ a window of our own

const UINT kTrayCallback = WM_APP + 7;

struct Recorder {
    std::mutex lock;
    std::vector<std::wstring> events;
    void Add(const std::wstring& e) {
        std::lock_guard<std::mutex> hold(lock);
        events.push_back(e);
    }
    bool Has(const std::wstring& e) {
        std::lock_guard<std::mutex> hold(lock);
        for (const auto& x : events)
            if (x == e) return true;
        return false;
    }
    std::wstring All() {
        std::lock_guard<std::mutex> hold(lock);
        std::wstring s;
        for (const auto& x : events) s += x + L"; ";
        return s;
    }
};
Recorder g_recorder;

LRESULT CALLBACK TestProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    wchar_t line[400];
    switch (message) {
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
            swprintf(line, 400, L"%ls %d,%d", message == WM_LBUTTONUP ? L"left" : L"right", short(LOWORD(lParam)),
                     short(HIWORD(lParam)));
            g_recorder.Add(line);
            break;
        case WM_CHAR:
            swprintf(line, 400, L"char %04x", unsigned(wParam));
            g_recorder.Add(line);
            break;
        case WM_DEVICECHANGE: {
            auto* b = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
            if (b && b->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
                IsEqualGUID(b->dbcc_classguid, USB_DEVICE_INTERFACE)) {
                swprintf(line, 400, L"device %04x %ls", unsigned(wParam), b->dbcc_name);
                g_recorder.Add(line);
            }
            return TRUE;
        }
        case kTrayCallback:
            if (lParam == WM_LBUTTONUP || lParam == WM_RBUTTONUP) {
                swprintf(line, 400, L"tray %ls", lParam == WM_LBUTTONUP ? L"left" : L"right");
                g_recorder.Add(line);
            }
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window, &ps);
            RECT r = {0, 0, 50, 40};
            HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
            FillRect(dc, &r, red);
            DeleteObject(red);
            EndPaint(window, &ps);
            return 0;
        }
        case WM_ERASEBKGND: {
            RECT r;
            GetClientRect(window, &r);
            FillRect(reinterpret_cast<HDC>(wParam), &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            return 1;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class DriverWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::atomic<bool> ready(false);
        m_thread = std::thread([this, &ready] {
            WNDCLASSW wc = {};
            wc.lpfnWndProc = TestProcedure;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"CertaideDriverTestWnd";
            wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
            RegisterClassW(&wc);
            m_threadId = GetCurrentThreadId();
            m_window = CreateWindowExW(0, wc.lpszClassName, L"driver test", WS_POPUP | WS_CAPTION | WS_VISIBLE, 200,
                                       200, 320, 240, nullptr, nullptr, wc.hInstance, nullptr);
            ready = true;
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        });
        while (!ready) Sleep(10);
        ASSERT_NE(nullptr, m_window);
    }
    void TearDown() override {
        PostMessageW(m_window, WM_CLOSE, 0, 0);
        PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
        m_thread.join();
    }
    bool Await(const std::wstring& event, DWORD ms = 5000) {
        for (DWORD waited = 0; waited < ms; waited += 20) {
            if (g_recorder.Has(event)) return true;
            Sleep(20);
        }
        return g_recorder.Has(event);
    }

    std::thread m_thread;
    DWORD m_threadId = 0;
    HWND m_window = nullptr;
};

TEST_F(DriverWindowTest, FindsClicksTypesAndSendsDeviceChanges) {
    EXPECT_EQ(m_window, WaitProcessWindow(GetCurrentProcessId(), L"CertaideDriverTestWnd", 2000));
    EXPECT_EQ(nullptr, FindProcessWindow(GetCurrentProcessId() + 4, L"CertaideDriverTestWnd"));
    EXPECT_EQ(nullptr, FindProcessWindow(GetCurrentProcessId(), MAIN_WINDOW_CLASS));

    std::string error;
    ASSERT_TRUE(ClickAt(m_window, POINT{30, 20}, false, &error)) << error;
    EXPECT_TRUE(Await(L"left 30,20")) << Utf8(g_recorder.All());
    ASSERT_TRUE(ClickAt(m_window, POINT{100, 60}, true, &error)) << error;
    EXPECT_TRUE(Await(L"right 100,60")) << Utf8(g_recorder.All());

    TypeText(L"a1B\u00e9");
    for (const wchar_t* c : {L"char 0061", L"char 0031", L"char 0042", L"char 00e9"})
        EXPECT_TRUE(Await(c)) << Utf8(c) << ": " << Utf8(g_recorder.All());

    ASSERT_TRUE(SendDeviceChange(m_window, DBT_DEVICEARRIVAL, 0x3A5C, 0xF408, L"7&1F2E&0&1", &error)) << error;
    // Sent, not posted: it has arrived when the call returns.
    EXPECT_TRUE(g_recorder.Has(
        L"device 8000 \\\\?\\USB#VID_3A5C&PID_F408#7&1F2E&0&1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"))
        << Utf8(g_recorder.All());
}

TEST_F(DriverWindowTest, CapturesTheWindowAsPng) {
    char dir[MAX_PATH] = {};
    GetEnvironmentVariableA("CERTAIDE_TEST_ARTIFACTS", dir, MAX_PATH);
    std::wstring path = (dir[0] ? WindowsPath(dir) : TempFile(L"")) + L"\\certaide_driver_tests\\window.png";
    DeleteFileW(path.c_str());
    std::string error;
    ASSERT_TRUE(CaptureWindow(m_window, path, &error)) << error;
    // Read back: the window's size, its red corner inside the frame and white elsewhere.
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    {
        Gdiplus::Bitmap picture(path.c_str());
        RECT r;
        GetWindowRect(m_window, &r);
        EXPECT_EQ(UINT(r.right - r.left), picture.GetWidth());
        EXPECT_EQ(UINT(r.bottom - r.top), picture.GetHeight());
        POINT origin = {0, 0};
        ClientToScreen(m_window, &origin);
        Gdiplus::Color c;
        picture.GetPixel(origin.x - r.left + 10, origin.y - r.top + 10, &c);
        EXPECT_EQ(0xFF0000u, c.GetValue() & 0xFFFFFF);
        picture.GetPixel(origin.x - r.left + 200, origin.y - r.top + 100, &c);
        EXPECT_EQ(0xFFFFFFu, c.GetValue() & 0xFFFFFF);
    }
    Gdiplus::GdiplusShutdown(token);
}

TEST_F(DriverWindowTest, ClicksItsTrayIcon) {
    NOTIFYICONDATAW icon = {};
    icon.cbSize = sizeof icon;
    icon.hWnd = m_window;
    icon.uID = 1;
    icon.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
    icon.uCallbackMessage = kTrayCallback;
    icon.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));
    wcscpy(icon.szTip, L"driver test tip");
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &icon));
    HWND found = nullptr;
    for (int i = 0; i < 100 && !(found = FindTrayIcon()); ++i) Sleep(50);
    std::string error;
    EXPECT_TRUE(ClickTrayIcon(found, false, &error)) << error;
    EXPECT_TRUE(Await(L"tray left")) << Utf8(g_recorder.All());
    EXPECT_TRUE(ClickTrayIcon(found, true, &error)) << error;
    EXPECT_TRUE(Await(L"tray right")) << Utf8(g_recorder.All());
    Shell_NotifyIconW(NIM_DELETE, &icon);
}

}  // namespace
