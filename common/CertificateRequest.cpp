// PKCS#10 request pieces on the platform's structure encoder and the DER
// engine.
#include "CertificateRequest.h"

#include <wincrypt.h>

#include <cstring>
#include <cwchar>
#include <new>

#include "ASN1EngineEx.h"
#include "DataSigning.h"
#include "Encoding.h"
#include "Misc.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"CertificateRequest"

namespace {

const BYTE kVersionZero[] = {0x02, 0x01, 0x00};
const BYTE kVersionOne[] = {0x02, 0x01, 0x01};

struct Keyword {
    const wchar_t* name;
    const char* oid;
};
const Keyword kKeywords[] = {
    {L"CN", "2.5.4.3"},
    {L"SERIALNUMBER", "2.5.4.5"},
    {L"C", "2.5.4.6"},
    {L"L", "2.5.4.7"},
    {L"S", "2.5.4.8"},
    {L"ST", "2.5.4.8"},
    {L"STREET", "2.5.4.9"},
    {L"O", "2.5.4.10"},
    {L"OU", "2.5.4.11"},
    {L"businessCategory", "2.5.4.15"},
    {L"PostalCode", "2.5.4.17"},
    {L"E", "1.2.840.113549.1.9.1"},
    {L"Email", "1.2.840.113549.1.9.1"},
    {L"jurisdictionOfIncorporationLocalityName", "1.3.6.1.4.1.311.60.2.1.1"},
    {L"jurisdictionOfIncorporationStateOrProvinceName", "1.3.6.1.4.1.311.60.2.1.2"},
    {L"jurisdictionOfIncorporationCountryName", "1.3.6.1.4.1.311.60.2.1.3"},
};
constexpr char kCountryNameOID[] = "2.5.4.6";
constexpr char kEmailOID[] = "1.2.840.113549.1.9.1";

// The PrintableString alphabet. Some encoders accept more (one takes '@');
// the check keeps requests to what every peer accepts.
bool IsPrintableChar(BYTE c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return strchr(" '()+,-./:=?", c) != nullptr && c != 0;
}

HRESULT Hand(const std::vector<BYTE>& data, BYTE** out, DWORD* size) { return CopyToNewBuffer(data, out, size); }

void Append(std::vector<BYTE>& out, const std::vector<BYTE>& part) { out.insert(out.end(), part.begin(), part.end()); }

}  // namespace

HRESULT ComposeAnyString(BYTE** ppbyEncodedData, DWORD* pdwEncodedSize, const BYTE* pbyValue, DWORD dwValueType,
                         DWORD dwValueSize) {
    TRACE_SCOPE(L"ComposeAnyString");
    HRESULT hr = S_OK;
    static const WCHAR kEmpty[1] = {0};
    CERT_NAME_VALUE value = {};

    CHECK_GOTO(ppbyEncodedData == NULL || pdwEncodedSize == NULL || (pbyValue == NULL && dwValueSize != 0),
               L"Check Parameter", E_INVALIDARG);
    // Refuse what Windows' encoder refuses, whatever the platform's encoder would let through.
    if (dwValueType == ANY_STRING_PRINTABLE) {
        for (DWORD i = 0; i < dwValueSize; ++i)
            CHECK_GOTO(!IsPrintableChar(pbyValue[i]), L"Check PrintableString", CRYPT_E_INVALID_PRINTABLE_STRING);
    } else if (dwValueType == ANY_STRING_IA5) {
        for (DWORD i = 0; i < dwValueSize; ++i)
            CHECK_GOTO(pbyValue[i] >= 0x80, L"Check IA5String", CRYPT_E_INVALID_IA5_STRING);
    }

    value.dwValueType = dwValueType;
    value.Value.cbData = dwValueSize;
    // An empty value still needs a terminated text: the encoder measures one of length 0.
    value.Value.pbData = const_cast<BYTE*>(dwValueSize ? pbyValue : reinterpret_cast<const BYTE*>(kEmpty));
    hr = EncodeObject(pdwEncodedSize, X509_ANY_STRING, &value, ppbyEncodedData);
    CHECK_GOTO(hr != S_OK, L"EncodeObject", hr);

exit:
    return hr;
}

HRESULT ComposeBITString(BYTE** ppbyEncodedData, DWORD* pdwEncodedSize, const BYTE* pbyData, DWORD dwDataSize) {
    TRACE_SCOPE(L"ComposeBITString");
    HRESULT hr = S_OK;
    CRYPT_BIT_BLOB bits = {};

    CHECK_GOTO(ppbyEncodedData == NULL || pdwEncodedSize == NULL || (pbyData == NULL && dwDataSize != 0),
               L"Check Parameter", E_INVALIDARG);
    bits.cbData = dwDataSize;
    bits.pbData = const_cast<BYTE*>(pbyData);
    hr = EncodeObject(pdwEncodedSize, X509_BITS, &bits, ppbyEncodedData);
    CHECK_GOTO(hr != S_OK, L"EncodeObject", hr);

exit:
    return hr;
}

HRESULT ComposeMultiByteUnsignedInt(BYTE** ppbyEncodedData, DWORD* pdwEncodedSize, const BYTE* pbyData,
                                    DWORD dwDataSize) {
    TRACE_SCOPE(L"ComposeMultiByteUnsignedInt");
    HRESULT hr = S_OK;
    CRYPT_UINT_BLOB number = {};

    CHECK_GOTO(ppbyEncodedData == NULL || pdwEncodedSize == NULL || pbyData == NULL || dwDataSize == 0,
               L"Check Parameter", E_INVALIDARG);
    number.cbData = dwDataSize;
    number.pbData = const_cast<BYTE*>(pbyData);
    hr = EncodeObject(pdwEncodedSize, X509_MULTI_BYTE_UINT, &number, ppbyEncodedData);
    CHECK_GOTO(hr != S_OK, L"EncodeObject", hr);

exit:
    return hr;
}

HRESULT ComposeStandardAttribute(BYTE** ppbyEncodedData, DWORD* pdwEncodedSize, LPCSTR pszObjectID,
                                 const BYTE* pbyValue, DWORD dwValueSize) {
    TRACE_SCOPE(L"ComposeStandardAttribute");
    HRESULT hr = S_OK;
    CRYPT_ATTR_BLOB blob = {};
    CRYPT_ATTRIBUTE attribute = {};

    CHECK_GOTO(ppbyEncodedData == NULL || pdwEncodedSize == NULL || pszObjectID == NULL || *pszObjectID == 0 ||
                   pbyValue == NULL || dwValueSize == 0,
               L"Check Parameter", E_INVALIDARG);
    blob.cbData = dwValueSize;
    blob.pbData = const_cast<BYTE*>(pbyValue);
    attribute.pszObjId = const_cast<LPSTR>(pszObjectID);
    attribute.cValue = 1;
    attribute.rgValue = &blob;
    hr = EncodeObject(pdwEncodedSize, PKCS_ATTRIBUTE, &attribute, ppbyEncodedData);
    CHECK_GOTO(hr != S_OK, L"EncodeObject", hr);

exit:
    return hr;
}

HRESULT ComposeSpecialAttribute(BYTE** ppbyEncodedData, DWORD* pdwEncodedSize, LPCSTR pszObjectID,
                                const BYTE* pbyValue, DWORD dwValueSize) {
    TRACE_SCOPE(L"ComposeSpecialAttribute");
    HRESULT hr = S_OK;
    CRYPT_ATTR_BLOB blob = {};
    CRYPT_ATTRIBUTE attribute = {};
    std::vector<BYTE> encoded, body, result;
    ASN1Node* root = nullptr;
    const ASN1Node* oid = nullptr;
    const ASN1Node* value = nullptr;

    CHECK_GOTO(ppbyEncodedData == NULL || pdwEncodedSize == NULL || pszObjectID == NULL || *pszObjectID == 0 ||
                   (pbyValue == NULL && dwValueSize != 0),
               L"Check Parameter", E_INVALIDARG);
    attribute.pszObjId = const_cast<LPSTR>(pszObjectID);
    if (pbyValue) {
        blob.cbData = dwValueSize;
        blob.pbData = const_cast<BYTE*>(pbyValue);
        attribute.cValue = 1;
        attribute.rgValue = &blob;
    }
    hr = CollectBuffer(encoded,
                       [&](BYTE** p, DWORD* n) { return EncodeObject(n, PKCS_ATTRIBUTE, &attribute, p); });
    CHECK_GOTO(hr != S_OK, L"EncodeObject", hr);

    if (!pbyValue) {
        // SEQUENCE { OID, SET {} }: the empty SET becomes NULL.
        CHECK_GOTO(encoded.size() < 2 || encoded[encoded.size() - 2] != 0x31 || encoded.back() != 0x00,
                   L"Check Encoding", E_FAIL);
        encoded[encoded.size() - 2] = 0x05;
        hr = Hand(encoded, ppbyEncodedData, pdwEncodedSize);
        CHECK_GOTO(hr != S_OK, L"New buffer", hr);
        goto exit;
    }

    CHECK_GOTO(DecodeASN1MemoryEx(&root, encoded.data(), DWORD(encoded.size())) != 0, L"DecodeASN1MemoryEx",
               E_FAIL);
    CHECK_GOTO(root->vetNodes.size() < 2 || root->vetNodes[1]->vetNodes.empty(), L"Check Attribute", E_FAIL);
    oid = root->vetNodes[0];
    value = root->vetNodes[1]->vetNodes[0];
    hr = ASN1EncodeAppend(body, oid->byTag, encoded.data() + oid->ullContentOffset, oid->dwContentLength);
    CHECK_GOTO(hr != S_OK, L"ASN1Encode(ObjectID)", hr);
    hr = ASN1EncodeAppend(body, value->byTag, encoded.data() + value->ullContentOffset, value->dwContentLength);
    CHECK_GOTO(hr != S_OK, L"ASN1Encode(AnyString)", hr);
    hr = ASN1EncodeAppend(result, 0x30, body);
    CHECK_GOTO(hr != S_OK, L"ASN1Encode(Sequence)", hr);
    hr = Hand(result, ppbyEncodedData, pdwEncodedSize);
    CHECK_GOTO(hr != S_OK, L"New buffer", hr);

exit:
    delete root;
    return hr;
}

std::string GetObjectID(const std::wstring& wstrKeyword) {
    TRACE_SCOPE(L"GetObjectID");
    std::wstring keyword = wstrKeyword;
    ReplaceStrRStrIW(keyword, L" ", L"");
    for (const Keyword& k : kKeywords)
        if (_wcsicmp(keyword.c_str(), k.name) == 0) return k.oid;
    TraceDiagnosticLine(TRACE_MODULE, __LINE__, traceFunc_, L"Unknown keyword", keyword.c_str());
    return std::string();
}

HRESULT ParseSubject(const wchar_t* lpwSubject, std::vector<std::pair<std::string, std::wstring>>& vtrPairs) {
    TRACE_SCOPE(L"ParseSubject");
    HRESULT hr = S_OK;
    std::vector<std::wstring> pieces;
    std::vector<std::pair<std::string, std::wstring>> pairs;

    hr = SplitStrings(pieces, lpwSubject, L",");
    CHECK_GOTO(hr != S_OK, L"SplitStrings", hr);
    for (const std::wstring& piece : pieces) {
        std::vector<std::wstring> vtrStrPair;
        std::string strObjectID;
        hr = SplitStrings(vtrStrPair, piece.c_str(), L"=");
        CHECK_GOTO(hr != S_OK, L"SplitStrings(Pair)", hr);
        CHECK_GOTO(vtrStrPair.size() != 2, L"Bad Data", NTE_BAD_DATA);
        strObjectID = GetObjectID(vtrStrPair[0]);
        // An unknown keyword is refused here, before any encoder sees an empty identifier.
        CHECK_GOTO(strObjectID.empty(), L"GetObjectID", NTE_BAD_DATA);
        pairs.emplace_back(strObjectID, vtrStrPair[1]);
    }
    vtrPairs.insert(vtrPairs.end(), pairs.begin(), pairs.end());

exit:
    return hr;
}

HRESULT ComposeSubjectChild(const std::pair<std::string, std::wstring>& pair, BYTE** ppbyEncodedData,
                            DWORD* pdwEncodedSize) {
    TRACE_SCOPE(L"ComposeSubjectChild");
    HRESULT hr = S_OK;
    std::vector<BYTE> value, attribute, result;
    char* utf8 = nullptr;
    DWORD utf8Len = 0;

    CHECK_GOTO(ppbyEncodedData == NULL || pdwEncodedSize == NULL || pair.first.empty(), L"Check Parameter",
               E_INVALIDARG);
    if (pair.first == kCountryNameOID || pair.first == kEmailOID) {
        const bool country = pair.first == kCountryNameOID;
        if (!pair.second.empty()) {
            hr = UTF16ToUTF8(pair.second.c_str(), &utf8, &utf8Len);
            CHECK_GOTO(hr != S_OK, L"UTF16ToUTF8", hr);
        }
        hr = CollectBuffer(value, [&](BYTE** p, DWORD* n) {
            return ComposeAnyString(p, n, reinterpret_cast<const BYTE*>(utf8), country ? ANY_STRING_PRINTABLE : ANY_STRING_IA5,
                                    utf8Len);
        });
        CHECK_GOTO(hr != S_OK, country ? L"ComposeAnyString(COUNTRY_NAME)" : L"ComposeAnyString(Email)", hr);
    } else {
        hr = CollectBuffer(value, [&](BYTE** p, DWORD* n) {
            return ComposeAnyString(p, n, reinterpret_cast<const BYTE*>(pair.second.c_str()), ANY_STRING_BMP,
                                    DWORD(pair.second.size() * sizeof(wchar_t)));
        });
        CHECK_GOTO(hr != S_OK, L"ComposeAnyString", hr);
    }
    hr = CollectBuffer(attribute, [&](BYTE** p, DWORD* n) {
        return ComposeSpecialAttribute(p, n, pair.first.c_str(), value.data(), DWORD(value.size()));
    });
    CHECK_GOTO(hr != S_OK, L"ComposeSpecialAttribute", hr);
    hr = ASN1EncodeAppend(result, 0x31, attribute);
    CHECK_GOTO(hr != S_OK, L"ASN1Encode(Set)", hr);
    hr = Hand(result, ppbyEncodedData, pdwEncodedSize);
    CHECK_GOTO(hr != S_OK, L"New buffer", hr);

exit:
    delete[] utf8;
    return hr;
}

HRESULT ComposeSubject(const wchar_t* lpwSubject, BYTE** ppbyEncodedData, DWORD* pdwEncodedSize) {
    TRACE_SCOPE(L"ComposeSubject");
    HRESULT hr = S_OK;
    std::vector<std::pair<std::string, std::wstring>> pairs;
    std::vector<BYTE> children, result;

    CHECK_GOTO(ppbyEncodedData == NULL || pdwEncodedSize == NULL, L"Check Parameter", E_INVALIDARG);
    hr = ParseSubject(lpwSubject, pairs);
    CHECK_GOTO(hr != S_OK, L"ParseSubject", hr);
    for (auto it = pairs.rbegin(); it != pairs.rend(); ++it) {
        std::vector<BYTE> child;
        hr = CollectBuffer(child, [&](BYTE** p, DWORD* n) { return ComposeSubjectChild(*it, p, n); });
        CHECK_GOTO(hr != S_OK, L"ComposeSubjectChild", hr);
        Append(children, child);
    }
    hr = ASN1EncodeAppend(result, 0x30, children);
    CHECK_GOTO(hr != S_OK, L"ASN1Encode(Sequence)", hr);
    hr = Hand(result, ppbyEncodedData, pdwEncodedSize);
    CHECK_GOTO(hr != S_OK, L"New buffer", hr);

exit:
    return hr;
}

HRESULT ComposeSignPublicKeyData(LPCSTR pszAlgorithm, const BYTE* pbyPublicKey, DWORD dwPublicKeySize,
                                 BYTE** ppbyEncodedData, DWORD* pdwEncodedSize) {
    TRACE_SCOPE(L"ComposeSignPublicKeyData");
    HRESULT hr = S_OK;
    std::vector<BYTE> algorithm, curve, bits, body, result;

    CHECK_GOTO(pszAlgorithm == NULL || pbyPublicKey == NULL || dwPublicKeySize == 0 || ppbyEncodedData == NULL ||
                   pdwEncodedSize == NULL,
               L"Check Parameter", E_INVALIDARG);
    if (strcmp(pszAlgorithm, RSA_PUBLIC_KEY_OID) == 0) {
        hr = CollectBuffer(algorithm, [&](BYTE** p, DWORD* n) {
            return ComposeSpecialAttribute(p, n, pszAlgorithm, nullptr, 0);
        });
        CHECK_GOTO(hr != S_OK, L"ComposeSpecialAttribute(RSA)", hr);
    } else {
        // The curve identifier's own encoding: SEQUENCE { curve, NULL } without
        // its two-octet header and its trailing NULL.
        hr = CollectBuffer(curve, [&](BYTE** p, DWORD* n) {
            return ComposeSpecialAttribute(p, n, SM2_CURVE_OID, nullptr, 0);
        });
        CHECK_GOTO(hr != S_OK, L"ComposeSpecialAttribute(Curve)", hr);
        CHECK_GOTO(curve.size() < 4, L"Check Curve", E_FAIL);
        curve.erase(curve.end() - 2, curve.end());
        curve.erase(curve.begin(), curve.begin() + 2);
        hr = CollectBuffer(algorithm, [&](BYTE** p, DWORD* n) {
            return ComposeSpecialAttribute(p, n, pszAlgorithm, curve.data(), DWORD(curve.size()));
        });
        CHECK_GOTO(hr != S_OK, L"ComposeSpecialAttribute(Algorithm)", hr);
    }
    hr = CollectBuffer(bits, [&](BYTE** p, DWORD* n) { return ComposeBITString(p, n, pbyPublicKey, dwPublicKeySize); });
    CHECK_GOTO(hr != S_OK, L"ComposeBITString", hr);
    Append(body, algorithm);
    Append(body, bits);
    hr = ASN1EncodeAppend(result, 0x30, body);
    CHECK_GOTO(hr != S_OK, L"ASN1Encode(Sequence)", hr);
    hr = Hand(result, ppbyEncodedData, pdwEncodedSize);
    CHECK_GOTO(hr != S_OK, L"New buffer", hr);

exit:
    return hr;
}

HRESULT ComposeAttributes(const BYTE* pbyTempPublicKey, DWORD dwTempPublicKeySize, DWORD dwStandardAttributes,
                          BYTE** ppbyEncodedData, DWORD* pdwEncodedSize) {
    TRACE_SCOPE(L"ComposeAttributes");
    HRESULT hr = S_OK;
    std::vector<BYTE> challenge, keyContent, keySequence, keyValue, first, second, body, result;
    auto attribute = [&](std::vector<BYTE>& out, LPCSTR oid, const std::vector<BYTE>& value) {
        return CollectBuffer(out, [&](BYTE** p, DWORD* n) {
            return dwStandardAttributes ? ComposeStandardAttribute(p, n, oid, value.data(), DWORD(value.size()))
                                        : ComposeSpecialAttribute(p, n, oid, value.data(), DWORD(value.size()));
        });
    };

    CHECK_GOTO(pbyTempPublicKey == NULL || dwTempPublicKeySize == 0 || ppbyEncodedData == NULL ||
                   pdwEncodedSize == NULL,
               L"Check Parameter", E_INVALIDARG);
    hr = CollectBuffer(challenge, [&](BYTE** p, DWORD* n) {
        return ComposeAnyString(p, n, reinterpret_cast<const BYTE*>(CHALLENGE_PASSWORD), ANY_STRING_PRINTABLE,
                                DWORD(strlen(CHALLENGE_PASSWORD)));
    });
    CHECK_GOTO(hr != S_OK, L"ComposeAnyString", hr);

    keyContent.assign(kVersionOne, kVersionOne + sizeof(kVersionOne));
    hr = ASN1EncodeAppend(keyContent, 0x04, pbyTempPublicKey, dwTempPublicKeySize);
    CHECK_GOTO(hr != S_OK, L"ASN1Encode(TempPublicKey)", hr);
    hr = ASN1EncodeAppend(keySequence, 0x30, keyContent);
    CHECK_GOTO(hr != S_OK, L"ASN1Encode(TempPublicKeySequence)", hr);
    hr = ASN1EncodeAppend(keyValue, 0x04, keySequence);
    CHECK_GOTO(hr != S_OK, L"ASN1Encode(TempPublicKeyValue)", hr);

    hr = attribute(first, CHALLENGE_PASSWORD_OID, challenge);
    CHECK_GOTO(hr != S_OK, dwStandardAttributes ? L"ComposeStandardAttribute(ChallengePassword)"
                                                : L"ComposeSpecialAttribute(ChallengePassword)", hr);
    hr = attribute(second, TEMP_PUBLIC_KEY_OID, keyValue);
    CHECK_GOTO(hr != S_OK, dwStandardAttributes ? L"ComposeStandardAttribute(TempPublicKey)"
                                                : L"ComposeSpecialAttribute(TempPublicKey)", hr);
    Append(body, first);
    Append(body, second);
    hr = ASN1EncodeAppend(result, 0xA0, body);
    CHECK_GOTO(hr != S_OK, L"ASN1Encode(Attributes)", hr);
    hr = Hand(result, ppbyEncodedData, pdwEncodedSize);
    CHECK_GOTO(hr != S_OK, L"New buffer", hr);

exit:
    return hr;
}

HRESULT ComposeCertRequestInfo(CertRequestInfoParams stParams, BYTE** ppbyEncodedData, DWORD* pdwEncodedSize) {
    TRACE_SCOPE(L"ComposeCertRequestInfo");
    HRESULT hr = S_OK;
    std::vector<BYTE> subject, publicKey, attributes, body, result;

    CHECK_GOTO(ppbyEncodedData == NULL || pdwEncodedSize == NULL, L"Check Parameter", E_INVALIDARG);
    hr = CollectBuffer(subject, [&](BYTE** p, DWORD* n) { return ComposeSubject(stParams.wstrSubject.c_str(), p, n); });
    CHECK_GOTO(hr != S_OK, L"ComposeSubject", hr);
    hr = CollectBuffer(publicKey, [&](BYTE** p, DWORD* n) {
        return ComposeSignPublicKeyData(stParams.strPublicKeyAlgorithm.c_str(), stParams.pbyPublicKey,
                                        stParams.dwPublicKeySize, p, n);
    });
    CHECK_GOTO(hr != S_OK, L"ComposeSignPublicKeyData", hr);
    if (stParams.pbyTempPublicKey) {
        hr = CollectBuffer(attributes, [&](BYTE** p, DWORD* n) {
            return ComposeAttributes(stParams.pbyTempPublicKey, stParams.dwTempPublicKeySize,
                                     stParams.dwStandardAttributes, p, n);
        });
        CHECK_GOTO(hr != S_OK, L"ComposeAttributes", hr);
    }
    body.assign(kVersionZero, kVersionZero + sizeof(kVersionZero));
    Append(body, subject);
    Append(body, publicKey);
    Append(body, attributes);
    hr = ASN1EncodeAppend(result, 0x30, body);
    CHECK_GOTO(hr != S_OK, L"ASN1Encode(Sequence)", hr);
    hr = Hand(result, ppbyEncodedData, pdwEncodedSize);
    CHECK_GOTO(hr != S_OK, L"New buffer", hr);

exit:
    return hr;
}

HRESULT ComposeSignAlgorithm(LPCSTR pszAlgorithm, BYTE** ppbyEncodedData, DWORD* pdwEncodedSize) {
    TRACE_SCOPE(L"ComposeSignAlgorithm");
    HRESULT hr = ComposeSpecialAttribute(ppbyEncodedData, pdwEncodedSize, pszAlgorithm, nullptr, 0);
    if (hr != S_OK) TRACE_FAIL(L"ComposeSpecialAttribute", L"hResult != S_OK", hr);
    return hr;
}

HRESULT ComposeSignature(const BYTE* pbySignature, DWORD dwSignatureSize, BOOL bSM2, BYTE** ppbyEncodedData,
                         DWORD* pdwEncodedSize) {
    TRACE_SCOPE(L"ComposeSignature");
    HRESULT hr = S_OK;
    std::vector<BYTE> signature;

    CHECK_GOTO(pbySignature == NULL || dwSignatureSize == 0 || ppbyEncodedData == NULL || pdwEncodedSize == NULL,
               L"Check Parameter", E_INVALIDARG);
    if (bSM2) {
        hr = CollectBuffer(signature, [&](BYTE** p, DWORD* n) {
            return SM2EncodeRawSignature(n, pbySignature, dwSignatureSize, p, SM2_ENCODE_SEQUENCE);
        });
        CHECK_GOTO(hr != S_OK, L"SM2EncodeRawSignature", hr);
    } else {
        signature.assign(pbySignature, pbySignature + dwSignatureSize);
    }
    hr = ComposeBITString(ppbyEncodedData, pdwEncodedSize, signature.data(), DWORD(signature.size()));
    CHECK_GOTO(hr != S_OK, L"ComposeBITString", hr);

exit:
    return hr;
}

HRESULT ProcessSM2PublicKey(BYTE* pbySignPublicKeyData, DWORD* pdwSignPublicKeyDataSize, BYTE* pbyTempPublicKeyData,
                            DWORD* pdwTempPublicKeyDataSize) {
    TRACE_SCOPE(L"ProcessSM2PublicKey");
    HRESULT hr = S_OK;
    constexpr DWORD kBitLength = 8, kX = 12, kY = 76, kField = 64, kCoord = 32;
    BYTE point[SM2_POINT_SIZE] = {0x04};
    BYTE temp[SM2_TEMP_PUBLIC_KEY_SIZE] = {};
    DWORD bits = 0;

    // Both blobs are read over the whole layout, so both must hold it.
    CHECK_GOTO(pbySignPublicKeyData == NULL || pdwSignPublicKeyDataSize == NULL ||
                   *pdwSignPublicKeyDataSize < SM2_CSP_PUBLIC_KEY_BLOB_SIZE,
               L"Check Sign Public Key", E_INVALIDARG);
    CHECK_GOTO(pbyTempPublicKeyData != NULL &&
                   (pdwTempPublicKeyDataSize == NULL || *pdwTempPublicKeyDataSize < SM2_CSP_PUBLIC_KEY_BLOB_SIZE),
               L"Check Temp Public Key", E_INVALIDARG);

    memcpy(&bits, pbySignPublicKeyData + kBitLength, sizeof(bits));
    TraceValue(L"Sign public key bits", bits);
    memcpy(point + 1, pbySignPublicKeyData + kX, kCoord);
    memcpy(point + 1 + kCoord, pbySignPublicKeyData + kY, kCoord);
    SwapByteOrder(point + 1, kCoord);
    SwapByteOrder(point + 1 + kCoord, kCoord);

    if (pbyTempPublicKeyData) {
        const DWORD alg = SM2_TEMP_PUBLIC_KEY_ALG, keyBits = 256;
        SwapByteOrder(pbyTempPublicKeyData + kX, kCoord);
        SwapByteOrder(pbyTempPublicKeyData + kY, kCoord);
        memcpy(temp, &alg, 4);
        memcpy(temp + 4, &keyBits, 4);
        memcpy(temp + 8, pbyTempPublicKeyData + kX, kField);
        memcpy(temp + 8 + kField, pbyTempPublicKeyData + kY, kField);
        SecureZeroMemory(pbyTempPublicKeyData, *pdwTempPublicKeyDataSize);
        memcpy(pbyTempPublicKeyData, temp, sizeof(temp));
        *pdwTempPublicKeyDataSize = SM2_TEMP_PUBLIC_KEY_SIZE;
        TRACE_STEP(L"Temp public key");
    }
    SecureZeroMemory(pbySignPublicKeyData, *pdwSignPublicKeyDataSize);
    memcpy(pbySignPublicKeyData, point, sizeof(point));
    *pdwSignPublicKeyDataSize = SM2_POINT_SIZE;
    TRACE_STEP(L"Sign public key");

exit:
    return hr;
}

HRESULT TransBase64ToHoldCRLFPer64Chars(const char* pbyDataIn, DWORD dwDataInSize, char** ppbyDataOut,
                                        DWORD* pdwDataOutSize) {
    TRACE_SCOPE(L"TransBase64ToHoldCRLFPer64Chars");
    HRESULT hr = S_OK;
    char* out = nullptr;
    DWORD length = 0, onLine = 0;
    const ULONGLONG capacity = ULONGLONG(dwDataInSize) + 2ULL * (dwDataInSize / 64) + 1;

    CHECK_GOTO(pbyDataIn == NULL || ppbyDataOut == NULL || pdwDataOutSize == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(capacity > 0xFFFFFFFFULL, L"Check Length", E_INVALIDARG);
    out = new (std::nothrow) char[size_t(capacity)]();
    CHECK_GOTO(!out, L"New buffer", E_OUTOFMEMORY);
    for (DWORD i = 0; i < dwDataInSize; ++i) {
        const char c = pbyDataIn[i];
        if (c == '\r' || c == '\n') continue;
        if (onLine == 64) {
            out[length++] = '\r';
            out[length++] = '\n';
            onLine = 0;
        }
        out[length++] = c;
        ++onLine;
    }
    *ppbyDataOut = out;
    *pdwDataOutSize = length;
    out = nullptr;

exit:
    delete[] out;
    return hr;
}
