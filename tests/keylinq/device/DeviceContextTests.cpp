// The device context against the virtual key: listing keys, the device
// name cut from each kind of device path, the named mutex, opening and
// closing.
#include <algorithm>
#include <memory>
#include <string>

#include "DeviceContext.h"
#include "DeviceTestSupport.h"

namespace {

class DeviceContextTest : public VirtualKeyTest {};

TEST_F(DeviceContextTest, EnumSizeContract) {
    std::string path;
    AddKey(19, &path);

    DWORD size = 0;
    ASSERT_EQ(0u, CDeviceContext::Enum(VEMU_DRIVER_HID, KEYLINQ_USB_PRODUCT_ID, nullptr, &size));
    ASSERT_GT(size, path.size() + 1);

    // One byte short: refused, and the size needed comes back.
    std::string list(size, '\x5A');
    DWORD shortSize = size - 1;
    EXPECT_EQ(0x80070103u, CDeviceContext::Enum(VEMU_DRIVER_HID, KEYLINQ_USB_PRODUCT_ID, &list[0], &shortSize));
    EXPECT_EQ(size, shortSize);
    EXPECT_EQ(std::string(size, '\x5A'), list) << "nothing is copied into a short buffer";

    DWORD exact = size;
    ASSERT_EQ(0u, CDeviceContext::Enum(VEMU_DRIVER_HID, KEYLINQ_USB_PRODUCT_ID, &list[0], &exact));
    EXPECT_EQ(size, exact);
    EXPECT_EQ('\0', list[size - 1]);
    EXPECT_EQ('\0', list[size - 2]);
    std::vector<std::string> paths = SplitPathList(list.data(), size);
    EXPECT_NE(paths.end(), std::find(paths.begin(), paths.end(), path));

    // No key of that product: an empty list of size 0.
    DWORD none = 77;
    ASSERT_EQ(0u, CDeviceContext::Enum(VEMU_DRIVER_HID, 0xF40A, nullptr, &none));
    EXPECT_EQ(0u, none);
}

bool MutexExists(const std::string& name) {
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, ("Global\\" + name).c_str());
    if (!mutex) return false;
    CloseHandle(mutex);
    return true;
}

struct NameCase {
    DWORD driverType;
    const char* path;
    uint32_t cutResult;  // 0 when the name is cut; the refusal otherwise
    const char* name;    // the device name, lower-cased by the mutex
};

// Opening goes on past the cut (and the mutex) to the transport, which
// these made-up paths do not reach; the name and the mutex are there all
// the same until the context is destroyed.
TEST(DeviceContextName, CutFromEachKindOfPath) {
    const std::string tooLong(130, 'a');
    const std::string longHid = "\\\\?\\hid#vid_3a5c&pid_f408#" + tooLong + "&0000#{x}";
    const NameCase cases[] = {
        {VEMU_DRIVER_HID, "\\\\?\\hid#vid_3a5c&pid_f408#7&2C0B8E2D&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}", 0,
         "7&2c0b8e2d&0"},
        {VEMU_DRIVER_HID, "\\\\?\\HID#VID_3A5C&PID_F408#7&2C0B8E2D&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
         0x80070112, nullptr},
        {VEMU_DRIVER_HID, "\\\\?\\hid#vid_3a5c&pid_f408#7&2c0b8e2d&0&0001#{x}", 0x80070112, nullptr},
        {VEMU_DRIVER_HID, longHid.c_str(), 0x80070112, nullptr},
        {VEMU_DRIVER_MASS_STORAGE, "\\\\?\\usbstor#disk&ven_quib&prod_key&rev_1.00#A1B2C3&0#{53f56307-b6bf}", 0,
         "a1b2c3&0"},
        {VEMU_DRIVER_MASS_STORAGE, "\\\\?\\usbstor#disk&ven_quib&prod_key#A1B2C3&0#{53f56307-b6bf}", 0x80070112,
         nullptr},
        {VEMU_DRIVER_CCID, "Quib Smart Reader 0", 0, "quib smart reader 0"},
        {VEMU_DRIVER_WINUSB, "\\\\?\\usb#vid_3a5c&pid_f408#KL-0042#{88bae032-5a81}", 0, "kl-0042"},
        {4, "\\\\?\\hid#vid_3a5c&pid_f408#7&2c0b8e2d&0&0000#{x}", 0x80070111, nullptr},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.path);
        auto context = std::make_unique<CQuibContext>();
        uint32_t hr = context->Open(c.driverType, c.path);
        if (c.cutResult != 0) {
            EXPECT_EQ(c.cutResult, hr);
            EXPECT_EQ(nullptr, context->GetMutexHandle());
            continue;
        }
        EXPECT_NE(0u, hr) << "no such device";
        EXPECT_STREQ(c.name, context->GetDeviceName());
        EXPECT_NE(nullptr, context->GetMutexHandle());
        EXPECT_TRUE(MutexExists(c.name));
        // The failed context's destructor closes the mutex handle.
        context.reset();
        EXPECT_FALSE(MutexExists(c.name)) << "mutex handle leaked";
    }
}

TEST_F(DeviceContextTest, OpenWaitReleaseClose) {
    std::string path;
    AddKey(19, &path);
    CQuibContext context;
    ASSERT_EQ(0u, context.Open(VEMU_DRIVER_HID, path.c_str()));
    ASSERT_NE(nullptr, context.GetDeviceHandle());
    EXPECT_NE(nullptr, context.GetDeviceHandle()->m_pTransport);
    EXPECT_EQ(DEVICE_ALG_UNKNOWN, context.GetDeviceHandle()->m_byAlgID);
    EXPECT_EQ(APDU_SEC_NONE, context.GetDeviceHandle()->m_bySecMode);
    ASSERT_NE(nullptr, context.GetAPDUChip());
    ASSERT_NE(nullptr, context.GetAPDUPin());
    EXPECT_NE(nullptr, context.GetAPDUContainer());
    EXPECT_NE(nullptr, context.GetAPDUCrypto());
    EXPECT_NE(nullptr, context.GetAPDUFile());
    EXPECT_NE(nullptr, context.GetAPDUKey());
    std::string name = context.GetDeviceName();
    EXPECT_NE(std::string::npos, path.find("#" + name + "&0000#"));
    EXPECT_TRUE(MutexExists(name));

    // Recursive for its owner: two waits need two releases, a third fails.
    ASSERT_EQ(0u, context.WaitDevMutex());
    ASSERT_EQ(0u, context.WaitDevMutex());
    EXPECT_EQ(0u, context.ReleaseDevMutex());
    EXPECT_EQ(0u, context.ReleaseDevMutex());
    EXPECT_EQ(0x80070000u | ERROR_NOT_OWNER, context.ReleaseDevMutex());

    ASSERT_EQ(0u, context.Close());
    EXPECT_EQ(nullptr, context.GetDeviceHandle()->m_pTransport);
    EXPECT_EQ(nullptr, context.GetMutexHandle());
    EXPECT_FALSE(MutexExists(name));
    // Nothing left to close or to wait for.
    EXPECT_EQ(DEVCTX_E_NO_MUTEX, context.Close());
}

// The base context and the second family make their own command objects.
TEST_F(DeviceContextTest, EachFamilyOpensTheKey) {
    std::string path;
    AddKey(3, &path);
    std::unique_ptr<CDeviceContext> contexts[] = {std::make_unique<CDeviceContext>(),
                                                  std::make_unique<CNoltContext>()};
    for (auto& context : contexts) {
        ASSERT_EQ(0u, context->Open(VEMU_DRIVER_HID, path.c_str()));
        EXPECT_NE(nullptr, context->GetAPDUChip());
        EXPECT_NE(nullptr, context->GetAPDUPin());
        EXPECT_EQ(0u, context->Close());
    }
}

}  // namespace
