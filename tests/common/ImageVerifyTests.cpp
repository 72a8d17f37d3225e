// The legacy Authenticode verifier on libraries signed by osslsigncode (and
// changed by the host tool sigtool): sound signatures of every kind pass,
// changed bytes, forgeries and header faults are refused, and the image
// digest equals osslsigncode's.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <windows.h>
// wincrypt.h after windows.h.
#include <wincrypt.h>

#include <string>
#include <vector>

#include "HostPaths.h"
#include "ImageVerify.h"
#include "Misc.h"
#include "TestFiles.h"
#include "TraceHelper.h"

namespace {

using Bytes = std::vector<BYTE>;
const HRESULT kBadData = static_cast<HRESULT>(0x8007000D);

std::wstring Sample(const char* name) { return Widen(HostEnvPath("SIGNED_SAMPLES")) + L"\\" + Widen(name); }
std::wstring Fixture(const char* name) { return Widen(HostEnvPath("CODE_SIGNING_DIR")) + L"\\" + Widen(name); }

Bytes ReadAll(const std::wstring& path) { return ReadAllBytes(path); }

DWORD Get32(const Bytes& b, size_t at) { return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (DWORD(b[at + 3]) << 24); }
void Put32(Bytes& b, size_t at, DWORD v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<BYTE>(v >> (8 * i));
}

struct Layout {
    size_t nt, checksum, securityEntry, table;
};
Layout LayoutOf(const Bytes& pe) {
    Layout l;
    l.nt = Get32(pe, 0x3C);
    l.checksum = l.nt + 88;
    l.securityEntry = l.nt + ((pe[l.nt + 24] | (pe[l.nt + 25] << 8)) == 0x20B ? 168 : 152);
    l.table = Get32(pe, l.securityEntry);
    return l;
}

// Writes changed copies into a scratch folder of the test's own.
class ScratchFiles : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = NewScratchFolder(L"imageverify");
        ASSERT_FALSE(m_dir.empty());
    }
    void TearDown() override {
        for (const auto& f : m_files) DeleteFileW(f.c_str());
        RemoveDirectoryW(m_dir.c_str());
    }
    std::wstring Write(const Bytes& data) {
        const std::wstring path = m_dir + L"\\f" + std::to_wstring(m_files.size()) + L".dll";
        EXPECT_EQ(WriteFileSimple(path.c_str(), data.data(), static_cast<DWORD>(data.size())), S_OK);
        m_files.push_back(path);
        return path;
    }
    HRESULT VerifyBytes(const Bytes& data) { return VerifyFileSignature(Write(data).c_str()); }
    std::wstring m_dir;
    std::vector<std::wstring> m_files;
};

TEST(ImageVerify, SignedSamples) {
    const struct {
        const char* file;
        HRESULT hr;
    } cases[] = {
        {"root-sha256.dll", S_OK},
        {"root-sha1.dll", S_OK},
        {"root-nointer.dll", S_OK},
        {"root-pe32plus.dll", S_OK},
        {"root-nested.dll", S_OK},
        {"root-stamped.dll", S_OK},
        {"root-countersigned.dll", S_OK},
        {"e3.dll", S_OK},
        {"expired.dll", S_OK},   // validity is not the verifier's concern
        {"second.dll", S_OK},
        {"foreign.dll", S_OK},   // nor is trust
        {"system.dll", S_OK},
        {"unsigned.dll", TRUST_E_NOSIGNATURE},
        {"changed.dll", kBadData},
        {"forged.dll", kBadData},       // a block that only ends in the digest
        {"serial-twin.dll", kBadData},  // another issuer's certificate with the signer's serial first
        {"sha384.dll", kBadData},       // neither SHA-1 nor SHA-256
        {"blob.dll", S_OK},             // an unknown attribute whose value is no SEQUENCE is passed over
        {"other-attribute.dll", kBadData},  // one whose value is a SEQUENCE is refused
    };
    for (const auto& c : cases) EXPECT_EQ(VerifyFileSignature(Sample(c.file).c_str()), c.hr) << c.file;
    EXPECT_EQ(VerifyFileSignature(Sample("missing.dll").c_str()), static_cast<HRESULT>(0x80070002));
}

TEST(ImageVerify, ImageDigestEqualsOsslsigncode) {
    for (const char* name : {"root-sha256", "root-sha1", "root-pe32plus", "root-nested", "root-stamped"}) {
        const std::wstring path = Sample((std::string(name) + ".dll").c_str());
        const Bytes pe = ReadAll(path);
        ASSERT_FALSE(pe.empty()) << name;
        Bytes window(IMAGE_HEADER_WINDOW, 0);
        std::copy(pe.begin(), pe.begin() + std::min<size_t>(pe.size(), window.size()), window.begin());
        ImageHashPlan plan = {};
        ULONG tableOffset = 0;
        ASSERT_EQ(AnalyzeFileData(window.data(), static_cast<ULONG>(pe.size()), &plan, &tableOffset), S_OK);
        const Layout l = LayoutOf(pe);
        EXPECT_EQ(tableOffset, l.table);
        const DWORD expectPlan[6] = {0, DWORD(l.checksum), DWORD(l.checksum + 4), DWORD(l.securityEntry),
                                     DWORD(l.securityEntry + 8), DWORD(l.table)};
        EXPECT_EQ(Bytes(reinterpret_cast<BYTE*>(plan.Offsets), reinterpret_cast<BYTE*>(plan.Offsets + 6)),
                  Bytes(reinterpret_cast<const BYTE*>(expectPlan), reinterpret_cast<const BYTE*>(expectPlan + 6)));

        const Bytes hex = ReadAll(Sample((std::string(name) + ".digest").c_str()));
        const std::string expected(hex.begin(), hex.end() - (hex.back() == '\n' ? 1 : 0));
        const Asn1DigestAlg alg = expected.size() == 40 ? DigestAlg_SHA1 : DigestAlg_SHA256;
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        FileDigestContext ctx = {h, &plan, 6};
        BYTE digest[32] = {};
        EXPECT_EQ(CalculateFileHashCallback(alg, &ctx, digest), S_OK);
        CloseHandle(h);
        std::string got;
        char two[3];
        for (size_t i = 0; i < expected.size() / 2; ++i) {
            snprintf(two, 3, "%02X", digest[i]);
            got += two;
        }
        EXPECT_EQ(got, expected) << name;
    }
}

TEST_F(ScratchFiles, CoveredBytesAndHeaderFaults) {
    const Bytes pe = ReadAll(Sample("root-stamped.dll"));
    ASSERT_FALSE(pe.empty());
    const Layout l = LayoutOf(pe);
    ASSERT_EQ(VerifyBytes(pe), S_OK);

    // Offsets of signature parts, found with the verifier's own tree.
    const DWORD tableLen = Get32(pe, l.table);
    Asn1TreeNode* root = ParseAsn1Data(pe.data() + l.table + 8, tableLen - 8);
    ASSERT_NE(root, nullptr);
    auto at = [&](const char* path) {
        Asn1TreeNode* n = GetAsn1Node(root, path);
        EXPECT_NE(n, nullptr) << path;
        return n ? static_cast<size_t>(n->Data - pe.data()) + n->Size / 2 : 0;
    };
    const size_t signature = at("1.0.4.0.5:04");
    const size_t signedAttrs = at("1.0.4.0.3:A0");
    const size_t indirectData = at("1.0.2.1.0");
    const size_t stampSignature = at("1.0.4.0.6:A1.0.1.0.1.0.4.0.5:04");
    FreeAsn1Tree(root);

    const struct {
        const char* what;
        size_t offset;
        HRESULT hr;
    } flips[] = {
        {"DOS stub", 0x50, kBadData},
        {"checksum (not covered)", l.checksum, S_OK},
        {"last byte before the table", l.table - 1, kBadData},
        {"SpcIndirectDataContent", indirectData, kBadData},
        {"authenticated attributes", signedAttrs, kBadData},
        {"signature value", signature, kBadData},
        {"time-stamp signature", stampSignature, kBadData},
    };
    for (const auto& f : flips) {
        Bytes b = pe;
        b[f.offset] ^= 0x01;
        EXPECT_EQ(VerifyBytes(b), f.hr) << f.what;
    }

    using Edit = void (*)(Bytes&, const Layout&);
    const struct {
        const char* what;
        Edit edit;
        HRESULT hr;
    } faults[] = {
        {"e_magic", [](Bytes& b, const Layout&) { b[1] = 'X'; }, kBadData},
        {"e_lfanew 512", [](Bytes& b, const Layout&) { Put32(b, 0x3C, 512); }, kBadData},
        {"e_lfanew negative", [](Bytes& b, const Layout&) { Put32(b, 0x3C, 0xFFFFFF00); }, kBadData},
        {"PE signature", [](Bytes& b, const Layout& l) { b[l.nt + 2] = 1; }, kBadData},
        {"not executable", [](Bytes& b, const Layout& l) { b[l.nt + 22] &= ~0x02; }, kBadData},
        {"optional header magic", [](Bytes& b, const Layout& l) { b[l.nt + 24] = 0x0C; }, kBadData},
        {"no certificate table", [](Bytes& b, const Layout& l) { Put32(b, l.securityEntry, 0); }, TRUST_E_NOSIGNATURE},
        {"table at the file's end",
         [](Bytes& b, const Layout& l) { Put32(b, l.securityEntry, static_cast<DWORD>(b.size())); }, kBadData},
        {"table far beyond the file", [](Bytes& b, const Layout& l) { Put32(b, l.securityEntry, 0xFFFFFFF0); },
         kBadData},
        {"table inside the headers",
         [](Bytes& b, const Layout& l) { Put32(b, l.securityEntry, static_cast<DWORD>(l.securityEntry + 4)); },
         kBadData},
        {"table header cut off",
         [](Bytes& b, const Layout& l) { Put32(b, l.securityEntry, static_cast<DWORD>(b.size() - 4)); }, kBadData},
        {"certificate type", [](Bytes& b, const Layout& l) { b[l.table + 6] = 1; }, kBadData},
        {"dwLength below 8", [](Bytes& b, const Layout& l) { Put32(b, l.table, 4); }, kBadData},
        {"dwLength near 2^32", [](Bytes& b, const Layout& l) { Put32(b, l.table, 0xFFFFFFF8); }, kBadData},
        {"dwLength beyond the file",
         [](Bytes& b, const Layout& l) { Put32(b, l.table, static_cast<DWORD>(b.size() - l.table + 1)); }, kBadData},
        {"dwLength beyond the buffer",
         [](Bytes& b, const Layout& l) {
             Put32(b, l.table, IMAGE_BUFFER_SIZE);
             b.resize(l.table + IMAGE_BUFFER_SIZE + 16);
         },
         kBadData},
        {"signature cut short",
         [](Bytes& b, const Layout& l) { Put32(b, l.table, Get32(b, l.table) - 100); }, kBadData},
    };
    for (const auto& f : faults) {
        Bytes b = pe;
        f.edit(b, l);
        EXPECT_EQ(VerifyBytes(b), f.hr) << f.what;
    }
}

TEST_F(ScratchFiles, SizeLimit) {
    Bytes pe = ReadAll(Sample("root-sha256.dll"));
    ASSERT_FALSE(pe.empty());
    // Bytes after the certificate table are not covered: pad to the limit.
    pe.resize(FileSizeLimit, 0);
    EXPECT_EQ(VerifyBytes(pe), S_OK);
    pe.push_back(0);
    EXPECT_EQ(VerifyBytes(pe), static_cast<HRESULT>(0x800700DF));
}

Bytes PemToDer(const std::wstring& path) {
    const Bytes pem = ReadAll(path);
    DWORD len = 0;
    CryptStringToBinaryA(reinterpret_cast<const char*>(pem.data()), static_cast<DWORD>(pem.size()),
                         CRYPT_STRING_BASE64HEADER, nullptr, &len, nullptr, nullptr);
    Bytes der(len);
    CryptStringToBinaryA(reinterpret_cast<const char*>(pem.data()), static_cast<DWORD>(pem.size()),
                         CRYPT_STRING_BASE64HEADER, der.data(), &len, nullptr, nullptr);
    return der;
}

Bytes Encoded(PCCERT_CONTEXT c) { return Bytes(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded); }

TEST(ImageVerify, SignerCertificates) {
    CertContextSet set;
    ASSERT_EQ(GetFileSignCertificates(Sample("root-sha256.dll").c_str(), set), S_OK);
    ASSERT_EQ(set.size(), 2u);
    EXPECT_EQ(Encoded(set[0]), PemToDer(Fixture("signer.pem")));
    EXPECT_EQ(Encoded(set[1]), PemToDer(Fixture("intermediate.pem")));
    RemoveAllCertificates(set);

    // The signer is found by issuer and serial number: the twin is skipped.
    ASSERT_EQ(GetFileSignCertificates(Sample("serial-twin.dll").c_str(), set), S_OK);
    ASSERT_FALSE(set.empty());
    EXPECT_EQ(Encoded(set[0]), PemToDer(Fixture("signer.pem")));
    RemoveAllCertificates(set);

    EXPECT_LT(GetFileSignCertificates(Sample("unsigned.dll").c_str(), set), 0);
    EXPECT_TRUE(set.empty());
    EXPECT_EQ(GetFileSignCertificates(nullptr, set), E_INVALIDARG);
}

TEST(Sha1, AgainstOpenSsl) {
    Bytes data(1000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i * 7 + 3);
    for (unsigned len : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 1000u}) {
        BYTE mine[20], ref[20];
        ASSERT_EQ(Sha1Digest(data.data(), len, mine), shaSuccess);
        SHA1(data.data(), len, ref);
        EXPECT_EQ(Bytes(mine, mine + 20), Bytes(ref, ref + 20)) << len;

        // Fed in two pieces.
        Sha1Context ctx;
        Sha1Reset(&ctx);
        Sha1Input(&ctx, data.data(), len / 3);
        Sha1Input(&ctx, data.data() + len / 3, len - len / 3);
        ASSERT_EQ(Sha1Result(&ctx, mine), shaSuccess);
        EXPECT_EQ(Bytes(mine, mine + 20), Bytes(ref, ref + 20)) << len;
        // Input after the result is refused.
        EXPECT_EQ(Sha1Input(&ctx, data.data(), 1), shaStateError);
    }
}

std::vector<std::wstring> g_traceLines;
void RecordTrace(ULONG64, const TraceMessageArgs& message) {
    if (message.text) g_traceLines.push_back(message.text);
}

TEST(ImageVerify, TraceDumpBufferRows) {
    BYTE data[20];
    for (int i = 0; i < 20; ++i) data[i] = static_cast<BYTE>(0x3E + i);  // ">?@A" .. "P"
    data[19] = 0x07;
    g_traceLines.clear();
    SetTraceWriter(RecordTrace);
    SetTraceControlState(true, 0x1234, 0xFF);
    TraceDumpBuffer(data, 20);
    SetTraceControlState(false, 0, 0);
    TraceDumpBuffer(data, 20);  // tracing off: nothing
    SetTraceWriter(nullptr);

    ASSERT_EQ(g_traceLines.size(), 3u);
    wchar_t prefix[64];
    swprintf(prefix, 64, L"[%lu:%lu:U] ", GetCurrentProcessId(), GetCurrentThreadId());
    wchar_t header[128];
    swprintf(header, 128, L"%lsBuffer start: 0x%p (0x14)", prefix, static_cast<void*>(data));
    EXPECT_EQ(g_traceLines[0], header);
    // Each row: address, 16 hex bytes (three spaces for missing ones), the characters.
    wchar_t address[32];
    swprintf(address, 32, L"0x%p ", static_cast<void*>(data + 16));
    const std::wstring last = std::wstring(prefix) + address + L"4e 4f 50 07 " + std::wstring(36, L' ') + L"NOP.";
    EXPECT_EQ(g_traceLines[2], last);
    EXPECT_NE(g_traceLines[1].find(L"3e 3f 40 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d >?@ABCDEFGHIJKLM"),
              std::wstring::npos);
}

}  // namespace
