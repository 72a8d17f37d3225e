// Handle lifetimes with the SKF objects linked in: a close on one thread
// while another thread's call on the same handle waits for the device
// mutex leaves that call its live object, which goes when the call ends.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <thread>

#include "SKFHandles.h"
#include "SKFTestSupport.h"

namespace {

struct LinkedExports {
#define SKF_MEMBER(name, params) PFN_##name name = &::name;
    SKF_EXPORT_LIST(SKF_MEMBER)
#undef SKF_MEMBER
};

TEST(SKFHandleLifetime, CloseWhileACallWaitsForTheMutex) {
    LinkedExports k;
    VirtualKeyControl control;
    KeySession<LinkedExports> key{k, control, AddFreshKey(control)};
    ASSERT_EQ(SAR_OK, key.Connect());
    BYTE sm4Key[16];
    for (int i = 0; i < 16; ++i) sm4Key[i] = BYTE(i * 9 + 1);
    HANDLE h = nullptr;
    ASSERT_EQ(SAR_OK, k.SKF_SetSymmKey(key.dev, sm4Key, 0x401, &h));
    BLOCKCIPHERPARAM param = {};
    ASSERT_EQ(SAR_OK, k.SKF_EncryptInit(h, param));

    HeldDevice<LinkedExports> held(k, key.dev);

    BYTE plain[16] = {1, 2, 3};
    BYTE cipher[32] = {};
    ULONG cipherLen = sizeof cipher;
    ULONG callResult = 0xFFFFFFFF;
    std::thread caller([&] { callResult = k.SKF_Encrypt(h, plain, 16, cipher, &cipherLen); });
    // The call has passed its handle check and waits for the mutex.
    while (SKFHandles::RunningCalls(h) == 0) Sleep(1);
    EXPECT_EQ(SAR_OK, k.SKF_CloseHandle(h));
    EXPECT_FALSE(SKFHandles::Find(h, SKFHandleKind::Key, nullptr));
    EXPECT_EQ(1u, SKFHandles::RunningCalls(h));
    held.Release();
    caller.join();

    // The call completed on the live object; the object went after it.
    EXPECT_EQ(SAR_OK, callResult);
    ASSERT_EQ(16u, cipherLen);
    BYTE expected[32] = {};
    int n = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_sm4_ecb(), nullptr, sm4Key, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, expected, &n, plain, 16);
    EVP_CIPHER_CTX_free(ctx);
    EXPECT_EQ(0, memcmp(expected, cipher, 16));
    EXPECT_EQ(0u, SKFHandles::RunningCalls(h));
    EXPECT_EQ(SAR_INVALIDHANDLEERR, k.SKF_EncryptInit(h, param));
    EXPECT_EQ(SAR_INVALIDHANDLEERR, k.SKF_CloseHandle(h));
    // No object is left on the context: the key disconnects (at the end).
}

}  // namespace

namespace {

TEST(SKFHandleLifetime, DisconnectWhileACallUsesTheDeviceKeepsIt) {
    LinkedExports k;
    VirtualKeyControl control;
    KeySession<LinkedExports> key{k, control, AddFreshKey(control)};
    ASSERT_EQ(SAR_OK, key.Connect());
    HeldDevice<LinkedExports> held(k, key.dev);
    BYTE random[16] = {};
    ULONG callResult = 0xFFFFFFFF;
    std::thread caller([&] { callResult = k.SKF_GenRandom(key.dev, random, sizeof random); });
    while (SKFHandles::RunningCalls(key.dev) == 0) Sleep(1);
    // In use: refused as a failure, and the handle stays.
    EXPECT_EQ(SAR_FAIL, k.SKF_DisConnectDev(key.dev));
    EXPECT_TRUE(SKFHandles::Find(key.dev, SKFHandleKind::Device, nullptr));
    held.Release();
    caller.join();
    EXPECT_EQ(SAR_OK, callResult);
    // The session disconnects it at the end.
}

}  // namespace
