// Certaide.exe as a user meets it: started, asked to leave, started twice,
// with broken skins, showing a provisioned virtual key's certificates at the
// time-stamp server's time, following key arrivals and removals, opening the
// registration pages and reporting scans that fail. Each check reads what the
// program wrote to its journal; certificate fields are checked against
// OpenSSL's reading of the same DER.
#include <winsock2.h>
#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CertaideDriver.h"
#include "HostPaths.h"
#include "KeyProvisioning.h"
#include "ServerTestSupport.h"
#include "TestFiles.h"
#include "WindowCapture.h"

namespace {

using testserver::ServerControl;

const wchar_t kInstanceEvent[] = L"{765D017B-4EDB-46D7-9311-0411D596255F}";
const wchar_t kUsbInterface[] = L"{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

// ---- text helpers

std::string Utf8(const std::wstring& w) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), &out[0], n, nullptr, nullptr);
    return out;
}

bool StartsWith(const std::string& text, const std::string& head) { return text.compare(0, head.size(), head) == 0; }

std::string Field(const std::string& details, const std::string& name) {
    const std::string key = name + "=";
    size_t at = details.find(key);
    while (at != std::string::npos && at != 0 && details[at - 1] != ' ') at = details.find(key, at + 1);
    if (at == std::string::npos) return "<absent>";
    at += key.size();
    // "text=" runs to the end of the line; other values end at a blank.
    if (name == "text") return details.substr(at);
    // Combo items hold blanks: they run to " selected=".
    const size_t end = name == "items" ? details.find(" selected=", at) : details.find(' ', at);
    return details.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The whole file, read while others may be appending to it.
std::vector<BYTE> ReadShared(const std::wstring& path) {
    std::vector<BYTE> out;
    for (int attempt = 0; attempt < 20; ++attempt) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND) return out;
            Sleep(10);
            continue;
        }
        const DWORD size = GetFileSize(file, nullptr);
        out.resize(size);
        DWORD read = 0;
        if (size) ReadFile(file, out.data(), size, &read, nullptr);
        out.resize(read);
        CloseHandle(file);
        return out;
    }
    return out;
}

// ---- the journal

struct JournalLine {
    unsigned ms = 0;
    std::string kind, details;
};

class Journal {
public:
    explicit Journal(const wchar_t* name) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_path = std::wstring(temp) + name + L".log";
        DeleteFileW(m_path.c_str());
    }
    const std::wstring& Path() const { return m_path; }

    std::vector<JournalLine> Lines() const {
        std::vector<JournalLine> lines;
        const std::vector<BYTE> bytes = ReadShared(m_path);
        std::string text(bytes.begin(), bytes.end());
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) break;  // a line still being written
            const std::string line = text.substr(start, end - start);
            start = end + 1;
            JournalLine l;
            const size_t a = line.find(' ');
            const size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
            l.ms = unsigned(std::strtoul(line.c_str(), nullptr, 10));
            l.kind = a == std::string::npos ? std::string() : line.substr(a + 1, b == std::string::npos ? b : b - a - 1);
            l.details = b == std::string::npos ? std::string() : line.substr(b + 1);
            lines.push_back(l);
        }
        return lines;
    }
    size_t Size() const { return Lines().size(); }

    // The first line from index `from` on that matches, waiting up to ms.
    bool WaitFor(size_t from, const std::function<bool(const JournalLine&)>& match, int ms, JournalLine* found = nullptr,
                 size_t* index = nullptr) const {
        const DWORD end = GetTickCount() + DWORD(ms);
        do {
            const std::vector<JournalLine> lines = Lines();
            for (size_t i = from; i < lines.size(); ++i)
                if (match(lines[i])) {
                    if (found) *found = lines[i];
                    if (index) *index = i;
                    return true;
                }
            Sleep(50);
        } while (int(GetTickCount() - end) < 0);
        return false;
    }
    bool WaitForKind(size_t from, const std::string& kind, int ms, JournalLine* found = nullptr,
                     size_t* index = nullptr) const {
        return WaitFor(from, [&](const JournalLine& l) { return l.kind == kind; }, ms, found, index);
    }
    int Count(size_t from, const std::string& kind, const std::string& detailsHead = std::string()) const {
        int n = 0;
        const std::vector<JournalLine> lines = Lines();
        for (size_t i = from; i < lines.size(); ++i)
            if (lines[i].kind == kind && StartsWith(lines[i].details, detailsHead)) ++n;
        return n;
    }
    // The last line of that kind (and details head) from `from` on.
    bool Last(size_t from, const std::string& kind, const std::string& detailsHead, JournalLine& out) const {
        bool found = false;
        const std::vector<JournalLine> lines = Lines();
        for (size_t i = from; i < lines.size(); ++i)
            if (lines[i].kind == kind && StartsWith(lines[i].details, detailsHead)) {
                out = lines[i];
                found = true;
            }
        return found;
    }

private:
    std::wstring m_path;
};

// ---- the program

struct WindowSearch {
    DWORD pid;
    const wchar_t* cls;
    HWND found;
};

BOOL CALLBACK FindProcessWindow(HWND hwnd, LPARAM p) {
    WindowSearch* s = reinterpret_cast<WindowSearch*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[64] = {0};
    GetClassNameW(hwnd, cls, 64);
    if (pid == s->pid && wcscmp(cls, s->cls) == 0) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

class Certaide {
public:
    Certaide() = default;
    ~Certaide() {
        if (m_pi.hProcess) {
            if (WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(m_pi.hProcess, 99);
            CloseHandle(m_pi.hProcess);
            CloseHandle(m_pi.hThread);
        }
    }
    Certaide(const Certaide&) = delete;
    Certaide& operator=(const Certaide&) = delete;

    // `tail` follows the program name after exactly one blank.
    bool Start(const std::wstring& exe, const std::wstring& tail = std::wstring()) {
        std::wstring line = L"\"" + exe + L"\"";
        if (!tail.empty()) line += L" " + tail;
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        return CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &m_pi) != FALSE;
    }
    // The exit code, or STILL_ACTIVE after ms.
    DWORD Wait(int ms) {
        if (WaitForSingleObject(m_pi.hProcess, DWORD(ms)) == WAIT_TIMEOUT) return STILL_ACTIVE;
        DWORD code = 0;
        GetExitCodeProcess(m_pi.hProcess, &code);
        return code;
    }
    bool Alive() { return m_pi.hProcess && WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT; }
    DWORD Pid() const { return m_pi.dwProcessId; }

    // The process's top-level window of that class (null when none).
    HWND Window(const wchar_t* className = L"VeneerMainWnd") const {
        WindowSearch search = {m_pi.dwProcessId, className, nullptr};
        EnumWindows(&FindProcessWindow, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    HWND WaitWindow(const wchar_t* className, int ms) const {
        const DWORD end = GetTickCount() + DWORD(ms);
        do {
            if (HWND hwnd = Window(className)) return hwnd;
            Sleep(50);
        } while (int(GetTickCount() - end) < 0);
        return nullptr;
    }

private:
    PROCESS_INFORMATION m_pi = {};
};

bool WaitUntil(const std::function<bool()>& condition, int ms) {
    const DWORD end = GetTickCount() + DWORD(ms);
    do {
        if (condition()) return true;
        Sleep(50);
    } while (int(GetTickCount() - end) < 0);
    return condition();
}

bool InstanceEventExists() {
    HANDLE h = OpenEventW(READ_CONTROL, FALSE, kInstanceEvent);
    if (h) CloseHandle(h);
    return h != nullptr;
}

bool Visible(HWND hwnd) { return (GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0; }
bool Topmost(HWND hwnd) { return (GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

// A press and release of the left button at a point of the window's client
// area (the skin's coordinates at 96 DPI).
void ClickAt(HWND hwnd, int x, int y) {
    const LPARAM at = MAKELPARAM(x, y);
    PostMessageW(hwnd, WM_MOUSEMOVE, 0, at);
    PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(hwnd, WM_LBUTTONUP, 0, at);
}

// A user's click (SendInput) at a point of the window's client area.
void UserClickAt(HWND hwnd, int x, int y) {
    POINT at = {x, y};
    ClientToScreen(hwnd, &at);
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    INPUT in[3] = {};
    const DWORD flags[3] = {MOUSEEVENTF_MOVE, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
    for (int i = 0; i < 3; ++i) {
        in[i].type = INPUT_MOUSE;
        in[i].mi.dx = LONG((at.x * 65536LL + cx - 1) / cx);
        in[i].mi.dy = LONG((at.y * 65536LL + cy - 1) / cy);
        in[i].mi.dwFlags = flags[i] | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    }
    SendInput(3, in, sizeof(INPUT));
}

void UserKey(WORD vk) {
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_KEYBOARD;
    in[0].ki.wVk = in[1].ki.wVk = vk;
    in[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, in, sizeof(INPUT));
    Sleep(100);
}

// Centres of the skin's controls ("pos" of main.xml; the page starts at y 40).
const POINT kReload = {640, 79};
const POINT kResetPwd = {290, 488};
const POINT kReapply = {470, 488};
const POINT kCloseBtn = {772, 20};
const POINT kCertCombo = {350, 119};
const POINT kMinBtn = {740, 20};
const POINT kRenew = {110, 488};
const POINT kView = {640, 119};

// A device-interface broadcast as the system sends it to the window.
LRESULT SendDeviceChange(HWND hwnd, WPARAM event, const std::wstring& name, const GUID* classGuid, bool withRecord = true) {
    std::vector<BYTE> buffer(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + name.size() * sizeof(wchar_t));
    auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buffer.data());
    record->dbcc_size = DWORD(buffer.size());
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    if (classGuid) record->dbcc_classguid = *classGuid;
    memcpy(record->dbcc_name, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    DWORD_PTR result = 0;
    SendMessageTimeoutW(hwnd, WM_DEVICECHANGE, event, withRecord ? reinterpret_cast<LPARAM>(record) : 0, SMTO_NORMAL,
                        10000, &result);
    return LRESULT(result);
}

const GUID kUsbGuid = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
const GUID kHidGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

std::wstring DeviceName(unsigned vid, unsigned pid) {
    wchar_t name[160];
    swprintf(name, 160, L"\\\\?\\USB#VID_%04X&PID_%04X#0000000001#%ls", vid, pid, kUsbInterface);
    return name;
}

// Whether some pixel of the window's client rectangle is within `tolerance`
// of the colour (0xRRGGBB) in each channel.
bool ShowsColour(HWND hwnd, RECT area, DWORD rgb, int tolerance = 24) {
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    HDC dc = GetDC(hwnd);
    bool found = false;
    for (int y = area.top; y < area.bottom && !found; ++y)
        for (int x = area.left; x < area.right && !found; ++x) {
            const COLORREF c = GetPixel(dc, x, y);
            found = std::abs(int(GetRValue(c)) - int((rgb >> 16) & 255)) <= tolerance &&
                    std::abs(int(GetGValue(c)) - int((rgb >> 8) & 255)) <= tolerance &&
                    std::abs(int(GetBValue(c)) - int(rgb & 255)) <= tolerance;
        }
    ReleaseDC(hwnd, dc);
    return found;
}

// The state label's and the result line's areas (main.xml).
const RECT kStateLabel = {140, 302, 300, 328};

// ---- the program's folder

std::wstring ExePath() { return Widen(HostEnvPath("CERTAIDE_EXE")); }

std::wstring Folder(const std::wstring& file) { return file.substr(0, file.find_last_of(L"\\/")); }

// A copy of the program in a folder of its own, with the given skin archive
// (none when empty) and, when asked, the link recorder as IEXPLORE.exe.
std::wstring ProgramCopy(const wchar_t* name, const std::wstring& skinArchive, bool recorder = false) {
    const std::wstring folder = NewScratchFolder(name);
    const std::wstring exe = folder + L"\\Certaide.exe";
    CopyFileW(ExePath().c_str(), exe.c_str(), FALSE);
    if (!skinArchive.empty()) CopyFileW(skinArchive.c_str(), (folder + L"\\SkinMedia.zip").c_str(), FALSE);
    if (recorder)
        CopyFileW(Widen(HostEnvPath("LINK_RECORDER")).c_str(), (folder + L"\\IEXPLORE.exe").c_str(), FALSE);
    return exe;
}

std::wstring GoodSkin() { return Folder(ExePath()) + L"\\SkinMedia.zip"; }

// ---- certificates as OpenSSL reads them

struct CertFacts {
    std::string serialHex, issuerCN;
    time_t notBefore = 0, notAfter = 0;
};

time_t ToUnix(const ASN1_TIME* t) {
    struct tm tm = {};
    ASN1_TIME_to_tm(t, &tm);
    // tm is UTC: days from the epoch by hand (no timegm on this C library).
    int y = tm.tm_year + 1900, m = tm.tm_mon + 1;
    if (m <= 2) {
        y -= 1;
        m += 12;
    }
    const long long days = 365LL * y + y / 4 - y / 100 + y / 400 + (153 * (m - 3) + 2) / 5 + tm.tm_mday - 719469;
    return time_t(days * 86400 + tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec);
}

CertFacts ReadCert(const std::string& der) {
    CertFacts facts;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    X509* x = d2i_X509(nullptr, &p, long(der.size()));
    if (!x) return facts;
    BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get_serialNumber(x), nullptr);
    char* hex = BN_bn2hex(bn);
    facts.serialHex = hex;
    OPENSSL_free(hex);
    BN_free(bn);
    char cn[256] = {0};
    X509_NAME_get_text_by_NID(X509_get_issuer_name(x), NID_commonName, cn, sizeof cn);
    facts.issuerCN = cn;
    facts.notBefore = ToUnix(X509_get0_notBefore(x));
    facts.notAfter = ToUnix(X509_get0_notAfter(x));
    X509_free(x);
    return facts;
}

// "YYYY-MM-DD hh:mm:ss" of a Unix time in the local time of this prefix.
std::string LocalText(time_t t) {
    ULARGE_INTEGER u;
    u.QuadPart = (unsigned long long)(t) * 10000000ULL + 116444736000000000ULL;
    FILETIME utc = {u.LowPart, u.HighPart}, local;
    FileTimeToLocalFileTime(&utc, &local);
    SYSTEMTIME st;
    FileTimeToSystemTime(&local, &st);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond);
    return text;
}

const int kDay = 86400;

int TestDpi();

bool IsHighDpiCase() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info && std::string(info->name()) == "AtHighDpi";
}

// ---- the fixture: the test server, the virtual key and the environment

class CertaideApp : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        ASSERT_FALSE(ExePath().empty()) << "CERTAIDE_EXE is not set";
        ASSERT_TRUE(control.Set("RENEWAL_RESET"));
        SetEnvironmentVariableW(L"CERTAIDE_KEY_LIBRARY", Widen(HostEnvPath("KEYLINQ_DLL")).c_str());
        SetEnvironmentVariableW(L"CERTAIDE_TIMESTAMP_URL", ServerUrl(L"http", port, L"/timestamp").c_str());
        SetEnvironmentVariableW(L"CERTAIDE_RENEWAL_URL",
                                ServerUrl(L"https", port, L"/AssistantServer/RequestAction.do").c_str());
        SetEnvironmentVariableW(L"http_proxy", nullptr);
        ASSERT_FALSE(InstanceEventExists()) << "a Certaide of an earlier test still runs";
        if (TestDpi() != 96 && !IsHighDpiCase()) GTEST_SKIP() << "runs in the 96-DPI entry";
    }
    void UseJournal(const Journal& journal) { SetEnvironmentVariableW(L"CERTAIDE_JOURNAL", journal.Path().c_str()); }
    // Starts the program on that key library (null: where a release build
    // looks for it), writing to the journal.
    void StartOnLibrary(Certaide& program, const Journal& journal, const wchar_t* library) {
        SetEnvironmentVariableW(L"CERTAIDE_KEY_LIBRARY", library);
        UseJournal(journal);
        ASSERT_TRUE(program.Start(ExePath()));
    }

    unsigned TimeStamps() {
        unsigned a = 0, b = 0, c = 0, d = 0;
        std::sscanf(control.Command("RENEWAL_COUNTS").c_str(), "OK %u %u %u %u", &a, &b, &c, &d);
        return d;
    }
    // Ends a running instance the way a user's "-exit" does.
    void ExitInstance(Certaide& running, const wchar_t* exitSwitch = L"-exit") {
        Certaide exiter;
        ASSERT_TRUE(exiter.Start(ExePath(), exitSwitch));
        EXPECT_EQ(0u, exiter.Wait(30000));
        EXPECT_EQ(0u, running.Wait(30000));
        EXPECT_FALSE(InstanceEventExists());
    }
};

// ---- instances

TEST_F(CertaideApp, TitleInThreeLanguagesAndTheChineseFace) {
    HMODULE module = LoadLibraryExW(ExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    struct {
        LANGID lang;
        const wchar_t* title;
    } const cases[] = {{2052, L"Sorvel\x8BC1\x4E66\x66F4\x65B0\x52A9\x624B"},
                       {1028, L"Sorvel\x66F4\x65B0\x52A9\x624B"},
                       {1033, L"ZOPRA Kestrawn"}};
    for (const auto& c : cases) {
        // String 128 is entry 0 of block 9.
        HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(9), c.lang);
        ASSERT_NE(nullptr, found) << c.lang;
        const WORD* entry = static_cast<const WORD*>(LockResource(LoadResource(module, found)));
        ASSERT_NE(nullptr, entry);
        EXPECT_EQ(std::wstring(c.title), std::wstring(reinterpret_cast<const wchar_t*>(entry + 1), entry[0])) << c.lang;
    }
    EXPECT_NE(nullptr, FindResourceW(module, MAKEINTRESOURCEW(128), RT_GROUP_ICON));
    FreeLibrary(module);

    // The skin's Chinese face has the characters it shows.
    HDC dc = CreateCompatibleDC(nullptr);
    HFONT font = CreateFontW(-13, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"\x5FAE\x8F6F\x96C5\x9ED1");
    HGDIOBJ old = SelectObject(dc, font);
    WORD glyph = 0xFFFF;
    EXPECT_EQ(1u, GetGlyphIndicesW(dc, L"\x8BC1", 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS));
    EXPECT_NE(0xFFFF, glyph) << "no glyph for U+8BC1 in the skin's face";
    SelectObject(dc, old);
    DeleteObject(font);
    DeleteDC(dc);
}

TEST_F(CertaideApp, OneInstanceAndItsExitSwitch) {
    Journal journal(L"certaide-instances");
    UseJournal(journal);
    Certaide first;
    ASSERT_TRUE(first.Start(ExePath()));
    ASSERT_TRUE(journal.WaitForKind(0, "scan-applied", 60000)) << "no scan reached the page";
    HWND window = first.Window();
    ASSERT_NE(nullptr, window);
    EXPECT_TRUE(InstanceEventExists());

    // A second start while the first hides in the tray brings it back and
    // ends without a window of its own.
    ShowWindow(window, SW_HIDE);
    ASSERT_FALSE(Visible(window));
    {
        Certaide second;
        ASSERT_TRUE(second.Start(ExePath()));
        EXPECT_EQ(0u, second.Wait(30000));
        EXPECT_TRUE(Visible(window));
        EXPECT_FALSE(IsIconic(window));
        EXPECT_FALSE(Topmost(window));
    }
    EXPECT_EQ(1, journal.Count(0, "app", "started"));

    // Only the whole tail "-exit" (any case) asks the instance to leave.
    for (const wchar_t* tail : {L"-exit now", L" -exit"}) {
        Certaide other;
        ASSERT_TRUE(other.Start(ExePath(), tail));
        EXPECT_EQ(0u, other.Wait(30000)) << Utf8(tail);
        EXPECT_TRUE(first.Alive()) << Utf8(tail);
    }
    EXPECT_EQ(1, journal.Count(0, "app", "started"));

    // "-EXIT" while a scan hangs in the time-stamp request: the window closes
    // at once and the process ends after its wait for the monitor.
    ASSERT_TRUE(control.Set("HANG"));
    const unsigned stamps = TimeStamps();
    const size_t mark = journal.Size();
    ClickAt(window, kReload.x, kReload.y);
    EXPECT_TRUE(WaitUntil([&] { return TimeStamps() > stamps; }, 20000)) << "the reload asked no time";
    ExitInstance(first, L"-EXIT");
    EXPECT_EQ(0, journal.Count(mark, "scan-start"));
    EXPECT_EQ(1, journal.Count(mark, "app", "exiting"));
    ASSERT_TRUE(control.Set("RENEWAL_RESET"));

    // Two starts at the same moment leave one instance; "-Exit" ends it.
    Certaide a, b;
    ASSERT_TRUE(a.Start(ExePath()));
    ASSERT_TRUE(b.Start(ExePath()));
    const DWORD aEnd = a.Wait(40000);
    Certaide& survivor = aEnd == STILL_ACTIVE ? a : b;
    Certaide& loser = aEnd == STILL_ACTIVE ? b : a;
    EXPECT_EQ(0u, loser.Wait(40000));
    EXPECT_TRUE(survivor.Alive());
    ASSERT_NE(nullptr, survivor.WaitWindow(L"VeneerMainWnd", 30000));
    ExitInstance(survivor, L"-Exit");
}

// A skin that does not load: the library's box is dismissed, and the
// process ends with 1 and leaves no instance behind.
TEST_F(CertaideApp, BrokenSkinEndsWithFailure) {
    const std::wstring skins = Widen(HostEnvPath("CERTAIDE_BROKEN_SKINS"));
    struct {
        const wchar_t* name;
        std::wstring archive;
    } const cases[] = {{L"noskin", L""},
                       {L"wrongpw", skins + L"\\SkinMedia-wrong-password.zip"},
                       {L"nomain", skins + L"\\SkinMedia-without-main.zip"}};
    for (const auto& c : cases) {
        const std::wstring exe = ProgramCopy(c.name, c.archive);
        Certaide program;
        ASSERT_TRUE(program.Start(exe));
        HWND box = program.WaitWindow(L"#32770", 60000);
        ASSERT_NE(nullptr, box) << Utf8(c.name);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(1u, program.Wait(30000)) << Utf8(c.name);
        EXPECT_FALSE(InstanceEventExists()) << Utf8(c.name);
    }
}

// ---- the home page, the time and the devices

class CertaideWithKey : public CertaideApp {
protected:
    void Provision(int64_t notBefore, int64_t notAfter, bool rsaCertificate = true, bool freshKey = false) {
        provisioning::Plan plan;
        plan.freshKey = freshKey;
        plan.notBefore = notBefore;
        plan.notAfter = notAfter;
        plan.rsaCertificate = rsaCertificate;
        std::string error;
        ASSERT_TRUE(provisioning::Provision(Keylinq(), keyControl, control, plan, key, error)) << error;
    }
    provisioning::Key key;
    VirtualKeyControl keyControl;
};

std::string LabelText(const Journal& journal, size_t from, const char* name) {
    JournalLine line;
    if (!journal.Last(from, "label", std::string("name=") + name + " ", line)) return "<none>";
    return Field(line.details, "text");
}

bool HasButton(const JournalLine& status, const std::string& name) {
    const std::string enabled = Field(status.details, "enabled");
    return ("," + enabled + ",").find("," + name + ",") != std::string::npos;
}

TEST_F(CertaideWithKey, HomePageAtTheServersTimeAndDeviceChanges) {
    const time_t now = time(nullptr);
    const int64_t notAfter = int64_t(now) + 200 * kDay;
    Provision(int64_t(now) - 10 * kDay, notAfter);
    const CertFacts sm2 = ReadCert(key.sm2Certificate);
    ASSERT_FALSE(sm2.serialHex.empty());
    // The trusted time: 30 days before the end (the clock says 200).
    ASSERT_TRUE(control.Set("TS_STANDING " + std::to_string(notAfter - 30 * kDay) + " 0"));

    Journal journal(L"certaide-home");
    UseJournal(journal);
    const std::wstring exe = ProgramCopy(L"home", GoodSkin(), true);
    // The browser's stand-in inherits where to write from Certaide.
    const std::wstring record = Folder(exe) + L"\\links.txt";
    SetEnvironmentVariableW(L"LINK_RECORDER_OUT", record.c_str());
    Certaide program;
    ASSERT_TRUE(program.Start(exe));
    JournalLine scan;
    ASSERT_TRUE(journal.WaitForKind(0, "scan-end", 90000, &scan));
    EXPECT_EQ("tsa", Field(scan.details, "source"));
    // The fixture's keys; ours is the first.
    EXPECT_EQ(key.serial, Field(scan.details, "keys").substr(0, key.serial.size()));
    ASSERT_TRUE(journal.WaitFor(0, [](const JournalLine& l) { return l.kind == "label" && StartsWith(l.details, "name=cert_certstate_label"); }, 30000));
    HWND window = program.Window();
    ASSERT_NE(nullptr, window);
    Sleep(300);

    // The selected certificate is the SM2 one, read as OpenSSL reads it.
    EXPECT_EQ(sm2.serialHex, LabelText(journal, 0, "cert_serialnum_label"));
    EXPECT_NE(std::string::npos, LabelText(journal, 0, "cert_issuer_label").find(sm2.issuerCN));
    EXPECT_EQ(LocalText(sm2.notBefore) + " ~ " + LocalText(sm2.notAfter), LabelText(journal, 0, "cert_validity_label"));
    EXPECT_EQ("SM2", LabelText(journal, 0, "cert_certtype_label"));
    EXPECT_EQ("\xE5\x8D\xB3\xE5\xB0\x86\xE8\xBF\x87\xE6\x9C\x9F", LabelText(journal, 0, "cert_certstate_label"));  // 即将过期
    JournalLine combo;
    ASSERT_TRUE(journal.Last(0, "combo", "name=cert_certdnsn_combo ", combo));
    EXPECT_EQ("0", Field(combo.details, "selected"));
    EXPECT_NE(std::string::npos, Field(combo.details, "items").find("|")) << "two certificates: " << combo.details;
    JournalLine status;
    ASSERT_TRUE(journal.Last(0, "status", "", status));
    EXPECT_EQ("status=0", "status=" + Field(status.details, "status"));
    EXPECT_TRUE(HasButton(status, "home_renewcert_btn")) << status.details;
    EXPECT_TRUE(HasButton(status, "cert_viewcert_btn")) << status.details;
    EXPECT_FALSE(SaveWindowCapture(window, L"certaide_home_will_expire").empty());
    EXPECT_TRUE(ShowsColour(window, kStateLabel, 0xFDA418)) << "the state is not orange";

    // View: the system's certificate dialog, run by the window's thread
    // (for the window), with the SM2 certificate as the key's provider reads
    // it from the key; closing it returns to the window.
    size_t mark = journal.Size();
    const DWORD clicked = GetTickCount();
    ClickAt(window, kView.x, kView.y);
    HWND viewer = certdrive::WaitCertificateDialog(program.Pid(), window, 30000);
    const DWORD viewMs = GetTickCount() - clicked;
    std::printf("view-to-dialog: %lu ms\n", static_cast<unsigned long>(viewMs));
    ASSERT_NE(nullptr, viewer) << "no certificate dialog owned by the window " << window << ": "
                               << certdrive::DescribeProcessWindows(program.Pid());
    EXPECT_LT(viewMs, 3000u);
    std::printf("certificate dialog owner: %p (main window %p)\n", static_cast<void*>(GetWindow(viewer, GW_OWNER)),
                static_cast<void*>(window));
    std::string seen;
    EXPECT_TRUE(certdrive::CertificateDialogShowsSerial(viewer, sm2.serialHex, &seen)) << sm2.serialHex << " not in " << seen;
    EXPECT_FALSE(SaveWindowCapture(viewer, L"certaide_certificate_viewed").empty());
    EXPECT_TRUE(certdrive::CloseCertificateDialog(viewer, 10000));
    ASSERT_TRUE(journal.WaitForKind(mark, "view", 10000, &scan));
    EXPECT_EQ("0x00000000", Field(scan.details, "result"));
    EXPECT_TRUE(IsWindowEnabled(window));

    // Reload twice at once: one scan. The same key and certificate again
    // keep the selection and the result line (no new status).
    mark = journal.Size();
    ClickAt(window, kReload.x, kReload.y);
    ClickAt(window, kReload.x, kReload.y);
    ASSERT_TRUE(journal.WaitForKind(mark, "scan-applied", 60000));
    Sleep(2000);
    EXPECT_EQ(1, journal.Count(mark, "scan-start"));
    EXPECT_EQ(0, journal.Count(mark, "status"));
    ASSERT_TRUE(journal.Last(mark, "combo", "name=cert_certdnsn_combo ", combo));
    EXPECT_EQ("0", Field(combo.details, "selected"));

    // The second certificate, chosen in the drop-down: the RSA-1024 one.
    const CertFacts rsa = ReadCert(key.rsaCertificate);
    mark = journal.Size();
    SetForegroundWindow(window);
    UserClickAt(window, kCertCombo.x, kCertCombo.y);
    HWND dropDown = program.WaitWindow(L"VeneerComboWnd", 20000);
    ASSERT_NE(nullptr, dropDown);
    Sleep(300);
    UserKey(VK_DOWN);
    UserKey(VK_RETURN);
    ASSERT_TRUE(journal.WaitFor(mark, [](const JournalLine& l) { return l.kind == "label" && StartsWith(l.details, "name=cert_certstate_label"); }, 20000));
    EXPECT_EQ("RSA-1024", LabelText(journal, mark, "cert_certtype_label"));
    EXPECT_EQ(rsa.serialHex, LabelText(journal, mark, "cert_serialnum_label"));
    ASSERT_TRUE(journal.Last(mark, "combo", "name=cert_certdnsn_combo ", combo));
    EXPECT_EQ("1", Field(combo.details, "selected"));
    // An RSA certificate is looked for in the user's "MY" store, where
    // nothing put the key's: no dialog, and the viewer says so.
    mark = journal.Size();
    ClickAt(window, kView.x, kView.y);
    JournalLine viewed;
    ASSERT_TRUE(journal.WaitForKind(mark, "view", 20000, &viewed));
    EXPECT_EQ("0xa0001a01", Field(viewed.details, "result"));
    EXPECT_TRUE(journal.WaitFor(mark, [](const JournalLine& l) { return l.kind == "trace" && l.details.find("Not find reg cert") != std::string::npos; }, 1000));
    EXPECT_EQ(nullptr, certdrive::WaitCertificateDialog(program.Pid(), window, 0));
    // Back to the SM2 certificate.
    mark = journal.Size();
    UserClickAt(window, kCertCombo.x, kCertCombo.y);
    dropDown = program.WaitWindow(L"VeneerComboWnd", 20000);
    ASSERT_NE(nullptr, dropDown);
    Sleep(300);
    UserKey(VK_UP);
    UserKey(VK_RETURN);
    ASSERT_TRUE(journal.WaitFor(mark, [](const JournalLine& l) { return l.kind == "label" && StartsWith(l.details, "name=cert_certstate_label"); }, 20000));
    EXPECT_EQ("SM2", LabelText(journal, mark, "cert_certtype_label"));

    // The time-stamp server refuses: the clock serves, the certificate is
    // normal and renew is disabled.
    ASSERT_TRUE(control.Set("TS_STATUS_ONLY"));
    Sleep(500);
    mark = journal.Size();
    ClickAt(window, kReload.x, kReload.y);
    ASSERT_TRUE(journal.WaitForKind(mark, "scan-end", 60000, &scan));
    EXPECT_EQ("clock", Field(scan.details, "source"));
    ASSERT_TRUE(journal.WaitForKind(mark, "status", 20000, &status));
    EXPECT_EQ("\xE6\xAD\xA3\xE5\xB8\xB8", LabelText(journal, mark, "cert_certstate_label"));  // 正常
    EXPECT_FALSE(HasButton(status, "home_renewcert_btn")) << status.details;
    EXPECT_TRUE(HasButton(status, "cert_viewcert_btn")) << status.details;

    // Past the end by the server's time: expired, renew enabled.
    ASSERT_TRUE(control.Set("TS_STANDING " + std::to_string(notAfter + kDay) + " 0"));
    mark = journal.Size();
    ClickAt(window, kReload.x, kReload.y);
    ASSERT_TRUE(journal.WaitForKind(mark, "status", 60000, &status));
    EXPECT_EQ("\xE5\xB7\xB2\xE8\xBF\x87\xE6\x9C\x9F", LabelText(journal, mark, "cert_certstate_label"));  // 已过期
    EXPECT_TRUE(HasButton(status, "home_renewcert_btn")) << status.details;
    EXPECT_FALSE(SaveWindowCapture(window, L"certaide_home_expired").empty());
    EXPECT_TRUE(ShowsColour(window, kStateLabel, 0xFE3B00)) << "the state is not red";
    EXPECT_FALSE(ShowsColour(window, kStateLabel, 0xFDA418)) << "the state is still orange";

    // ---- device changes
    const std::wstring ours = DeviceName(KEYLINQ_USB_VENDOR_ID, 0xF408);
    // The close button hides the window.
    ClickAt(window, kCloseBtn.x, kCloseBtn.y);
    ASSERT_TRUE(journal.WaitFor(mark, [](const JournalLine& l) { return l.kind == "window" && l.details == "hidden"; }, 20000));
    EXPECT_TRUE(program.Alive());
    EXPECT_FALSE(Visible(window));

    // Our key arrives: the window comes up and one scan lists after the
    // settling second.
    mark = journal.Size();
    SendDeviceChange(window, DBT_DEVICEARRIVAL, ours, &kUsbGuid);
    JournalLine restored, start;
    ASSERT_TRUE(journal.WaitFor(mark, [](const JournalLine& l) { return l.kind == "window" && l.details == "restored"; }, 20000, &restored));
    EXPECT_TRUE(Visible(window));
    EXPECT_EQ(window, GetForegroundWindow());
    ASSERT_TRUE(journal.WaitForKind(mark, "scan-start", 30000, &start));
    EXPECT_GE(start.ms, restored.ms + 900);
    ASSERT_TRUE(journal.WaitForKind(mark, "scan-applied", 60000));
    Sleep(1500);
    EXPECT_EQ(1, journal.Count(mark, "scan-start"));

    // Removal: one scan, the window stays as it is (hidden).
    ShowWindow(window, SW_HIDE);
    mark = journal.Size();
    SendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE, ours, &kUsbGuid);
    ASSERT_TRUE(journal.WaitForKind(mark, "scan-applied", 60000));
    Sleep(1500);
    EXPECT_EQ(1, journal.Count(mark, "scan-start"));
    EXPECT_EQ(0, journal.Count(mark, "window"));
    EXPECT_FALSE(Visible(window));

    // Two arrivals 50 ms apart: one scan.
    mark = journal.Size();
    SendDeviceChange(window, DBT_DEVICEARRIVAL, ours, &kUsbGuid);
    Sleep(50);
    SendDeviceChange(window, DBT_DEVICEARRIVAL, ours, &kUsbGuid);
    ASSERT_TRUE(journal.WaitForKind(mark, "scan-applied", 60000));
    Sleep(2000);
    EXPECT_EQ(1, journal.Count(mark, "scan-start"));

    // Other devices and other events: nothing within 2 s.
    mark = journal.Size();
    SendDeviceChange(window, DBT_DEVICEARRIVAL, DeviceName(KEYLINQ_USB_VENDOR_ID + 1, 0xF408), &kUsbGuid);
    SendDeviceChange(window, DBT_DEVICEARRIVAL, DeviceName(KEYLINQ_USB_VENDOR_ID, 0xF409), &kUsbGuid);
    SendDeviceChange(window, DBT_DEVICEARRIVAL, ours, &kHidGuid);
    SendDeviceChange(window, DBT_DEVICEARRIVAL, ours, &kUsbGuid, false);
    SendDeviceChange(window, DBT_DEVNODES_CHANGED, ours, &kUsbGuid);
    Sleep(2000);
    EXPECT_EQ(0, journal.Count(mark, "scan-start"));
    EXPECT_EQ(0, journal.Count(mark, "window"));

    // Our key pulled while a listing runs: the removal gets a scan of its own,
    // which no longer lists it.
    mark = journal.Size();
    ClickAt(window, kReload.x, kReload.y);
    ASSERT_TRUE(journal.WaitForKind(mark, "scan-start", 30000));
    ASSERT_EQ(0u, keyControl.Unplug(key.keyId));
    SendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE, ours, &kUsbGuid);
    EXPECT_TRUE(WaitUntil([&] { return journal.Count(mark, "scan-end") >= 2; }, 60000)) << "one scan only";
    JournalLine last;
    ASSERT_TRUE(journal.Last(mark, "scan-end", "", last));
    EXPECT_EQ(std::string::npos, Field(last.details, "keys").find(key.serial)) << "the pulled key stayed listed";
    Sleep(1500);
    EXPECT_EQ(2, journal.Count(mark, "scan-start"));
    ASSERT_EQ(0u, keyControl.Plug(key.keyId));
    mark = journal.Size();
    SendDeviceChange(window, DBT_DEVICEARRIVAL, ours, &kUsbGuid);
    ASSERT_TRUE(journal.WaitFor(mark, [&](const JournalLine& l) { return l.kind == "scan-end" && StartsWith(Field(l.details, "keys"), key.serial); }, 60000));
    ASSERT_TRUE(journal.WaitForKind(mark, "scan-applied", 10000));

    // The keys pulled: no key, only reload enabled, empty result line.
    std::vector<uint32_t> keys = {key.keyId};
    VirtualKeyState other;
    for (uint32_t id = 1; id <= 4; ++id)
        if (id != key.keyId && keyControl.State(id, other) == 0) keys.push_back(id);
    for (uint32_t id : keys) ASSERT_EQ(0u, keyControl.Unplug(id));
    mark = journal.Size();
    SendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE, ours, &kUsbGuid);
    ASSERT_TRUE(journal.WaitForKind(mark, "status", 60000, &status));
    EXPECT_EQ("0", Field(status.details, "status"));
    EXPECT_EQ("cert_reloadukey_btn", Field(status.details, "enabled"));
    EXPECT_EQ("", Field(status.details, "text"));
    ASSERT_TRUE(journal.Last(mark, "combo", "name=cert_ukeysn_combo ", combo));
    EXPECT_EQ("-1", Field(combo.details, "selected"));
    EXPECT_EQ("", Field(combo.details, "items"));

    // Plugged again: listed again.
    for (uint32_t id : keys) ASSERT_EQ(0u, keyControl.Plug(id));
    mark = journal.Size();
    SendDeviceChange(window, DBT_DEVICEARRIVAL, ours, &kUsbGuid);
    ASSERT_TRUE(journal.WaitFor(mark, [&](const JournalLine& l) { return l.kind == "scan-end" && StartsWith(Field(l.details, "keys"), key.serial); }, 60000));
    ASSERT_TRUE(journal.WaitFor(mark, [](const JournalLine& l) { return l.kind == "label" && StartsWith(l.details, "name=cert_certstate_label"); }, 30000));

    // ---- registration pages
    const std::string expected = std::string("https://") + CERTAIDE_REGISTRATION_HOST_A +
                                 "/view/regist/registFrom.html?serialNo=" + sm2.serialHex;
    HKEY appPath = nullptr;
    const wchar_t chromeKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\chrome.exe";
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, chromeKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &appPath, nullptr));
    const std::wstring recorderPath = Widen(HostEnvPath("LINK_RECORDER"));
    RegSetValueExW(appPath, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(recorderPath.c_str()),
                   DWORD((recorderPath.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(appPath);
    ClickAt(window, kResetPwd.x, kResetPwd.y);
    auto recorded = [&](size_t lines) {
        const std::vector<BYTE> bytes = ReadShared(record);
        std::vector<std::string> out;
        std::string text(bytes.begin(), bytes.end());
        size_t at = 0, end;
        while ((end = text.find('\n', at)) != std::string::npos) {
            out.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        return out.size() >= lines ? out : std::vector<std::string>();
    };
    std::vector<std::string> links;
    EXPECT_TRUE(WaitUntil([&] { return !(links = recorded(1)).empty(); }, 30000)) << "Chrome's stand-in got nothing";
    if (!links.empty()) {
        EXPECT_EQ(expected + "&type=1", links[0]);
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, chromeKey);
    ClickAt(window, kReapply.x, kReapply.y);
    EXPECT_TRUE(WaitUntil([&] { return !(links = recorded(2)).empty(); }, 30000)) << "IEXPLORE's stand-in got nothing";
    if (links.size() >= 2) {
        EXPECT_EQ(expected + "&type=0", links[1]);
    }

    // ---- renew: a double click runs one renewal, whose end reaches the
    // page (the key holds an RSA certificate: refused at once, 101).
    mark = journal.Size();
    ClickAt(window, kRenew.x, kRenew.y);
    ClickAt(window, kRenew.x, kRenew.y);
    JournalLine ended, final;
    ASSERT_TRUE(journal.WaitForKind(mark, "renewal-end", 60000, &ended));
    EXPECT_EQ("101", Field(ended.details, "status"));
    EXPECT_EQ("0", Field(ended.details, "rescan"));
    ASSERT_TRUE(journal.WaitFor(mark, [](const JournalLine& l) { return l.kind == "status" && Field(l.details, "status") == "101"; }, 20000, &final));
    EXPECT_EQ("cert_reloadukey_btn,cert_viewcert_btn,home_renewcert_btn,home_resetpwd_btn,home_reapply_btn,home_resetid_btn",
              Field(final.details, "enabled"));
    EXPECT_NE("", Field(final.details, "text"));
    Sleep(1000);
    EXPECT_EQ(1, journal.Count(mark, "renew-requested"));
    EXPECT_EQ(1, journal.Count(mark, "renewal-start"));

    // ---- no PIN retries left: 71, only reload enabled
    {
        provisioning::Session session(Keylinq(), key.deviceName);
        ASSERT_EQ(SAR_OK, session.Open());
        char wrong[] = "00000000";
        ULONG retry = 1;
        for (int i = 0; i < 20 && retry > 0; ++i) Keylinq().SKF_VerifyPIN(session.app, 1, wrong, &retry);
        ASSERT_EQ(0u, retry);
    }
    mark = journal.Size();
    ClickAt(window, kReload.x, kReload.y);
    ASSERT_TRUE(journal.WaitFor(mark, [](const JournalLine& l) { return l.kind == "status" && Field(l.details, "status") == "71"; }, 60000, &final));
    EXPECT_EQ("cert_reloadukey_btn", Field(final.details, "enabled"));
    EXPECT_NE("", Field(final.details, "text"));

    // ---- window and tray
    // The minimise button; a left click on the tray icon brings it back.
    ClickAt(window, kMinBtn.x, kMinBtn.y);
    EXPECT_TRUE(WaitUntil([&] { return IsIconic(window) != FALSE; }, 10000));
    PostMessageW(window, 1025, 128, WM_LBUTTONUP);
    EXPECT_TRUE(WaitUntil([&] { return !IsIconic(window) && Visible(window); }, 10000));
    // The shell restarted: the icon is put back, the program carries on.
    PostMessageW(window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    // A right click opens the menu with its base 75 pixels above the cursor;
    // a second one replaces it.
    SetCursorPos(600, 700);
    mark = journal.Size();
    PostMessageW(window, 1025, 128, WM_RBUTTONUP);
    HWND menu = program.WaitWindow(L"VeneerMenuWnd", 20000);
    ASSERT_NE(nullptr, menu);
    JournalLine opened;
    ASSERT_TRUE(journal.WaitForKind(mark, "traymenu", 10000, &opened));
    EXPECT_EQ("600", Field(opened.details, "x"));
    EXPECT_EQ("625", Field(opened.details, "y"));
    RECT place;
    GetWindowRect(menu, &place);
    EXPECT_EQ(600, place.left);
    EXPECT_EQ(625, place.top);
    PostMessageW(window, 1025, 128, WM_RBUTTONUP);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(menu); }, 10000)) << "the first menu stayed";
    menu = program.WaitWindow(L"VeneerMenuWnd", 20000);
    ASSERT_NE(nullptr, menu);
    // Found as soon as it exists: captured once it is shown at its size.
    EXPECT_TRUE(WaitUntil([&] {
        RECT shown = {};
        return IsWindowVisible(menu) && GetWindowRect(menu, &shown) && shown.right > shown.left &&
               shown.bottom > shown.top;
    }, 10000)) << "the second menu never showed";
    EXPECT_FALSE(SaveWindowCapture(menu, L"certaide_tray_menu").empty());
    // Its first item opens the hidden window.
    ShowWindow(window, SW_HIDE);
    Sleep(300);
    mark = journal.Size();
    GetClientRect(menu, &place);
    UserClickAt(menu, place.right / 2, place.bottom / 4);
    EXPECT_TRUE(journal.WaitFor(mark, [](const JournalLine& l) { return l.kind == "window" && l.details == "restored"; }, 20000));
    EXPECT_TRUE(Visible(window));
    // Its second item ends the program.
    PostMessageW(window, 1025, 128, WM_RBUTTONUP);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(menu); }, 10000));
    menu = program.WaitWindow(L"VeneerMenuWnd", 20000);
    ASSERT_NE(nullptr, menu);
    Sleep(500);
    GetClientRect(menu, &place);
    UserClickAt(menu, place.right / 2, place.bottom * 3 / 4);
    EXPECT_EQ(0u, program.Wait(30000));
    EXPECT_FALSE(InstanceEventExists());
    EXPECT_EQ(1, journal.Count(0, "app", "exiting"));
}

// ---- renewals through the window

const char kAllButtons[] =
    "cert_reloadukey_btn,cert_viewcert_btn,home_renewcert_btn,home_resetpwd_btn,home_reapply_btn,home_resetid_btn";
// The PIN dialog's edit and confirm button (pindlg.xml) and the busy
// animation's centre (main.xml).
const POINT kPinEdit = {180, 100};
const POINT kPinConfirm = {162, 160};
const POINT kBusyGif = {52, 376};
const POINT kKeyCombo = {350, 79};
// The frames of the skin's busy.gif, each one flat colour.
const DWORD kBusyFrames[] = {0x2F80D1, 0x22BA34, 0xFDA418, 0xFE3B00};

bool ShowsBusyFrame(HWND window) {
    for (DWORD colour : kBusyFrames)
        if (ShowsColour(window, RECT{kBusyGif.x, kBusyGif.y, kBusyGif.x + 1, kBusyGif.y + 1}, colour, 8)) return true;
    return false;
}

class CertaideRenewal : public CertaideWithKey {
protected:
    // The server's counts: validate codes (2001) and renewals (5002).
    std::pair<unsigned, unsigned> Requests() {
        unsigned a = 0, b = 0, c = 0, d = 0;
        std::sscanf(control.Command("RENEWAL_COUNTS").c_str(), "OK %u %u %u %u", &a, &b, &c, &d);
        return {a, b};
    }
    // The key's seal file removed, or written again with the provisioned bytes.
    void SetSeal(bool present) {
        provisioning::Session s(Keylinq(), key.deviceName);
        ASSERT_EQ(SAR_OK, s.Open());
        ASSERT_EQ(SAR_OK, s.VerifyUserPin());
        for (std::string name : s.FileNames()) ASSERT_EQ(SAR_OK, Keylinq().SKF_DeleteFile(s.app, &name[0]));
        if (present) {
            std::string name = key.sealFile, seal = provisioning::Plan().seal;
            ASSERT_EQ(SAR_OK, Keylinq().SKF_CreateFile(s.app, &name[0], ULONG(seal.size()), 0xFF, 0xFF));
            ASSERT_EQ(SAR_OK, Keylinq().SKF_WriteFile(s.app, &name[0], 0, reinterpret_cast<BYTE*>(&seal[0]),
                                                      ULONG(seal.size())));
        }
        Keylinq().SKF_ClearSecureState(s.app);
    }
    // The PIN typed into the skinned dialog and confirmed, as a user does.
    void EnterPin(Certaide& program, const Journal& journal, size_t from) {
        ASSERT_TRUE(journal.WaitFor(from, [](const JournalLine& l) { return l.kind == "pindlg" && StartsWith(l.details, "shown kind=input"); }, 60000));
        HWND dialog = program.WaitWindow(L"VeneerInputPINWnd", 20000);
        ASSERT_NE(nullptr, dialog);
        Sleep(500);
        SetForegroundWindow(dialog);
        UserClickAt(dialog, kPinEdit.x, kPinEdit.y);
        Sleep(300);
        for (const char* c = provisioning::USER_PIN; *c; ++c) UserKey(WORD(*c));
        const size_t typed = journal.Size();
        UserClickAt(dialog, kPinConfirm.x, kPinConfirm.y);
        ASSERT_TRUE(journal.WaitFor(typed, [](const JournalLine& l) { return l.kind == "pindlg" && l.details == "closed result=1"; }, 20000));
    }
    // The renewal's final status line from `from` on.
    JournalLine AwaitEnd(const Journal& journal, size_t from, const std::string& status) {
        JournalLine end, line;
        EXPECT_TRUE(journal.WaitForKind(from, "renewal-end", 120000, &end));
        EXPECT_EQ(status, Field(end.details, "status")) << end.details;
        EXPECT_TRUE(journal.WaitFor(from, [&](const JournalLine& l) { return l.kind == "status" && Field(l.details, "status") == status; }, 20000, &line));
        return line;
    }
    bool WaitHeld() {
        return WaitUntil([&] { return control.Command("HELD") == "OK 1"; }, 60000);
    }
};

TEST_F(CertaideRenewal, OutcomesAndAHeldRenewal) {
    const time_t now = time(nullptr);
    // A key of its own (the program's first key may have used up its PIN
    // tries) whose certificates expire soon, the issued ones too: renew
    // stays offered.
    Provision(int64_t(now) - 10 * kDay, int64_t(now) + 10 * kDay, false, true);
    ASSERT_TRUE(control.Set("ISSUE_VALIDITY " + std::to_string(now - kDay) + " " + std::to_string(now + 10 * kDay)));
    Journal journal(L"certaide-renewal");
    UseJournal(journal);
    Certaide program;
    ASSERT_TRUE(program.Start(ExePath()));
    JournalLine status;
    ASSERT_TRUE(journal.WaitForKind(0, "scan-applied", 90000));
    ASSERT_TRUE(journal.WaitFor(0, [](const JournalLine& l) { return l.kind == "label" && StartsWith(l.details, "name=cert_certstate_label"); }, 30000));
    HWND window = program.Window();
    ASSERT_NE(nullptr, window);
    // The new key is listed last: chosen in the key drop-down.
    size_t mark = journal.Size();
    SetForegroundWindow(window);
    UserClickAt(window, kKeyCombo.x, kKeyCombo.y);
    ASSERT_NE(nullptr, program.WaitWindow(L"VeneerComboWnd", 20000));
    Sleep(300);
    for (int i = 0; i < 6; ++i) UserKey(VK_DOWN);
    UserKey(VK_RETURN);
    ASSERT_TRUE(journal.WaitFor(mark, [&](const JournalLine& l) { return l.kind == "label" && l.details == "name=cert_certtype_label text=SM2"; }, 20000));
    JournalLine combo;
    ASSERT_TRUE(journal.Last(0, "combo", "name=cert_ukeysn_combo ", combo));
    const std::string items = Field(combo.details, "items");
    ASSERT_EQ(key.serial, items.substr(items.rfind('|') + 1)) << combo.details;

    // No seal file: 102 before any request, no rescan.
    SetSeal(false);
    mark = journal.Size();
    ClickAt(window, kRenew.x, kRenew.y);
    status = AwaitEnd(journal, mark, "102");
    EXPECT_EQ("0x00000000", Field(status.details, "code"));
    EXPECT_EQ(kAllButtons, Field(status.details, "enabled"));
    EXPECT_EQ(0, journal.Count(mark, "pindlg"));
    EXPECT_EQ(0, journal.Count(mark, "scan-start"));
    EXPECT_EQ(std::make_pair(0u, 0u), Requests());
    SetSeal(true);

    // The server refuses the renewal with 5004: 41, its code and message on
    // the result line, and a rescan.
    const std::string message = "\xE7\xAD\xBE\xE5\x90\x8D\xE6\x97\xA0\xE6\x95\x88";  // 签名无效
    ASSERT_TRUE(control.Set("VARIANT 5002 CODE 5004 " + ServerControl::Hex(message)));
    mark = journal.Size();
    ClickAt(window, kRenew.x, kRenew.y);
    EnterPin(program, journal, mark);
    status = AwaitEnd(journal, mark, "41");
    EXPECT_NE(std::string::npos, Field(status.details, "text").find("5004 - " + message)) << status.details;
    EXPECT_EQ(kAllButtons, Field(status.details, "enabled"));
    EXPECT_TRUE(journal.WaitForKind(mark, "scan-start", 30000)) << "no rescan after 41";
    ASSERT_TRUE(journal.WaitForKind(mark, "scan-applied", 60000));
    EXPECT_EQ(std::make_pair(1u, 1u), Requests());

    // The new seal's file cannot be created: 104 and no rescan. The refusal
    // is armed while the server holds its renewal reply.
    ASSERT_TRUE(StartsWith(control.Command("HOLD 5002"), "OK"));
    mark = journal.Size();
    ClickAt(window, kRenew.x, kRenew.y);
    EnterPin(program, journal, mark);
    ASSERT_TRUE(WaitHeld());
    ASSERT_EQ(0u, keyControl.ForceReply(key.keyId, 0x30, 0x6A84));
    ASSERT_TRUE(StartsWith(control.Command("RELEASE"), "OK"));
    status = AwaitEnd(journal, mark, "104");
    EXPECT_NE("0x00000000", Field(status.details, "code"));
    EXPECT_EQ(kAllButtons, Field(status.details, "enabled"));
    Sleep(1500);
    EXPECT_EQ(0, journal.Count(mark, "scan-start"));
    EXPECT_EQ(std::make_pair(2u, 2u), Requests());

    // The seal back and the key read again for the held renewal.
    SetSeal(true);
    mark = journal.Size();
    ClickAt(window, kReload.x, kReload.y);
    ASSERT_TRUE(journal.WaitForKind(mark, "scan-applied", 60000));
    ASSERT_TRUE(journal.Last(0, "status", "", status));
    ASSERT_TRUE(HasButton(status, "home_renewcert_btn")) << status.details;

    // Held: renew clicked twice at once runs one renewal; while the server
    // holds the reply the busy animation turns, everything is disabled and
    // the window still answers.
    ASSERT_TRUE(StartsWith(control.Command("HOLD 5002"), "OK"));
    mark = journal.Size();
    ClickAt(window, kRenew.x, kRenew.y);
    ClickAt(window, kRenew.x, kRenew.y);
    EnterPin(program, journal, mark);
    ASSERT_TRUE(WaitHeld());
    ASSERT_TRUE(journal.WaitFor(mark, [](const JournalLine& l) { return l.kind == "status" && Field(l.details, "status") == "42"; }, 20000, &status));
    EXPECT_EQ("", Field(status.details, "enabled"));
    ClickAt(window, kRenew.x, kRenew.y);
    Sleep(500);
    EXPECT_FALSE(SaveWindowCapture(window, L"certaide_renewal_held").empty());
    EXPECT_TRUE(ShowsBusyFrame(window)) << "no frame of the busy animation at its place";
    // A click on the key combo opens no drop-down.
    SetForegroundWindow(window);
    UserClickAt(window, kCertCombo.x, kCertCombo.y);
    Sleep(1000);
    EXPECT_EQ(nullptr, program.Window(L"VeneerComboWnd"));
    // A key plugged meanwhile: its listing (the certificate now expired by
    // the server's time) updates the records and lists, while the buttons,
    // combos, busy animation and result line stay the renewal's.
    ASSERT_TRUE(control.Set("TS_STANDING " + std::to_string(now + 11 * kDay) + " 0"));
    const size_t plugged = journal.Size();
    SendDeviceChange(window, DBT_DEVICEARRIVAL, DeviceName(KEYLINQ_USB_VENDOR_ID, 0xF408), &kUsbGuid);
    ASSERT_TRUE(journal.WaitForKind(plugged, "scan-applied", 60000));
    EXPECT_TRUE(journal.WaitFor(plugged, [](const JournalLine& l) { return l.kind == "label" && l.details == "name=cert_certstate_label text=\xE5\xB7\xB2\xE8\xBF\x87\xE6\x9C\x9F"; }, 20000))
        << "the listing did not reach the labels";  // 已过期
    Sleep(1000);
    EXPECT_EQ(0, journal.Count(plugged, "status")) << "a scan changed the renewal's status line";
    EXPECT_TRUE(ShowsBusyFrame(window)) << "the scan hid the busy animation";
    SetForegroundWindow(window);
    UserClickAt(window, kKeyCombo.x, kKeyCombo.y);
    Sleep(1000);
    EXPECT_EQ(nullptr, program.Window(L"VeneerComboWnd")) << "the scan unlocked the key combo";
    const size_t reloaded = journal.Size();
    ClickAt(window, kReload.x, kReload.y);
    Sleep(1500);
    EXPECT_EQ(0, journal.Count(reloaded, "scan-start")) << "the scan enabled reload";
    size_t shown = journal.Size();
    ClickAt(window, kCloseBtn.x, kCloseBtn.y);
    EXPECT_TRUE(journal.WaitFor(shown, [](const JournalLine& l) { return l.kind == "window" && l.details == "hidden"; }, 20000));
    PostMessageW(window, 1025, 128, WM_LBUTTONUP);
    EXPECT_TRUE(journal.WaitFor(shown, [](const JournalLine& l) { return l.kind == "window" && l.details == "restored"; }, 20000));
    EXPECT_TRUE(Visible(window));
    EXPECT_EQ(1, journal.Count(mark, "renew-requested"));
    EXPECT_EQ(1, journal.Count(mark, "renewal-start"));
    EXPECT_EQ(std::make_pair(3u, 3u), Requests());

    // "-exit" while held: the window closes and the loop ends at once, the
    // process waits for the renewal and then ends cleanly.
    Certaide exiter;
    ASSERT_TRUE(exiter.Start(ExePath(), L"-exit"));
    EXPECT_EQ(0u, exiter.Wait(30000));
    size_t exiting = 0, ended = 0;
    ASSERT_TRUE(journal.WaitFor(mark, [](const JournalLine& l) { return l.kind == "app" && l.details == "exiting"; }, 30000, nullptr, &exiting));
    Sleep(1000);
    EXPECT_TRUE(program.Alive()) << "ended during the renewal";
    EXPECT_EQ(0, journal.Count(mark, "renewal-end"));
    ASSERT_TRUE(StartsWith(control.Command("RELEASE"), "OK"));
    // The listing during the renewal connected to the key again, after
    // which the import asks for the PIN once more.
    if (journal.WaitFor(exiting, [](const JournalLine& l) { return l.kind == "pindlg" && StartsWith(l.details, "shown kind=input"); }, 20000))
        EnterPin(program, journal, exiting);
    EXPECT_EQ(0u, program.Wait(120000));
    EXPECT_FALSE(InstanceEventExists());
    JournalLine end;
    ASSERT_TRUE(journal.WaitForKind(mark, "renewal-end", 0, &end, &ended));
    EXPECT_EQ("40", Field(end.details, "status"));
    EXPECT_LT(exiting, ended);
    EXPECT_EQ(std::make_pair(3u, 3u), Requests());
}

// ---- 144 DPI (the entry that runs in the prefix at that DPI)

int TestDpi() {
    const char* value = std::getenv("VENEER_TEST_DPI");
    return value ? std::atoi(value) : 96;
}

TEST_F(CertaideApp, AtHighDpi) {
    if (TestDpi() != 144) GTEST_SKIP() << "runs in the 144-DPI entry";
    Journal journal(L"certaide-144dpi");
    Certaide program;
    StartOnLibrary(program, journal, L"C:\\nowhere\\Keylinq.dll");
    ASSERT_TRUE(journal.WaitForKind(0, "status", 60000));
    HWND window = program.WaitWindow(L"VeneerMainWnd", 10000);
    ASSERT_NE(nullptr, window);
    Sleep(500);
    RECT rect;
    GetWindowRect(window, &rect);
    EXPECT_EQ(1200, rect.right - rect.left);
    EXPECT_EQ(828, rect.bottom - rect.top);
    EXPECT_FALSE(SaveWindowCapture(window, L"certaide_home_144dpi").empty());
    // The title bar is the @150 file's (its blue is one unit off the 96-DPI one).
    EXPECT_TRUE(ShowsColour(window, RECT{600, 50, 601, 51}, 0x1E5AA1, 0));
    EXPECT_FALSE(ShowsColour(window, RECT{600, 50, 601, 51}, 0x1E5AA0, 0));
    // The close button at its scaled place hides the window.
    ClickAt(window, kCloseBtn.x * 3 / 2, kCloseBtn.y * 3 / 2);
    EXPECT_TRUE(journal.WaitFor(0, [](const JournalLine& l) { return l.kind == "window" && l.details == "hidden"; }, 20000));
    ExitInstance(program);
}

// ---- the key library where a release build looks for it

// The signed library in the system folder of a 32-bit process (as the
// prefix's set-up would put it), found without the test's path.
TEST_F(CertaideApp, KeyLibraryFromTheSystemFolder) {
    wchar_t folder[MAX_PATH] = {0};
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    if (wow64) GetSystemWow64DirectoryW(folder, MAX_PATH);
    else GetSystemDirectoryW(folder, MAX_PATH);
    const std::wstring target = std::wstring(folder) + L"\\Keylinq.dll";
    ASSERT_TRUE(CopyFileW(Widen(HostEnvPath("KEYLINQ_DLL")).c_str(), target.c_str(), FALSE)) << GetLastError();
    Journal journal(L"certaide-system-folder");
    Certaide program;
    StartOnLibrary(program, journal, nullptr);
    JournalLine scan;
    ASSERT_TRUE(journal.WaitForKind(0, "scan-end", 60000, &scan));
    EXPECT_EQ("0x00000000", Field(scan.details, "result"));
    EXPECT_NE("", Field(scan.details, "keys"));
    ExitInstance(program);
}

// ---- scans that fail

TEST_F(CertaideApp, RefusedAndMissingKeyLibrary) {
    // A library whose signature is refused: every scan fails; status 100
    // with the scan's code, and reload scans again.
    {
        const std::wstring unsigned_ = Folder(Widen(HostEnvPath("KEYLINQ_DLL"))) + L"\\Keylinq-unsigned.dll";
        Journal journal(L"certaide-refused");
        Certaide program;
        StartOnLibrary(program, journal, unsigned_.c_str());
        JournalLine scan, status;
        ASSERT_TRUE(journal.WaitForKind(0, "scan-end", 60000, &scan));
        const std::string code = Field(scan.details, "result");
        EXPECT_NE("0x00000000", code);
        ASSERT_TRUE(journal.WaitForKind(0, "status", 20000, &status));
        EXPECT_EQ("100", Field(status.details, "status"));
        EXPECT_EQ(code, Field(status.details, "code"));
        EXPECT_EQ("cert_reloadukey_btn", Field(status.details, "enabled"));
        EXPECT_NE("", Field(status.details, "text"));
        HWND window = program.WaitWindow(L"VeneerMainWnd", 10000);
        ASSERT_NE(nullptr, window);
        const size_t mark = journal.Size();
        ClickAt(window, kReload.x, kReload.y);
        EXPECT_TRUE(journal.WaitForKind(mark, "scan-end", 60000));
        ExitInstance(program);
    }
    // No library file: 2025, status 100 with E_FAIL, no scan ever; reload
    // stays without a scan.
    {
        Journal journal(L"certaide-missing");
        Certaide program;
        StartOnLibrary(program, journal, L"C:\\nowhere\\Keylinq.dll");
        JournalLine status;
        ASSERT_TRUE(journal.WaitForKind(0, "status", 60000, &status));
        EXPECT_EQ("100", Field(status.details, "status"));
        EXPECT_EQ("0x80004005", Field(status.details, "code"));
        EXPECT_EQ("cert_reloadukey_btn", Field(status.details, "enabled"));
        HWND window = program.WaitWindow(L"VeneerMainWnd", 10000);
        ASSERT_NE(nullptr, window);
        ClickAt(window, kReload.x, kReload.y);
        Sleep(2000);
        EXPECT_EQ(0, journal.Count(0, "scan-start"));
        ExitInstance(program);
    }
}

}  // namespace
