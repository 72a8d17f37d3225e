// Certificate status against a given time, the USB ids of a device path,
// and the key-container certificate records and filter.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>
#include <prsht.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>
#include <string>

#include "HostPaths.h"
#include "USBKeyInterface.h"
#include "UnregCertificate.h"

namespace {

// Where the viewer's case is, for the watchdog: a step that lasts longer
// than a minute is printed and the program ends, instead of hanging its run.
volatile const char* g_step = "start";
volatile LONG g_stepCount = 0;
volatile bool g_watching = true;
void Step(const char* what) {
    g_step = what;
    InterlockedIncrement(&g_stepCount);
}
DWORD WINAPI Watchdog(LPVOID) {
    LONG seen = -1;
    int still = 0;
    for (;;) {
        Sleep(1000);
        const LONG now = g_stepCount;
        still = now == seen ? still + 1 : 0;
        seen = now;
        if (still == 60 && g_watching) {
            printf("\n*** stuck for 60 s at: %s\n", const_cast<const char*>(g_step));
            fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
}
void StartWatchdog() {
    static HANDLE watchdog = CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
    (void)watchdog;
}

constexpr ULONGLONG kSecond = 10000000ULL;
constexpr ULONGLONG kMinute = 60 * kSecond;
constexpr ULONGLONG kHour = 60 * kMinute;
constexpr ULONGLONG kDay = 24 * kHour;

FILETIME Ft(ULONGLONG t) { return FILETIME{DWORD(t), DWORD(t >> 32)}; }

TEST(CertStatus, AroundNotAfter) {
    const ULONGLONG now = 133000000000000000ULL;  // a time in 2022
    const struct {
        long long offset;  // NotAfter - now, in 100 ns
        DWORD status, days;
    } rows[] = {
        {-1, 3, 0},
        {0, 3, 0},
        {1, 2, 0},
        {30 * (long long)kMinute, 2, 0},
        {(long long)kDay, 2, 1},
        {(long long)(kDay + 59 * kMinute), 2, 1},
        {(long long)(25 * kHour), 2, 2},
        {(long long)(90 * kDay), 2, 90},
        {(long long)(90 * kDay) + 1, 1, 90},
        {(long long)(91 * kDay), 1, 91},
        {(long long)(3650 * kDay), 1, 3650},
    };
    for (const auto& row : rows) {
        DWORD status = 77, days = 77;
        EXPECT_EQ(S_OK, GetUserCertStatus(&status, &days, Ft(now), Ft(now + row.offset)));
        EXPECT_EQ(row.status, status) << row.offset;
        EXPECT_EQ(row.days, days) << row.offset;
    }
    // The far ends of the clock neither wrap nor overflow.
    DWORD status = 0, days = 0;
    EXPECT_EQ(S_OK, GetUserCertStatus(&status, &days, Ft(0), Ft(~0ULL)));
    EXPECT_EQ(1u, status);
    EXPECT_EQ(S_OK, GetUserCertStatus(&status, &days, Ft(~0ULL), Ft(0)));
    EXPECT_EQ(3u, status);
    EXPECT_EQ(0u, days);
}

TEST(UsbIds, DevicePaths) {
    constexpr HRESULT kNotFound = HRESULT(0x80070490);
    const struct {
        const wchar_t* path;
        HRESULT result;
        DWORD vid, pid;
    } rows[] = {
        {L"\\\\?\\USB#VID_3A5C&PID_F408#0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", S_OK, 0x3A5C, 0xF408},
        {L"\\\\?\\usb#vid_3a5c&pid_f408#0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", S_OK, 0x3A5C, 0xF408},
        {L"\\\\?\\usb#vid_1111&pid_2222#usb#VID_0ABC&PID_0DEF", S_OK, 0x0ABC, 0x0DEF},  // the last mark counts
        {L"USB#VID_ZZZZ&PID_F408", S_OK, 0xAAAA, 0xF408},                               // a group that does not convert
        {L"USB#VID_3A5C&PID_F408", S_OK, 0x3A5C, 0xF408},                               // ends right after the ids
        {L"USB#VID_3A5C&PID_F40", kNotFound, 0xAAAA, 0xBBBB},                           // one digit short
        {L"USB#VID_3A", kNotFound, 0xAAAA, 0xBBBB},
        {L"\\\\?\\hid#vid_3a5c&pid_f408#7&1&0&0000", kNotFound, 0xAAAA, 0xBBBB},       // no USB mark
        {L"", E_INVALIDARG, 0xAAAA, 0xBBBB},
    };
    for (const auto& row : rows) {
        DWORD vid = 0xAAAA, pid = 0xBBBB;
        EXPECT_EQ(row.result, GetVidPidFromUSBDevDesc(row.path, &vid, &pid)) << row.path;
        EXPECT_EQ(row.vid, vid) << row.path;
        EXPECT_EQ(row.pid, pid) << row.path;
    }
}

// A path whose terminator is the last character before a page that cannot
// be read: nothing past the text is touched.
TEST(UsbIds, ShortPathAtTheEndOfReadableMemory) {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    BYTE* pages = static_cast<BYTE*>(VirtualAlloc(nullptr, 2 * si.dwPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(nullptr, pages);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(pages + si.dwPageSize, si.dwPageSize, PAGE_NOACCESS, &old));
    for (const wchar_t* text : {L"USB#VID_3A5C&PID_F", L"USB#VID_3A5C", L"USB#VID_", L"USB#VID_3A5C&PID_F408"}) {
        const size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
        wchar_t* at = reinterpret_cast<wchar_t*>(pages + si.dwPageSize - bytes);
        memcpy(at, text, bytes);
        DWORD vid = 0, pid = 0;
        const bool complete = wcslen(text) == 21;
        EXPECT_EQ(complete ? S_OK : HRESULT(0x80070490), GetVidPidFromUSBDevDesc(at, &vid, &pid)) << text;
        EXPECT_EQ(complete ? 0x3A5Cu : 0u, vid) << text;
        EXPECT_EQ(complete ? 0xF408u : 0u, pid) << text;
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

// A self-signed certificate made by CryptoAPI for the record and filter tests.
PCCERT_CONTEXT MakeCertificate(const wchar_t* subject, HCRYPTPROV* prov) {
    BYTE name[256];
    DWORD nameSize = sizeof name;
    if (!CertStrToNameW(X509_ASN_ENCODING, subject, CERT_X500_NAME_STR, nullptr, name, &nameSize, nullptr)) return nullptr;
    CERT_NAME_BLOB blob = {nameSize, name};
    CRYPT_KEY_PROV_INFO keyInfo = {};
    keyInfo.pwszContainerName = const_cast<wchar_t*>(L"certaide-unregcert-test");
    keyInfo.dwProvType = PROV_RSA_FULL;
    keyInfo.dwKeySpec = AT_SIGNATURE;
    *prov = 0;
    if (!CryptAcquireContextW(prov, keyInfo.pwszContainerName, nullptr, PROV_RSA_FULL, 0) &&
        !CryptAcquireContextW(prov, keyInfo.pwszContainerName, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET))
        return nullptr;
    HCRYPTKEY key = 0;
    if (!CryptGenKey(*prov, AT_SIGNATURE, 1024 << 16, &key)) return nullptr;
    CryptDestroyKey(key);
    return CertCreateSelfSignCertificate(*prov, &blob, 0, &keyInfo, nullptr, nullptr, nullptr, nullptr);
}

TEST(UnregCert, RecordsAndFilter) {
    HCRYPTPROV prov = 0;
    PCCERT_CONTEXT cert = MakeCertificate(L"CN=Unreg Record, O=Certaide Test", &prov);
    ASSERT_NE(nullptr, cert);

    UnregCertContext* record = nullptr;
    EXPECT_EQ(E_INVALIDARG, CertCreateUnregCertContext(&record, cert, L"", L"c", AT_SIGNATURE));
    EXPECT_EQ(E_INVALIDARG, CertCreateUnregCertContext(&record, nullptr, L"p", L"c", AT_SIGNATURE));
    EXPECT_EQ(nullptr, record);
    const std::wstring longName(300, L'x');
    ASSERT_EQ(S_OK, CertCreateUnregCertContext(&record, cert, L"Quib CSP v6.0 (ZOPRA)", longName.c_str(), AT_KEYEXCHANGE));
    EXPECT_EQ(std::wstring(L"Quib CSP v6.0 (ZOPRA)"), record->wszCSPName);
    EXPECT_EQ(longName.substr(0, 259), record->wszContainerName);  // cut, terminated
    EXPECT_EQ(DWORD(AT_KEYEXCHANGE), record->dwKeySpec);
    EXPECT_TRUE(CertCompareCertificate(X509_ASN_ENCODING, cert->pCertInfo, record->pCertContext->pCertInfo));

    // The filter: a null one passes all; each criterion can refuse.
    EXPECT_EQ(S_OK, CheckUnregCertificate(record->pCertContext, nullptr));
    CertFilter filter = {};
    filter.lpwSubjectNames = L"Nobody#Unreg Record";
    EXPECT_EQ(S_OK, CheckUnregCertificate(record->pCertContext, &filter));
    filter.lpwSubjectNames = L"Nobody";
    EXPECT_EQ(E_FAIL, CheckUnregCertificate(record->pCertContext, &filter));
    filter.lpwSubjectNames = nullptr;
    filter.lpszSignAlgOID = "1.2.156.10197";
    EXPECT_EQ(E_FAIL, CheckUnregCertificate(record->pCertContext, &filter));
    filter.lpszSignAlgOID = nullptr;
    const BYTE* serial = cert->pCertInfo->SerialNumber.pbData;
    filter.lpbySerialNumber = serial;
    filter.cbSerialNumber = cert->pCertInfo->SerialNumber.cbData;
    EXPECT_EQ(S_OK, CheckUnregCertificate(record->pCertContext, &filter));
    filter.cbSerialNumber -= 1;  // a shorter serial is another serial
    EXPECT_EQ(E_FAIL, CheckUnregCertificate(record->pCertContext, &filter));

    UnregCertContextSet set{record};
    RemoveAllUnregCertificates(set);
    EXPECT_TRUE(set.empty());
    CertFreeUnregCertContext(nullptr);

    // The key's provider is not installed here: the list search finds nothing and succeeds.
    EXPECT_EQ(S_OK, FilterUnregCertsFromCSPList(set, nullptr));
    EXPECT_TRUE(set.empty());
    UnregCertContext* none = nullptr;
    EXPECT_LT(GetUnregCertFromContainer(&none, L"No Such Provider", L"c", AT_SIGNATURE), 0);
    EXPECT_EQ(nullptr, none);

    // Nothing in "MY" or in the provider matches: no dialog, the private code.
    EXPECT_EQ(HRESULT(0xA0001A01), ViewSpecialCertificate(L"0102", L"CN=Nobody Here", 0, nullptr));
    EXPECT_EQ(HRESULT(0xA0001A01), ViewSpecialCertificate(L"0102", L"CN=Nobody Here", 1, nullptr));
    EXPECT_LT(ViewSpecialCertificate(L"01G2", L"CN=Nobody Here", 0, nullptr), 0);

    CertFreeCertificateContext(cert);
    CryptReleaseContext(prov, 0);
    HCRYPTPROV gone = 0;
    CryptAcquireContextW(&gone, L"certaide-unregcert-test", nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}

// The viewer finds the certificate in "MY" by serial and subject and shows
// the system dialog until it is closed.
struct DialogSearch {
    const wchar_t* want = nullptr;
    HWND dialog = nullptr;
    bool sawSubject = false;
};
BOOL CALLBACK FindText(HWND child, LPARAM param) {
    DialogSearch* search = reinterpret_cast<DialogSearch*>(param);
    wchar_t text[512] = {};
    Step("WM_GETTEXT to a dialog child");
    SendMessageTimeoutW(child, WM_GETTEXT, 511, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
    if (wcsstr(text, search->want)) search->sawSubject = true;
    return TRUE;
}
BOOL CALLBACK FindDialog(HWND w, LPARAM param) {
    Step("IsWindowVisible");
    if (!IsWindowVisible(w)) return TRUE;
    Step("EnumChildWindows");
    DialogSearch* search = reinterpret_cast<DialogSearch*>(param);
    search->dialog = w;
    EnumChildWindows(w, FindText, param);
    return FALSE;
}

struct ViewerCall {
    std::wstring serial;
    std::wstring subject;
    DWORD sm2Flag;
    HRESULT result;
};
DWORD WINAPI RunViewer(LPVOID p) {
    ViewerCall* c = static_cast<ViewerCall*>(p);
    c->result = ViewSpecialCertificate(c->serial.c_str(), c->subject.c_str(), c->sm2Flag, nullptr);
    return 0;
}

// Runs the viewer on a thread of its own; expects its dialog to show the
// subject text, stay open until the test presses OK, and the call to end
// with 0.
void ViewAndClose(const std::wstring& serial, const std::wstring& subject, DWORD sm2Flag) {
    ViewerCall call{serial, subject, sm2Flag, E_PENDING};
    // This thread's first window call is made here, before the viewer's
    // thread makes its first window: under Wine the two first calls of a
    // process's threads racing each other could leave EnumThreadWindows
    // blocked for good (about one run in three with other programs busy).
    Step("desktop window");
    GetDesktopWindow();
    Step("viewer thread start");
    HANDLE thread = CreateThread(nullptr, 0, RunViewer, &call, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    const DWORD threadId = GetThreadId(thread);
    DialogSearch search;
    search.want = subject.c_str();
    for (int i = 0; i < 200 && !search.dialog; ++i) {
        Step("wait for the viewer thread");
        if (WaitForSingleObject(thread, 100) == WAIT_OBJECT_0) break;  // ended without a dialog
        Step("EnumThreadWindows");
        EnumThreadWindows(threadId, FindDialog, reinterpret_cast<LPARAM>(&search));
    }
    Step("dialog search done");
    EXPECT_NE(nullptr, search.dialog) << "the certificate dialog did not open: " << std::hex << call.result;
    if (search.dialog) {
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 300));  // modal: still open
        EXPECT_TRUE(search.sawSubject);
        // The user's OK (closing the window instead counts as a cancel: the
        // dialog call then fails with 0x800704C7).
        PostMessageW(search.dialog, PSM_PRESSBUTTON, PSBTN_OK, 0);
    }
    Step("wait for the viewer to end");
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 20000));
    Step("viewer ended");
    CloseHandle(thread);
    EXPECT_EQ(S_OK, call.result);
}

// The viewer where no certificate should be found; a dialog that opens all
// the same is closed, so that a wrong search fails instead of hanging.
HRESULT ViewWithoutDialog(const std::wstring& serial, const std::wstring& subject, DWORD sm2Flag) {
    ViewerCall call{serial, subject, sm2Flag, E_PENDING};
    HANDLE thread = CreateThread(nullptr, 0, RunViewer, &call, 0, nullptr);
    if (!thread) return E_FAIL;
    if (WaitForSingleObject(thread, 15000) != WAIT_OBJECT_0) {
        DialogSearch search;
        search.want = subject.c_str();
        EnumThreadWindows(GetThreadId(thread), FindDialog, reinterpret_cast<LPARAM>(&search));
        if (search.dialog) PostMessageW(search.dialog, PSM_PRESSBUTTON, PSBTN_OK, 0);
        WaitForSingleObject(thread, 20000);
        ADD_FAILURE() << "a certificate dialog opened";
    }
    CloseHandle(thread);
    return call.result;
}

std::wstring SerialText(PCCERT_CONTEXT cert) {
    std::wstring serial;
    const CRYPT_INTEGER_BLOB& sn = cert->pCertInfo->SerialNumber;
    for (DWORD i = sn.cbData; i-- > 0;) {
        wchar_t hex[3];
        swprintf(hex, 3, L"%02X", sn.pbData[i]);
        serial += hex;
    }
    return serial;
}

TEST(UnregCert, ViewerShowsTheMatchingCertificateFromMyUntilClosed) {
    StartWatchdog();
    HCRYPTPROV prov = 0;
    Step("MakeCertificate");
    PCCERT_CONTEXT target = MakeCertificate(L"CN=Viewer Target, O=Certaide Test", &prov);
    ASSERT_NE(nullptr, target);
    Step("open MY");
    HCERTSTORE my = CertOpenSystemStoreW(0, L"MY");
    ASSERT_NE(nullptr, my);
    Step("add to MY");
    ASSERT_TRUE(CertAddCertificateContextToStore(my, target, CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    Step("close MY");
    CertCloseStore(my, 0);

    ViewAndClose(SerialText(target), L"Viewer Target", 0);
    // Flag 1 looks only in the key's provider.
    Step("viewer with flag 1");
    EXPECT_EQ(HRESULT(0xA0001A01), ViewWithoutDialog(SerialText(target), L"Viewer Target", 1));
    Step("clean MY");

    my = CertOpenSystemStoreW(0, L"MY");
    PCCERT_CONTEXT found = CertFindCertificateInStore(my, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, target, nullptr);
    if (found) CertDeleteCertificateFromStore(found);
    CertCloseStore(my, 0);
    CertFreeCertificateContext(target);
    CryptReleaseContext(prov, 0);
    Step("viewer case done");
    g_watching = false;
}

// ---- through the test provider registered as the key's provider

const wchar_t kKeyCsp[] = L"Quib CSP v6.0 (ZOPRA)";

std::vector<BYTE> ReadDer(const char* name) {
    const std::string path = HostEnvPath("DISCOVERY_CERTS") + "/" + name + ".der";
    std::vector<BYTE> der;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return der;
    int c;
    while ((c = fgetc(f)) != EOF) der.push_back(BYTE(c));
    fclose(f);
    return der;
}

// A key of that kind (AT_KEYEXCHANGE or AT_SIGNATURE) in the container, with the certificate when given.
void PutKey(const wchar_t* container, DWORD spec, const std::vector<BYTE>& der) {
    HCRYPTPROV h = 0;
    if (!CryptAcquireContextW(&h, container, kKeyCsp, PROV_RSA_FULL, 0)) {
        ASSERT_TRUE(CryptAcquireContextW(&h, container, kKeyCsp, PROV_RSA_FULL, CRYPT_NEWKEYSET)) << GetLastError();
    }
    HCRYPTKEY k = 0;
    ASSERT_TRUE(CryptGenKey(h, spec, 0, &k));
    if (!der.empty()) {
        EXPECT_TRUE(CryptSetKeyParam(k, KP_CERTIFICATE, der.data(), 0));
    }
    CryptDestroyKey(k);
    CryptReleaseContext(h, 0);
}

TEST(UnregCert, ContainerCertificatesOfTheKeysProvider) {
    HMODULE csp = LoadLibraryW(Widen(HostEnvPath("TEST_CSP")).c_str());
    ASSERT_NE(nullptr, csp);
    auto clear = reinterpret_cast<void(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(csp, "TestCspClear")));
    ASSERT_NE(nullptr, clear);
    clear();
    const std::vector<BYTE> sm2 = ReadDer("sm2-sign"), rsa = ReadDer("rsa-2048"), encDs = ReadDer("enc-ds");
    ASSERT_FALSE(sm2.empty());
    PutKey(L"c", AT_SIGNATURE, rsa);
    PutKey(L"c", AT_KEYEXCHANGE, sm2);
    PutKey(L"a longer container name after a short one", AT_SIGNATURE, encDs);
    PutKey(L"keys only", AT_SIGNATURE, {});

    UnregCertContextSet set;
    ASSERT_EQ(S_OK, FilterUnregCertsFromCSPSpec(set, kKeyCsp, nullptr));
    ASSERT_EQ(3u, set.size());
    std::vector<std::pair<std::wstring, DWORD>> seen;
    for (UnregCertContext* r : set) seen.push_back({r->wszContainerName, r->dwKeySpec});
    // Per container the exchange key's certificate first.
    const auto c = std::find(seen.begin(), seen.end(), std::make_pair(std::wstring(L"c"), DWORD(AT_KEYEXCHANGE)));
    ASSERT_NE(seen.end(), c);
    ASSERT_NE(seen.end(), c + 1);
    EXPECT_EQ(std::make_pair(std::wstring(L"c"), DWORD(AT_SIGNATURE)), *(c + 1));
    EXPECT_NE(seen.end(), std::find(seen.begin(), seen.end(),
                                    std::make_pair(std::wstring(L"a longer container name after a short one"),
                                                   DWORD(AT_SIGNATURE))));
    RemoveAllUnregCertificates(set);

    // The SM2 algorithm filter and the serial filter.
    CertFilter filter = {};
    filter.lpszSignAlgOID = "1.2.156.10197";
    ASSERT_EQ(S_OK, FilterUnregCertsFromCSPList(set, &filter));
    ASSERT_EQ(1u, set.size());
    EXPECT_EQ(DWORD(AT_KEYEXCHANGE), set[0]->dwKeySpec);
    RemoveAllUnregCertificates(set);
    const BYTE rsaSerial[] = {0x02, 0x01, 0x7F};  // 7F0102, least significant first
    filter = {};
    filter.lpbySerialNumber = rsaSerial;
    filter.cbSerialNumber = sizeof rsaSerial;
    ASSERT_EQ(S_OK, FilterUnregCertsFromCSPList(set, &filter));
    ASSERT_EQ(1u, set.size());
    EXPECT_EQ(DWORD(AT_SIGNATURE), set[0]->dwKeySpec);
    EXPECT_EQ(std::wstring(L"c"), set[0]->wszContainerName);
    RemoveAllUnregCertificates(set);

    UnregCertContext* none = nullptr;
    EXPECT_LT(GetUnregCertFromContainer(&none, kKeyCsp, L"keys only", AT_SIGNATURE), 0);
    EXPECT_EQ(nullptr, none);

    // The viewer with flag 1 shows the provider's SM2 certificate; flag 0
    // does not look there.
    ViewAndClose(L"0A1B2C3D4E", L"Discovery SM2 Signer", 1);
    EXPECT_EQ(HRESULT(0xA0001A01), ViewWithoutDialog(L"0A1B2C3D4E", L"Discovery SM2 Signer", 0));
    // The serial criterion holds with its whole converted length: a serial
    // that differs only in its lowest byte finds nothing.
    EXPECT_EQ(HRESULT(0xA0001A01), ViewWithoutDialog(L"0A1B2C3D4F", L"Discovery SM2 Signer", 1));
    // The RSA certificate is no SM2 certificate.
    EXPECT_EQ(HRESULT(0xA0001A01), ViewWithoutDialog(L"7F0102", L"Discovery RSA Signer", 1));
    clear();
    FreeLibrary(csp);
}

}  // namespace
