// The result mapping of the exports: every row of the table, the folding of
// an object's positive codes, and the mended rows.
#include <gtest/gtest.h>

#include "SKFApi.h"
#include "SarFromResult.h"

namespace {

struct Row {
    uint32_t code;
    uint32_t expected;
};

TEST(SarFromResult, MapsEveryRowOfTheTable) {
    const Row rows[] = {
        {0, SAR_OK},
        {0x80070008u, SAR_MEMORYERR},
        {0x80070057u, SAR_INVALIDPARAMERR},
        {87, SAR_INVALIDPARAMERR},
        {0x800700AAu, SAR_FAIL},  // disconnect while objects of the device are open
        {0x80070101u, SAR_INVALIDPARAMERR},
        {0x80070102u, SAR_MEMORYERR},
        {0x80070103u, SAR_BUFFER_TOO_SMALL},
        {0x80070104u, SAR_INDATALENERR},
        {0x80070105u, SAR_MODULUSLENERR},
        {0x80070108u, SAR_NOTSUPPORTYETERR},
        {0x80070112u, SAR_NAMELENERR},
        {0x80070113u, SAR_INVALIDHANDLEERR},
        {0x80070114u, SAR_KEYINFOTYPEERR},
        {0x80070115u, SAR_FAIL},
        {0x80070116u, SAR_KEYUSAGEERR},
        {0x8007020Bu, SAR_FILEERR},
        {0x80006982u, SAR_USER_NOT_LOGGED_IN},
        {0x80006983u, SAR_PIN_LOCKED},
        {0x800063C3u, SAR_PIN_INCORRECT},
        {0x800063C1u, SAR_PIN_INCORRECT},
        {0x800063CFu, SAR_PIN_INCORRECT},
        {0x800063C0u, SAR_PIN_LOCKED},
        {0x8000F102u, SAR_FILE_NOT_EXIST},
        {0x8000F104u, SAR_NO_ROOM},
        {0x8000F10Eu, SAR_FAIL},
        {0x8000F20Cu, SAR_CERTNOTFOUNTERR},
        {0x8000F20Du, SAR_KEYNOTFOUNTERR},
        {0x8000F323u, SAR_TIMEOUTERR},
        {0x8000F525u, SAR_DECRYPTPADERR},
        {0x8000F530u, SAR_NOTINITIALIZEERR},
        {0x8010000Au, SAR_TIMEOUTERR},
        {0x8010006Eu, SAR_FAIL},
        {0x80004005u, SAR_FAIL},
        {0x80090006u, SAR_FAIL},              // a host signature check that fails
        {0x800B0109u, SAR_FAIL},              // any code with all bits of 0x80090000
        {0x800D0001u, SAR_FAIL},
        {0x80006A86u, 0xAA006A86u},           // a status word without a row
        {0x800F1234u, SAR_FAIL},              // 0x800F... is reduced first, then has no row
        {SAR_PIN_INCORRECT, SAR_PIN_INCORRECT},  // SAR_* codes pass
        {SAR_NOTSUPPORTYETERR, SAR_NOTSUPPORTYETERR},
    };
    for (const Row& row : rows) EXPECT_EQ(row.expected, SarFromResult(row.code)) << std::hex << row.code;
}

// Codes that the table would hand back as bare numbers get the nearest
// SAR_* code.
TEST(SarFromResult, MapsFormerBareNumbersToSarCodes) {
    EXPECT_EQ(SAR_MEMORYERR, SarFromResult(0x8007000Eu));          // E_OUTOFMEMORY, was 14
    EXPECT_EQ(SAR_NOT_EVENTERR, SarFromResult(0x80070022u));       // no wait to cancel, was 34
    EXPECT_EQ(SAR_NOTINITIALIZEERR, SarFromResult(0x80070107u));   // no session key, was 263
    EXPECT_EQ(SAR_DEVICE_REMOVED, SarFromResult(0x80070111u));     // device unreachable, was 273
    EXPECT_EQ(SAR_TIMEOUTERR, SarFromResult(0x800705B4u));         // the device mutex stayed taken
    const Row rows[] = {
        {0x800700EAu, SAR_DECRYPTPADERR},   // host triple DES / SM4 final with bad padding, was 234
        {0x80071770u, SAR_INDATAERR},       // host RSA input at or above the modulus, was 6000
        {0x80071771u, SAR_INDATAERR},       // the raw RSA operation, was 6001
        {0x8007000Du, SAR_FAIL},            // a short reply from the key, was 13
        {0x80070006u, SAR_FAIL},            // a system library missing, was 6
        {0x80070064u, SAR_GENRANDERR},      // the host's random generator, was 100
        {0x80070210u, SAR_FAIL},            // host key set-up, was 528
        {0x80070211u, SAR_FAIL},            // host cipher update, was 529
        {0x8007048Fu, SAR_DEVICE_REMOVED},  // the key pulled out, was 1167
        {0x80070037u, SAR_DEVICE_REMOVED},  // the key's device gone, was 55
        {0x80070005u, SAR_FAIL},            // any other Win32 error, e.g. access denied, was 5
        {0xA0071004u, SAR_FAIL},            // a customer-bit HRESULT reduces to 0x20001004
    };
    for (const Row& row : rows) EXPECT_EQ(row.expected, SarFromResult(row.code)) << std::hex << row.code;
}

// Whatever an object returns, the export answers SAR_OK only for 0, and
// otherwise a SAR_* code (0x0A00xxxx) or a key status word under 0xAA00:
// never a bare Win32 or library number.
TEST(SarFromResult, NoCodeReachesTheCallerAsABareNumber) {
    const uint32_t highs[] = {0x00000000u, 0x80070000u, 0x800F0000u, 0xA0070000u, 0x80000000u,
                              0x80090000u, 0x80100000u, 0x00AB0000u, 0x20000000u};
    for (uint32_t high : highs) {
        for (uint32_t low = 0; low <= 0xFFFFu; ++low) {
            // An object's code as the frame hands it over (step 7 folds positive codes).
            const uint32_t code = FoldObjectResult(high | low);
            const uint32_t sar = SarFromResult(code);
            const uint32_t kind = sar >> 16;
            if (code == 0) {
                EXPECT_EQ(SAR_OK, sar);
                continue;
            }
            ASSERT_TRUE(kind == 0x0A00u || kind == 0xAA00u)
                << std::hex << "code " << code << " answers " << sar;
        }
    }
}

TEST(SarFromResult, NeverTurnsAFailureIntoSuccess) {
    EXPECT_EQ(SAR_FAIL, SarFromResult(0x80070000u));
    EXPECT_EQ(SAR_FAIL, SarFromResult(FoldObjectResult(0x00010000u)));
    EXPECT_NE(SAR_OK, SarFromResult(0xA0070000u));
    EXPECT_NE(SAR_OK, SarFromResult(0x00010000u));
}

TEST(FoldObjectResult, FoldsOnlyPositiveCodesThatAreNotSarCodes) {
    EXPECT_EQ(0u, FoldObjectResult(0));
    EXPECT_EQ(0x80070057u, FoldObjectResult(87));
    EXPECT_EQ(0x80071234u, FoldObjectResult(0x00AB1234u));   // keeps the low 16 bits
    EXPECT_EQ(SAR_INVALIDPARAMERR, SarFromResult(FoldObjectResult(0x00AB0057u)));
    EXPECT_EQ(SAR_PIN_INCORRECT, FoldObjectResult(SAR_PIN_INCORRECT));
    EXPECT_EQ(0x80006982u, FoldObjectResult(0x80006982u));
}

}  // namespace
