// What the command object and the builders leave behind: command data
// carries keys, authentication codes and plaintext, so no copy of it may
// outlive the command, neither in the reused or freed data buffer nor in the
// work areas on the stack.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "APDUKey.h"
#include "DeviceContext.h"
#include "DeviceTestSupport.h"
#include "KeySession.h"
#include "RootPublicKeys.h"

// Watches one data buffer of a command object: when it is freed, notes
// whether its first bytes were zero by then. Every other block is freed as
// usual (the library's operator new[] takes its blocks from malloc).
namespace {
const void* volatile g_watched = nullptr;
size_t g_watchedLen = 0;
int g_watchedFrees = 0;
bool g_watchedWasClear = false;
}  // namespace

void operator delete[](void* p) noexcept {
    if (p && p == g_watched) {
        const uint8_t* bytes = static_cast<const uint8_t*>(p);
        bool clear = true;
        for (size_t i = 0; i < g_watchedLen; ++i) clear = clear && bytes[i] == 0;
        g_watchedWasClear = clear;
        ++g_watchedFrees;
        g_watched = nullptr;
    }
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept { operator delete[](p); }

namespace {

const uint8_t SECRET[16] = {0x9d, 0x31, 0xe4, 0x07, 0x5b, 0xc2, 0x68, 0xaf,
                            0x13, 0x7e, 0xd9, 0x46, 0xb0, 0x2c, 0x85, 0xf1};
// The eight bytes that the stack search looks for.
uint8_t g_needle[8];

void Watch(const uint8_t* buffer, size_t length) {
    g_watchedLen = length;
    g_watchedFrees = 0;
    g_watchedWasClear = false;
    g_watched = buffer;
}

TEST(APDUDataWipe, ShorterDataLeavesNoOldBytesInTheReusedBuffer) {
    CDeviceInfo record;
    CAPDU apdu(&record);
    uint8_t secret[32];
    for (size_t i = 0; i < sizeof secret; ++i) secret[i] = SECRET[i % 16];
    ASSERT_EQ(0u, apdu.SetAPDUData(secret, 32));
    const uint8_t* buffer = apdu.m_pbyData;
    const uint8_t closing[4] = {1, 2, 3, 4};
    ASSERT_EQ(0u, apdu.SetAPDUData(closing, 4));
    ASSERT_EQ(buffer, apdu.m_pbyData) << "the buffer is reused";
    EXPECT_EQ(std::vector<uint8_t>(closing, closing + 4), std::vector<uint8_t>(buffer, buffer + 4));
    EXPECT_EQ(std::vector<uint8_t>(28, 0), std::vector<uint8_t>(buffer + 4, buffer + 32)) << "the earlier data";
}

TEST(APDUDataWipe, DataBuffersAreClearedBeforeTheyAreFreed) {
    CDeviceInfo record;
    // Freed by the next header, by longer data and by the destructor.
    for (int path = 0; path < 3; ++path) {
        auto* apdu = new CAPDU(&record);
        ASSERT_EQ(0u, apdu->SetAPDUData(SECRET, 16));
        Watch(apdu->m_pbyData, 16);
        if (path == 0) apdu->SetAPDUHeader(0xB0, 1, 0, 0);
        if (path == 1) {
            uint8_t longer[40] = {};
            ASSERT_EQ(0u, apdu->SetAPDUData(longer, sizeof longer));
        }
        delete apdu;
        g_watched = nullptr;
        EXPECT_EQ(1, g_watchedFrees) << "path " << path;
        EXPECT_TRUE(g_watchedWasClear) << "path " << path;
    }
}

// Searches the stack below the caller's frame, where the frames of the call
// that just returned lay, for the needle. Reading what is left there is the
// point, hence no initialisation.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
__attribute__((noinline)) bool StackHoldsNeedle() {
    volatile uint8_t area[48 * 1024];
    for (size_t i = 0; i + 8 <= sizeof area; ++i) {
        if (area[i] != g_needle[0]) continue;
        size_t k = 1;
        while (k < 8 && area[i + k] == g_needle[k]) ++k;
        if (k == 8) return true;
    }
    return false;
}
#pragma GCC diagnostic pop

// Runs the call, then searches at the same stack depth for the needle (by
// default eight bytes of the secret; the call may set another).
template <class Call>
__attribute__((noinline)) bool LeavesSecretOnStack(uint32_t* result, Call call) {
    std::memcpy(g_needle, SECRET + 8, 8);
    *result = call();
    return StackHoldsNeedle();
}

class APDUStackWipeTest : public VirtualKeyTest {
protected:
    void SetUp() override {
        VirtualKeyTest::SetUp();
        std::string path;
        AddKey(19, &path);
        ASSERT_EQ(0u, session.Open(path));
        ASSERT_EQ(0u, session.Connect());
    }
    KeySession session;
};

TEST_F(APDUStackWipeTest, SecureCommandsLeaveNoPlaintextOnTheStack) {
    // A protected command sent by hand: its protected block holds the data.
    std::vector<uint8_t> data(64);
    for (size_t i = 0; i < data.size(); ++i) data[i] = SECRET[i % 16];
    uint32_t hr = 1;
    bool left = LeavesSecretOnStack(&hr, [&] {
        session.apdu.SetAPDUHeader(0xB4, 0x14, 0x00, 0x00);
        session.apdu.SetAPDUData(data.data(), uint16_t(data.size()));
        session.apdu.Le = 4;
        return session.apdu.SendAPDUCmd(nullptr, nullptr);
    });
    EXPECT_FALSE(left) << "result " << std::hex << hr;

    // A builder: a plaintext session key imported into the key.
    CAPDUKey keyCmd(&session.record);
    left = LeavesSecretOnStack(&hr, [&] { return keyCmd.ImportSymKey(0x1301, SECRET, 16); });
    EXPECT_EQ(0u, hr);
    EXPECT_FALSE(left);
}

TEST_F(APDUStackWipeTest, NewSessionKeyLeavesNoCopyOnTheStack) {
    // A device context on the same key, with the algorithm and the
    // external-authentication key that the session above established.
    CQuibContext context;
    VirtualKeyState state;
    ASSERT_EQ(0u, control.State(added.back(), state));
    ASSERT_EQ(0u, context.Open(VEMU_DRIVER_HID, state.devicePath.c_str()));
    VM_DEVICE_HANDLE* record = context.GetDeviceHandle();
    record->m_byAlgID = session.record.m_byAlgID;
    std::memcpy(record->m_abyExtAuthKey, session.record.m_abyExtAuthKey, AUTH_KEY_LENGTH);
    record->m_pRootPubKey = g_abyRootSM2PubKey;

    uint32_t hr = 1;
    const bool left = LeavesSecretOnStack(&hr, [&] {
        const uint32_t result = context.SetSessionKey(1);
        std::memcpy(g_needle, record->m_abySessionKey + 4, 8);
        return result;
    });
    ASSERT_EQ(0u, hr);
    EXPECT_EQ(APDU_SEC_ENC, record->m_bySecMode);
    EXPECT_FALSE(left);
    EXPECT_EQ(0u, context.Close());
}

}  // namespace
