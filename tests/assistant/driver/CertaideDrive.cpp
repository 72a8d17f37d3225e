// CertaideDrive: runs Certaide.exe through a user's session, step by step,
// for a shell script or CTest:
//   CertaideDrive --scenario full|short --certaide PATH --facts FILE --out DIR
// Every step is awaited in the application's journal (CERTAIDE_JOURNAL)
// with a time-out, captured as PNG in DIR and printed as one line
// "step <name>: ok" or "step <name>: FAILED <why>"; the exit code is the
// number of failed steps. After the first failure the remaining steps are
// skipped, except that Certaide is always closed.
//
// FACTS holds "NAME value" lines: the provisioned keys as provision_key
// prints them, prefixed KEY1_ (the SM2 key) and KEY2_ (the RSA key), the
// labels host OpenSSL reads from key 1's certificate (EXPECT_ISSUER,
// EXPECT_SERIAL, EXPECT_VALIDITY, EXPECT_TYPE), the time-stamp service's
// standing genTime (GENTIME, Unix seconds), the seal the server hands out
// (NEW_SEAL, hex), the key's USB vendor id (VENDOR_ID) and optionally a
// key of the virtual key that plays no part and is pulled (SPARE_KEY_ID).
// Needs KEYLINQ_DLL (the key is read beside Certaide through Keylinq),
// KEYLINQ_VIRTUAL_KEY_PORT_FILE and TEST_SERVER_PORT_FILE.
#include <winsock2.h>
#include <windows.h>
#include <dbt.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "CertaideDriver.h"
#include "KeyProvisioning.h"

using namespace certdrive;

namespace {

// Emulated 32-bit programs run several times slower: generous waits.
constexpr DWORD kStartMs = 120000;
constexpr DWORD kScanMs = 120000;
constexpr DWORD kRenewalMs = 240000;
constexpr DWORD kStatusGraceMs = 3000;  // a posted status after the renewal thread ended
constexpr DWORD kUiMs = 30000;
const wchar_t kPinWindowClass[] = L"VeneerInputPINWnd";
const wchar_t kInstanceEvent[] = L"{765D017B-4EDB-46D7-9311-0411D596255F}";

struct Failure {
    std::string why;
};

[[noreturn]] void Fail(const std::string& why) { throw Failure{why}; }

std::string Hex(const std::string& bytes) { return testserver::ServerControl::Hex(bytes); }
std::string Unhex(const std::string& hex) { return testserver::ServerControl::Unhex(hex); }

bool SameText(const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) == 0; }

// Serial numbers in hex, equal as numbers: CryptoAPI keeps the DER's sign
// byte (a leading 00), OpenSSL prints the magnitude.
bool SameSerial(std::string a, std::string b) {
    while (a.size() > 2 && a.compare(0, 2, "00") == 0) a.erase(0, 2);
    while (b.size() > 2 && b.compare(0, 2, "00") == 0) b.erase(0, 2);
    return SameText(a, b);
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> out;
    if (text.empty()) return out;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
        out.push_back(text.substr(start, end - start));
    out.push_back(text.substr(start));
    return out;
}

// The serial number (hex, most significant byte first) and SHA-256 of a DER certificate.
bool CertificateFacts(const std::string& der, std::string* serial, std::string* sha256) {
    PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                       DWORD(der.size()));
    if (!cert) return false;
    const CRYPT_INTEGER_BLOB& s = cert->pCertInfo->SerialNumber;
    std::string bytes;
    for (DWORD i = s.cbData; i > 0; --i) bytes += char(s.pbData[i - 1]);
    *serial = Hex(bytes);
    CertFreeCertificateContext(cert);
    HCRYPTPROV prov = 0;
    HCRYPTHASH hash = 0;
    BYTE digest[32];
    DWORD length = sizeof digest;
    bool ok = CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
              CryptCreateHash(prov, CALG_SHA_256, 0, 0, &hash) &&
              CryptHashData(hash, reinterpret_cast<const BYTE*>(der.data()), DWORD(der.size()), 0) &&
              CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0);
    if (hash) CryptDestroyHash(hash);
    if (prov) CryptReleaseContext(prov, 0);
    if (ok) *sha256 = Hex(std::string(reinterpret_cast<char*>(digest), length));
    return ok;
}

class Scenario {
public:
    Scenario(const std::wstring& certaide, const std::map<std::string, std::string>& facts, const std::wstring& out,
             const std::wstring& journal)
        : m_certaide(certaide), m_facts(facts), m_out(out), m_journal(journal),
          m_server(testserver::ReadPortFile(HostEnvPath("TEST_SERVER_PORT_FILE"))) {}

    int Run(bool full);

private:
    // ---- helpers
    std::string Fact(const std::string& name) const {
        auto it = m_facts.find(name);
        if (it == m_facts.end()) Fail("no fact " + name);
        return it->second;
    }
    std::string FactOr(const std::string& name, const std::string& fallback) const {
        auto it = m_facts.find(name);
        return it == m_facts.end() ? fallback : it->second;
    }
    void Step(const std::string& name, const std::function<void()>& body) {
        if (m_failed) {
            std::printf("step %s: skipped\n", name.c_str());
            std::fflush(stdout);
            return;
        }
        const DWORD start = GetTickCount();
        try {
            body();
            std::printf("step %s: ok (%.1f s)\n", name.c_str(), (GetTickCount() - start) / 1000.0);
        } catch (const Failure& f) {
            m_failed = true;
            ++m_failures;
            std::printf("step %s: FAILED %s\n", name.c_str(), f.why.c_str());
            Capture("failed-" + name, m_window);
        }
        std::fflush(stdout);
    }
    void Capture(const std::string& name, HWND window) {
        if (!window || !IsWindow(window)) return;
        const std::wstring path = m_out + L"\\" + Wide(name) + L".png";
        std::string error;
        if (CaptureWindow(window, path, &error)) std::printf("capture %s\n", Utf8(path).c_str());
        else std::printf("capture %s failed: %s\n", name.c_str(), error.c_str());
    }
    JournalLine Await(const std::string& kind, const std::vector<std::string>& contains, DWORD ms, size_t from,
                      int* index = nullptr) {
        JournalLine line;
        const int at = m_journal.WaitFor(kind, contains, ms, from, &line);
        if (at < 0) {
            std::string what = kind;
            for (const auto& c : contains) what += " \"" + c + "\"";
            JournalLine last;
            std::string tail = m_journal.Last(kind, {}, &last, from) ? " (last: " + last.text + ")" : "";
            if (!m_process.Running()) tail += "; Certaide has ended";
            Fail("no journal line " + what + " within " + std::to_string(ms / 1000) + " s" + tail);
        }
        if (index) *index = at;
        return line;
    }
    // A renewal's status report; fails soon after the renewal ends without it.
    // The renewal thread writes "renewal-end" as soon as it returns, while its
    // last statuses are still posted to the window: those get a short grace.
    JournalLine AwaitStatus(const std::string& status, size_t from, int* index = nullptr) {
        const DWORD start = GetTickCount();
        DWORD endSeen = 0;
        bool ended = false;
        JournalLine line;
        for (;;) {
            const int at = m_journal.Find("status", {"status=" + status + " "}, from, &line);
            if (at >= 0) {
                if (index) *index = at;
                return line;
            }
            JournalLine end;
            if (!ended && m_journal.Find("renewal-end", {}, from, &end) >= 0) {
                ended = true;
                endSeen = GetTickCount();
            }
            if (ended && GetTickCount() - endSeen >= kStatusGraceMs) {
                m_journal.Find("renewal-end", {}, from, &end);
                JournalLine last;
                m_journal.Last("status", {}, &last, from);
                Fail("the renewal ended without status " + status + ": " + end.text + " (last status: " +
                     last.details + ")");
            }
            if (GetTickCount() - start >= kRenewalMs) Fail("no status " + status + " within the renewal's time");
            if (!m_process.Running()) Fail("Certaide has ended");
            Sleep(100);
        }
    }
    // The last line of a kind naming that control ("name=<control>").
    std::string LastValue(const std::string& kind, const std::string& control, const std::string& value,
                          size_t from) {
        JournalLine line;
        if (!m_journal.Last(kind, {"name=" + control + " "}, &line, from)) Fail("no " + kind + " line for " + control);
        return DetailValue(line.details, value);
    }
    std::string ServerAnswer(const std::string& command) {
        const std::string answer = m_server.Command(command);
        if (answer.compare(0, 2, "OK") != 0) Fail("the test server refused " + command + ": " + answer);
        return answer;
    }
    // n2001 n5002 nother ntimestamps
    std::vector<unsigned long> Counts() {
        std::vector<unsigned long> counts;
        for (const auto& part : Split(ServerAnswer("RENEWAL_COUNTS").substr(3), ' '))
            counts.push_back(std::strtoul(part.c_str(), nullptr, 10));
        if (counts.size() < 2) Fail("the server's counts cannot be read");
        return counts;
    }
    void SelectKey(const std::string& serial, size_t from);
    void Renew(size_t from);
    void CheckKeyAfterRenewal();
    void DeviceChange(WPARAM event, const std::string& prefix);

    std::wstring m_certaide;
    std::map<std::string, std::string> m_facts;
    std::wstring m_out;
    Journal m_journal;
    testserver::ServerControl m_server;
    VirtualKeyControl m_keys;
    SkinLayout m_main, m_pin;
    Process m_process;
    HWND m_window = nullptr;
    bool m_failed = false;
    int m_failures = 0;
    std::string m_newSign, m_newEnc, m_newPoint, m_newSeal;
};

void Scenario::SelectKey(const std::string& serial, size_t from) {
    // The key combo as last filled: choose the key's row unless it is selected.
    JournalLine combo = Await("combo", {"name=cert_ukeysn_combo ", serial}, kScanMs, from);
    const std::vector<std::string> items = Split(DetailValue(combo.details, "items"), '|');
    int row = -1;
    for (size_t i = 0; i < items.size(); ++i)
        if (SameText(items[i], serial)) row = int(i);
    if (row < 0) Fail("key " + serial + " not listed: " + combo.details);
    if (std::atoi(DetailValue(combo.details, "selected").c_str()) == row) return;
    const size_t mark = m_journal.Mark();
    std::string error;
    if (!ChooseComboRow(m_window, m_main, L"cert_ukeysn_combo", row, &error)) Fail(error);
    Await("combo", {"name=cert_ukeysn_combo ", "selected=" + std::to_string(row)}, kUiMs, mark);
}

void Scenario::Renew(size_t from) {
    std::string error;
    if (!ClickControl(m_window, m_main, L"home_renewcert_btn", &error)) Fail(error);
    Await("renew-requested", {}, kUiMs, from);
}

void Scenario::DeviceChange(WPARAM event, const std::string& prefix) {
    const WORD vendor = WORD(std::strtoul(Fact("VENDOR_ID").c_str(), nullptr, 0));
    std::string error;
    const std::wstring instance = L"7&" + Wide(Fact(prefix + "KEY_ID")) + L"&0&1";
    if (!SendDeviceChange(m_window, event, vendor, 0xF408, instance, &error)) Fail(error);
}

void Scenario::CheckKeyAfterRenewal() {
    // Read beside the running Certaide, through Keylinq, as another SKF application would.
    KeylinqLibrary& keylinq = Keylinq();
    if (!keylinq.module || keylinq.missing) Fail("Keylinq.dll (KEYLINQ_DLL) cannot be loaded");
    provisioning::Session s(keylinq, Fact("KEY1_DEVICE"));
    if (s.Open() != SAR_OK) Fail("the key cannot be opened");
    if (s.VerifyUserPin() != SAR_OK) Fail("the user PIN is refused");
    const std::string oldName = Fact("KEY1_SM2_CONTAINER"), keyOnly = Fact("KEY1_KEY_ONLY_CONTAINER");
    std::string newName, names;
    for (const std::string& name : s.ContainerNames()) {
        names += (names.empty() ? "" : ",") + name;
        if (name != oldName && name != keyOnly) {
            if (!newName.empty()) Fail("more than one new container: " + names);
            newName = name;
        }
    }
    if (newName.empty()) Fail("no new container: " + names);
    if (s.Certificate(oldName, TRUE) != Unhex(Fact("KEY1_SM2_CERT"))) Fail("the old certificate changed");
    if (s.Point(oldName, TRUE) != Unhex(Fact("KEY1_SM2_POINT"))) Fail("the old key changed");
    if (s.Point(keyOnly, TRUE) != Unhex(Fact("KEY1_KEY_ONLY_POINT"))) Fail("the key-only container is gone");
    if (s.Certificate(newName, TRUE) != m_newSign) Fail("the new container lacks the issued signature certificate");
    if (s.Certificate(newName, FALSE) != m_newEnc) Fail("the new container lacks the issued encryption certificate");
    if (s.Point(newName, FALSE) != m_newPoint) Fail("the new container lacks the server's encryption key");
    const std::vector<std::string> files = s.FileNames();
    if (files.size() != 1) Fail("the key holds " + std::to_string(files.size()) + " files");
    if (s.File(files[0]) != m_newSeal) Fail("the seal file does not hold the new seal");
    std::printf("result new-container=%s seal-file=%s\n", newName.c_str(), files[0].c_str());
}

int Scenario::Run(bool full) {
    std::string error;
    Step("prepare", [&] {
        if (!m_main.Load(L"main.xml", &error)) Fail(error);
        if (!m_server.connected()) Fail("no test server (TEST_SERVER_PORT_FILE)");
        if (!m_keys.connected()) Fail("no virtual key (KEYLINQ_VIRTUAL_KEY_PORT_FILE)");
        // The renewal the server expects: key 1's serial and seal; the time-stamp
        // service's standing genTime makes key 1's certificate "will expire".
        ServerAnswer("RENEWAL_RESET");
        ServerAnswer("TS_STANDING " + Fact("GENTIME") + " 0");
        ServerAnswer("EXPECT_KEY " + Hex(Fact("KEY1_SERIAL")));
        ServerAnswer("EXPECT_SEAL " + Hex(Unhex(Fact("KEY1_SEAL"))));
        ServerAnswer("NEW_SEAL " + Fact("NEW_SEAL"));
        // The virtual key's spare key plays no part.
        const std::string spare = FactOr("SPARE_KEY_ID", "");
        if (!spare.empty() && m_keys.Unplug(std::strtoul(spare.c_str(), nullptr, 10)) != 0)
            Fail("the spare key cannot be pulled");
        // Key 2 waits outside until key 1 has been pulled and plugged again.
        if (full && m_keys.Unplug(std::strtoul(Fact("KEY2_KEY_ID").c_str(), nullptr, 10)) != 0)
            Fail("key 2 cannot be pulled");
        DeleteFileW(m_journal.Path().c_str());
    });

    Step("window", [&] {
        if (!m_process.Start(m_certaide, L"", {}, &error)) Fail(error);
        m_window = WaitMainWindow(m_process.Id(), kStartMs);
        if (!m_window) Fail("no VeneerMainWnd window of the process: " + DescribeProcessWindows(m_process.Id()));
        Await("app", {"started", "pid=" + std::to_string(m_process.Id())}, kUiMs, 0);
        const std::string serial = Fact("KEY1_SERIAL");
        Await("scan-applied", {}, kScanMs, 0);
        SelectKey(serial, 0);
        // Key 1's only certificate selected: its labels and a renew button to press.
        Await("status", {"home_renewcert_btn"}, kUiMs, 0);
        Capture("01-window-before", m_window);
    });

    Step("labels", [&] {
        const struct {
            const char* control;
            const char* fact;
        } labels[] = {{"cert_issuer_label", "EXPECT_ISSUER"},
                      {"cert_serialnum_label", "EXPECT_SERIAL"},
                      {"cert_validity_label", "EXPECT_VALIDITY"},
                      {"cert_certtype_label", "EXPECT_TYPE"}};
        for (const auto& l : labels) {
            const std::string shown = LastValue("label", l.control, "text", 0), expected = Fact(l.fact);
            if (!SameText(shown, expected) && !(l.fact == std::string("EXPECT_SERIAL") && SameSerial(shown, expected)))
                Fail(std::string(l.control) + " shows \"" + shown + "\", host OpenSSL reads \"" + expected + "\"");
        }
        const std::string state = LastValue("label", "cert_certstate_label", "text", 0);
        const std::string willExpire = Utf8(CatalogText(L"item_status_willexpire"));
        if (state != willExpire) Fail("the state shows \"" + state + "\", not \"" + willExpire + "\"");
        JournalLine status;
        m_journal.Last("status", {}, &status);
        if (DetailValue(status.details, "enabled").find("home_renewcert_btn") == std::string::npos)
            Fail("renew is not enabled: " + status.details);
    });

    // View: the system's certificate dialog for the window, with key 1's
    // certificate as the key's provider reads it; closed again.
    Step("view", [&] {
        const size_t mark = m_journal.Mark();
        const DWORD start = GetTickCount();
        if (!ClickControl(m_window, m_main, L"cert_viewcert_btn", &error)) Fail(error);
        HWND viewer = WaitCertificateDialog(m_process.Id(), m_window, kUiMs);
        const DWORD elapsed = GetTickCount() - start;
        if (!viewer) Fail("no certificate dialog owned by the window: " + DescribeProcessWindows(m_process.Id()));
        std::printf("result view-to-dialog-ms=%lu dialog-owner=%p\n", static_cast<unsigned long>(elapsed),
                    static_cast<void*>(GetWindow(viewer, GW_OWNER)));
        std::string seen;
        if (!CertificateDialogShowsSerial(viewer, Fact("EXPECT_SERIAL"), &seen))
            Fail("the dialog does not show serial " + Fact("EXPECT_SERIAL") + ": " + seen);
        Capture("certificate-viewed", viewer);
        if (!CloseCertificateDialog(viewer, kUiMs)) Fail("the certificate dialog stayed open");
        Await("view", {"result=0x00000000"}, kUiMs, mark);
        for (int i = 0; i < 100 && !IsWindowEnabled(m_window); ++i) Sleep(50);
        if (!IsWindowEnabled(m_window)) Fail("the window stayed disabled after the dialog");
        if (elapsed >= 3000) Fail("the dialog took " + std::to_string(elapsed) + " ms (3000 allowed)");
    });

    size_t renewalMark = 0;
    Step("pin-dialog", [&] {
        if (!m_pin.Load(L"pindlg.xml", &error)) Fail(error);
        renewalMark = m_journal.Mark();
        Renew(renewalMark);
        // The PIN dialog, unless the renewal ends first.
        const DWORD start = GetTickCount();
        while (m_journal.Find("pindlg", {"shown", "kind=input"}, renewalMark) < 0) {
            JournalLine end, last;
            if (m_journal.Find("renewal-end", {}, renewalMark, &end) >= 0) {
                m_journal.Last("status", {}, &last, renewalMark);
                Fail("the renewal ended without asking for the PIN: " + end.text + " (" + last.details + ")");
            }
            if (GetTickCount() - start >= kRenewalMs) Fail("no PIN dialog within the renewal's time");
            Sleep(100);
        }
        HWND dialog = WaitProcessWindow(m_process.Id(), kPinWindowClass, kUiMs, true);
        if (!dialog) Fail("no PIN dialog window: " + DescribeProcessWindows(m_process.Id()));
        Sleep(500);  // its first paint
        Capture("02-pin-dialog", dialog);
        if (!ClickControl(dialog, m_pin, L"inputdlg_password_edit", &error)) Fail(error);
        Sleep(300);
        TypeText(L"12345678");
        const size_t typed = m_journal.Mark();
        if (!ClickControl(dialog, m_pin, L"inputdlg_confirm_btn", &error)) Fail(error);
        Await("pindlg", {"closed", "result=1"}, kUiMs, typed);
    });

    Step("renewal", [&] {
        int at42 = 0, at44 = 0, at40 = 0;
        AwaitStatus("42", renewalMark, &at42);
        AwaitStatus("44", size_t(at42), &at44);
        AwaitStatus("40", size_t(at44), &at40);
        Await("renewal-end", {"status=40", "rescan=1"}, kUiMs, renewalMark);
        // The server's read-back: one validate code, one renewal, every check passed.
        const auto counts = Counts();
        if (counts[0] != 1 || counts[1] != 1)
            Fail("the server saw " + std::to_string(counts[0]) + " 2001 and " + std::to_string(counts[1]) + " 5002");
        for (int i = 0; i < 2; ++i) {
            std::vector<std::string> parts;
            m_server.CaCommand("RENEWAL_REQUEST " + std::to_string(i), parts);
            if (parts.size() < 4 || parts[1] != "2000")
                Fail("request " + std::to_string(i) + " failed a check: " + (parts.size() >= 4 ? parts[3] : "?"));
        }
        std::vector<std::string> issued;
        if (!m_server.CaCommand("RENEWAL_ISSUED", issued) || issued.size() < 6) Fail("no issued certificates");
        m_newSign = issued[0];
        m_newEnc = issued[1];
        auto coordinate = [](const std::string& c) { return c.size() > 32 ? c.substr(c.size() - 32) : c; };
        m_newPoint = "\x04" + coordinate(issued[2]) + coordinate(issued[3]);
        m_newSeal = issued[5];
        std::string serial, sha256;
        if (!CertificateFacts(m_newSign, &serial, &sha256)) Fail("the issued certificate cannot be read");
        std::printf("result status=40 new-serial=%s new-sha256=%s seal-length=%u\n", serial.c_str(), sha256.c_str(),
                    unsigned(m_newSeal.size()));
        // After the rescan both certificates are listed, the old one first.
        JournalLine combo =
            Await("combo", {"name=cert_certdnsn_combo ", Fact("EXPECT_SERIAL"), serial}, kScanMs, size_t(at40));
        std::printf("result certificates=%s\n", DetailValue(combo.details, "items").c_str());
        Await("scan-applied", {}, kScanMs, size_t(at40));
        Sleep(500);
        Capture("03-renewed", m_window);
        // Both certificates in the open list (a picture only: nothing chosen).
        if (full) {
            RECT client = {}, r = {};
            GetClientRect(m_window, &client);
            if (m_main.ControlRect(L"cert_certdnsn_combo", SIZE{client.right, client.bottom}, SystemDpi(), &r) &&
                ClickAt(m_window, POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}, false, &error)) {
                if (HWND drop = WaitProcessWindow(m_process.Id(), COMBO_DROPDOWN_CLASS, kUiMs, true)) {
                    Sleep(500);
                    Capture("03-certificates-listed", drop);
                    PressKey(VK_ESCAPE);
                    for (int i = 0; i < 100 && IsWindow(drop); ++i) Sleep(50);
                }
            }
        }
    });

    Step("key-contents", [&] { CheckKeyAfterRenewal(); });

    if (full) {
        Step("pull-key", [&] {
            const size_t mark = m_journal.Mark();
            if (m_keys.Unplug(std::strtoul(Fact("KEY1_KEY_ID").c_str(), nullptr, 10)) != 0) Fail("key 1 cannot be pulled");
            DeviceChange(DBT_DEVICEREMOVECOMPLETE, "KEY1_");
            Await("scan-applied", {"keys=0"}, kScanMs, mark);
            JournalLine combo;
            if (m_journal.Last("combo", {"name=cert_ukeysn_combo "}, &combo, mark) &&
                !DetailValue(combo.details, "items").empty())
                Fail("keys still shown: " + combo.details);
            Sleep(300);
            Capture("04-key-pulled", m_window);
        });

        Step("rsa-key", [&] {
            // Hidden first, so that the arrival is what brings the window up;
            // key 2 alone, so that it is the key shown.
            if (!ClickControl(m_window, m_main, L"closebtn", &error)) Fail(error);
            for (int i = 0; i < 100 && IsWindowVisible(m_window); ++i) Sleep(50);
            if (IsWindowVisible(m_window)) Fail("the close button left the window shown");
            const auto before = Counts();
            const size_t mark = m_journal.Mark();
            if (m_keys.Plug(std::strtoul(Fact("KEY2_KEY_ID").c_str(), nullptr, 10)) != 0) Fail("key 2 cannot be plugged");
            DeviceChange(DBT_DEVICEARRIVAL, "KEY2_");
            if (!IsWindowVisible(m_window)) Fail("the arrival left the window hidden");
            Await("scan-applied", {"keys=1"}, kScanMs, mark);
            SelectKey(Fact("KEY2_SERIAL"), mark);
            Await("status", {"home_renewcert_btn"}, kUiMs, mark);
            const size_t renewal = m_journal.Mark();
            Renew(renewal);
            AwaitStatus("101", renewal);
            const auto after = Counts();
            if (after[0] != before[0] || after[1] != before[1]) Fail("the server was contacted");
            Sleep(300);
            Capture("05-rsa-key-refused", m_window);
        });

        Step("plug-key", [&] {
            const size_t mark = m_journal.Mark();
            if (m_keys.Plug(std::strtoul(Fact("KEY1_KEY_ID").c_str(), nullptr, 10)) != 0) Fail("key 1 cannot be plugged");
            DeviceChange(DBT_DEVICEARRIVAL, "KEY1_");
            Await("scan-applied", {"keys=2"}, kScanMs, mark);
            Await("combo", {"name=cert_ukeysn_combo ", Fact("KEY1_SERIAL"), Fact("KEY2_SERIAL")}, kUiMs, mark);
            Sleep(300);
            Capture("06-keys-back", m_window);
        });

        Step("tray", [&] {
            if (!ClickControl(m_window, m_main, L"closebtn", &error)) Fail(error);
            for (int i = 0; i < 100 && IsWindowVisible(m_window); ++i) Sleep(50);
            const size_t mark = m_journal.Mark();
            if (!ClickTrayIcon(FindTrayIcon(), false, &error)) Fail(error);
            Await("window", {"restored"}, kUiMs, mark);
            for (int i = 0; i < 100 && !IsWindowVisible(m_window); ++i) Sleep(50);
            if (!IsWindowVisible(m_window)) Fail("the tray icon left the window hidden");
        });
    }

    // Always: the running instance closed by a second start with "-exit".
    m_failed = false;
    Step("exit", [&] {
        if (!m_process.Running()) Fail("Certaide is not running");
        const std::wstring folder = m_certaide.substr(0, m_certaide.find_last_of(L"\\/"));
        auto dumps = [&folder] {
            int n = 0;
            WIN32_FIND_DATAW found;
            HANDLE h = FindFirstFileW((folder + L"\\Dump\\*").c_str(), &found);
            if (h != INVALID_HANDLE_VALUE) {
                do {
                    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++n;
                } while (FindNextFileW(h, &found));
                FindClose(h);
            }
            return n;
        };
        const int dumpsBefore = dumps();
        const size_t mark = m_journal.Mark();
        Process closer;
        if (!closer.Start(m_certaide, L"-exit", {}, &error)) Fail(error);
        DWORD code = 1;
        if (!closer.WaitExit(kStartMs, &code)) Fail("Certaide -exit did not end");
        if (!m_process.WaitExit(kStartMs, &code)) Fail("the running instance did not end");
        if (code != 0) Fail("the running instance ended with " + std::to_string(code));
        Await("app", {"exiting"}, kUiMs, mark);
        if (HANDLE e = OpenEventW(SYNCHRONIZE, FALSE, kInstanceEvent)) {
            CloseHandle(e);
            Fail("the single-instance event is still there");
        }
        if (dumps() != dumpsBefore) Fail("a crash dump was written");
    });
    m_process.Kill();
    return m_failures;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring scenario = L"full", certaide, factsPath, out;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring arg = argv[i];
        if (arg == L"--scenario") scenario = argv[i + 1];
        else if (arg == L"--certaide") certaide = WindowsPath(Utf8(argv[i + 1]));
        else if (arg == L"--facts") factsPath = WindowsPath(Utf8(argv[i + 1]));
        else if (arg == L"--out") out = WindowsPath(Utf8(argv[i + 1]));
    }
    wchar_t journal[MAX_PATH] = {};
    GetEnvironmentVariableW(L"CERTAIDE_JOURNAL", journal, MAX_PATH);
    if (certaide.empty() || factsPath.empty() || out.empty() || !journal[0] ||
        (scenario != L"full" && scenario != L"short")) {
        std::fprintf(stderr,
                     "usage: CertaideDrive --scenario full|short --certaide PATH --facts FILE --out DIR "
                     "(CERTAIDE_JOURNAL set)\n");
        return 100;
    }
    std::map<std::string, std::string> facts;
    if (FILE* f = _wfopen(factsPath.c_str(), L"rb")) {
        char line[16384];
        while (std::fgets(line, sizeof line, f)) {
            std::string text = line;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            const size_t space = text.find(' ');
            if (space != std::string::npos) facts[text.substr(0, space)] = text.substr(space + 1);
        }
        std::fclose(f);
    } else {
        std::fprintf(stderr, "CertaideDrive: cannot read %ls\n", factsPath.c_str());
        return 100;
    }
    CreateDirectoryW(out.c_str(), nullptr);
    Scenario run(certaide, facts, out, WindowsPath(Utf8(journal)));
    return run.Run(scenario == L"full");
}
