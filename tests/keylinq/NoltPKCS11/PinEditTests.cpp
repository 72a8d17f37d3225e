// The PIN field in a dialog of the test's own, typed into with SendInput
// from the test's thread while the dialog runs on a thread of its own: the
// stored characters, the asterisks shown and what never reaches them.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <atomic>
#include <functional>
#include <vector>

#include "DesktopInput.h"
#include "HostPaths.h"
#include "ImageStatic.h"
#include "PasswordEdit.h"

namespace {

constexpr UINT WM_TEST_PIN = WM_APP + 1;     // lParam: std::string* receiving the stored PIN
constexpr UINT WM_TEST_LENGTH = WM_APP + 2;  // the stored length

// The dialog with its field, on its own thread.
class PinFieldHost {
public:
    PinFieldHost() {
        m_thread = std::thread([this] { Run(); });
        desk::WaitFor([this] { return m_ready.load(); });
    }
    ~PinFieldHost() {
        if (m_dialog) PostMessageW(m_dialog, WM_CLOSE, 0, 0);
        m_thread.join();
    }
    HWND Dialog() const { return m_dialog; }
    HWND Edit() const { return GetDlgItem(m_dialog, 9007); }
    uint32_t Length() { return uint32_t(SendMessageW(m_dialog, WM_TEST_LENGTH, 0, 0)); }
    std::string Pin() {
        std::string pin;
        SendMessageW(m_dialog, WM_TEST_PIN, 0, LPARAM(&pin));
        return pin;
    }
    bool WaitLength(uint32_t n) {
        return desk::WaitFor([&] { return Length() == n && desk::Text(Edit()) == std::wstring(n, L'*'); });
    }
    bool WaitFocus() {
        return desk::WaitFor([&] {
            GUITHREADINFO info = {};
            info.cbSize = sizeof info;
            return GetGUIThreadInfo(GetWindowThreadProcessId(m_dialog, nullptr), &info) && info.hwndFocus == Edit();
        });
    }
    // Masks chosen by the test (before typing).
    uint8_t masks[16] = {};
    bool fixedMasks = false;

private:
    void Run() {
        m_dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(100), nullptr, &Proc, LPARAM(this));
        m_ready = true;
        MSG msg;
        while (m_dialog && GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (!IsDialogMessageW(m_dialog, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    }
    static INT_PTR CALLBACK Proc(HWND hDlg, UINT msg, WPARAM, LPARAM lParam) {
        PinFieldHost* self = reinterpret_cast<PinFieldHost*>(GetWindowLongPtrW(hDlg, DWLP_USER));
        switch (msg) {
        case WM_INITDIALOG:
            self = reinterpret_cast<PinFieldHost*>(lParam);
            SetWindowLongPtrW(hDlg, DWLP_USER, LONG_PTR(self));
            self->m_field.Initialize();
            self->m_field.Attach(GetDlgItem(hDlg, 9007));
            SetForegroundWindow(hDlg);
            SetFocus(GetDlgItem(hDlg, 9007));
            return FALSE;
        case WM_TEST_PIN: {
            char* pin = nullptr;
            if (self->m_field.GetDecryptPassword(&pin) == 0) {
                reinterpret_cast<std::string*>(lParam)->assign(pin, self->m_field.Length());
                SecureZeroMemory(pin, self->m_field.Length());
                free(pin);
            }
            return TRUE;
        }
        case WM_TEST_LENGTH:
            SetWindowLongPtrW(hDlg, DWLP_MSGRESULT, LONG_PTR(self->m_field.Length()));
            return TRUE;
        case WM_APP + 3:
            for (uint32_t k = 0; k < 16; ++k) self->m_field.SetMaskByteForTest(k, self->masks[k]);
            return TRUE;
        case WM_CLOSE:
            DestroyWindow(hDlg);
            self->m_dialog = nullptr;
            PostQuitMessage(0);
            return TRUE;
        default:
            return FALSE;
        }
    }
    CPasswordEdit m_field;
    HWND m_dialog = nullptr;
    std::atomic<bool> m_ready{false};
    std::thread m_thread;

public:
    void ApplyMasks() { SendMessageW(m_dialog, WM_APP + 3, 0, 0); }
};

bool CapsLockOn() { return (GetKeyState(VK_CAPITAL) & 1) != 0; }

TEST(PinField, KeysTable) {
    PinFieldHost host;
    ASSERT_NE(nullptr, host.Dialog());
    ASSERT_TRUE(host.WaitFocus());
    const bool capsBefore = CapsLockOn();
    if (capsBefore) desk::Key(VK_CAPITAL);

    struct Row {
        const char* name;
        std::function<void()> keys;
        std::string stored;  // what the keys add
    } rows[] = {
        {"digits and letters", [] { desk::Type("a1"); }, "a1"},
        {"Shift 1 and Shift ]", [] { desk::Key('1', {VK_SHIFT}); desk::Key(VK_OEM_6, {VK_SHIFT}); }, "!}"},
        {"Ctrl+V and Ctrl+C store nothing", [] { desk::Key('V', {VK_CONTROL}); desk::Key('C', {VK_CONTROL}); desk::Type("b"); }, "b"},
        {"navigation and function keys do nothing",
         [] {
             for (WORD vk : {VK_LEFT, VK_RIGHT, VK_UP, VK_DOWN, VK_DELETE, VK_HOME, VK_END, VK_ESCAPE, VK_F1, VK_F5})
                 desk::Key(vk);
             desk::Type("c");
         },
         "c"},
        {"Caps Lock A gives A, with Shift a",
         [] {
             desk::Key(VK_CAPITAL);
             desk::Key('A');
             desk::Key('A', {VK_SHIFT});
             desk::Key(VK_CAPITAL);
         },
         "Aa"},
        {"numpad digits", [] { desk::Key(VK_NUMPAD7); desk::Key(VK_NUMPAD0); }, "70"},
    };
    std::string expected;
    for (const Row& row : rows) {
        row.keys();
        expected += row.stored;
        EXPECT_TRUE(host.WaitLength(uint32_t(expected.size()))) << row.name << ": " << host.Length();
        EXPECT_EQ(expected, host.Pin()) << row.name;
    }
    // Backspace takes the last character.
    desk::Key(VK_BACK);
    expected.pop_back();
    EXPECT_TRUE(host.WaitLength(uint32_t(expected.size())));
    EXPECT_EQ(expected, host.Pin());

    // What bypasses the hook changes nothing: posted characters, a filled
    // clipboard's paste, a replaced selection, foreign text.
    if (OpenClipboard(host.Dialog())) {
        EmptyClipboard();
        HGLOBAL text = GlobalAlloc(GMEM_MOVEABLE, 8);
        memcpy(GlobalLock(text), "999999", 7);
        GlobalUnlock(text);
        SetClipboardData(CF_TEXT, text);
        CloseClipboard();
    }
    PostMessageW(host.Edit(), WM_CHAR, 'x', 0);
    SendMessageW(host.Edit(), WM_PASTE, 0, 0);
    SendMessageW(host.Edit(), EM_REPLACESEL, FALSE, LPARAM(L"yy"));
    SendMessageW(host.Edit(), WM_SETTEXT, 0, LPARAM(L"zzz"));
    desk::Type("d");
    expected += "d";
    EXPECT_TRUE(host.WaitLength(uint32_t(expected.size())));
    EXPECT_EQ(expected, host.Pin());

    // Up to 16 characters: the 17th is not stored.
    while (expected.size() < 16) {
        desk::Type("e");
        expected += "e";
    }
    desk::Type("f");
    desk::Key(VK_NUMPAD1);
    EXPECT_TRUE(host.WaitLength(16));
    SendMessageW(host.Dialog(), WM_NULL, 0, 0);
    Sleep(100);
    EXPECT_EQ(16u, host.Length());
    EXPECT_EQ(std::wstring(16, L'*'), desk::Text(host.Edit()));
    EXPECT_EQ(expected, host.Pin());
    if (CapsLockOn() != capsBefore) desk::Key(VK_CAPITAL);
}

TEST(PinField, ACharacterEqualToItsMaskIsKept) {
    PinFieldHost host;
    ASSERT_NE(nullptr, host.Dialog());
    for (int k = 0; k < 16; ++k) host.masks[k] = uint8_t(0x31 + k);  // '1', '2', ... match the typed digits
    host.ApplyMasks();
    ASSERT_TRUE(host.WaitFocus());
    desk::Type("1234");
    ASSERT_TRUE(host.WaitLength(4));
    EXPECT_EQ("1234", host.Pin());  // stored as 00 00 00 00, still four characters
    desk::Key(VK_BACK);
    desk::Type("9");
    ASSERT_TRUE(host.WaitLength(4));
    EXPECT_EQ("1239", host.Pin());
}

TEST(PinField, CharacterTranslation) {
    // Without Shift or Caps Lock, as the layout gives them (letters lower case).
    if (GetKeyState(VK_CAPITAL) & 1) GTEST_SKIP() << "Caps Lock is on";
    EXPECT_EQ('a', CPasswordEdit::GetCharFromKey('A'));
    EXPECT_EQ('7', CPasswordEdit::GetCharFromKey('7'));
    EXPECT_EQ(']', CPasswordEdit::GetCharFromKey(VK_OEM_6));
    EXPECT_EQ('5', CPasswordEdit::GetCharFromKey(VK_NUMPAD5));
}

// ---- the image loaders on Keylinq.dll's own picture

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(f);
    return bytes;
}

TEST(DialogImages, PictureResourceEqualsStbDecodingAndMissingOnesFail) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    ASSERT_EQ(Gdiplus::Ok, Gdiplus::GdiplusStartup(&token, &input, nullptr));
    HMODULE keylinq = LoadLibraryExA(HostEnvPath("KEYLINQ_DLL").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, keylinq);
    Gdiplus::Image* image = nullptr;
    ASSERT_EQ(0u, LoadImageFromResource(keylinq, 9012, L"PNG", &image));
    ASSERT_NE(nullptr, image);
    // The reference: the PNG file decoded by the host's stb_image.
    const std::vector<uint8_t> ref = ReadFile(HostEnvPath("KEYLINQ_PIN_PICTURE_RGBA"));
    ASSERT_GE(ref.size(), 8u);
    const uint32_t w = ref[0] | ref[1] << 8 | ref[2] << 16 | uint32_t(ref[3]) << 24;
    const uint32_t h = ref[4] | ref[5] << 8 | ref[6] << 16 | uint32_t(ref[7]) << 24;
    EXPECT_EQ(350u, w);
    EXPECT_EQ(57u, h);
    ASSERT_EQ(w, image->GetWidth());
    ASSERT_EQ(h, image->GetHeight());
    auto* bitmap = static_cast<Gdiplus::Bitmap*>(image);
    Gdiplus::Rect rect(0, 0, INT(w), INT(h));
    Gdiplus::BitmapData data = {};
    ASSERT_EQ(Gdiplus::Ok, bitmap->LockBits(&rect, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data));
    size_t differing = 0;
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* row = static_cast<const uint8_t*>(data.Scan0) + y * data.Stride;
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* px = row + x * 4;  // B G R A
            const uint8_t* rp = &ref[8 + (size_t(y) * w + x) * 4];
            if (px[2] != rp[0] || px[1] != rp[1] || px[0] != rp[2] || px[3] != rp[3]) ++differing;
        }
    }
    bitmap->UnlockBits(&data);
    EXPECT_EQ(0u, differing);
    delete image;

    image = reinterpret_cast<Gdiplus::Image*>(1);
    EXPECT_EQ(0x80070716u, LoadImageFromResource(keylinq, 9011, L"PNG", &image));  // no such resource
    EXPECT_EQ(nullptr, image);
    EXPECT_EQ(0x80070057u, LoadImageFromData(nullptr, 10, &image));
    const uint8_t junk[4] = {1, 2, 3, 4};
    EXPECT_EQ(0x80070057u, LoadImageFromData(junk, 0, &image));
    EXPECT_EQ(0x80004003u, LoadImageFromData(junk, 4, &image));
    FreeLibrary(keylinq);
    Gdiplus::GdiplusShutdown(token);
}

}  // namespace
