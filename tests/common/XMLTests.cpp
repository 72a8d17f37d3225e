// The MSXML document helpers and the embedded trust chain. MSXML serialises
// differently from one implementation to the next, so the checks compare
// node names and values, never serialised text.
#include <gtest/gtest.h>
#include <objbase.h>
#include <wincrypt.h>

#include <string>
#include <algorithm>
#include <thread>
#include <vector>

#include "HostPaths.h"
#include "TestFiles.h"
#include "XMLCertChain.h"
#include "XMLParse.h"

namespace {

struct Bstr {
    explicit Bstr(const wchar_t* s) : b(SysAllocString(s)) {}
    ~Bstr() { SysFreeString(b); }
    operator BSTR() const { return b; }
    BSTR b;
};

template <class T>
struct ComPtr {
    ~ComPtr() {
        if (p) p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
    operator T*() const { return p; }
    T* p = nullptr;
};

std::wstring NodeName(IXMLDOMNode* node) {
    BSTR name = nullptr;
    EXPECT_EQ(node->get_nodeName(&name), S_OK);
    std::wstring s = name ? name : L"";
    SysFreeString(name);
    return s;
}

std::wstring Value(IXMLDOMNode* node) {
    wchar_t* text = nullptr;
    EXPECT_EQ(GetNodeValue(node, &text), S_OK);
    std::wstring s = text ? text : L"";
    delete[] text;
    return s;
}

HRESULT Load(const std::string& text, IXMLDOMDocument** doc) {
    return LoadXMLDom(reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size()), doc);
}

std::vector<BYTE> ReadAll(const std::string& path) { return ReadAllBytes(Widen(path)); }

// The callers keep COM initialised on their thread for the documents' life.
class XmlTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(XmlTest, ReplyFieldsByNameWithoutCase) {
    const std::string reply =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<response><code>0</code><Message>ok \xE4\xB8\xAD</Message>"
        "<message>second</message><data><a>1</a><b>2</b></data></response>";
    ComPtr<IXMLDOMDocument> doc;
    ASSERT_EQ(Load(reply, &doc), S_OK);
    ComPtr<IXMLDOMNode> root, code, message, data;
    ASSERT_EQ(GetXMLRootNode(doc, &root), S_OK);
    EXPECT_EQ(NodeName(root), L"response");
    ASSERT_EQ(FindChildNode(root, Bstr(L"CODE"), &code), S_OK);
    EXPECT_EQ(Value(code), L"0");
    ASSERT_EQ(FindChildNode(root, Bstr(L"message"), &message), S_OK);
    EXPECT_EQ(NodeName(message), L"Message");  // the first of the two
    EXPECT_EQ(Value(message), L"ok \x4E2D");
    ASSERT_EQ(FindChildNode(root, Bstr(L"data"), &data), S_OK);
    EXPECT_EQ(Value(data), L"12");  // descendants' text concatenated
    IXMLDOMNode* none = nullptr;
    EXPECT_EQ(FindChildNode(root, Bstr(L"missing"), &none), 1168);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(FindChildNode(code, Bstr(L"x"), &none), 1168);  // only a text child
}

TEST_F(XmlTest, RootIsTheLastChild) {
    ComPtr<IXMLDOMDocument> doc;
    ASSERT_EQ(Load("<?xml version=\"1.0\"?><root><P7bContent>AA==</P7bContent></root><!-- trailing -->", &doc),
              S_OK);
    ComPtr<IXMLDOMNode> last, child;
    ASSERT_EQ(GetXMLRootNode(doc, &last), S_OK);
    EXPECT_EQ(NodeName(last), L"#comment");
    EXPECT_EQ(FindChildNode(last, Bstr(L"P7bContent"), &child), 1168);
}

TEST_F(XmlTest, BuildRequestFromSkeleton) {
    ComPtr<IXMLDOMDocument> doc;
    ASSERT_EQ(Load("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request></request>", &doc), S_OK);
    ComPtr<IXMLDOMNode> root;
    ASSERT_EQ(GetXMLRootNode(doc, &root), S_OK);
    ASSERT_EQ(CreateAndAppendXMLNode(doc, root, Bstr(L"type"), Bstr(L"2001")), S_OK);
    ASSERT_EQ(CreateAndAppendXMLNode(doc, root, Bstr(L"rsap10"), Bstr(L"")), S_OK);
    ASSERT_EQ(CreateAndAppendXMLNode(doc, root, Bstr(L"text"), Bstr(L"a<b&c")), S_OK);
    EXPECT_EQ(CreateAndAppendXMLNode(doc, root, Bstr(L"x"), nullptr), E_INVALIDARG);
    EXPECT_EQ(CreateAndAppendXMLNode(nullptr, root, Bstr(L"x"), Bstr(L"")), E_INVALIDARG);

    // Serialise and read back: the same names and values.
    BSTR xml = nullptr;
    ASSERT_EQ(doc->get_xml(&xml), S_OK);
    std::wstring w(xml);
    SysFreeString(xml);
    const std::string utf8(w.begin(), w.end());  // ASCII only here
    ComPtr<IXMLDOMDocument> again;
    ASSERT_EQ(Load(utf8, &again), S_OK);
    ComPtr<IXMLDOMNode> root2, type, empty, text;
    ASSERT_EQ(GetXMLRootNode(again, &root2), S_OK);
    EXPECT_EQ(NodeName(root2), L"request");
    ASSERT_EQ(FindChildNode(root2, Bstr(L"type"), &type), S_OK);
    EXPECT_EQ(Value(type), L"2001");
    ASSERT_EQ(FindChildNode(root2, Bstr(L"rsap10"), &empty), S_OK);
    EXPECT_EQ(Value(empty), L"");
    ASSERT_EQ(FindChildNode(root2, Bstr(L"text"), &text), S_OK);
    EXPECT_EQ(Value(text), L"a<b&c");
}

TEST_F(XmlTest, LoadFailures) {
    const struct {
        std::string text;
        HRESULT hr;
    } cases[] = {
        {"<root><open></root>", static_cast<HRESULT>(0x80070001)},
        {"", static_cast<HRESULT>(0x80070001)},
        {"not xml at all", static_cast<HRESULT>(0x80070001)},
        {"<a>1</a><b>2</b>", static_cast<HRESULT>(0x80070001)},
    };
    for (const auto& c : cases) {
        IXMLDOMDocument* doc = nullptr;
        EXPECT_EQ(Load(c.text, &doc), c.hr) << c.text;
        EXPECT_NE(doc, nullptr) << c.text;  // left for the caller to release
        if (doc) doc->Release();
    }
    IXMLDOMDocument* doc = nullptr;
    EXPECT_EQ(LoadXMLDom(nullptr, 0, &doc), E_INVALIDARG);
    EXPECT_EQ(LoadXMLDom(reinterpret_cast<const BYTE*>("<a/>"), 4, nullptr), E_INVALIDARG);
    IXMLDOMNode* node = nullptr;
    EXPECT_EQ(GetXMLRootNode(nullptr, &node), E_INVALIDARG);
    EXPECT_EQ(FindChildNode(nullptr, Bstr(L"a"), &node), E_INVALIDARG);
    EXPECT_EQ(GetNodeValue(nullptr, nullptr), E_INVALIDARG);
}

// Chain texts built here: the element name in any case, Base64 with and
// without line breaks.
TEST(CertChainText, ElementAndLineBreaks) {
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- a -->\r\n<!-- b -->\r\n<root>\r\n    ";
    const std::string broken = head + "<p7bcontent>AAEC\r\nAwQF\r\nBg==</p7bcontent>\r\n</root>\r\n";
    const std::string whole = head + "<P7bContent>AAECAwQFBg==</P7bContent>\r\n</root>\r\n";
    for (const std::string* text : {&broken, &whole}) {
        BYTE* out = nullptr;
        DWORD len = 0;
        ASSERT_EQ(LoadP7bFromXMLCertChainData(reinterpret_cast<const BYTE*>(text->data()),
                                              static_cast<DWORD>(text->size()), &out, &len),
                  S_OK);
        EXPECT_EQ(std::vector<BYTE>(out, out + len), (std::vector<BYTE>{0, 1, 2, 3, 4, 5, 6}));
        delete[] out;
    }
    const std::string noContent = head + "<Other>AAEC</Other></root>";
    BYTE* out = nullptr;
    DWORD len = 0;
    EXPECT_EQ(LoadP7bFromXMLCertChainData(reinterpret_cast<const BYTE*>(noContent.data()),
                                          static_cast<DWORD>(noContent.size()), &out, &len),
              static_cast<HRESULT>(0x80070490));
    EXPECT_EQ(LoadP7bFromXMLCertChainData(reinterpret_cast<const BYTE*>(whole.data()), 0, &out, &len), E_INVALIDARG);
    EXPECT_EQ(LoadP7bFromXMLCertChainData(nullptr, 5, &out, &len), E_INVALIDARG);
    EXPECT_EQ(LoadP7bFromXMLCertChainRes(nullptr, &out, &len), E_INVALIDARG);
}

// The resource this program embeds: the DER the build generated, a list of
// the configured CA certificates. Read once on this thread and once on a
// fresh thread that never initialised COM.
void CheckEmbeddedChain() {
    BYTE* p7b = nullptr;
    DWORD len = 0;
    ASSERT_EQ(LoadP7bFromXMLCertChainRes(GetModuleHandleW(nullptr), &p7b, &len), S_OK);
    const std::vector<BYTE> got(p7b, p7b + len);
    delete[] p7b;
    EXPECT_EQ(got, ReadAll(HostEnvPath("CERTCHAIN_P7B")));

    CRYPT_DATA_BLOB blob = {static_cast<DWORD>(got.size()), const_cast<BYTE*>(got.data())};
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_PKCS7, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                     CERT_STORE_READONLY_FLAG, &blob);
    ASSERT_NE(store, nullptr);
    std::vector<std::vector<BYTE>> certs;
    for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(store, c)) != nullptr;)
        certs.emplace_back(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
    CertCloseStore(store, 0);

    // The configured list, PEM files read with the system's own decoder.
    std::vector<std::vector<BYTE>> expected;
    std::string list = std::getenv("CERTCHAIN_CAS") ? std::getenv("CERTCHAIN_CAS") : "";
    for (size_t start = 0; start < list.size();) {
        size_t end = list.find('|', start);
        if (end == std::string::npos) end = list.size();
        const std::vector<BYTE> pem = ReadAll("Z:" + list.substr(start, end - start));
        DWORD derLen = 0;
        ASSERT_TRUE(CryptStringToBinaryA(reinterpret_cast<const char*>(pem.data()), static_cast<DWORD>(pem.size()),
                                         CRYPT_STRING_BASE64HEADER, nullptr, &derLen, nullptr, nullptr));
        std::vector<BYTE> der(derLen);
        ASSERT_TRUE(CryptStringToBinaryA(reinterpret_cast<const char*>(pem.data()), static_cast<DWORD>(pem.size()),
                                         CRYPT_STRING_BASE64HEADER, der.data(), &derLen, nullptr, nullptr));
        expected.push_back(der);
        start = end + 1;
    }
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(certs.size(), expected.size());
    for (const auto& e : expected) EXPECT_NE(std::find(certs.begin(), certs.end(), e), certs.end());
}

TEST(CertChainResource, YieldsTheGeneratedChain) { CheckEmbeddedChain(); }

TEST(CertChainResource, WorksOnAThreadWithoutCom) {
    std::thread worker([] { CheckEmbeddedChain(); });
    worker.join();
}

TEST(CertChainResource, ResourceFormat) {
    // Type "CERTCHAIN", id 130, language 1033; CR LF lines, Base64 in 76 columns.
    HRSRC res = FindResourceExW(nullptr, L"CERTCHAIN", MAKEINTRESOURCEW(130), 1033);
    ASSERT_NE(res, nullptr);
    const DWORD size = SizeofResource(nullptr, res);
    const char* text = static_cast<const char*>(LockResource(LoadResource(nullptr, res)));
    const std::string s(text, size);
    EXPECT_EQ(s.compare(0, 38, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"), 0);
    EXPECT_EQ(s.substr(s.size() - 9), "</root>\r\n");
    std::vector<std::string> lines;
    for (size_t start = 0; start < s.size();) {
        const size_t end = s.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        lines.push_back(s.substr(start, end - start));
        start = end + 2;
    }
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(lines[3], "<root>");
    EXPECT_EQ(lines[4].compare(0, 16, "    <P7bContent>"), 0);
    EXPECT_EQ(lines[4].size(), 16u + 76u);
    for (size_t i = 5; i + 2 < lines.size(); ++i) EXPECT_EQ(lines[i].size(), 76u) << i;
    EXPECT_EQ(lines[lines.size() - 2].substr(lines[lines.size() - 2].size() - 13), "</P7bContent>");
    EXPECT_EQ(lines.back(), "</root>");
    EXPECT_EQ(s.find('\n') , s.find("\r\n") + 1);
}

}  // namespace
