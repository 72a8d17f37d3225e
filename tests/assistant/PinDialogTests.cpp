// The PIN dialogs and the UI delegator, in this process: the delegator is
// called on a second thread as the key layer calls it, the skin archive and
// the catalog are loaded as the program loads them, and a visible window of
// the test's own stands for the main window. Keys and clicks go through
// SendInput as a user's would.
#include <windows.h>

#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "DesktopInput.h"
#include "Edit.h"
#include "HostPaths.h"
#include "PaintManager.h"
#include "PinDialogs.h"
#include "ResourceCatalog.h"
#include "SkinText.h"
#include "UIDelegate.h"
#include "WindowUI.h"

// ---- freed blocks that still hold the PIN ------------------------------------
//
// While a dialog thread runs the delegator, every block it frees through
// operator delete is searched for the PIN (UTF-16 and 8-bit) before it goes
// back to the heap. Only that thread's frees are looked at, and the PIN is
// set before the thread starts.
namespace {
std::atomic<DWORD> g_scanThread{0};
wchar_t g_secretWide[32];
char g_secretNarrow[32];
size_t g_secretChars = 0;
std::atomic<int> g_secretFound{0};
std::atomic<int> g_blocksScanned{0};

bool Contains(const BYTE* block, size_t size, const void* needle, size_t n) {
    if (n == 0 || size < n) return false;
    for (size_t i = 0; i + n <= size; ++i)
        if (memcmp(block + i, needle, n) == 0) return true;
    return false;
}

void ScanFreed(void* p) {
    if (!p || g_scanThread.load() != GetCurrentThreadId()) return;
    const size_t size = _msize(p);
    const BYTE* block = static_cast<const BYTE*>(p);
    ++g_blocksScanned;
    if (Contains(block, size, g_secretWide, g_secretChars * sizeof(wchar_t)) ||
        Contains(block, size, g_secretNarrow, g_secretChars))
        ++g_secretFound;
}
}  // namespace

// libstdc++'s operator new takes its blocks from malloc, so free is the
// matching release here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
    ScanFreed(p);
    std::free(p);
}
#pragma GCC diagnostic pop
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

namespace {

using Veneer::CControlUI;
using Veneer::CEditUI;
using Veneer::CPaintManagerUI;
using Veneer::CWindowUI;

constexpr HRESULT kCancelled = HRESULT(0x800704C7);
constexpr int kWaitMs = 20000;  // the x86 tree runs emulated

std::wstring JournalPath() {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"certaide-pindlg-" + std::to_wstring(GetCurrentProcessId()) + L".log";
}

std::vector<std::wstring> JournalLines(const wchar_t* containing) {
    std::vector<std::wstring> lines;
    HANDLE file = CreateFileW(JournalPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return lines;
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    if (!bytes.empty()) ReadFile(file, &bytes[0], DWORD(bytes.size()), &read, nullptr);
    CloseHandle(file);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        const std::string line = bytes.substr(start, end - start);
        std::wstring wide(line.size(), L'\0');
        wide.resize(size_t(MultiByteToWideChar(CP_UTF8, 0, line.data(), int(line.size()), &wide[0], int(wide.size()))));
        if (wide.find(containing) != std::wstring::npos) lines.push_back(wide.substr(wide.find(L' ') + 1));
        start = end + 1;
    }
    return lines;
}

// Handles the messages of this thread (the owner window's) until the
// condition holds or the time is up.
bool PumpUntil(const std::function<bool()>& condition, int ms = kWaitMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (condition()) return true;
        if (int(GetTickCount() - start) > ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// The dialog's thread has handled everything sent or posted to it so far
// (while this thread keeps answering what it sends back).
bool Sync(HWND dialog) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, kWaitMs, &result) != 0;
}

// What the edits held when the dialog's WM_CLOSE came (read on its thread).
std::atomic<int> g_inputAtClose{-1};
std::atomic<int> g_nativeAtClose{-1};
HHOOK g_hook = nullptr;

CWindowUI* DialogObject(HWND dialog) {
    return dynamic_cast<CWindowUI*>(reinterpret_cast<Veneer::CWindowWnd*>(GetWindowLongPtrW(dialog, GWLP_USERDATA)));
}

LRESULT CALLBACK BeforeClose(int code, WPARAM wParam, LPARAM lParam) {
    const MSG* msg = reinterpret_cast<const MSG*>(lParam);
    wchar_t className[32] = {0};
    if (code == HC_ACTION && wParam == PM_REMOVE && msg->message == WM_CLOSE &&
        GetClassNameW(msg->hwnd, className, 32) && wcscmp(className, L"VeneerInputPINWnd") == 0) {
        if (CWindowUI* window = DialogObject(msg->hwnd)) {
            int input = 0, native = 0;
            for (const wchar_t* name : {L"inputdlg_password_edit", L"inputdlg_pconfirmpwd_edit"}) {
                if (CEditUI* edit = static_cast<CEditUI*>(window->m_pm.FindControlByName(name))) {
                    input += edit->GetInputText().GetLength();
                    if (HWND h = edit->GetNativeHandle()) native += GetWindowTextLengthW(h);
                }
            }
            g_inputAtClose = input;
            g_nativeAtClose = native;
        }
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

// One call of the delegator on a thread of its own. What the thread writes
// lives on the heap and is left there when the thread never ends, so a hung
// dialog fails its case without the others writing into freed memory.
class DelegatorCall {
public:
    using Call = std::function<HRESULT(CCustomizedUIDelegate&, std::wstring&)>;
    DelegatorCall(Call call, const char* secret = nullptr) : m_state(new State) {
        m_state->call = std::move(call);
        g_secretChars = 0;
        if (secret) {
            g_secretChars = strlen(secret);
            for (size_t i = 0; i <= g_secretChars; ++i) {
                g_secretNarrow[i] = secret[i];
                g_secretWide[i] = wchar_t(secret[i]);
            }
        }
        g_secretFound = 0;
        g_blocksScanned = 0;
        g_inputAtClose = -1;
        g_nativeAtClose = -1;
        m_state->scan = secret != nullptr;
        m_thread = CreateThread(nullptr, 0, &DelegatorCall::Run, m_state, 0, &m_threadId);
    }
    ~DelegatorCall() {
        EXPECT_TRUE(Finish()) << "the dialog's thread never ended";
        if (!m_thread) delete m_state;
    }

    // The thread's dialog of that class once it is visible.
    HWND Window(const wchar_t* className = L"VeneerInputPINWnd") {
        HWND found = nullptr;
        PumpUntil([&] {
            found = desk::FindThreadWindow(m_threadId, className);
            return (found && IsWindowVisible(found)) || Ended();
        });
        if (found && !Sync(found)) return nullptr;
        return found;
    }
    bool Ended() { return !m_thread || WaitForSingleObject(m_thread, 0) == WAIT_OBJECT_0; }
    // Joins the thread with a time-out: false when it did not end by itself
    // (it is then closed by force, WM_CLOSE to its dialog, and waited for
    // once more).
    bool Finish() {
        if (!m_thread) return true;
        const bool byItself = PumpUntil([&] { return Ended(); });
        bool ended = byItself;
        if (!ended) {
            if (HWND w = desk::FindThreadWindow(m_threadId, L"VeneerInputPINWnd")) PostMessageW(w, WM_CLOSE, 0, 0);
            ended = PumpUntil([&] { return Ended(); }, 5000);
        }
        if (g_hook) {
            UnhookWindowsHookEx(g_hook);
            g_hook = nullptr;
        }
        if (!ended) return false;
        CloseHandle(m_thread);
        m_thread = nullptr;
        result = m_state->result;
        pin = m_state->pin;
        return byItself;
    }
    void WatchClose() { g_hook = SetWindowsHookExW(WH_GETMESSAGE, &BeforeClose, nullptr, m_threadId); }

    DWORD threadId() const { return m_threadId; }
    HRESULT result = HRESULT(0xDEADBEEF);  // after Finish
    std::wstring pin;

private:
    struct State {
        Call call;
        bool scan = false;
        HRESULT result = HRESULT(0xDEADBEEF);
        std::wstring pin;
    };
    static DWORD WINAPI Run(LPVOID param) {
        State* state = static_cast<State*>(param);
        CCustomizedUIDelegate delegator;
        std::wstring pin;
        if (state->scan) g_scanThread = GetCurrentThreadId();
        const HRESULT hr = state->call(delegator, pin);
        g_scanThread = 0;
        state->pin = pin;
        state->result = hr;
        return 0;
    }

    State* m_state;
    HANDLE m_thread = nullptr;
    DWORD m_threadId = 0;
};

DelegatorCall::Call InputPin(BOOL retry, DWORD remaining) {
    return [retry, remaining](CCustomizedUIDelegate& d, std::wstring& pin) {
        return d.SKFCryptUIInputPIN(L"SN-TEST", retry, remaining, pin);
    };
}
DelegatorCall::Call InitPin() {
    return [](CCustomizedUIDelegate& d, std::wstring& pin) { return d.SKFCryptUISetInitPIN(L"SN-TEST", pin); };
}

std::vector<const wchar_t*> g_skinFailures;
void RecordSkinFailure(const wchar_t* text, const wchar_t*) { g_skinFailures.push_back(text); }

class PinDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SetEnvironmentVariableW(L"CERTAIDE_JOURNAL", JournalPath().c_str());
        DeleteFileW(JournalPath().c_str());
        CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
        LoadCatalog(true);
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"CertaidePinTestOwner";
        wc.hbrBackground = HBRUSH(GetStockObject(WHITE_BRUSH));
        RegisterClassW(&wc);
        s_owner = CreateWindowExW(0, wc.lpszClassName, L"Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 160, 120, 560,
                                  420, nullptr, nullptr, wc.hInstance, nullptr);
        PumpUntil([] { return false; }, 200);
    }
    static void TearDownTestSuite() {
        DestroyWindow(s_owner);
        Veneer::GetResourceCatalog().Release();
        DeleteFileW(JournalPath().c_str());
    }
    // The skin archive beside the program, and its catalog (with or without
    // the PIN dialog's layout).
    static void LoadCatalog(bool withPinLayouts) {
        CPaintManagerUI::SetResourceFolder(CPaintManagerUI::GetModuleFolder());
        CPaintManagerUI::SetSkinArchive(L"SkinMedia.zip", true, GetSkinArchivePassword());
        Veneer::CResourceCatalog& catalog = Veneer::GetResourceCatalog();
        catalog.Release();
        if (withPinLayouts) {
            ASSERT_EQ(1, catalog.LoadCatalog(L"resource.xml"));
        } else {
            ASSERT_EQ(1, catalog.LoadCatalog(L"<Resource><Xml id=\"XML_MAIN\" path=\"main.xml\" /></Resource>"));
        }
        ASSERT_EQ(1, catalog.LoadCatalog(L"lan_cn.xml"));
    }
    void SetUp() override {
        ShowWindow(s_owner, SW_SHOWNORMAL);
        SetForegroundWindow(s_owner);
        PumpUntil([] { return false; }, 50);
    }

    static CControlUI* Control(HWND dialog, const wchar_t* name) {
        CWindowUI* window = DialogObject(dialog);
        return window ? window->m_pm.FindControlByName(name) : nullptr;
    }
    // A click at the control's centre, as a user's.
    static void Click(HWND dialog, const wchar_t* name) {
        CControlUI* control = Control(dialog, name);
        ASSERT_NE(nullptr, control) << "no control " << Narrow(name);
        // Laid out at the window's first paint.
        RECT r = {};
        EXPECT_TRUE(PumpUntil([&] {
            if (!Sync(dialog)) return false;
            r = control->GetPos();
            return r.right > r.left && r.bottom > r.top;
        })) << Narrow(name) << " never laid out";
        POINT p = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        ClientToScreen(dialog, &p);
        desk::MoveTo(p);
        desk::Button(p, MOUSEEVENTF_LEFTDOWN);
        desk::Button(p, MOUSEEVENTF_LEFTUP);
    }
    // Clicks the edit and waits until its native window has the focus.
    static HWND Focus(HWND dialog, const wchar_t* name) {
        Click(dialog, name);
        HWND native = nullptr;
        PumpUntil([&] {
            if (!Sync(dialog)) return false;
            CEditUI* edit = static_cast<CEditUI*>(Control(dialog, name));
            native = edit ? edit->GetNativeHandle() : nullptr;
            GUITHREADINFO info = {};
            info.cbSize = sizeof(info);
            return native && GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) &&
                   info.hwndFocus == native;
        });
        return native;
    }
    // Types and waits until the native edit holds `expected` characters.
    static void Type(HWND dialog, HWND native, const char* keys, int expected) {
        desk::Type(keys);
        EXPECT_TRUE(PumpUntil([&] { return GetWindowTextLengthW(native) == expected; }))
            << "typed " << keys << ", the edit holds " << GetWindowTextLengthW(native);
        EXPECT_TRUE(Sync(dialog));
    }
    static bool Enabled(HWND dialog, const wchar_t* name) {
        CControlUI* control = Control(dialog, name);
        return control && control->IsEnabled();
    }
    static int InputLength(HWND dialog, const wchar_t* name) {
        CEditUI* edit = static_cast<CEditUI*>(Control(dialog, name));
        return edit ? edit->GetInputText().GetLength() : -1;
    }
    static std::wstring Tip(HWND dialog) {
        CControlUI* label = Control(dialog, L"inputdlg_tips_label");
        return label ? std::wstring(label->GetText().GetData()) : L"<none>";
    }
    static std::string Narrow(const std::wstring& w) {
        std::string s;
        for (wchar_t c : w) s += c < 128 ? char(c) : '?';
        return s;
    }
    static std::wstring CatalogText(const wchar_t* id) {
        return Veneer::GetResourceCatalog().GetText(id).GetData();
    }

    static HWND s_owner;
};
HWND PinDialogTest::s_owner = nullptr;

TEST_F(PinDialogTest, TypedPinIsCheckedHandedBackAndLeftNowhere) {
    const char* pin = "2580abcd13579xyz";  // 16 characters
    DelegatorCall call(InputPin(FALSE, 6), pin);
    const HWND dialog = call.Window();
    ASSERT_NE(nullptr, dialog);

    // Owned by the visible window and centred on it.
    EXPECT_EQ(s_owner, GetWindow(dialog, GW_OWNER));
    RECT own = {}, owner = {};
    GetWindowRect(dialog, &own);
    GetWindowRect(s_owner, &owner);
    EXPECT_NEAR((owner.left + owner.right) / 2, (own.left + own.right) / 2, 2);
    EXPECT_NEAR((owner.top + owner.bottom) / 2, (own.top + own.bottom) / 2, 2);
    EXPECT_GT(own.right - own.left, 100) << "sized by its layout";

    const HWND native = Focus(dialog, L"inputdlg_password_edit");
    ASSERT_NE(nullptr, native) << desk::InputState(dialog);
    Type(dialog, native, "2580a", 5);
    EXPECT_FALSE(Enabled(dialog, L"inputdlg_confirm_btn")) << "5 characters";
    Type(dialog, native, "b", 6);
    EXPECT_TRUE(Enabled(dialog, L"inputdlg_confirm_btn")) << "6 characters";
    Type(dialog, native, "cd13579xyz", 16);
    desk::Type("q");  // a 17th is refused
    EXPECT_FALSE(PumpUntil([&] { return GetWindowTextLengthW(native) > 16; }, 1500));
    ASSERT_TRUE(Sync(dialog));
    EXPECT_EQ(16, InputLength(dialog, L"inputdlg_password_edit"));
    EXPECT_TRUE(Enabled(dialog, L"inputdlg_confirm_btn"));
    desk::Capture(dialog, "pindlg-typed");

    call.WatchClose();
    Click(dialog, L"inputdlg_confirm_btn");
    ASSERT_TRUE(call.Finish());
    EXPECT_EQ(S_OK, call.result);
    EXPECT_EQ(L"2580abcd13579xyz", call.pin);
    EXPECT_EQ(0, g_inputAtClose.load()) << "the edit is emptied on confirm";
    EXPECT_EQ(0, g_nativeAtClose.load()) << "its native window too";
    EXPECT_GT(g_blocksScanned.load(), 0);
    EXPECT_EQ(0, g_secretFound.load()) << "a freed block still held the PIN";
    const std::vector<std::wstring> closed = JournalLines(L"pindlg closed");
    ASSERT_FALSE(closed.empty());
    EXPECT_EQ(L"pindlg closed result=1", closed.back());
}

TEST_F(PinDialogTest, TipsFollowTheRetryFlagAndTheTriesLeft) {
    struct Case {
        const char* name;
        BOOL retry;
        DWORD remaining;
        bool ownerVisible;
        std::wstring shown;  // the journal's line
    } cases[] = {
        {"first", FALSE, 6, true,
         L"pindlg shown kind=input tip=" + FormatSkinText(CatalogText(L"ukeytip_firstpwd_text").c_str(), 6, nullptr, 255) +
             L" color=0xFF888888 edit=1 confirm=0"},
        {"retry", TRUE, 5, false,
         L"pindlg shown kind=input tip=" + FormatSkinText(CatalogText(L"ukeytip_retrypwd_text").c_str(), 5, nullptr, 255) +
             L" color=0xFFE82D2D edit=1 confirm=0"},
        {"locked", TRUE, 0, true,
         L"pindlg shown kind=input tip=" + CatalogText(L"ukeytip_pinlocked_text") + L" color=0xFFE82D2D edit=0 confirm=0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.ownerVisible) ShowWindow(s_owner, SW_HIDE);
        const std::wstring number = std::to_wstring(c.remaining);
        DelegatorCall call(InputPin(c.retry, c.remaining));
        const HWND dialog = call.Window();
        ASSERT_NE(nullptr, dialog);
        const std::vector<std::wstring> shown = JournalLines(L"pindlg shown");
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(c.shown, shown.back());
        if (c.remaining) { EXPECT_NE(std::wstring::npos, Tip(dialog).find(number)); }
        if (c.ownerVisible) {
            EXPECT_EQ(s_owner, GetWindow(dialog, GW_OWNER));
        } else {
            EXPECT_EQ(nullptr, GetWindow(dialog, GW_OWNER)) << "no visible window: no owner";
            EXPECT_NE(0, GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST);
        }
        desk::Capture(dialog, (std::string("pindlg-") + c.name).c_str());
        call.WatchClose();
        Click(dialog, L"inputdlg_cancel_btn");
        ASSERT_TRUE(call.Finish());
        EXPECT_EQ(kCancelled, call.result);
        EXPECT_EQ(L"", call.pin);
        EXPECT_EQ(0, g_inputAtClose.load());
        EXPECT_EQ(L"pindlg closed result=2", JournalLines(L"pindlg closed").back());
        ShowWindow(s_owner, SW_SHOWNORMAL);
    }
}

TEST_F(PinDialogTest, InitialPinMustBeSixToEightLettersOrDigitsTypedTwice) {
    DelegatorCall call(InitPin(), "abc123");
    const HWND dialog = call.Window();
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(L"pindlg shown kind=init tip= color=0xFFE82D2D edit=1 confirm=0", JournalLines(L"pindlg shown").back());
    const std::wstring refused = CatalogText(L"ukeyerror_formaterror_text");
    ASSERT_FALSE(refused.empty());
    const wchar_t* const edits[] = {L"inputdlg_password_edit", L"inputdlg_pconfirmpwd_edit"};

    // Four characters in both: confirm stays disabled.
    for (const wchar_t* name : edits) {
        const HWND native = Focus(dialog, name);
        ASSERT_NE(nullptr, native);
        Type(dialog, native, "abcd", 4);
    }
    EXPECT_FALSE(Enabled(dialog, L"inputdlg_confirm_btn"));
    for (const wchar_t* name : edits) {
        const HWND native = Focus(dialog, name);
        ASSERT_NE(nullptr, native);
        for (int i = 0; i < 4; ++i) desk::Key(VK_BACK);
        EXPECT_TRUE(PumpUntil([&] { return GetWindowTextLengthW(native) == 0; }));
    }

    struct Attempt {
        const char* first;
        const char* second;
        bool shift1;  // a "!" after the keys (shift+1)
    } attempts[] = {{"abc12", "abc12", true}, {"abc123", "abc124", false}, {"abc123", "abc123", false}};
    for (const Attempt& a : attempts) {
        SCOPED_TRACE(a.second);
        const int length = int(strlen(a.first)) + (a.shift1 ? 1 : 0);
        for (int i = 0; i < 2; ++i) {
            const HWND native = Focus(dialog, edits[i]);
            ASSERT_NE(nullptr, native);
            desk::Type(i == 0 ? a.first : a.second);
            if (a.shift1) desk::Key('1', {VK_SHIFT});
            EXPECT_TRUE(PumpUntil([&] { return GetWindowTextLengthW(native) == length; }));
        }
        ASSERT_TRUE(Sync(dialog));
        EXPECT_TRUE(Enabled(dialog, L"inputdlg_confirm_btn"));
        const bool last = &a == &attempts[2];
        if (last) call.WatchClose();
        Click(dialog, L"inputdlg_confirm_btn");
        if (last) break;
        EXPECT_TRUE(PumpUntil([&] { return Sync(dialog) && Tip(dialog) == refused; }));
        EXPECT_EQ(0, InputLength(dialog, edits[0]));
        EXPECT_EQ(0, InputLength(dialog, edits[1]));
        EXPECT_FALSE(Enabled(dialog, L"inputdlg_confirm_btn")) << "nothing left to confirm";
        EXPECT_TRUE(IsWindow(dialog)) << "a refused PIN keeps the dialog open";
        if (a.shift1) desk::Capture(dialog, "initpindlg-refused");
    }
    ASSERT_TRUE(call.Finish());
    EXPECT_EQ(S_OK, call.result);
    EXPECT_EQ(L"abc123", call.pin);
    EXPECT_EQ(0, g_inputAtClose.load());
    EXPECT_EQ(0, g_nativeAtClose.load());
    EXPECT_EQ(0, g_secretFound.load()) << "a freed block still held the PIN";
}

TEST_F(PinDialogTest, DeviceChoiceIsNotOffered) {
    DelegatorCall call([](CCustomizedUIDelegate& d, std::wstring& chosen) {
        return d.SKFCryptSelectDevice(0, std::vector<std::wstring>{L"key one", L"key two"}, chosen);
    });
    HWND box = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (box = desk::FindThreadDialog(call.threadId(), IDOK)) != nullptr; }));
    EXPECT_EQ(L"SKF Tips", desk::Text(box));
    bool textFound = false;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        textFound = textFound || desk::Text(child) == L"Not support select device.";
    EXPECT_TRUE(textFound);
    EXPECT_EQ(s_owner, GetWindow(box, GW_OWNER));
    desk::Capture(box, "selectdevice-box");
    // Its owner's thread (this one) answers while the box closes.
    EXPECT_TRUE(desk::Click(GetDlgItem(box, IDOK)));
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(box); })) << desk::InputState(box);
    ASSERT_TRUE(call.Finish());
    EXPECT_EQ(HRESULT(50), call.result);
}

TEST_F(PinDialogTest, SkinWithoutTheLayoutsFailsWithoutReadingAsACancel) {
    LoadCatalog(false);
    const auto previous = Veneer::SetSkinFailureReporter(&RecordSkinFailure);
    g_skinFailures.clear();
    for (auto make : {InputPin(FALSE, 6), InitPin()}) {
        DelegatorCall call(make);
        ASSERT_TRUE(call.Finish());
        EXPECT_TRUE(FAILED(call.result)) << std::hex << call.result;
        EXPECT_NE(kCancelled, call.result);
    }
    EXPECT_EQ(2u, g_skinFailures.size());
    Veneer::SetSkinFailureReporter(previous);
    LoadCatalog(true);
    // And the next request shows its dialog again.
    DelegatorCall call(InputPin(FALSE, 3));
    const HWND dialog = call.Window();
    ASSERT_NE(nullptr, dialog);
    Click(dialog, L"inputdlg_cancel_btn");
    ASSERT_TRUE(call.Finish());
    EXPECT_EQ(kCancelled, call.result);
}

}  // namespace
