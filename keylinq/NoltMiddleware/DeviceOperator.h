#pragma once
// The device operator: the token operations over one device context. Every
// device, application and container object is an operator of its own on
// the shared context of its key.
#include <cstdint>
#include <vector>

#include "IDeviceOperator.h"

class CDeviceContext;

constexpr uint32_t DEVICE_INFO_RECORD_LEN = 288;
constexpr uint32_t FLASH_WRITE_PAGE_LEN = 256;
constexpr uint32_t FLASH_READ_BLOCK_LEN = 256;
// A certificate on the key, header and contents, is at most this long.
constexpr uint32_t FILE_SIZE_CERT = 2560;

// Result codes of the operator.
#define DEVOP_E_NULL_POINTER    0x80070101u  // a required pointer, or the device context, is null
#define DEVOP_E_TOO_SMALL       0x80070103u  // the caller's buffer is smaller than the value
#define DEVOP_E_TOO_LONG        0x80070104u  // a label longer than 32 bytes
#define DEVOP_E_UNSUPPORTED     0x80070108u  // an operation this library does not offer
#define DEVOP_E_ALGORITHM       0x80070114u  // the key's session algorithm cannot carry secure messaging
#define DEVOP_E_SHORT_REPLY     0x8007000Du  // the key's reply is shorter than its record
#define DEVOP_E_OUT_OF_MEMORY   0x8007000Eu  // a work buffer could not be allocated
#define DEVOP_E_IN_USE          0x800700AAu  // Finalize while other objects still use the context

// Initialize's flags.
constexpr uint32_t DEVOP_INIT_NO_EXTERNAL_AUTH = 0x1;

class CDeviceOperator : public IDeviceOperator {
public:
    explicit CDeviceOperator(CDeviceContext* pDeviceContext);
    ~CDeviceOperator() override;
    CDeviceOperator(const CDeviceOperator&) = delete;
    CDeviceOperator& operator=(const CDeviceOperator&) = delete;

    // Reads the key's device information and authenticates to it (bit 0
    // of the flags skips the authentication); takes the device mutex.
    uint32_t Initialize(uint32_t nFlags);
    // Closes the key and destroys the context.
    uint32_t Finalize();
    CDeviceContext* GetDeviceContext() const { return m_pDeviceContext; }

    // Containers (filled by the container-record layer).
    uint32_t EnumContainer(char* pszNameList, uint32_t* pnSize, uint32_t nFlag) override;
    uint32_t CreateContainer(const char* pszContainerName) override;
    uint32_t DeleteContainer(const char* pszContainerName) override;
    uint32_t ReadContainer(CONTAINER_RECORD* pContainer, uint32_t bFromMemoryOnly) override;
    // PINs (filled by the platform operator).
    uint32_t VerifyPIN(uint8_t byPinType, const char* pszPinBuf, uint8_t byPinLen) override;
    uint32_t ChangePIN(uint8_t byPinType, const char* pszOldPin, uint8_t byOldPinLen, const char* pszNewPin,
                       uint8_t byNewPinLen) override;
    uint32_t UnlockPIN(uint8_t byUnlockFlag, uint8_t* pbyUnlockBuf, uint32_t* pnUnlockLen) override;
    uint32_t GetPINStatus(uint8_t byPinType, uint8_t* pbyStatus0, uint8_t* pbyStatus1, uint8_t* pbyStatus2,
                          uint8_t* pbyStatus3) override;
    // Authentication and session.
    uint32_t ComputeExternAuthKey(const uint8_t* pbyChipSN, uint32_t nChipSNLen, uint8_t* pbyExternAuthKey) override;
    uint32_t ExternalAuth(const uint8_t* pbyExternAuthKey) override;
    uint32_t SetSessionKey(uint32_t force) override;
    uint32_t ClearAuthCode() override;
    uint32_t InitTokenUser(uint8_t byResetFlag, uint8_t* pbyResetBuf, uint32_t* pnResetLen) override;
    // Keys, certificates, hashing on the key.
    uint32_t GenerateRandom(uint8_t bySource, uint8_t byLen, uint8_t* pbyRandomData) override;
    uint32_t GenerateKeyPair(const char* pszContainerName, uint8_t byKeyType, uint8_t byAlgID,
                             CAsymKeyObject** ppKeyObject) override;
    uint32_t ImportEncSessionKey(uint16_t nKeyFID, const uint8_t* pbyWrappedKey, uint32_t nWrappedLen) override;
    uint32_t ImportKeyPair(const char* pszContainerName, uint8_t byKeyType, uint8_t byAlgID, const uint8_t* pKeyBuf,
                           uint32_t nKeyLen, const uint8_t* pbyWrappedKey, uint32_t nWrappedLen,
                           CAsymKeyObject** ppKeyObject) override;
    uint32_t ExportPublicKey(const char* pszContainerName, uint8_t byKeyType, uint8_t* pbyAlgID, uint8_t* pbyKeyBuf,
                             uint32_t* pnKeySize) override;
    uint32_t ImportCert(const char* pszContainerName, uint8_t byKeyType, const uint8_t* pbyCertBuf,
                        uint32_t nCertLen) override;
    uint32_t ExportCert(const char* pszContainerName, uint8_t byKeyType, uint8_t* pbyCertBuf,
                        uint32_t* pnCertLen) override;
    uint32_t GetUserKey(const char* pszContainerName, uint8_t byKeyType, uint8_t* pbyAlgID,
                        CAsymKeyObject** ppKeyObject) override;
    uint32_t GetZValue(const char* pszContainerName, uint8_t* pbyZValue) override;
    uint32_t HashInit(uint8_t byHashAlgID, void** ppHashHandle) override;
    uint32_t HashUpdate(const uint8_t* pbyDataBuf, uint32_t nDataLen) override;
    uint32_t HashFinal(uint8_t* pbyDigestBuf, uint32_t* pnDigestLen) override;
    uint32_t InitSymKey(uint8_t byAlgID, uint8_t byCryptType, uint8_t byMode, const uint8_t* pbyKey,
                        const uint8_t* pbyIV, CSymKeyHandle** ppSymKey) override;
    // Token information, flash, files on the key, administration.
    uint32_t SignWithAdminKey(const uint8_t* pbyRawBuf, uint32_t nRawLen, uint8_t* pbySignBuf,
                              uint32_t* pnSignLen) override;
    uint32_t GetChipSN(uint8_t* pbyChipSN, uint32_t* pnSNLen) override;
    uint32_t EraseMF() override;
    uint32_t EraseCOS() override;
    uint32_t InitTokenFile() override;
    uint32_t InitTokenApp() override;
    uint32_t GetTokenAppInfo(char* pszAppName, uint8_t* pAppInfo) override;
    uint32_t GetDeviceInfo(uint8_t* pDevInfo) override;
    uint32_t SetTokenLabel(const char* pszLabel, uint32_t nLabelLen) override;
    uint32_t GetTokenLabel(char* pszLabel, uint32_t* pnLabelLen) override;
    uint32_t SetTokenSN(const char* pszSN, uint32_t nSNLen) override;
    uint32_t GetTokenSN(char* pszSN, uint32_t* pnSNLen) override;
    uint32_t WriteFlash(uint16_t nPage, const uint8_t* pbyInBuf, uint32_t nInLen) override;
    uint32_t ReadFlash(uint16_t nPage, uint8_t* pbyOutBuf, uint32_t nOutLen) override;
    uint32_t EraseFlash() override;
    uint32_t GetCosFileInfo(uint16_t nFileID, uint8_t byKind, uint32_t nBufSize, uint8_t* pbyDataBuf) override;
    uint32_t CreateCosFile(uint16_t nFileID, uint16_t nSize) override;
    uint32_t DeleteCosFile(uint16_t nFileID) override;
    uint32_t WriteCosFile(uint16_t nOffset, uint16_t nFileID, const uint8_t* pbyInbuf, uint32_t nInLen) override;
    uint32_t ReadCosFile(uint16_t nOffset, uint16_t nFileID, uint8_t* pbyOutbuf, uint32_t* pnOutLen) override;
    // The factory of on-key key objects (filled by the key-object layer).
    virtual uint32_t NewAsymKey(uint8_t byAlgID, uint16_t nKeyFID, CAsymKeyObject** ppKeyCtx);

    // Container records (ContainerRecord.cpp). Key spec 2 selects the
    // signature key, any other value the exchange key.
    CONTAINER_RECORD* FindCachedContainer(const char* pszContainerName);
    // 524 when no cached record has that name.
    uint32_t RemoveCachedContainer(const char* pszContainerName);
    uint32_t UpdateContainerKeyType(const char* pszContainerName, uint8_t byKeySpec, uint8_t byAlgID);
    uint32_t UpdateContainerCertFlag(const char* pszContainerName, uint8_t byKeySpec);
    // The key's algorithm and its file id (the certificate's is the same),
    // each output optional.
    uint32_t GetContainerInfo(const char* pszContainerName, uint8_t byKeySpec, uint8_t* pbyAlgID,
                              uint16_t* pnKeyFID, uint16_t* pnCertFID, uint32_t bFromMemoryOnly);
    // Appends an entry to the operation log kept on the key (KeyLog.cpp).
    uint32_t RecordVemuLog(const char* pszTag);

    // The certificate file of a container key (DeviceOperatorCert.cpp),
    // written and read in pieces of at most 256 bytes. A null output of
    // ReadCertFile asks for the whole length.
    uint32_t WriteCertFile(uint16_t nCertFID, const uint8_t* pbyCertBuf, uint32_t nCertLen);
    uint32_t ReadCertFile(uint16_t nCertFID, uint8_t* pbyCertBuf, uint32_t* pnCertLen);

protected:
    CDeviceContext* m_pDeviceContext;                // shared by every operator of the key
    std::vector<CONTAINER_RECORD> m_vecContainerRecord;
    uint32_t m_nFlashWriteLen;
    uint32_t m_nFlashReadLen;
};
