// The checks of the export frame, for each export that takes a handle:
// required pointers refused with their code in the export's order, before
// the handle; then a null handle, and a handle that was never issued,
// refused with SAR_INVALIDHANDLEERR. No call here reaches a key.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "KeylinqLibrary.h"

namespace {

// What valid pointers point at: a PIN-shaped string and zeros after it.
alignas(16) char g_valid[8192] = "12345678";
// An address that is not a handle of the library.
alignas(16) char g_notAHandle[64];

// Argument i is valid when i < firstNull, else null.
void* Arg(int i, int firstNull) { return i < firstNull ? g_valid : nullptr; }
#define A(T, i) static_cast<T*>(Arg(i, f))
#define STR(i) A(char, i)

constexpr ULONG P = SAR_INVALIDPARAMERR;
constexpr ULONG PIN = SAR_PIN_INVALID;
constexpr ULONG SGD_SM2 = 0x00020100;

struct ExportCase {
    const char* name;
    std::vector<ULONG> pointerCodes;  // the code of each checked pointer, in check order
    std::function<ULONG(KeylinqLibrary&, HANDLE, int)> call;
};

std::vector<ExportCase> Cases() {
    BLOCKCIPHERPARAM param = {};
    return {
        {"SKF_SetLabel", {P}, [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_SetLabel(h, STR(0)); }},
        {"SKF_GetDevInfo", {P}, [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_GetDevInfo(h, A(DEVINFO, 0)); }},
        {"SKF_LockDev", {}, [](KeylinqLibrary& k, HANDLE h, int) { return k.SKF_LockDev(h, 0); }},
        {"SKF_UnlockDev", {}, [](KeylinqLibrary& k, HANDLE h, int) { return k.SKF_UnlockDev(h); }},
        {"SKF_Transmit", {P, P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_Transmit(h, A(BYTE, 0), 8, A(BYTE, 1), A(ULONG, 2)); }},
        {"SKF_ChangeDevAuthKey", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_ChangeDevAuthKey(h, A(BYTE, 0), 16); }},
        {"SKF_DevAuth", {P}, [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_DevAuth(h, A(BYTE, 0), 16); }},
        {"SKF_ChangePIN", {PIN, PIN, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_ChangePIN(h, 1, STR(0), STR(1), A(ULONG, 2)); }},
        {"SKF_GetPINInfo", {P, P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_GetPINInfo(h, 1, A(ULONG, 0), A(ULONG, 1), A(BOOL, 2));
         }},
        {"SKF_VerifyPIN", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_VerifyPIN(h, 1, STR(0), A(ULONG, 1)); }},
        {"SKF_UnblockPIN", {PIN, PIN, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_UnblockPIN(h, STR(0), STR(1), A(ULONG, 2)); }},
        {"SKF_ClearSecureState", {}, [](KeylinqLibrary& k, HANDLE h, int) { return k.SKF_ClearSecureState(h); }},
        {"SKF_CreateApplication", {P, P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_CreateApplication(h, STR(0), STR(1), 10, STR(2), 10, 0xFF, A(HANDLE, 3));
         }},
        {"SKF_EnumApplication", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_EnumApplication(h, nullptr, A(ULONG, 0)); }},
        {"SKF_DeleteApplication", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_DeleteApplication(h, STR(0)); }},
        {"SKF_OpenApplication", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_OpenApplication(h, STR(0), A(HANDLE, 1)); }},
        {"SKF_CloseApplication", {}, [](KeylinqLibrary& k, HANDLE h, int) { return k.SKF_CloseApplication(h); }},
        {"SKF_CreateFile", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_CreateFile(h, STR(0), 16, 0xFF, 0xFF); }},
        {"SKF_DeleteFile", {P}, [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_DeleteFile(h, STR(0)); }},
        {"SKF_EnumFiles", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_EnumFiles(h, nullptr, A(ULONG, 0)); }},
        {"SKF_GetFileInfo", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_GetFileInfo(h, STR(0), A(FILEATTRIBUTE, 1)); }},
        {"SKF_ReadFile", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_ReadFile(h, STR(0), 0, 16, nullptr, A(ULONG, 1)); }},
        {"SKF_WriteFile", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_WriteFile(h, STR(0), 0, A(BYTE, 1), 16); }},
        {"SKF_CreateContainer", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_CreateContainer(h, STR(0), A(HANDLE, 1)); }},
        {"SKF_DeleteContainer", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_DeleteContainer(h, STR(0)); }},
        {"SKF_OpenContainer", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_OpenContainer(h, STR(0), A(HANDLE, 1)); }},
        {"SKF_CloseContainer", {}, [](KeylinqLibrary& k, HANDLE h, int) { return k.SKF_CloseContainer(h); }},
        {"SKF_EnumContainer", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_EnumContainer(h, nullptr, A(ULONG, 0)); }},
        {"SKF_GetContainerType", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_GetContainerType(h, A(ULONG, 0)); }},
        {"SKF_ImportCertificate", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_ImportCertificate(h, TRUE, A(BYTE, 0), 16); }},
        {"SKF_ExportCertificate", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_ExportCertificate(h, TRUE, nullptr, A(ULONG, 0)); }},
        {"SKF_GenRandom", {P}, [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_GenRandom(h, A(BYTE, 0), 8); }},
        {"SKF_GenExtRSAKey", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_GenExtRSAKey(h, 1024, A(RSAPRIVATEKEYBLOB, 0)); }},
        {"SKF_GenRSAKeyPair", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_GenRSAKeyPair(h, 1024, A(RSAPUBLICKEYBLOB, 0)); }},
        {"SKF_ImportRSAKeyPair", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_ImportRSAKeyPair(h, 1, A(BYTE, 0), 128, A(BYTE, 1), 128);
         }},
        {"SKF_RSASignData", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_RSASignData(h, A(BYTE, 0), 20, nullptr, A(ULONG, 1)); }},
        {"SKF_RSAVerify", {P, P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_RSAVerify(h, A(RSAPUBLICKEYBLOB, 0), A(BYTE, 1), 20, A(BYTE, 2), 128);
         }},
        {"SKF_RSAExportSessionKey", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_RSAExportSessionKey(h, 1, A(RSAPUBLICKEYBLOB, 0), nullptr, A(ULONG, 1), nullptr);
         }},
        {"SKF_ExtRSAPubKeyOperation", {P, P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_ExtRSAPubKeyOperation(h, A(RSAPUBLICKEYBLOB, 0), A(BYTE, 1), 128, nullptr, A(ULONG, 2));
         }},
        {"SKF_ExtRSAPriKeyOperation", {P, P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_ExtRSAPriKeyOperation(h, A(RSAPRIVATEKEYBLOB, 0), A(BYTE, 1), 128, nullptr, A(ULONG, 2));
         }},
        {"SKF_GenECCKeyPair", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_GenECCKeyPair(h, SGD_SM2, A(ECCPUBLICKEYBLOB, 0)); }},
        {"SKF_ImportECCKeyPair", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_ImportECCKeyPair(h, A(ENVELOPEDKEYBLOB, 0)); }},
        {"SKF_ECCSignData", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_ECCSignData(h, A(BYTE, 0), 32, A(ECCSIGNATUREBLOB, 1));
         }},
        {"SKF_ECCVerify", {P, P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_ECCVerify(h, A(ECCPUBLICKEYBLOB, 0), A(BYTE, 1), 32, A(ECCSIGNATUREBLOB, 2));
         }},
        {"SKF_ECCExportSessionKey", {P, P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_ECCExportSessionKey(h, 1, A(ECCPUBLICKEYBLOB, 0), A(ECCCIPHERBLOB, 1), A(HANDLE, 2));
         }},
        {"SKF_ExtECCEncrypt", {P, P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_ExtECCEncrypt(h, A(ECCPUBLICKEYBLOB, 0), A(BYTE, 1), 5, A(ECCCIPHERBLOB, 2));
         }},
        {"SKF_ExtECCDecrypt", {P, P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_ExtECCDecrypt(h, A(ECCPRIVATEKEYBLOB, 0), A(ECCCIPHERBLOB, 1), nullptr, A(ULONG, 2));
         }},
        {"SKF_ExtECCSign", {P, P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_ExtECCSign(h, A(ECCPRIVATEKEYBLOB, 0), A(BYTE, 1), 32, A(ECCSIGNATUREBLOB, 2));
         }},
        {"SKF_ExtECCVerify", {P, P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_ExtECCVerify(h, A(ECCPUBLICKEYBLOB, 0), A(BYTE, 1), 32, A(ECCSIGNATUREBLOB, 2));
         }},
        {"SKF_GenerateAgreementDataWithECC", {P, P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_GenerateAgreementDataWithECC(h, 1, A(ECCPUBLICKEYBLOB, 0), A(BYTE, 1), 16, A(HANDLE, 2));
         }},
        {"SKF_GenerateAgreementDataAndKeyWithECC", {P, P, P, P, P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_GenerateAgreementDataAndKeyWithECC(h, 1, A(ECCPUBLICKEYBLOB, 0), A(ECCPUBLICKEYBLOB, 1),
                                                             A(ECCPUBLICKEYBLOB, 2), A(BYTE, 3), 16, A(BYTE, 4), 16,
                                                             A(HANDLE, 5));
         }},
        {"SKF_GenerateKeyWithECC", {P, P, P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_GenerateKeyWithECC(h, A(ECCPUBLICKEYBLOB, 0), A(ECCPUBLICKEYBLOB, 1), A(BYTE, 2), 16,
                                             A(HANDLE, 3));
         }},
        {"SKF_ExportPublicKey", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_ExportPublicKey(h, TRUE, nullptr, A(ULONG, 0)); }},
        {"SKF_ImportSessionKey", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_ImportSessionKey(h, 1, A(BYTE, 0), 16, A(HANDLE, 1));
         }},
        {"SKF_SetSymmKey", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_SetSymmKey(h, A(BYTE, 0), 0x401, A(HANDLE, 1)); }},
        {"SKF_EncryptInit", {}, [param](KeylinqLibrary& k, HANDLE h, int) { return k.SKF_EncryptInit(h, param); }},
        {"SKF_Encrypt", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_Encrypt(h, A(BYTE, 0), 16, nullptr, A(ULONG, 1)); }},
        {"SKF_EncryptUpdate", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_EncryptUpdate(h, A(BYTE, 0), 16, nullptr, A(ULONG, 1));
         }},
        {"SKF_EncryptFinal", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_EncryptFinal(h, nullptr, A(ULONG, 0)); }},
        {"SKF_DecryptInit", {}, [param](KeylinqLibrary& k, HANDLE h, int) { return k.SKF_DecryptInit(h, param); }},
        {"SKF_Decrypt", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_Decrypt(h, A(BYTE, 0), 16, nullptr, A(ULONG, 1)); }},
        {"SKF_DecryptUpdate", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKF_DecryptUpdate(h, A(BYTE, 0), 16, nullptr, A(ULONG, 1));
         }},
        {"SKF_DecryptFinal", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_DecryptFinal(h, nullptr, A(ULONG, 0)); }},
        {"SKF_DigestInit", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_DigestInit(h, 1, nullptr, nullptr, 0, A(HANDLE, 0)); }},
        {"SKF_Digest", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_Digest(h, A(BYTE, 0), 16, nullptr, A(ULONG, 1)); }},
        {"SKF_DigestUpdate", {P}, [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_DigestUpdate(h, A(BYTE, 0), 16); }},
        {"SKF_DigestFinal", {P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_DigestFinal(h, nullptr, A(ULONG, 0)); }},
        {"SKF_MacInit", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_MacInit(h, A(BLOCKCIPHERPARAM, 0), A(HANDLE, 1)); }},
        {"SKF_Mac", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_Mac(h, A(BYTE, 0), 16, nullptr, A(ULONG, 1)); }},
        {"SKF_MacUpdate", {P}, [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_MacUpdate(h, A(BYTE, 0), 16); }},
        {"SKF_MacFinal", {P}, [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKF_MacFinal(h, nullptr, A(ULONG, 0)); }},
        {"SKFEX_RSADecrypt", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) { return k.SKFEX_RSADecrypt(h, A(BYTE, 0), 128, nullptr, A(ULONG, 1), 2); }},
        {"SKFEX_ECCDecrypt", {P, P},
         [](KeylinqLibrary& k, HANDLE h, int f) {
             return k.SKFEX_ECCDecrypt(h, 2, A(ECCCIPHERBLOB, 0), nullptr, A(ULONG, 1));
         }},
    };
}

class ExportArguments : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, lib.missing); }
    KeylinqLibrary& lib = Keylinq();
};

TEST_F(ExportArguments, RefusesNullPointersInOrderBeforeTheHandle) {
    for (const ExportCase& c : Cases()) {
        const int n = int(c.pointerCodes.size());
        // Pointer k null (and every later one), the earlier ones valid, no handle:
        // pointer k's own code, so the arguments come first and in this order.
        for (int k = 0; k < n; ++k)
            EXPECT_EQ(c.pointerCodes[k], c.call(lib, nullptr, k)) << c.name << " argument " << k;
    }
}

TEST_F(ExportArguments, RefusesNullAndUnknownHandles) {
    for (const ExportCase& c : Cases()) {
        const int all = int(c.pointerCodes.size());
        EXPECT_EQ(SAR_INVALIDHANDLEERR, c.call(lib, nullptr, all)) << c.name;
        EXPECT_EQ(SAR_INVALIDHANDLEERR, c.call(lib, g_notAHandle, all)) << c.name;
    }
}

TEST_F(ExportArguments, CoversEveryExportThatTakesAHandle) {
    // 80 exports less the five that take none or close it outside the frame
    // (1 to 6 without SKF_DisConnectDev) and SKF_CloseHandle.
    EXPECT_EQ(80u - 5u - 1u - 1u, Cases().size());
}

TEST_F(ExportArguments, DeviceManagementChecks) {
    ULONG len = 0, event = 0, state = 7;
    DEVHANDLE dev = nullptr;
    char name[] = "x";
    EXPECT_EQ(SAR_INVALIDPARAMERR, lib.SKF_WaitForDevEvent(nullptr, nullptr, &event));
    EXPECT_EQ(SAR_INVALIDPARAMERR, lib.SKF_WaitForDevEvent(nullptr, &len, nullptr));
    EXPECT_EQ(SAR_INVALIDPARAMERR, lib.SKF_EnumDev(TRUE, nullptr, nullptr));
    EXPECT_EQ(SAR_INVALIDPARAMERR, lib.SKF_ConnectDev(nullptr, &dev));
    EXPECT_EQ(SAR_INVALIDPARAMERR, lib.SKF_ConnectDev(name, nullptr));
    EXPECT_EQ(SAR_INVALIDPARAMERR, lib.SKF_GetDevState(nullptr, &state));
    EXPECT_EQ(SAR_INVALIDPARAMERR, lib.SKF_GetDevState(name, nullptr));
    EXPECT_EQ(7u, state);
    EXPECT_EQ(SAR_INVALIDHANDLEERR, lib.SKF_DisConnectDev(nullptr));
    EXPECT_EQ(SAR_INVALIDHANDLEERR, lib.SKF_DisConnectDev(g_notAHandle));
    EXPECT_EQ(SAR_OK, lib.SKF_CloseHandle(nullptr));
    EXPECT_EQ(SAR_INVALIDHANDLEERR, lib.SKF_CloseHandle(g_notAHandle));
}

TEST_F(ExportArguments, LengthChecksStandAtTheirArgument) {
    char label33[34] = "123456789012345678901234567890123";
    char longName[41] = "1234567890123456789012345678901234567890";  // 40 characters
    char pin5[] = "12345";
    BYTE data[32] = {};
    ULONG count = 0;
    ECCPRIVATEKEYBLOB key = {};
    ECCSIGNATUREBLOB sig = {};
    // Each fails on its length even with a null handle.
    EXPECT_EQ(SAR_INDATALENERR, lib.SKF_SetLabel(nullptr, label33));
    EXPECT_EQ(SAR_INVALIDPARAMERR, lib.SKF_DevAuth(nullptr, data, 15));
    EXPECT_EQ(SAR_INVALIDPARAMERR, lib.SKF_ChangeDevAuthKey(nullptr, data, 17));
    EXPECT_EQ(SAR_PIN_LEN_RANGE, lib.SKF_ChangePIN(nullptr, 1, pin5, pin5, &count));
    EXPECT_EQ(SAR_NAMELENERR, lib.SKF_CreateFile(nullptr, label33, 16, 0xFF, 0xFF));
    EXPECT_EQ(SAR_NAMELENERR, lib.SKF_OpenContainer(nullptr, longName, nullptr));
    EXPECT_EQ(SAR_INDATALENERR, lib.SKF_ExtECCSign(nullptr, &key, data, 31, &sig));
    EXPECT_EQ(SAR_INVALIDPARAMERR, lib.SKF_GenECCKeyPair(nullptr, 0x00020300, nullptr));
}

}  // namespace
