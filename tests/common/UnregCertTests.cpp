// Certificate status against a given time, the USB ids of a device path,
// and the key-container certificate records and filter.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>
#include <prsht.h>

#include <cstring>
#include <string>

#include "USBKeyInterface.h"
#include "UnregCertificate.h"

namespace {

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
    HWND dialog = nullptr;
    bool sawSubject = false;
};
BOOL CALLBACK FindText(HWND child, LPARAM param) {
    wchar_t text[512] = {};
    SendMessageTimeoutW(child, WM_GETTEXT, 511, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
    if (wcsstr(text, L"Viewer Target")) reinterpret_cast<DialogSearch*>(param)->sawSubject = true;
    return TRUE;
}
BOOL CALLBACK FindDialog(HWND w, LPARAM param) {
    if (!IsWindowVisible(w)) return TRUE;
    DialogSearch* search = reinterpret_cast<DialogSearch*>(param);
    search->dialog = w;
    EnumChildWindows(w, FindText, param);
    return FALSE;
}

struct ViewerCall {
    std::wstring serial;
    HRESULT result = E_PENDING;
};
DWORD WINAPI RunViewer(LPVOID p) {
    ViewerCall* c = static_cast<ViewerCall*>(p);
    c->result = ViewSpecialCertificate(c->serial.c_str(), L"Viewer Target", 0, nullptr);
    return 0;
}

TEST(UnregCert, ViewerShowsTheMatchingCertificateUntilClosed) {
    HCRYPTPROV prov = 0;
    PCCERT_CONTEXT target = MakeCertificate(L"CN=Viewer Target, O=Certaide Test", &prov);
    ASSERT_NE(nullptr, target);
    HCERTSTORE my = CertOpenSystemStoreW(0, L"MY");
    ASSERT_NE(nullptr, my);
    ASSERT_TRUE(CertAddCertificateContextToStore(my, target, CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    CertCloseStore(my, 0);

    std::wstring serial;
    const CRYPT_INTEGER_BLOB& sn = target->pCertInfo->SerialNumber;
    for (DWORD i = sn.cbData; i-- > 0;) {
        wchar_t hex[3];
        swprintf(hex, 3, L"%02X", sn.pbData[i]);
        serial += hex;
    }
    ViewerCall call{serial};
    HANDLE thread = CreateThread(nullptr, 0, RunViewer, &call, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    const DWORD threadId = GetThreadId(thread);
    DialogSearch search;
    for (int i = 0; i < 200 && !search.dialog; ++i) {
        Sleep(100);
        EnumThreadWindows(threadId, FindDialog, reinterpret_cast<LPARAM>(&search));
    }
    ASSERT_NE(nullptr, search.dialog) << "the certificate dialog did not open";
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 300));  // modal: still open
    EXPECT_TRUE(search.sawSubject);
    // The user's OK (closing the window instead counts as a cancel: the
    // dialog call then fails with 0x800704C7).
    PostMessageW(search.dialog, PSM_PRESSBUTTON, PSBTN_OK, 0);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 20000));
    CloseHandle(thread);
    EXPECT_EQ(S_OK, call.result);

    my = CertOpenSystemStoreW(0, L"MY");
    PCCERT_CONTEXT found = CertFindCertificateInStore(my, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, target, nullptr);
    if (found) CertDeleteCertificateFromStore(found);
    CertCloseStore(my, 0);
    CertFreeCertificateContext(target);
    CryptReleaseContext(prov, 0);
}

}  // namespace
