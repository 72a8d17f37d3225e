// Base64: the line rule and flag table, and agreement with the host's openssl.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Base64Utility.h"
#include "HostPaths.h"

namespace {

std::string Encode(const std::vector<BYTE>& data, DWORD flags, HRESULT* hrOut = nullptr) {
    char* text = nullptr;
    int len = -1;
    const BYTE none = 0;  // an empty input still has a data pointer
    const HRESULT hr = Base64EncodeEx(data.empty() ? &none : data.data(), static_cast<int>(data.size()), &text,
                                      &len, flags);
    if (hrOut) *hrOut = hr;
    if (hr != S_OK) return "<failed>";
    std::string out(text, len);
    EXPECT_EQ(text[len], '\0');
    delete[] text;
    return out;
}

std::vector<BYTE> Decode(const std::string& text, HRESULT* hrOut = nullptr) {
    BYTE* data = nullptr;
    int len = -1;
    const HRESULT hr = Base64DecodeEx(text.data(), static_cast<int>(text.size()), &data, &len);
    if (hrOut) *hrOut = hr;
    if (hr != S_OK) return {};
    std::vector<BYTE> out(data, data + len);
    delete[] data;
    return out;
}

std::vector<BYTE> Bytes(size_t n) {
    std::vector<BYTE> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<BYTE>(i * 37 + 11);
    return v;
}

TEST(Base64, LineRuleOfCompleteGroupsAndLeftOverBytes) {
    struct Row {
        size_t n;
        DWORD flags;
        std::vector<size_t> crlfAt;  // positions of CR in the text
        size_t length;
        const char* tail;  // the text's last characters
    };
    const Row rows[] = {
        {57, 0, {76}, 78, "\r\n"},        // a full last line ends with CR LF
        {58, 0, {76}, 82, "==" },         // left-over byte after the break, padded
        {59, 0, {76}, 82, "="},
        {60, 0, {76}, 82, nullptr},       // shorter last line: no CR LF
        {114, 0, {76, 154}, 156, "\r\n"},
        {58, ATL_BASE64_FLAG_NOPAD, {76}, 80, nullptr},
        {58, ATL_BASE64_FLAG_NOCRLF, {}, 80, "=="},
        {1, 0, {}, 4, "=="},
        {2, ATL_BASE64_FLAG_NOPAD, {}, 3, nullptr},
    };
    for (const Row& row : rows) {
        const std::string text = Encode(Bytes(row.n), row.flags);
        SCOPED_TRACE(testing::Message() << row.n << " bytes, flags " << row.flags);
        EXPECT_EQ(text.size(), row.length);
        std::vector<size_t> crs;
        for (size_t i = 0; i < text.size(); ++i)
            if (text[i] == '\r') {
                crs.push_back(i);
                EXPECT_EQ(text[i + 1], '\n');
            }
        EXPECT_EQ(crs, row.crlfAt);
        if (row.tail) {
            EXPECT_EQ(text.substr(text.size() - strlen(row.tail)), row.tail);
        }
        EXPECT_EQ(Decode(text), Bytes(row.n));
    }
}

TEST(Base64, EmptyInputAndFlagsTable) {
    HRESULT hr = E_FAIL;
    EXPECT_EQ(Encode({}, ATL_BASE64_FLAG_NONE, &hr), "");
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(Encode({}, ATL_BASE64_FLAG_NOPAD, &hr), "");
    EXPECT_EQ(hr, S_OK);
    Encode({}, ATL_BASE64_FLAG_NOCRLF, &hr);
    EXPECT_EQ(hr, static_cast<HRESULT>(0xA0071004));
    Encode(Bytes(3), 3, &hr);
    EXPECT_EQ(hr, E_INVALIDARG);

    char* text = nullptr;
    EXPECT_EQ(Base64EncodeEx(Bytes(3).data(), 3, nullptr, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(Base64EncodeEx(nullptr, 3, &text, nullptr, 0), static_cast<HRESULT>(0xA0071004));
    EXPECT_EQ(text, nullptr);
}

TEST(Base64, DecoderSkipsNonAlphabetAndHandlesShortGroups) {
    const std::vector<BYTE> abcd = {'A', 'B', 'C', 'D'};
    EXPECT_EQ(Decode(std::string("QUJD\r\nRA==", 10)), abcd);
    EXPECT_EQ(Decode("QUJDRA"), abcd);                 // no padding
    EXPECT_EQ(Decode("Q U J D\tR A"), abcd);            // spaces skipped
    EXPECT_EQ(Decode(std::string("QUJD\0RA==", 9)), (std::vector<BYTE>{'A', 'B', 'C'}));  // zero ends the text
    EXPECT_EQ(Decode("QUJ"), (std::vector<BYTE>{'A', 'B'}));
    EXPECT_EQ(Decode("Q"), std::vector<BYTE>{});        // one character carries no whole byte

    HRESULT hr = S_OK;
    Decode("", &hr);
    EXPECT_EQ(hr, static_cast<HRESULT>(0xA0071005));
    BYTE* data = nullptr;
    EXPECT_EQ(Base64DecodeEx(nullptr, 4, &data, nullptr), static_cast<HRESULT>(0xA0071005));
    EXPECT_EQ(data, nullptr);
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string WithoutLineBreaks(std::string s) {
    std::string out;
    for (char c : s)
        if (c != '\r' && c != '\n') out += c;
    return out;
}

TEST(Base64, AgreesWithHostOpenssl) {
    const std::string dir = HostEnvPath("BASE64_REFERENCE_DIR");
    ASSERT_FALSE(dir.empty()) << "BASE64_REFERENCE_DIR is not set";
    std::istringstream sizes(ReadAll(dir + "/sizes"));
    int checked = 0;
    for (size_t n; sizes >> n; ++checked) {
        SCOPED_TRACE(n);
        const std::string raw = ReadAll(dir + "/" + std::to_string(n) + ".bin");
        ASSERT_EQ(raw.size(), n);
        const std::vector<BYTE> data(raw.begin(), raw.end());
        const std::string oneLine = ReadAll(dir + "/" + std::to_string(n) + ".oneline");
        // openssl -A writes one line: our NOCRLF text is the same, and our
        // standard text differs only by its line breaks.
        EXPECT_EQ(Encode(data, ATL_BASE64_FLAG_NOCRLF), WithoutLineBreaks(oneLine));
        const std::string ours = Encode(data, ATL_BASE64_FLAG_NONE);
        EXPECT_EQ(WithoutLineBreaks(ours), WithoutLineBreaks(oneLine));
        // Every line but the last holds 76 characters.
        size_t start = 0, brk;
        while ((brk = ours.find("\r\n", start)) != std::string::npos) {
            EXPECT_EQ(brk - start, 76u);
            start = brk + 2;
        }
        EXPECT_LT(ours.size() - start, 80u);
        // openssl's 64-column text decodes to the same bytes.
        EXPECT_EQ(Decode(ReadAll(dir + "/" + std::to_string(n) + ".lines")), data);
    }
    EXPECT_GT(checked, 10);
}

}  // namespace
