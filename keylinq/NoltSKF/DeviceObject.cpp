// The device object: device information, label, raw commands, the
// application list and its opening, random numbers and the public-key
// operations with the caller's keys on the host, and the key handles it
// makes (SetSymmKey: a session key, on the key for SM1 and SM4, on the host
// for triple DES; DigestInit: a host digest, with the signer's Z value for
// SM3). What the key does not offer answers
// SAR_NOTSUPPORTYETERR: device authentication, creating and deleting
// applications, and the operations with external private keys.
#include "DeviceObject.h"

#include <cstring>
#include <new>

#include "ApplicationObject.h"
#include "DeviceContext.h"
#include "DeviceInfo.h"
#include "DeviceManager.h"
#include "KeyObject.h"
#include "SarFromResult.h"
#include "SoftCrypto.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceObject"

namespace {

// Offsets in the key's 288-byte device information record.
constexpr size_t kRecVersion = 0;
constexpr size_t kRecManufacturer = 4;
constexpr size_t kRecIssuer = 68;
constexpr size_t kRecLabel = 132;
constexpr size_t kRecSerialNumber = 164;
constexpr size_t kRecHWVersion = 196;
constexpr size_t kRecFirmwareVersion = 198;
constexpr size_t kRecAlgSymCap = 200;
constexpr size_t kRecAlgAsymCap = 204;
constexpr size_t kRecAlgHashCap = 208;
constexpr size_t kRecDevAuthAlgId = 212;
constexpr size_t kRecTotalSpace = 216;
constexpr size_t kRecFreeSpace = 220;
constexpr size_t kRecLifeStatus = 234;
constexpr uint16_t kLifeStatusOperational = 0x7F00;

ULONG HostWord(const uint8_t* record, size_t offset) {
    uint32_t value;
    memcpy(&value, record + offset, sizeof value);
    return value;
}

}  // namespace

uint32_t SKFNotSupported() { return SAR_NOTSUPPORTYETERR; }

CDeviceObject::CDeviceObject(CDeviceContext* pDeviceContext) : CNoltOperator(pDeviceContext) {
    CDeviceContext::TraceInfo(L"CDeviceObject: Constructor");
}

CDeviceObject::~CDeviceObject() { CDeviceContext::TraceInfo(L"CDeviceObject: Destructor"); }

uint32_t CDeviceObject::SetTokenLabel(const char* pszLabel, uint32_t nLabelLen) {
    TRACE_NAME(L"CDeviceObject::SetTokenLabel");
    const uint32_t hr = CDeviceOperator::SetTokenLabel(pszLabel, nLabelLen);
    if (hr != 0)
        TRACE_FAIL(L"CDeviceOperator::SetTokenLabel", L"SAR_OK != hResult", HRESULT(hr));
    else
        TRACE_STEP(L"CDeviceOperator::SetTokenLabel");
    return hr;
}

uint32_t CDeviceObject::DevAuth(const BYTE*, ULONG) { return SKFNotSupported(); }
uint32_t CDeviceObject::ChangeDevAuth(const BYTE*, ULONG) { return SKFNotSupported(); }
uint32_t CDeviceObject::CreateApplication(LPSTR, LPSTR, DWORD, LPSTR, DWORD, DWORD, HAPPLICATION*) {
    return SKFNotSupported();
}
uint32_t CDeviceObject::DeleteApplication(LPSTR) { return SKFNotSupported(); }
uint32_t CDeviceObject::GenExtRSAKey(ULONG, RSAPRIVATEKEYBLOB*) { return SKFNotSupported(); }
uint32_t CDeviceObject::ExtRSAPriKeyOperation(RSAPRIVATEKEYBLOB*, BYTE*, ULONG, BYTE*, ULONG*) {
    return SKFNotSupported();
}
uint32_t CDeviceObject::ExtECCDecrypt(ECCPRIVATEKEYBLOB*, ECCCIPHERBLOB*, BYTE*, ULONG*) { return SKFNotSupported(); }
uint32_t CDeviceObject::ExtECCSign(ECCPRIVATEKEYBLOB*, BYTE*, ULONG, BYTE*, BYTE*) { return SKFNotSupported(); }

// ---- device-level cryptography: random numbers from the key, public-key
// operations with the caller's keys on the host.

namespace {

constexpr uint32_t kRandomPiece = 128;
constexpr uint32_t kSM2KeyLen = 32;
constexpr uint32_t kMaxRsaBits = 2048;

// The caller's RSAPUBLICKEYBLOB as the host's public key (BitLen already checked).
void RsaKeyFromBlob(const RSAPUBLICKEYBLOB* pBlob, SOFT_RSA_PUBKEY* pKey) {
    memset(pKey, 0, sizeof *pKey);
    pKey->nLen = pBlob->BitLen / 8;
    memcpy(pKey->modulus, pBlob->Modulus, pKey->nLen);
    memcpy(pKey->exponent, pBlob->PublicExponent, 4);
    pKey->eLen = 4;
}

// X || Y of a 256-bit ECCPUBLICKEYBLOB.
void EccKeyFromBlob(const ECCPUBLICKEYBLOB* pBlob, uint8_t* pKey) {
    memcpy(pKey, pBlob->XCoordinate + 64 - kSM2KeyLen, kSM2KeyLen);
    memcpy(pKey + kSM2KeyLen, pBlob->YCoordinate + 64 - kSM2KeyLen, kSM2KeyLen);
}

}  // namespace

// ---- key handles made by the device: session keys and digests

uint32_t CDeviceObject::SetSymmKey(BYTE* pbKey, ULONG ulAlgID, HANDLE* phKey) {
    TRACE_NAME(L"CDeviceObject::SetSymmKey");
    uint32_t hr = 0;
    CSymKeyObject* pSymKey = nullptr;
    CHECK_GOTO(!m_pDeviceContext, L"NULL == pDeviceContext", SAR_INVALIDHANDLEERR);
    pSymKey = new (std::nothrow) CSymKeyObject(m_pDeviceContext);
    CHECK_GOTO(!pSymKey, L"NULL == pSymKeyHandle", SAR_MEMORYERR);
    TRACE_STEP(L"new SKF_SYMKEY_OBJECT");
    // A failure is never a handle: an unknown algorithm or a key that the
    // key refused ends here.
    hr = pSymKey->SetSymmKey(ulAlgID, pbKey);
    if (hr != 0) delete pSymKey;
    CHECK_GOTO(hr != 0, L"pSymKeyObject->SetSymmKey", hr);
    *phKey = static_cast<CKeyObject*>(pSymKey);
exit:
    return hr;
}

uint32_t CDeviceObject::DigestInit(ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey, unsigned char* pucID, ULONG ulIDLen,
                                   HANDLE* phHash) {
    TRACE_NAME(L"CDeviceObject::DigestInit");
    static const char kDefaultId[] = "1234567812345678";
    uint32_t hr = 0;
    uint8_t hashId = 0;
    uint8_t z[32] = {};
    bool withZ = false;
    CDigestObject* pDigest = nullptr;
    if (ulAlgID == 1)
        hashId = VM_ALG_SM3;
    else if (ulAlgID == 2)
        hashId = 11;
    else if (ulAlgID == 4)
        hashId = 12;
    CHECK_GOTO(hashId == 0, L"CHECK ulAlgID", SAR_INDATAERR);
    if (ulAlgID == 1 && pPubKey) {
        uint8_t key[2 * kSM2KeyLen];
        CHECK_GOTO(!pucID, L"NULL == pucID", SAR_INVALIDPARAMERR);
        CHECK_GOTO(ulIDLen < 16 || memcmp(pucID, kDefaultId, 16) != 0, L"CHECK pucID value", SAR_INVALIDPARAMERR);
        CHECK_GOTO(pPubKey->BitLen / 8 != kSM2KeyLen, L"SM2_KEY_LENGTH != nKeyLen", SAR_MODULUSLENERR);
        EccKeyFromBlob(pPubKey, key);
        hr = SM2_GetZVal(key, z);
        CHECK_GOTO(hr != 0, L"SM2_GetZVal", hr);
        withZ = true;
    }
    CHECK_GOTO(!m_pDeviceContext, L"NULL == pDeviceContext", SAR_INVALIDHANDLEERR);
    pDigest = new (std::nothrow) CDigestObject(m_pDeviceContext);
    CHECK_GOTO(!pDigest, L"NULL == pDigestObject", SAR_MEMORYERR);
    TRACE_STEP(L"new CDigestObject");
    hr = pDigest->DigestInit(hashId);
    if (hr == 0 && withZ) hr = pDigest->DigestUpdate(z, sizeof z);
    if (hr != 0) delete pDigest;
    CHECK_GOTO(hr != 0, L"pDigestObject->DigestInit", hr);
    *phHash = static_cast<CKeyObject*>(pDigest);
exit:
    return hr;
}

uint32_t CDeviceObject::GenerateRandom(ULONG ulRandomLen, BYTE* pbRandom) {
    TRACE_NAME(L"CDeviceObject::GenerateRandom");
    uint32_t hr = 0;
    ULONG done = 0;
    CHECK_GOTO(!pbRandom, L"CHECK pbRandomData", SAR_INVALIDPARAMERR);
    while (done < ulRandomLen) {
        const uint32_t piece = ulRandomLen - done < kRandomPiece ? ulRandomLen - done : kRandomPiece;
        hr = FoldObjectResult(CDeviceOperator::GenerateRandom(1, uint8_t(piece), pbRandom + done));
        CHECK_GOTO(hr != 0, L"CDeviceOperator::GenerateRandom", hr);
        done += piece;
    }
exit:
    return hr;
}

uint32_t CDeviceObject::ExtRSAPubKeyOperation(RSAPUBLICKEYBLOB* pBlob, BYTE* pbInput, ULONG ulInputLen, BYTE* pbOutput,
                                              ULONG* pulOutputLen) {
    TRACE_NAME(L"CDeviceObject::ExtRSAPubKeyOperation");
    uint32_t hr = 0;
    uint32_t modLen = 0;
    uint32_t outLen = 0;
    ULONG room = 0;
    SOFT_RSA_PUBKEY key;
    CHECK_GOTO(!pBlob, L"NULL == pRSAPubKeyBlob", SAR_INVALIDPARAMERR);
    CHECK_GOTO(!pbInput, L"NULL == pbInput", SAR_INVALIDPARAMERR);
    CHECK_GOTO(!pulOutputLen, L"NULL == pulOutputLen", SAR_INVALIDPARAMERR);
    if (!pbOutput) *pulOutputLen = 0;
    CHECK_GOTO(!pbOutput, L"NULL == pbOutput", SAR_INVALIDPARAMERR);
    // A modulus longer than the blob's field is refused before any byte is read.
    CHECK_GOTO(pBlob->BitLen > kMaxRsaBits, L"CHECK BitLen", SAR_MODULUSLENERR);
    modLen = pBlob->BitLen / 8;
    room = *pulOutputLen;
    *pulOutputLen = modLen;
    CHECK_GOTO(ulInputLen != modLen, L"nModLen != ulInputLen", SAR_INDATALENERR);
    CHECK_GOTO(room < modLen, L"*pulOutputLen < nModLen", SAR_BUFFER_TOO_SMALL);
    RsaKeyFromBlob(pBlob, &key);
    outLen = modLen;
    hr = FoldObjectResult(RSA_Encrypt(&key, pbInput, ulInputLen, pbOutput, &outLen, 3));
    CHECK_GOTO(hr != 0, L"RSA_Encrypt", hr);
    *pulOutputLen = outLen;
exit:
    return hr;
}

uint32_t CDeviceObject::RSAVerify(RSAPUBLICKEYBLOB* pBlob, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature,
                                  ULONG ulSignLen) {
    TRACE_NAME(L"CDeviceObject::RSAVerify");
    uint32_t hr = 0;
    uint32_t modLen = 0;
    uint32_t outLen = 0;
    uint8_t block[SOFT_RSA_MAX_BYTES] = {};
    SOFT_RSA_PUBKEY key;
    CHECK_GOTO(!pBlob, L"NULL == pRSAPubKeyBlob", SAR_INVALIDPARAMERR);
    CHECK_GOTO(!pbData, L"NULL == pbDatabuf", SAR_INVALIDPARAMERR);
    CHECK_GOTO(!pbSignature, L"NULL == pbSignbuf", SAR_INVALIDPARAMERR);
    CHECK_GOTO(pBlob->BitLen > kMaxRsaBits, L"CHECK BitLen", SAR_MODULUSLENERR);
    modLen = pBlob->BitLen / 8;
    CHECK_GOTO(modLen < 11 || ulDataLen > modLen - 11, L"ulDatalen > nModLen - 11", SAR_INDATALENERR);
    CHECK_GOTO(ulSignLen != modLen, L"ulSignlen != nModLen", SAR_INDATALENERR);
    RsaKeyFromBlob(pBlob, &key);
    outLen = modLen;
    hr = FoldObjectResult(RSA_Encrypt(&key, pbSignature, ulSignLen, block, &outLen, 3));
    CHECK_GOTO(hr != 0, L"RSA_Encrypt", hr);
    {
        // The whole block must be the PKCS#1 type-1 block of the data:
        // 00 01, at least eight FF, 00, the data. Every byte is compared,
        // without an early exit, so that a block which only ends with the
        // data (a cube root for e = 3) is refused and the time taken does
        // not tell where a forgery went wrong.
        const uint32_t padEnd = modLen - ulDataLen - 1;  // index of the 00 before the data
        uint8_t diff = 0;
        diff |= uint8_t(block[0] ^ 0x00);
        diff |= uint8_t(block[1] ^ 0x01);
        for (uint32_t i = 2; i < padEnd; ++i) diff |= uint8_t(block[i] ^ 0xFF);
        diff |= uint8_t(block[padEnd] ^ 0x00);
        for (uint32_t i = 0; i < ulDataLen; ++i) diff |= uint8_t(block[padEnd + 1 + i] ^ pbData[i]);
        // padEnd - 2 >= 8 holds since ulDataLen <= modLen - 11.
        CHECK_GOTO(diff != 0, L"CHECK signature block", SAR_HASHNOTEQUALERR);
    }
exit:
    return hr;
}

uint32_t CDeviceObject::ECCVerify(ECCPUBLICKEYBLOB* pBlob, BYTE* pbData, ULONG ulDataLen, BYTE* pbR, BYTE* pbS) {
    TRACE_NAME(L"CDeviceObject::ECCVerify");
    uint32_t hr = 0;
    uint8_t key[2 * kSM2KeyLen];
    uint8_t signature[2 * kSM2KeyLen];
    CHECK_GOTO(!pBlob, L"NULL == pECCPubKeyBlob", SAR_INVALIDPARAMERR);
    CHECK_GOTO(!pbData, L"NULL == pbDatabuf", SAR_INVALIDPARAMERR);
    CHECK_GOTO(!pbR, L"NULL == pbR", SAR_INVALIDPARAMERR);
    CHECK_GOTO(!pbS, L"NULL == pbS", SAR_INVALIDPARAMERR);
    CHECK_GOTO(ulDataLen != kSM2KeyLen, L"SM3_DIGEST_LENGTH != ulDatalen", SAR_INVALIDPARAMERR);
    CHECK_GOTO(pBlob->BitLen / 8 != kSM2KeyLen, L"SM2_KEY_LENGTH != nKeyLen", SAR_MODULUSLENERR);
    EccKeyFromBlob(pBlob, key);
    memcpy(signature, pbR + 64 - kSM2KeyLen, kSM2KeyLen);
    memcpy(signature + kSM2KeyLen, pbS + 64 - kSM2KeyLen, kSM2KeyLen);
    hr = SM2_Verify(key, pbData, signature, sizeof signature);
    CHECK_GOTO(hr != 0, L"SM2_Verify", hr);
exit:
    return hr;
}

uint32_t CDeviceObject::ExtECCEncrypt(ECCPUBLICKEYBLOB* pBlob, BYTE* pbPlainText, ULONG ulPlainTextLen,
                                      ECCCIPHERBLOB* pCipherText) {
    TRACE_NAME(L"CDeviceObject::ExtECCEncrypt");
    uint32_t hr = 0;
    uint8_t key[2 * kSM2KeyLen];
    uint8_t* work = nullptr;
    uint32_t workLen = 0;
    const uint8_t* p = nullptr;
    uint32_t c2Len = 0;
    CHECK_GOTO(!pBlob, L"NULL == pECCPubKeyBlob", SAR_INVALIDPARAMERR);
    CHECK_GOTO(!pbPlainText, L"NULL == pbPlainText", SAR_INVALIDPARAMERR);
    CHECK_GOTO(!pCipherText, L"NULL == pCipherText", SAR_INVALIDPARAMERR);
    CHECK_GOTO(pBlob->BitLen / 8 != kSM2KeyLen, L"SM2_KEY_LENGTH != nPubKeyLen", SAR_MODULUSLENERR);
    // SM2 encrypts at least one byte; a length whose work buffer would wrap
    // is refused before anything is allocated.
    CHECK_GOTO(ulPlainTextLen == 0 || ulPlainTextLen > 0xFFFFFFFFu - SM2_CIPHER_EXTRA_BYTES,
               L"CHECK ulPlainTextLen", SAR_INDATALENERR);
    workLen = ulPlainTextLen + SM2_CIPHER_EXTRA_BYTES;
    work = new (std::nothrow) uint8_t[workLen];
    CHECK_GOTO(!work, L"new work buffer", 0x8007000Eu);
    memset(work, 0, workLen);
    EccKeyFromBlob(pBlob, key);
    hr = SM2_Encrypt(key, pbPlainText, ulPlainTextLen, work, &workLen);
    CHECK_GOTO(hr != 0, L"SM2_Encrypt", hr);
    p = work;
    if (workLen > 0 && p[0] == 0x04) {
        ++p;
        --workLen;
    }
    CHECK_GOTO(workLen < 96, L"CHECK cipher length", SAR_FAIL);
    c2Len = workLen - 96;
    // The leading bytes of the coordinate fields are cleared: the point's
    // coordinates fill the fields as 64-byte big-endian numbers.
    memset(pCipherText->XCoordinate, 0, 64 - kSM2KeyLen);
    memset(pCipherText->YCoordinate, 0, 64 - kSM2KeyLen);
    memcpy(pCipherText->XCoordinate + 64 - kSM2KeyLen, p, kSM2KeyLen);
    memcpy(pCipherText->YCoordinate + 64 - kSM2KeyLen, p + kSM2KeyLen, kSM2KeyLen);
    memcpy(pCipherText->Cipher, p + 2 * kSM2KeyLen, c2Len);
    memcpy(pCipherText->HASH, p + 2 * kSM2KeyLen + c2Len, 32);
    pCipherText->CipherLen = c2Len;
exit:
    delete[] work;
    return hr;
}

uint32_t CDeviceObject::EnumApplication(LPSTR szAppName, ULONG* pulSize) {
    TRACE_NAME(L"CDeviceObject::EnumApplication");
    uint32_t hr = 0;
    uint8_t record[DEVICE_INFO_RECORD_LEN] = {};
    // The one application: its name, its NUL and the list's closing NUL.
    static const char kList[] = SKF_APPLICATION_NAME "\0";
    const ULONG nameSize = sizeof kList;
    CHECK_GOTO(NULL == pulSize, L"CHECK pulSize", SAR_INVALIDPARAMERR);
    hr = CDeviceOperator::GetDeviceInfo(record);
    if (hr != 0) *pulSize = 0;
    CHECK_GOTO(hr != 0, L"CDeviceOperator::GetDeviceInfo", hr);
    uint16_t lifeStatus;
    memcpy(&lifeStatus, record + kRecLifeStatus, sizeof lifeStatus);  // the operator gives host order
    if (lifeStatus != kLifeStatusOperational) {
        *pulSize = 0;
        CHECK_GOTO(true, L"CHECK LifeStatus", SAR_APPLICATION_NOT_EXISTS);
    }
    if (NULL == szAppName) {
        *pulSize = nameSize;
        TRACE_STEP(L"CHECK pszAppNames");
        goto exit;
    }
    if (*pulSize < nameSize) {
        *pulSize = nameSize;
        CHECK_GOTO(true, L"*pulSize < nameSize", SAR_BUFFER_TOO_SMALL);
    }
    memcpy(szAppName, kList, nameSize);
    *pulSize = nameSize;
exit:
    return hr;
}

template <class Application>
uint32_t CDeviceObject::OpenApplicationAs(LPSTR szAppName, HAPPLICATION* phApplication) {
    TRACE_NAME(L"CDeviceObject::OpenApplication");
    uint32_t hr = 0;
    uint8_t record[DEVICE_INFO_RECORD_LEN] = {};
    ULONG size = 0;
    Application* application = nullptr;
    CHECK_GOTO(NULL == m_pDeviceContext, L"CHECK m_pDeviceContext", SAR_INVALIDHANDLEERR);
    CHECK_GOTO(NULL == szAppName || NULL == phApplication, L"CHECK szAppName", SAR_INVALIDPARAMERR);
    CHECK_GOTO(strcmp(szAppName, SKF_APPLICATION_NAME) != 0, L"strcmp(szAppName, APPLICATION_NAME)",
               SAR_APPLICATION_NOT_EXISTS);
    application = new (std::nothrow) Application(m_pDeviceContext);
    CHECK_GOTO(NULL == application, L"new SKF_APPLICATION_OBJECT", SAR_MEMORYERR);
    hr = application->CDeviceOperator::GetDeviceInfo(record);
    if (hr == 0) hr = application->EnumContainer(nullptr, &size);
    if (hr == 0) hr = application->EnumCosFile(nullptr, &size);
    if (hr != 0) {
        delete application;
        CHECK_GOTO(true, L"Load application", hr);
    }
    application->SetName(szAppName);
    *phApplication = HandleOfApplication(application);
    TRACE_STEP(L"OpenApplication");
exit:
    return hr;
}

uint32_t CDeviceObject::OpenApplication(LPSTR szAppName, HAPPLICATION* phApplication) {
    return OpenApplicationAs<CApplicationObject>(szAppName, phApplication);
}

uint32_t CDeviceObject::GetDeviceInfo(DEVINFO* pDevInfo) {
    TRACE_NAME(L"CDeviceObject::GetDeviceInfo");
    uint32_t hr = 0;
    uint8_t record[DEVICE_INFO_RECORD_LEN] = {};
    DEVINFO info;

    CHECK_GOTO(NULL == pDevInfo, L"CHECK pDevInfo", SAR_INVALIDPARAMERR);
    hr = CDeviceOperator::GetDeviceInfo(record);
    CHECK_GOTO(hr != 0, L"CDeviceOperator::GetDeviceInfo", hr);
    TRACE_STEP(L"CDeviceOperator::GetDeviceInfo");

    memset(&info, 0, sizeof info);
    info.Version.major = record[kRecVersion];
    info.Version.minor = record[kRecVersion + 1];
    memcpy(info.Manufacturer, record + kRecManufacturer, sizeof info.Manufacturer);
    memcpy(info.Issuer, record + kRecIssuer, sizeof info.Issuer);
    memcpy(info.Label, record + kRecLabel, sizeof info.Label);
    memcpy(info.SerialNumber, record + kRecSerialNumber, sizeof info.SerialNumber);
    info.HWVersion.major = record[kRecHWVersion];
    info.HWVersion.minor = record[kRecHWVersion + 1];
    info.FirmwareVersion.major = record[kRecFirmwareVersion];
    info.FirmwareVersion.minor = record[kRecFirmwareVersion + 1];
    info.AlgSymCap = HostWord(record, kRecAlgSymCap);
    info.AlgAsymCap = HostWord(record, kRecAlgAsymCap);
    info.AlgHashCap = HostWord(record, kRecAlgHashCap);
    info.DevAuthAlgId = HostWord(record, kRecDevAuthAlgId);
    info.TotalSpace = HostWord(record, kRecTotalSpace);
    info.FreeSpace = HostWord(record, kRecFreeSpace);
    info.MaxECCBufferSize = SKF_MAX_ECC_BUFFER_SIZE;
    info.MaxBufferSize = SKF_MAX_BUFFER_SIZE;

    if (TraceIsEnabled(GetTraceFlags().entryExit)) {
        TraceValue(L"Version", DWORD(info.Version.major) << 8 | info.Version.minor);
        TraceValue(L"FirmwareVersion", DWORD(info.FirmwareVersion.major) << 8 | info.FirmwareVersion.minor);
        TraceValue(L"AlgSymCap", info.AlgSymCap);
        TraceValue(L"AlgAsymCap", info.AlgAsymCap);
        TraceValue(L"AlgHashCap", info.AlgHashCap);
    }
    *pDevInfo = info;
exit:
    return hr;
}

uint32_t CDeviceObject::Transmit(BYTE* pbCommand, ULONG ulCommandLen, BYTE* pbData, ULONG* pulDataLen) {
    TRACE_NAME(L"CDeviceObject::Transmit");
    uint32_t hr = 0;
    CDeviceContext* pDeviceContext = m_pDeviceContext;
    VM_DEVICE_HANDLE* pDeviceHandle = pDeviceContext ? pDeviceContext->GetDeviceHandle() : nullptr;
    DWORD replyLen = 0;

    CHECK_GOTO(NULL == pDeviceContext, L"CHECK pDeviceContext", SAR_INVALIDHANDLEERR);
    CHECK_GOTO(NULL == pDeviceHandle, L"CHECK pDeviceHandle", SAR_INVALIDHANDLEERR);
    replyLen = *pulDataLen;
    hr = VEmuSendCommand(pDeviceHandle->m_pTransport, pbCommand, ulCommandLen, pbData, &replyLen,
                         SKF_TRANSMIT_TIMEOUT_S);
    *pulDataLen = replyLen;
    CHECK_GOTO(hr != 0, L"VEmuSendCommand", hr);
    TRACE_STEP(L"VEmuSendCommand");
exit:
    return hr;
}

CDeviceZOPRA::CDeviceZOPRA(CDeviceContext* pDeviceContext) : CDeviceObject(pDeviceContext) {
    CDeviceContext::TraceInfo(L"CDeviceZOPRA: Constructor");
}

CDeviceZOPRA::~CDeviceZOPRA() { CDeviceContext::TraceInfo(L"CDeviceZOPRA: Destructor"); }

uint32_t CDeviceZOPRA::OpenApplication(LPSTR szAppName, HAPPLICATION* phApplication) {
    return OpenApplicationAs<CApplicationZOPRA>(szAppName, phApplication);
}

// The device manager's hook for the edition's device object.
CDeviceOperator* NewEditionDeviceObject(CDeviceContext* pContext) {
    return new (std::nothrow) CDeviceZOPRA(pContext);
}
