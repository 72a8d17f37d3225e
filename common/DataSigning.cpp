// SM2 signature DER, algorithm identifiers, SignerInfo and the PKCS#7
// SignedData of the renewal protocol.
#include "DataSigning.h"

#include <cstring>
#include <new>
#include <vector>

#include "ASN1EngineEx.h"
#include "Base64Utility.h"
#include "Misc.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DataSigning"

namespace {

constexpr DWORD kEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const BYTE kVersionOne[] = {0x02, 0x01, 0x01};

// A 32-byte unsigned number as the content of a minimal DER INTEGER:
// leading zero octets go while the next octet is below 0x80, and one zero
// goes in front of an octet of 0x80 or above.
std::vector<BYTE> MinimalUnsignedInteger(const BYTE* value, DWORD length) {
    DWORD start = 0;
    while (start + 1 < length && value[start] == 0 && value[start + 1] < 0x80) ++start;
    std::vector<BYTE> content;
    if (value[start] >= 0x80) content.push_back(0x00);
    content.insert(content.end(), value + start, value + length);
    return content;
}

void Append(std::vector<BYTE>& out, const BYTE* data, DWORD length) {
    if (length) out.insert(out.end(), data, data + length);
}

HRESULT EncodeObjectTo(std::vector<BYTE>& out, LPCSTR structType, const void* info) {
    return CollectBuffer(out, [&](BYTE** p, DWORD* n) { return EncodeObject(n, structType, info, p); });
}

HRESULT EncodeObjectIDTo(std::vector<BYTE>& out, LPCSTR oid) {
    return CollectBuffer(out, [&](BYTE** p, DWORD* n) { return EncodeObjectID(n, oid, p); });
}

}  // namespace

HRESULT GetAlgorithmIdentifiers(std::string& strDigestOID, std::string& strSignatureOID) {
    TRACE_SCOPE(L"GetAlgorithmIdentifiers");
    strDigestOID = SM3_DIGEST_OID;
    strSignatureOID = SM2_SM3_SIGNATURE_OID;
    return S_OK;
}

HRESULT SM2EncodeRawSignature(DWORD* pdwEncodedSize, const BYTE* pbyRawSignature, DWORD dwRawSignature,
                              BYTE** ppbyEncoded, DWORD dwEncodeType) {
    TRACE_SCOPE(L"SM2EncodeRawSignature");
    HRESULT hr = S_OK;
    std::vector<BYTE> integers, sequence, result;
    const std::vector<BYTE>* out = &sequence;

    CHECK_GOTO(pbyRawSignature == NULL || ppbyEncoded == NULL || pdwEncodedSize == NULL, L"Check Parameter",
               E_INVALIDARG);
    CHECK_GOTO(SM2_RS_SIZE != dwRawSignature, L"Check Signature Size", HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    CHECK_GOTO(dwEncodeType != SM2_ENCODE_SEQUENCE && dwEncodeType != SM2_ENCODE_OCTET_STRING,
               L"Check Encode Type", E_INVALIDARG);

    try {
        hr = ASN1EncodeAppend(integers, 0x02, MinimalUnsignedInteger(pbyRawSignature, 32));
        CHECK_GOTO(hr != S_OK, L"ASN1Encode(R)", hr);
        hr = ASN1EncodeAppend(integers, 0x02, MinimalUnsignedInteger(pbyRawSignature + 32, 32));
        CHECK_GOTO(hr != S_OK, L"ASN1Encode(S)", hr);
        hr = ASN1EncodeAppend(sequence, 0x30, integers);
        CHECK_GOTO(hr != S_OK, L"ASN1Encode(Sequence)", hr);
        if (dwEncodeType == SM2_ENCODE_OCTET_STRING) {
            hr = ASN1EncodeAppend(result, 0x04, sequence);
            CHECK_GOTO(hr != S_OK, L"ASN1Encode(OctetString)", hr);
            out = &result;
        }
    } catch (const std::bad_alloc&) {
        CHECK_GOTO(true, L"New buffer", E_OUTOFMEMORY);
    }
    TRACE_STEP(L"Encode signature");

    hr = CopyToNewBuffer(*out, ppbyEncoded, pdwEncodedSize);
    CHECK_GOTO(hr != S_OK, L"New buffer", hr);

exit:
    return hr;
}

HRESULT EncodeObject(DWORD* pdwEncodedSize, LPCSTR lpszStructType, const void* pvStructInfo, BYTE** ppbEncoded) {
    TRACE_SCOPE(L"EncodeObject");
    HRESULT hr = S_OK;
    BOOL bRetCode = FALSE;
    DWORD size = 0;
    BYTE* encoded = nullptr;

    CHECK_GOTO(lpszStructType == NULL || pvStructInfo == NULL || ppbEncoded == NULL || pdwEncodedSize == NULL,
               L"Check Parameter", E_INVALIDARG);

    bRetCode = CryptEncodeObject(kEncodingType, lpszStructType, pvStructInfo, nullptr, &size);
    CHECK_GOTO(bRetCode == FALSE, L"CryptEncodeObject(Length)", HResultFromLastError());
    encoded = new (std::nothrow) BYTE[size ? size : 1]();
    CHECK_GOTO(!encoded, L"New buffer", E_OUTOFMEMORY);
    bRetCode = CryptEncodeObject(kEncodingType, lpszStructType, pvStructInfo, encoded, &size);
    CHECK_GOTO(bRetCode == FALSE, L"CryptEncodeObject(Content)", HResultFromLastError());
    TRACE_STEP(L"CryptEncodeObject");

    *ppbEncoded = encoded;
    *pdwEncodedSize = size;
    encoded = nullptr;

exit:
    delete[] encoded;
    return hr;
}

HRESULT EncodeObjectID(DWORD* pdwEncodedSize, LPCSTR pszOID, BYTE** ppbyEncoded) {
    TRACE_SCOPE(L"EncodeObjectID");
    HRESULT hr = S_OK;
    std::vector<BYTE> encoded;
    CRYPT_ATTRIBUTE attribute = {};
    CRYPT_ALGORITHM_IDENTIFIER algorithm = {};

    CHECK_GOTO(pszOID == NULL || ppbyEncoded == NULL || pdwEncodedSize == NULL, L"Check Parameter", E_INVALIDARG);

    // SEQUENCE { OID, SET {} } with its empty SET turned into NULL.
    attribute.pszObjId = const_cast<LPSTR>(pszOID);
    hr = EncodeObjectTo(encoded, PKCS_ATTRIBUTE, &attribute);
    if (hr != S_OK) {
        TRACE_STEP(L"EncodeObject(Attribute)");
        algorithm.pszObjId = const_cast<LPSTR>(pszOID);
        hr = EncodeObjectTo(encoded, X509_ALGORITHM_IDENTIFIER, &algorithm);
        CHECK_GOTO(hr != S_OK, L"EncodeObject(AlgID)", hr);
    }
    CHECK_GOTO(encoded.size() < 2, L"Check Encoding", E_FAIL);
    encoded[encoded.size() - 2] = 0x05;
    encoded[encoded.size() - 1] = 0x00;
    TRACE_STEP(L"EncodeObject");

    hr = CopyToNewBuffer(encoded, ppbyEncoded, pdwEncodedSize);
    CHECK_GOTO(hr != S_OK, L"New buffer", hr);

exit:
    return hr;
}

HRESULT SM2EncodeSignerInfo(DWORD* pdwEncodedSize, const CMSG_SIGNER_INFO* pstSignerInfo, BYTE** ppbyEncoded) {
    TRACE_SCOPE(L"SM2EncodeSignerInfo");
    HRESULT hr = S_OK;
    std::vector<BYTE> serialContent, issuerAndSerial, body, digestAlg, encryptionAlg, signerInfo;

    CHECK_GOTO(pstSignerInfo == NULL || ppbyEncoded == NULL || pdwEncodedSize == NULL, L"Check Parameter",
               E_INVALIDARG);
    CHECK_GOTO(pstSignerInfo->Issuer.cbData == 0 || pstSignerInfo->Issuer.pbData == NULL ||
                   pstSignerInfo->SerialNumber.cbData == 0 || pstSignerInfo->SerialNumber.pbData == NULL ||
                   pstSignerInfo->EncryptedHash.cbData == 0 || pstSignerInfo->EncryptedHash.pbData == NULL,
               L"Check Signer Info", E_INVALIDARG);

    try {
        // The serial number is kept least significant byte first.
        serialContent.assign(pstSignerInfo->SerialNumber.pbData,
                             pstSignerInfo->SerialNumber.pbData + pstSignerInfo->SerialNumber.cbData);
        SwapByteOrder(serialContent.data(), DWORD(serialContent.size()));
        Append(body, pstSignerInfo->Issuer.pbData, pstSignerInfo->Issuer.cbData);
        hr = ASN1EncodeAppend(body, 0x02, serialContent);
        CHECK_GOTO(hr != S_OK, L"ASN1Encode(SerialNumber)", hr);
        hr = ASN1EncodeAppend(issuerAndSerial, 0x30, body);
        CHECK_GOTO(hr != S_OK, L"ASN1Encode(IssuerAndSerialNumber)", hr);
        TRACE_STEP(L"IssuerAndSerialNumber");

        hr = EncodeObjectIDTo(digestAlg, pstSignerInfo->HashAlgorithm.pszObjId);
        CHECK_GOTO(hr != S_OK, L"EncodeObjectID(DigestAlgorithm)", hr);
        hr = EncodeObjectIDTo(encryptionAlg, pstSignerInfo->HashEncryptionAlgorithm.pszObjId);
        CHECK_GOTO(hr != S_OK, L"EncodeObjectID(DigestEncryptionAlgorithm)", hr);
        TRACE_STEP(L"EncodeObjectID");

        body.assign(kVersionOne, kVersionOne + sizeof(kVersionOne));
        body.insert(body.end(), issuerAndSerial.begin(), issuerAndSerial.end());
        body.insert(body.end(), digestAlg.begin(), digestAlg.end());
        body.insert(body.end(), encryptionAlg.begin(), encryptionAlg.end());
        Append(body, pstSignerInfo->EncryptedHash.pbData, pstSignerInfo->EncryptedHash.cbData);
        hr = ASN1EncodeAppend(signerInfo, 0x30, body);
        CHECK_GOTO(hr != S_OK, L"ASN1Encode(SignerInfo)", hr);
    } catch (const std::bad_alloc&) {
        CHECK_GOTO(true, L"New buffer", E_OUTOFMEMORY);
    }
    TRACE_STEP(L"SignerInfo");

    hr = CopyToNewBuffer(signerInfo, ppbyEncoded, pdwEncodedSize);
    CHECK_GOTO(hr != S_OK, L"New buffer", hr);

exit:
    return hr;
}

HRESULT EncapsulatePKCS7(PCCERT_CONTEXT pstCertContext, LPCSTR pszDigestOID, LPCSTR pszSignatureOID,
                         const BYTE* pSourceData, DWORD dwSourceDataSize, const BYTE* pSignedData,
                         DWORD dwSignedDataSize, BSTR* pbstrPKCS7SignedData, DWORD* pdwPKCS7SignedDataLength,
                         DWORD dwFileFlag, DWORD dwContentFlag, DWORD dwBase64Flags, BSTR bstrFileName) {
    TRACE_SCOPE(L"EncapsulatePKCS7");
    HRESULT hr = S_OK;
    bool gmtMode = false;
    std::vector<BYTE> digestAlg, digestAlgs, content, contentInfo, certificates, signerInfo, signerInfos, body,
        signedData, outer;
    BYTE* fileContent = nullptr;
    DWORD fileSize = 0;
    CMSG_SIGNER_INFO signer = {};
    CRYPT_CONTENT_INFO info = {};
    char* base64 = nullptr;
    int base64Len = 0;
    int wideLen = 0;
    BSTR text = nullptr;

    CHECK_GOTO(pstCertContext == NULL || pSignedData == NULL || pbstrPKCS7SignedData == NULL, L"Check Parameter",
               E_INVALIDARG);
    CHECK_GOTO(pszDigestOID == NULL || pszSignatureOID == NULL || dwSignedDataSize == 0, L"Check Parameter",
               E_INVALIDARG);
    gmtMode = strcmp(pszDigestOID, SM3_DIGEST_OID) == 0;
    TraceValue(L"GM/T mode", gmtMode ? 1 : 0);

    try {
        hr = EncodeObjectIDTo(digestAlg, pszDigestOID);
        CHECK_GOTO(hr != S_OK, L"EncodeObjectID", hr);
        hr = ASN1EncodeAppend(digestAlgs, 0x31, digestAlg);
        CHECK_GOTO(hr != S_OK, L"ASN1Encode(DigestAlgorithms)", hr);
        TRACE_STEP(L"DigestAlgorithms");

        if (dwContentFlag == 1) {
            CRYPT_DATA_BLOB blob = {};
            if (dwFileFlag) {
                CHECK_GOTO(bstrFileName == NULL, L"Check File Name", E_INVALIDARG);
                hr = ReadFileSimple(&fileSize, bstrFileName, &fileContent);
                CHECK_GOTO(hr != S_OK, L"ReadFileSimple", hr);
                blob.cbData = fileSize;
                blob.pbData = fileContent;
            } else {
                CHECK_GOTO(pSourceData == NULL, L"Check Source Data", E_INVALIDARG);
                blob.cbData = dwSourceDataSize;
                blob.pbData = const_cast<BYTE*>(pSourceData);
            }
            hr = EncodeObjectTo(content, X509_OCTET_STRING, &blob);
            CHECK_GOTO(hr != S_OK, L"EncodeObject(Content)", hr);
            TRACE_STEP(L"Content");
        }
        info.pszObjId = const_cast<LPSTR>(gmtMode ? GMT_DATA_OID : PKCS7_DATA_OID);
        info.Content.cbData = DWORD(content.size());
        info.Content.pbData = content.empty() ? nullptr : content.data();
        hr = EncodeObjectTo(contentInfo, PKCS_CONTENT_INFO, &info);
        CHECK_GOTO(hr != S_OK, L"EncodeObject(ContentInfo)", hr);
        TRACE_STEP(L"ContentInfo");

        hr = ASN1EncodeAppend(certificates, 0xA0, pstCertContext->pbCertEncoded, pstCertContext->cbCertEncoded);
        CHECK_GOTO(hr != S_OK, L"ASN1Encode(Certificates)", hr);

        signer.dwVersion = 1;
        signer.Issuer = pstCertContext->pCertInfo->Issuer;
        signer.SerialNumber = pstCertContext->pCertInfo->SerialNumber;
        signer.HashAlgorithm.pszObjId = const_cast<LPSTR>(pszDigestOID);
        signer.HashEncryptionAlgorithm.pszObjId = const_cast<LPSTR>(pszSignatureOID);
        signer.EncryptedHash.cbData = dwSignedDataSize;
        signer.EncryptedHash.pbData = const_cast<BYTE*>(pSignedData);
        if (gmtMode) {
            hr = CollectBuffer(signerInfo, [&](BYTE** p, DWORD* n) { return SM2EncodeSignerInfo(n, &signer, p); });
            CHECK_GOTO(hr != S_OK, L"SM2EncodeSignerInfo", hr);
        } else {
            hr = EncodeObjectTo(signerInfo, PKCS7_SIGNER_INFO, &signer);
            CHECK_GOTO(hr != S_OK, L"EncodeObject(SignerInfo)", hr);
        }
        hr = ASN1EncodeAppend(signerInfos, 0x31, signerInfo);
        CHECK_GOTO(hr != S_OK, L"ASN1Encode(SignerInfos)", hr);
        TRACE_STEP(L"SignerInfos");

        body.assign(kVersionOne, kVersionOne + sizeof(kVersionOne));
        for (const std::vector<BYTE>* part : {&digestAlgs, &contentInfo, &certificates, &signerInfos})
            body.insert(body.end(), part->begin(), part->end());
        hr = ASN1EncodeAppend(signedData, 0x30, body);
        CHECK_GOTO(hr != S_OK, L"ASN1Encode(SignedData)", hr);

        info.pszObjId = const_cast<LPSTR>(gmtMode ? GMT_SIGNED_DATA_OID : PKCS7_SIGNED_DATA_OID);
        info.Content.cbData = DWORD(signedData.size());
        info.Content.pbData = signedData.data();
        hr = EncodeObjectTo(outer, PKCS_CONTENT_INFO, &info);
        CHECK_GOTO(hr != S_OK, L"EncodeObject(SignedData ContentInfo)", hr);
        TRACE_STEP(L"SignedData");
    } catch (const std::bad_alloc&) {
        CHECK_GOTO(true, L"New buffer", E_OUTOFMEMORY);
    }

    hr = Base64EncodeEx(outer.data(), int(outer.size()), &base64, &base64Len, dwBase64Flags);
    CHECK_GOTO(hr != S_OK, L"Base64EncodeEx", hr);
    wideLen = MultiByteToWideChar(CP_ACP, 0, base64, base64Len, nullptr, 0);
    CHECK_GOTO(wideLen <= 0, L"MultiByteToWideChar(Length)", HResultFromLastError());
    text = SysAllocStringLen(nullptr, UINT(wideLen));
    CHECK_GOTO(text == NULL, L"SysAllocStringLen", E_OUTOFMEMORY);
    CHECK_GOTO(MultiByteToWideChar(CP_ACP, 0, base64, base64Len, text, wideLen) != wideLen,
               L"MultiByteToWideChar", HResultFromLastError());
    TRACE_STEP(L"Base64");

    *pbstrPKCS7SignedData = text;
    if (pdwPKCS7SignedDataLength) *pdwPKCS7SignedDataLength = DWORD(base64Len);
    text = nullptr;

exit:
    SysFreeString(text);
    delete[] base64;
    delete[] fileContent;
    return hr;
}
