// Prepares a build tree's Wine prefix for the tests (a CTest fixture; safe
// to run again):
//   prefix_setup [--trust-root CERT.pem]... [--winxp PROGRAM.exe]... [--csp NAME DLL SKFBIN]...
// --trust-root  puts the certificate into LocalMachine's ROOT store (kept if
//               already there), as a system administrator would;
// --winxp       makes Wine report Windows XP (5.1) to that program
//               (HKCU\Software\Wine\AppDefaults\PROGRAM\Version = winxp).
// --csp         registers a CryptoAPI provider of type 1 (PROV_RSA_FULL)
//               under that name, in this program's registry view, with its
//               "Image Path" and the "SKFBin Path" of its key library.
// Host paths (starting with "/") are read through drive Z:.
#include <windows.h>
// wincrypt.h after windows.h.
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring WinePath(const wchar_t* path) {
    std::wstring p = path;
    if (!p.empty() && p[0] == L'/') p = L"Z:" + p;
    return p;
}

bool TrustRoot(const wchar_t* pemPath) {
    HANDLE h = CreateFileW(WinePath(pemPath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        fwprintf(stderr, L"prefix_setup: cannot read %ls\n", pemPath);
        return false;
    }
    std::vector<char> pem(GetFileSize(h, nullptr));
    DWORD read = 0;
    const BOOL ok = ReadFile(h, pem.data(), static_cast<DWORD>(pem.size()), &read, nullptr);
    CloseHandle(h);
    DWORD len = 0;
    if (!ok || !CryptStringToBinaryA(pem.data(), read, CRYPT_STRING_BASE64HEADER, nullptr, &len, nullptr, nullptr)) {
        fwprintf(stderr, L"prefix_setup: %ls is not a PEM certificate\n", pemPath);
        return false;
    }
    std::vector<BYTE> der(len);
    CryptStringToBinaryA(pem.data(), read, CRYPT_STRING_BASE64HEADER, der.data(), &len, nullptr, nullptr);
    HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    if (!root) {
        fwprintf(stderr, L"prefix_setup: LocalMachine ROOT cannot be opened (%lu)\n", GetLastError());
        return false;
    }
    const BOOL added = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), len,
                                                        CERT_STORE_ADD_USE_EXISTING, nullptr);
    if (!added) fwprintf(stderr, L"prefix_setup: adding %ls failed (%lu)\n", pemPath, GetLastError());
    CertCloseStore(root, 0);  // the store is written when it is closed
    return added != FALSE;
}

bool ReportWindowsXp(const wchar_t* program) {
    const std::wstring key = std::wstring(L"Software\\Wine\\AppDefaults\\") + program;
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr) !=
        ERROR_SUCCESS) {
        fwprintf(stderr, L"prefix_setup: cannot create %ls\n", key.c_str());
        return false;
    }
    const wchar_t value[] = L"winxp";
    const LONG rc = RegSetValueExW(h, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof(value));
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
}

bool RegisterCsp(const wchar_t* name, const wchar_t* dll, const wchar_t* skfBin) {
    const std::wstring key = std::wstring(L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\") + name;
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr) !=
        ERROR_SUCCESS) {
        fwprintf(stderr, L"prefix_setup: cannot create %ls\n", key.c_str());
        return false;
    }
    auto text = [h](const wchar_t* value, const std::wstring& data) {
        return RegSetValueExW(h, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                              DWORD((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    };
    std::wstring image = WinePath(dll), bin = WinePath(skfBin);
    for (std::wstring* p : {&image, &bin})
        for (wchar_t& c : *p)
            if (c == L'/') c = L'\\';
    const DWORD type = PROV_RSA_FULL;
    const bool ok = text(L"Image Path", image) && text(L"SKFBin Path", bin) &&
                    RegSetValueExW(h, L"Type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&type), sizeof type) ==
                        ERROR_SUCCESS;
    RegCloseKey(h);
    if (!ok) fwprintf(stderr, L"prefix_setup: cannot register the provider %ls\n", name);
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--trust-root" && i + 1 < argc) {
            ok = TrustRoot(argv[++i]) && ok;
        } else if (arg == L"--csp" && i + 3 < argc) {
            ok = RegisterCsp(argv[i + 1], argv[i + 2], argv[i + 3]) && ok;
            i += 3;
        } else if (arg == L"--winxp" && i + 1 < argc) {
            ok = ReportWindowsXp(argv[++i]) && ok;
        } else {
            fwprintf(stderr, L"prefix_setup: unknown argument %ls\n", argv[i]);
            return 2;
        }
    }
    return ok ? 0 : 1;
}
