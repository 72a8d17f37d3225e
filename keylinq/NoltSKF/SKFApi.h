#pragma once
// The GM/T 0016 smart-token interface as Keylinq exports it: result codes,
// the packed structures of the standard and the 80 exported functions
// (78 SKF_* functions and two SKFEX_* extensions), all __stdcall.
// SKF applications that bind the library at run time use the function
// pointer types (PFN_SKF_*) below.
#include <windows.h>

#include <cstddef>

typedef HANDLE DEVHANDLE;
typedef HANDLE HAPPLICATION;
typedef HANDLE HCONTAINER;

// ---- result codes
#define SAR_OK                        0x00000000u
#define SAR_FAIL                      0x0A000001u
#define SAR_UNKNOWNERR                0x0A000002u
#define SAR_NOTSUPPORTYETERR          0x0A000003u
#define SAR_FILEERR                   0x0A000004u
#define SAR_INVALIDHANDLEERR          0x0A000005u
#define SAR_INVALIDPARAMERR           0x0A000006u
#define SAR_READFILEERR               0x0A000007u
#define SAR_WRITEFILEERR              0x0A000008u
#define SAR_NAMELENERR                0x0A000009u
#define SAR_KEYUSAGEERR               0x0A00000Au
#define SAR_MODULUSLENERR             0x0A00000Bu
#define SAR_NOTINITIALIZEERR          0x0A00000Cu
#define SAR_OBJERR                    0x0A00000Du
#define SAR_MEMORYERR                 0x0A00000Eu
#define SAR_TIMEOUTERR                0x0A00000Fu
#define SAR_INDATALENERR              0x0A000010u
#define SAR_INDATAERR                 0x0A000011u
#define SAR_GENRANDERR                0x0A000012u
#define SAR_HASHOBJERR                0x0A000013u
#define SAR_HASHERR                   0x0A000014u
#define SAR_GENRSAKEYERR              0x0A000015u
#define SAR_RSAMODULUSLENERR          0x0A000016u
#define SAR_CSPIMPRTPUBKEYERR         0x0A000017u
#define SAR_RSAENCERR                 0x0A000018u
#define SAR_RSADECERR                 0x0A000019u
#define SAR_HASHNOTEQUALERR           0x0A00001Au
#define SAR_KEYNOTFOUNTERR            0x0A00001Bu
#define SAR_CERTNOTFOUNTERR           0x0A00001Cu
#define SAR_NOTEXPORTERR              0x0A00001Du
#define SAR_DECRYPTPADERR             0x0A00001Eu
#define SAR_MACLENERR                 0x0A00001Fu
#define SAR_BUFFER_TOO_SMALL          0x0A000020u
#define SAR_KEYINFOTYPEERR            0x0A000021u
#define SAR_NOT_EVENTERR              0x0A000022u
#define SAR_DEVICE_REMOVED            0x0A000023u
#define SAR_PIN_INCORRECT             0x0A000024u
#define SAR_PIN_LOCKED                0x0A000025u
#define SAR_PIN_INVALID               0x0A000026u
#define SAR_PIN_LEN_RANGE             0x0A000027u
#define SAR_USER_ALREADY_LOGGED_IN    0x0A000028u
#define SAR_USER_PIN_NOT_INITIALIZED  0x0A000029u
#define SAR_USER_TYPE_INVALID         0x0A00002Au
#define SAR_APPLICATION_NAME_INVALID  0x0A00002Bu
#define SAR_APPLICATION_EXISTS        0x0A00002Cu
#define SAR_USER_NOT_LOGGED_IN        0x0A00002Du
#define SAR_APPLICATION_NOT_EXISTS    0x0A00002Eu
#define SAR_FILE_ALREADY_EXIST        0x0A00002Fu
#define SAR_NO_ROOM                   0x0A000030u
#define SAR_FILE_NOT_EXIST            0x0A000031u
#define SAR_REACH_MAX_CONTAINER_COUNT 0x0A000032u
// The container behind a handle was deleted (after the standard's codes).
#define SAR_CONTAINER_NOT_EXISTS      0x0A000033u

// Device events of SKF_WaitForDevEvent.
#define SKF_DEV_EVENT_NONE    0u
#define SKF_DEV_EVENT_ARRIVAL 1u
#define SKF_DEV_EVENT_REMOVAL 2u

// ---- structures (byte-packed, as the standard lays them out)
#pragma pack(push, 1)

struct VERSION {
    BYTE major;
    BYTE minor;
};

struct DEVINFO {
    VERSION Version;
    CHAR Manufacturer[64];
    CHAR Issuer[64];
    CHAR Label[32];
    CHAR SerialNumber[32];
    VERSION HWVersion;
    VERSION FirmwareVersion;
    ULONG AlgSymCap;
    ULONG AlgAsymCap;
    ULONG AlgHashCap;
    ULONG DevAuthAlgId;
    ULONG TotalSpace;
    ULONG FreeSpace;
    ULONG MaxECCBufferSize;
    ULONG MaxBufferSize;
    BYTE Reserved[64];
};
typedef DEVINFO* PDEVINFO;

#define MAX_RSA_MODULUS_LEN  256
#define MAX_RSA_EXPONENT_LEN 4
#define ECC_MAX_XCOORDINATE_BITS_LEN 512
#define ECC_MAX_YCOORDINATE_BITS_LEN 512
#define ECC_MAX_MODULUS_BITS_LEN     512
#define MAX_IV_LEN 32

struct RSAPUBLICKEYBLOB {
    ULONG AlgID;
    ULONG BitLen;
    BYTE Modulus[MAX_RSA_MODULUS_LEN];
    BYTE PublicExponent[MAX_RSA_EXPONENT_LEN];
};
typedef RSAPUBLICKEYBLOB* PRSAPUBLICKEYBLOB;

struct RSAPRIVATEKEYBLOB {
    ULONG AlgID;
    ULONG BitLen;
    BYTE Modulus[MAX_RSA_MODULUS_LEN];
    BYTE PublicExponent[MAX_RSA_EXPONENT_LEN];
    BYTE PrivateExponent[MAX_RSA_MODULUS_LEN];
    BYTE Prime1[MAX_RSA_MODULUS_LEN / 2];
    BYTE Prime2[MAX_RSA_MODULUS_LEN / 2];
    BYTE Prime1Exponent[MAX_RSA_MODULUS_LEN / 2];
    BYTE Prime2Exponent[MAX_RSA_MODULUS_LEN / 2];
    BYTE Coefficient[MAX_RSA_MODULUS_LEN / 2];
};
typedef RSAPRIVATEKEYBLOB* PRSAPRIVATEKEYBLOB;

struct ECCPUBLICKEYBLOB {
    ULONG BitLen;
    BYTE XCoordinate[ECC_MAX_XCOORDINATE_BITS_LEN / 8];
    BYTE YCoordinate[ECC_MAX_YCOORDINATE_BITS_LEN / 8];
};
typedef ECCPUBLICKEYBLOB* PECCPUBLICKEYBLOB;

struct ECCPRIVATEKEYBLOB {
    ULONG BitLen;
    BYTE PrivateKey[ECC_MAX_MODULUS_BITS_LEN / 8];
};
typedef ECCPRIVATEKEYBLOB* PECCPRIVATEKEYBLOB;

struct ECCCIPHERBLOB {
    BYTE XCoordinate[ECC_MAX_XCOORDINATE_BITS_LEN / 8];
    BYTE YCoordinate[ECC_MAX_XCOORDINATE_BITS_LEN / 8];
    BYTE HASH[32];
    ULONG CipherLen;
    BYTE Cipher[1];
};
typedef ECCCIPHERBLOB* PECCCIPHERBLOB;

struct ECCSIGNATUREBLOB {
    BYTE r[ECC_MAX_XCOORDINATE_BITS_LEN / 8];
    BYTE s[ECC_MAX_XCOORDINATE_BITS_LEN / 8];
};
typedef ECCSIGNATUREBLOB* PECCSIGNATUREBLOB;

struct BLOCKCIPHERPARAM {
    BYTE IV[MAX_IV_LEN];
    ULONG IVLen;
    ULONG PaddingType;
    ULONG FeedBitLen;
};
typedef BLOCKCIPHERPARAM* PBLOCKCIPHERPARAM;

struct ENVELOPEDKEYBLOB {
    ULONG Version;
    ULONG ulSymmAlgID;
    ULONG ulBits;
    BYTE cbEncryptedPriKey[64];
    ECCPUBLICKEYBLOB PubKey;
    ECCCIPHERBLOB ECCCipherBlob;
};
typedef ENVELOPEDKEYBLOB* PENVELOPEDKEYBLOB;

struct FILEATTRIBUTE {
    CHAR FileName[32];
    ULONG FileSize;
    ULONG ReadRights;
    ULONG WriteRights;
};
typedef FILEATTRIBUTE* PFILEATTRIBUTE;

#pragma pack(pop)

// The standard's sizes: any other layout breaks every caller.
static_assert(sizeof(ULONG) == 4, "ULONG is 32-bit");
static_assert(sizeof(VERSION) == 2, "VERSION");
static_assert(sizeof(DEVINFO) == 294, "DEVINFO");
static_assert(offsetof(DEVINFO, HWVersion) == 194 && offsetof(DEVINFO, AlgSymCap) == 198 &&
                  offsetof(DEVINFO, MaxBufferSize) == 226 && offsetof(DEVINFO, Reserved) == 230,
              "DEVINFO field offsets");
static_assert(sizeof(RSAPUBLICKEYBLOB) == 268, "RSAPUBLICKEYBLOB");
static_assert(sizeof(RSAPRIVATEKEYBLOB) == 1164, "RSAPRIVATEKEYBLOB");
static_assert(sizeof(ECCPUBLICKEYBLOB) == 132, "ECCPUBLICKEYBLOB");
static_assert(sizeof(ECCPRIVATEKEYBLOB) == 68, "ECCPRIVATEKEYBLOB");
static_assert(sizeof(ECCCIPHERBLOB) == 165, "ECCCIPHERBLOB");
static_assert(sizeof(ECCSIGNATUREBLOB) == 128, "ECCSIGNATUREBLOB");
static_assert(sizeof(BLOCKCIPHERPARAM) == 44, "BLOCKCIPHERPARAM");
static_assert(sizeof(ENVELOPEDKEYBLOB) == 373, "ENVELOPEDKEYBLOB");
static_assert(sizeof(FILEATTRIBUTE) == 44, "FILEATTRIBUTE");

// ---- the exported functions, in ordinal order (1 to 80)
// X(name, parameter list)
#define SKF_EXPORT_LIST(X)                                                                                         \
    X(SKF_WaitForDevEvent, (LPSTR szDevName, ULONG * pulDevNameLen, ULONG * pulEvent))                             \
    X(SKF_CancelWaitForDevEvent, ())                                                                               \
    X(SKF_EnumDev, (BOOL bPresent, LPSTR szNameList, ULONG * pulSize))                                             \
    X(SKF_ConnectDev, (LPSTR szName, DEVHANDLE * phDev))                                                           \
    X(SKF_DisConnectDev, (DEVHANDLE hDev))                                                                         \
    X(SKF_GetDevState, (LPSTR szDevName, ULONG * pulDevState))                                                     \
    X(SKF_SetLabel, (DEVHANDLE hDev, LPSTR szLabel))                                                               \
    X(SKF_GetDevInfo, (DEVHANDLE hDev, DEVINFO * pDevInfo))                                                        \
    X(SKF_LockDev, (DEVHANDLE hDev, ULONG ulTimeOut))                                                              \
    X(SKF_UnlockDev, (DEVHANDLE hDev))                                                                             \
    X(SKF_Transmit, (DEVHANDLE hDev, BYTE * pbCommand, ULONG ulCommandLen, BYTE * pbData, ULONG * pulDataLen))     \
    X(SKF_ChangeDevAuthKey, (DEVHANDLE hDev, BYTE * pbKeyValue, ULONG ulKeyLen))                                   \
    X(SKF_DevAuth, (DEVHANDLE hDev, BYTE * pbAuthData, ULONG ulLen))                                               \
    X(SKF_ChangePIN, (HAPPLICATION hApplication, ULONG ulPINType, LPSTR szOldPin, LPSTR szNewPin,                  \
                      ULONG * pulRetryCount))                                                                      \
    X(SKF_GetPINInfo, (HAPPLICATION hApplication, ULONG ulPINType, ULONG * pulMaxRetryCount,                       \
                       ULONG * pulRemainRetryCount, BOOL * pbDefaultPin))                                          \
    X(SKF_VerifyPIN, (HAPPLICATION hApplication, ULONG ulPINType, LPSTR szPIN, ULONG * pulRetryCount))             \
    X(SKF_UnblockPIN, (HAPPLICATION hApplication, LPSTR szAdminPIN, LPSTR szNewUserPIN, ULONG * pulRetryCount))    \
    X(SKF_ClearSecureState, (HAPPLICATION hApplication))                                                           \
    X(SKF_CreateApplication, (DEVHANDLE hDev, LPSTR szAppName, LPSTR szAdminPin, DWORD dwAdminPinRetryCount,       \
                              LPSTR szUserPin, DWORD dwUserPinRetryCount, DWORD dwCreateFileRights,                \
                              HAPPLICATION * phApplication))                                                       \
    X(SKF_EnumApplication, (DEVHANDLE hDev, LPSTR szAppName, ULONG * pulSize))                                     \
    X(SKF_DeleteApplication, (DEVHANDLE hDev, LPSTR szAppName))                                                    \
    X(SKF_OpenApplication, (DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION * phApplication))                        \
    X(SKF_CloseApplication, (HAPPLICATION hApplication))                                                           \
    X(SKF_CreateFile, (HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize, ULONG ulReadRights,          \
                       ULONG ulWriteRights))                                                                       \
    X(SKF_DeleteFile, (HAPPLICATION hApplication, LPSTR szFileName))                                               \
    X(SKF_EnumFiles, (HAPPLICATION hApplication, LPSTR szFileList, ULONG * pulSize))                               \
    X(SKF_GetFileInfo, (HAPPLICATION hApplication, LPSTR szFileName, FILEATTRIBUTE * pFileInfo))                   \
    X(SKF_ReadFile, (HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, ULONG ulSize, BYTE * pbOutData,  \
                     ULONG * pulOutLen))                                                                           \
    X(SKF_WriteFile, (HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, BYTE * pbInData, ULONG ulSize)) \
    X(SKF_CreateContainer, (HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER * phContainer))           \
    X(SKF_DeleteContainer, (HAPPLICATION hApplication, LPSTR szContainerName))                                     \
    X(SKF_OpenContainer, (HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER * phContainer))             \
    X(SKF_CloseContainer, (HCONTAINER hContainer))                                                                 \
    X(SKF_EnumContainer, (HAPPLICATION hApplication, LPSTR szContainerName, ULONG * pulSize))                      \
    X(SKF_GetContainerType, (HCONTAINER hContainer, ULONG * pulContainerType))                                     \
    X(SKF_ImportCertificate, (HCONTAINER hContainer, BOOL bSignFlag, BYTE * pbCert, ULONG ulCertLen))              \
    X(SKF_ExportCertificate, (HCONTAINER hContainer, BOOL bSignFlag, BYTE * pbCert, ULONG * pulCertLen))           \
    X(SKF_GenRandom, (DEVHANDLE hDev, BYTE * pbRandom, ULONG ulRandomLen))                                         \
    X(SKF_GenExtRSAKey, (DEVHANDLE hDev, ULONG ulBitsLen, RSAPRIVATEKEYBLOB * pBlob))                              \
    X(SKF_GenRSAKeyPair, (HCONTAINER hContainer, ULONG ulBitsLen, RSAPUBLICKEYBLOB * pBlob))                       \
    X(SKF_ImportRSAKeyPair, (HCONTAINER hContainer, ULONG ulSymAlgId, BYTE * pbWrappedKey, ULONG ulWrappedKeyLen,  \
                             BYTE * pbEncryptedData, ULONG ulEncryptedDataLen))                                    \
    X(SKF_RSASignData, (HCONTAINER hContainer, BYTE * pbData, ULONG ulDataLen, BYTE * pbSignature,                 \
                        ULONG * pulSignLen))                                                                       \
    X(SKF_RSAVerify, (DEVHANDLE hDev, RSAPUBLICKEYBLOB * pRSAPubKeyBlob, BYTE * pbData, ULONG ulDataLen,           \
                      BYTE * pbSignature, ULONG ulSignLen))                                                        \
    X(SKF_RSAExportSessionKey, (HCONTAINER hContainer, ULONG ulAlgId, RSAPUBLICKEYBLOB * pPubKey, BYTE * pbData,   \
                                ULONG * pulDataLen, HANDLE * phSessionKey))                                        \
    X(SKF_ExtRSAPubKeyOperation, (DEVHANDLE hDev, RSAPUBLICKEYBLOB * pRSAPubKeyBlob, BYTE * pbInput,               \
                                  ULONG ulInputLen, BYTE * pbOutput, ULONG * pulOutputLen))                        \
    X(SKF_ExtRSAPriKeyOperation, (DEVHANDLE hDev, RSAPRIVATEKEYBLOB * pRSAPriKeyBlob, BYTE * pbInput,              \
                                  ULONG ulInputLen, BYTE * pbOutput, ULONG * pulOutputLen))                        \
    X(SKF_GenECCKeyPair, (HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB * pBlob))                         \
    X(SKF_ImportECCKeyPair, (HCONTAINER hContainer, ENVELOPEDKEYBLOB * pEnvelopedKeyBlob))                         \
    X(SKF_ECCSignData, (HCONTAINER hContainer, BYTE * pbData, ULONG ulDataLen, ECCSIGNATUREBLOB * pSignature))     \
    X(SKF_ECCVerify, (DEVHANDLE hDev, ECCPUBLICKEYBLOB * pECCPubKeyBlob, BYTE * pbData, ULONG ulDataLen,           \
                      ECCSIGNATUREBLOB * pSignature))                                                              \
    X(SKF_ECCExportSessionKey, (HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB * pPubKey,                  \
                                ECCCIPHERBLOB * pData, HANDLE * phSessionKey))                                     \
    X(SKF_ExtECCEncrypt, (DEVHANDLE hDev, ECCPUBLICKEYBLOB * pECCPubKeyBlob, BYTE * pbPlainText,                   \
                          ULONG ulPlainTextLen, ECCCIPHERBLOB * pCipherText))                                      \
    X(SKF_ExtECCDecrypt, (DEVHANDLE hDev, ECCPRIVATEKEYBLOB * pECCPriKeyBlob, ECCCIPHERBLOB * pCipherText,         \
                          BYTE * pbPlainText, ULONG * pulPlainTextLen))                                            \
    X(SKF_ExtECCSign, (DEVHANDLE hDev, ECCPRIVATEKEYBLOB * pECCPriKeyBlob, BYTE * pbData, ULONG ulDataLen,         \
                       ECCSIGNATUREBLOB * pSignature))                                                             \
    X(SKF_ExtECCVerify, (DEVHANDLE hDev, ECCPUBLICKEYBLOB * pECCPubKeyBlob, BYTE * pbData, ULONG ulDataLen,        \
                         ECCSIGNATUREBLOB * pSignature))                                                           \
    X(SKF_GenerateAgreementDataWithECC, (HCONTAINER hContainer, ULONG ulAlgId,                                     \
                                         ECCPUBLICKEYBLOB * pTempECCPubKeyBlob, BYTE * pbID, ULONG ulIDLen,        \
                                         HANDLE * phAgreementHandle))                                              \
    X(SKF_GenerateAgreementDataAndKeyWithECC,                                                                      \
      (HANDLE hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB * pSponsorECCPubKeyBlob,                                 \
       ECCPUBLICKEYBLOB * pSponsorTempECCPubKeyBlob, ECCPUBLICKEYBLOB * pTempECCPubKeyBlob, BYTE * pbID,           \
       ULONG ulIDLen, BYTE * pbSponsorID, ULONG ulSponsorIDLen, HANDLE * phKeyHandle))                             \
    X(SKF_GenerateKeyWithECC, (HANDLE hAgreementHandle, ECCPUBLICKEYBLOB * pECCPubKeyBlob,                         \
                               ECCPUBLICKEYBLOB * pTempECCPubKeyBlob, BYTE * pbID, ULONG ulIDLen,                  \
                               HANDLE * phKeyHandle))                                                              \
    X(SKF_ExportPublicKey, (HCONTAINER hContainer, BOOL bSignFlag, BYTE * pbBlob, ULONG * pulBlobLen))             \
    X(SKF_ImportSessionKey, (HCONTAINER hContainer, ULONG ulAlgId, BYTE * pbWrapedData, ULONG ulWrapedLen,         \
                             HANDLE * phKey))                                                                      \
    X(SKF_SetSymmKey, (DEVHANDLE hDev, BYTE * pbKey, ULONG ulAlgID, HANDLE * phKey))                               \
    X(SKF_EncryptInit, (HANDLE hKey, BLOCKCIPHERPARAM EncryptParam))                                               \
    X(SKF_Encrypt, (HANDLE hKey, BYTE * pbData, ULONG ulDataLen, BYTE * pbEncryptedData, ULONG * pulEncryptedLen)) \
    X(SKF_EncryptUpdate, (HANDLE hKey, BYTE * pbData, ULONG ulDataLen, BYTE * pbEncryptedData,                     \
                          ULONG * pulEncryptedLen))                                                                \
    X(SKF_EncryptFinal, (HANDLE hKey, BYTE * pbEncryptedData, ULONG * pulEncryptedDataLen))                        \
    X(SKF_DecryptInit, (HANDLE hKey, BLOCKCIPHERPARAM DecryptParam))                                               \
    X(SKF_Decrypt, (HANDLE hKey, BYTE * pbEncryptedData, ULONG ulEncryptedLen, BYTE * pbData, ULONG * pulDataLen)) \
    X(SKF_DecryptUpdate, (HANDLE hKey, BYTE * pbEncryptedData, ULONG ulEncryptedLen, BYTE * pbData,                \
                          ULONG * pulDataLen))                                                                     \
    X(SKF_DecryptFinal, (HANDLE hKey, BYTE * pbDecryptedData, ULONG * pulDecryptedDataLen))                        \
    X(SKF_DigestInit, (DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB * pPubKey, unsigned char* pucID,            \
                       ULONG ulIDLen, HANDLE* phHash))                                                             \
    X(SKF_Digest, (HANDLE hHash, BYTE * pbData, ULONG ulDataLen, BYTE * pbHashData, ULONG * pulHashLen))           \
    X(SKF_DigestUpdate, (HANDLE hHash, BYTE * pbData, ULONG ulDataLen))                                            \
    X(SKF_DigestFinal, (HANDLE hHash, BYTE * pHashData, ULONG * pulHashLen))                                       \
    X(SKF_MacInit, (HANDLE hKey, BLOCKCIPHERPARAM * pMacParam, HANDLE * phMac))                                    \
    X(SKF_Mac, (HANDLE hMac, BYTE * pbData, ULONG ulDataLen, BYTE * pbMacData, ULONG * pulMacLen))                 \
    X(SKF_MacUpdate, (HANDLE hMac, BYTE * pbData, ULONG ulDataLen))                                                \
    X(SKF_MacFinal, (HANDLE hMac, BYTE * pbMacData, ULONG * pulMacDataLen))                                        \
    X(SKF_CloseHandle, (HANDLE hHandle))                                                                           \
    X(SKFEX_RSADecrypt, (HCONTAINER hContainer, BYTE * pbIn, ULONG ulInLen, BYTE * pbOut, ULONG * pulOutLen,       \
                         ULONG ulKeySpec))                                                                         \
    X(SKFEX_ECCDecrypt, (HCONTAINER hContainer, ULONG ulKeySpec, ECCCIPHERBLOB * pCipherText, BYTE * pbData,       \
                         ULONG * pdwDataLen))

#define SKF_DECLARE_EXPORT(name, params)          \
    extern "C" ULONG __stdcall name params;       \
    typedef ULONG(__stdcall* PFN_##name) params;
SKF_EXPORT_LIST(SKF_DECLARE_EXPORT)
#undef SKF_DECLARE_EXPORT
