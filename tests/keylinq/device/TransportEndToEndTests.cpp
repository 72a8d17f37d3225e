// One key session over every transport, end to end: listing and opening
// through the device context, then the platform operator's connection,
// device information, PIN, key generation and signature, checked against
// the key's own record and OpenSSL; and the frames HID's report cannot carry.
#include <memory>

#include "AsymKeyObject.h"
#include "DeviceContext.h"
#include "KeyObjectTestSupport.h"
#include "NoltOperator.h"
#include "SoftCrypto.h"
#include "TransportTestSupport.h"

namespace {

struct TransportRow {
    DWORD type;
    const char* name;
    // Where the device name (and so the device mutex) comes from in a path.
    const char* nameAfter;
    const char* nameUntil;
};
const TransportRow TRANSPORTS[] = {
    {VEMU_DRIVER_HID, "HID", "pid_f408#", "&0000"},
    {VEMU_DRIVER_MASS_STORAGE, "mass storage", "rev_1.00#", "#"},
    {VEMU_DRIVER_CCID, "CCID", nullptr, nullptr},
    {VEMU_DRIVER_WINUSB, "WinUSB", "pid_f408#", "#"},
};

std::string ExpectedDeviceName(const TransportRow& row, const std::string& path) {
    if (!row.nameAfter) return path;  // a reader name names the key itself
    size_t start = path.find(row.nameAfter);
    if (start == std::string::npos) return "";
    start += strlen(row.nameAfter);
    return path.substr(start, path.find(row.nameUntil, start) - start);
}

std::string Lower(std::string s) {
    for (char& c : s) c = char(tolower(static_cast<unsigned char>(c)));
    return s;
}

class TransportSessionTest : public TransportTest {
protected:
    void TearDown() override {
        if (op && op->Finalize() != 0) delete context;
        delete op;
        op = nullptr;
        TransportTest::TearDown();
    }

    // Lists the key through the device context, opens it with the driver
    // type and connects the platform operator; the key's record cleared.
    void Connect(const TransportRow& row) {
        keyId = AddTransportKey(row.type, &path);

        // The size contract: a null list gives the size, one byte less is
        // refused with that size, the exact size lists.
        DWORD size = 0;
        ASSERT_EQ(0u, CDeviceContext::Enum(row.type, KEYLINQ_USB_PRODUCT_ID, nullptr, &size));
        ASSERT_GT(size, path.size() + 1);
        std::vector<char> list(size);
        DWORD small = size - 1;
        EXPECT_EQ(0x80070103u, CDeviceContext::Enum(row.type, KEYLINQ_USB_PRODUCT_ID, list.data(), &small));
        EXPECT_EQ(size, small);
        ASSERT_EQ(0u, CDeviceContext::Enum(row.type, KEYLINQ_USB_PRODUCT_ID, list.data(), &size));
        std::vector<std::string> paths = SplitPathList(list.data(), size);
        EXPECT_NE(paths.end(), std::find(paths.begin(), paths.end(), path));
        EXPECT_EQ(size_t(size), [&] {
            size_t n = 1;
            for (const std::string& p : paths) n += p.size() + 1;
            return n;
        }());

        context = new CQuibContext();
        ASSERT_EQ(0u, context->Open(row.type, path.c_str()));
        const std::string name = Lower(ExpectedDeviceName(row, path));
        ASSERT_FALSE(name.empty());
        EXPECT_EQ(name, context->GetDeviceName());
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, ("Global\\" + name).c_str());
        EXPECT_NE(nullptr, mutex) << "the device mutex is named after the key";
        if (mutex) CloseHandle(mutex);

        op = new CNoltOperator(context);
        ASSERT_EQ(0u, op->Initialize(0));
        VirtualKeyState state;
        ASSERT_EQ(0u, control.State(keyId, state));
        EXPECT_TRUE(state.authenticated);
    }

    // The session key that the key holds is the one the host set up.
    void ExpectSessionShared() {
        VirtualKeyState state;
        ASSERT_EQ(0u, control.State(keyId, state));
        EXPECT_TRUE(state.session);
        EXPECT_EQ(16u, context->GetDeviceHandle()->m_nSessionKeyLen);
        EXPECT_EQ(0, memcmp(state.sessionKey, context->GetDeviceHandle()->m_abySessionKey, 16));
    }

    // A new SM2 key pair in a new container; its public key X || Y to `pub`.
    std::unique_ptr<CAsymKeyObject> Generate(const char* container, uint8_t keySpec, Bytes* pub) {
        CAsymKeyObject* generated = nullptr;
        EXPECT_EQ(0u, op->CreateContainer(container));
        EXPECT_EQ(0u, op->GenerateKeyPair(container, keySpec, VM_ALG_SM2, &generated));
        uint8_t alg = 0;
        uint32_t size = 96;
        Bytes exported(96);
        EXPECT_EQ(0u, op->ExportPublicKey(container, keySpec, &alg, exported.data(), &size));
        pub->assign(exported.begin(), exported.begin() + 64);
        return std::unique_ptr<CAsymKeyObject>(generated);
    }

    std::vector<uint32_t> Sent() {
        std::vector<uint32_t> sent;
        for (const vk::RecordEntry& e : Record(keyId)) sent.push_back(uint32_t(e.cla) << 16 | e.ins << 8 | e.p1);
        return sent;
    }

    uint32_t keyId = 0;
    std::string path;
    CDeviceContext* context = nullptr;
    CNoltOperator* op = nullptr;
};

TEST_F(TransportSessionTest, EveryTransportCarriesTheSameSession) {
    std::vector<uint32_t> hidCommands;
    for (const TransportRow& row : TRANSPORTS) {
        SCOPED_TRACE(row.name);
        Connect(row);
        if (HasFatalFailure()) return;

        // Device information as the key keeps it.
        std::vector<uint8_t> info(288);
        ASSERT_EQ(0u, op->GetDeviceInfo(info.data()));
        const std::string text(info.begin(), info.end());
        EXPECT_NE(std::string::npos, text.find("Keylinq Virtual Key"));
        EXPECT_NE(std::string::npos, text.find("Virtual Key " + std::to_string(keyId)));
        uint32_t authAlg = 0;
        memcpy(&authAlg, info.data() + 212, 4);
        EXPECT_EQ(0x1301u, authAlg);

        // The user PIN by challenge and response, an SM2 key made in a
        // container, and a signature OpenSSL verifies.
        ASSERT_EQ(0u, op->VerifyPIN(1, "12345678", 8));
        ExpectSessionShared();
        Bytes pub;
        std::unique_ptr<CAsymKeyObject> key = Generate("C1", 2, &pub);
        ASSERT_TRUE(key);
        uint8_t z[32] = {};
        ASSERT_EQ(0u, op->GetZValue("C1", z));
        const Bytes message = {'r', 'e', 'n', 'e', 'w', ' ', 'o', 'v', 'e', 'r', ' ', uint8_t(row.name[0])};
        Bytes zm = message;
        zm.insert(zm.begin(), z, z + 32);
        const Bytes e = RefSm3(zm);
        Bytes signature(64);
        uint32_t len = 64;
        ASSERT_EQ(0u, key->PrikeySign(VM_ALG_SM3, e.data(), 32, signature.data(), &len));
        EXPECT_TRUE(RefSm2VerifyMessage(pub, message, signature));

        // The key read the same commands, whatever carried them.
        std::vector<uint32_t> commands = Sent();
        EXPECT_GT(commands.size(), 10u);
        if (row.type == VEMU_DRIVER_HID)
            hidCommands = commands;
        else
            EXPECT_EQ(hidCommands, commands);

        key.reset();
        ASSERT_EQ(0u, op->Finalize());
        delete op;
        op = nullptr;
        context = nullptr;
    }
}

// A 2048-byte flash block and the decryption of a 300-byte SM2 ciphertext:
// HID's 329-byte report refuses their frames, the other transports carry them.
TEST_F(TransportSessionTest, FramesLongerThanTheHidReportCrossTheOtherTransports) {
    for (const TransportRow& row : TRANSPORTS) {
        SCOPED_TRACE(row.name);
        Connect(row);
        if (HasFatalFailure()) return;
        const bool hid = row.type == VEMU_DRIVER_HID;

        Bytes flash(2048);
        for (size_t i = 0; i < flash.size(); ++i) flash[i] = uint8_t(i * 13 + row.type);
        ASSERT_EQ(0u, op->WriteFlash(0, flash.data(), uint32_t(flash.size())));
        Bytes back(2048);
        if (hid) {
            EXPECT_EQ(0x80070103u, op->ReadFlash(0, back.data(), uint32_t(back.size())));
        } else {
            ASSERT_EQ(0u, op->ReadFlash(0, back.data(), uint32_t(back.size())));
            EXPECT_EQ(flash, back);
        }

        ASSERT_EQ(0u, op->VerifyPIN(1, "12345678", 8));
        Bytes pub;
        std::unique_ptr<CAsymKeyObject> key = Generate("C2", 1, &pub);
        ASSERT_TRUE(key);
        Bytes message(203);
        for (size_t i = 0; i < message.size(); ++i) message[i] = uint8_t(i + 1);
        const Bytes cipher = RefSm2Encrypt(pub, message);
        ASSERT_EQ(300u, cipher.size());
        Bytes plain(message.size());
        uint32_t plainLen = uint32_t(plain.size());
        const uint32_t hr = key->PrikeyDec(cipher.data(), uint32_t(cipher.size()), plain.data(), &plainLen);
        if (hid) {
            EXPECT_NE(0u, hr);
        } else {
            ASSERT_EQ(0u, hr);
            EXPECT_EQ(message, plain);
        }

        key.reset();
        ASSERT_EQ(0u, op->Finalize());
        delete op;
        op = nullptr;
        context = nullptr;
    }
}

}  // namespace
