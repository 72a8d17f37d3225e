// The step and failure lines of the host cryptography.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SoftCrypto.h"
#include "SymKeyHandle.h"
#include "TraceHelper.h"

namespace {

std::vector<std::wstring> g_lines;

void Record(ULONG64, const TraceMessageArgs& message) {
    if (message.kind == TraceMessageKind::Failure || message.kind == TraceMessageKind::StepOrFailure)
        g_lines.push_back(message.text);
}

class SoftCryptoTrace : public ::testing::Test {
protected:
    void SetUp() override {
        g_lines.clear();
        m_old = SetTraceWriter(Record);
        SetTraceControlState(true, 1, 0xFFFFFFFF);
    }
    void TearDown() override {
        SetTraceControlState(false, 0, 0);
        SetTraceWriter(m_old);
    }
    // The failure line without its source line number.
    static std::wstring WithoutLine(const std::wstring& line) {
        const size_t open = line.find(L'('), close = line.find(L"):]");
        return open == std::wstring::npos || close == std::wstring::npos ? line
                                                                         : line.substr(0, open) + line.substr(close + 1);
    }
    TraceWriterFn m_old = nullptr;
};

TEST_F(SoftCryptoTrace, FailedCheckNamesUnitFunctionStepAndReason) {
    SYMKEY_CTX* ctx = nullptr;
    uint8_t key[16] = {};
    ASSERT_EQ(SOFTCRYPTO_E_BAD_ALGID, SymEncryptInit(&ctx, 5, 2, key, nullptr));
    ASSERT_FALSE(g_lines.empty());
    EXPECT_EQ(L"SymEncryptInit - Check ppCipherCtx", g_lines.front());
    EXPECT_EQ(L"[SoftCrypto:] SymEncryptInit - CHECK AlgID [Reason:TRUE]", WithoutLine(g_lines.back()));

    g_lines.clear();
    EXPECT_EQ(SOFTCRYPTO_E_INVALIDARG, Hash_Update(nullptr, nullptr, 0));
    EXPECT_EQ(L"[SoftCrypto:] Hash_Update - CHECK pHashCtx [Reason:NULL == pHashCtx]", WithoutLine(g_lines.back()));
    EXPECT_EQ(SOFTCRYPTO_E_INVALIDARG, GenRand(1, nullptr, 0));
    EXPECT_EQ(L"[SoftCrypto:] GenRand - CHECK pRand [Reason:!pRand]", WithoutLine(g_lines.back()));
}

TEST_F(SoftCryptoTrace, CompletedStepsAndOneShotFailure) {
    HASH_CTX* h = nullptr;
    ASSERT_EQ(0u, Hash_Init(&h, VM_ALG_SM3));
    Hash_Free(h);
    EXPECT_EQ((std::vector<std::wstring>{L"Hash_Init - Check ppHashCtx", L"Hash_Init - New pointer",
                                         L"Hash_Init - SM3Init"}),
              g_lines);

    g_lines.clear();
    uint8_t key[16] = {}, in[20] = {}, out[32];
    uint32_t outLen = 0;
    EXPECT_EQ(SOFTCRYPTO_E_FINAL, CSymKeyHandle::Decrypt(SOFT_ALG_SM4, 2, key, nullptr, in, 20, out, &outLen));
    EXPECT_EQ(L"[SymKeyHandle:] CSymKeyHandle::Decrypt - SymDecryptFinal [Reason:VM_ERR_OK != hResult]",
              WithoutLine(g_lines.back()));
}

}  // namespace
