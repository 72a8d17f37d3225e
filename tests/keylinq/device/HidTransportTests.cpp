// The HID transport and the free transport functions against the virtual key.
#include <algorithm>
#include <cstring>

#include "DeviceTestSupport.h"
#include "VemuCCID.h"
#include "VemuHID.h"
#include "VemuMassStorage.h"
#include "VemuWinUSB.h"

namespace {

struct ReportCase {
    WORD feature;
    DWORD length;
    uint32_t result;
    BYTE id;
    WORD reportLength;
};

TEST(ReportIDByLength, FollowsTheReportTable) {
    const ReportCase cases[] = {
        {329, 8, 0x80090004, 0, 0},   {329, 9, 0, 1, 9},       {329, 10, 0, 2, 41},   {329, 41, 0, 2, 41},
        {329, 42, 0, 3, 73},          {329, 73, 0, 3, 73},     {329, 298, 0, 11, 329}, {329, 329, 0, 11, 329},
        {329, 330, 0, 11, 329},       {329, 2080, 0, 11, 329}, {400, 401, 0, 12, 400}, {400, 2080, 0, 12, 400},
    };
    for (const ReportCase& c : cases) {
        BYTE id = 0;
        WORD length = 0;
        EXPECT_EQ(c.result, CVemuHID::ReportIDForLength(c.feature, c.length, &id, &length)) << c.length;
        if (c.result) continue;
        EXPECT_EQ(c.id, id) << "feature " << c.feature << ", length " << c.length;
        EXPECT_EQ(c.reportLength, length) << "feature " << c.feature << ", length " << c.length;
    }
    BYTE id;
    WORD length;
    EXPECT_EQ(0x80070057u, CVemuHID::ReportIDForLength(329, 9, nullptr, &length));
    EXPECT_EQ(0x80070057u, CVemuHID::ReportIDForLength(329, 9, &id, nullptr));
}

TEST(ReportIDByLength, FeatureLengthsThatWouldOverrunTheBuffersAreUnusable) {
    EXPECT_FALSE(CVemuHID::UsableFeatureLength(0));  // Wine's own HID devices
    EXPECT_FALSE(CVemuHID::UsableFeatureLength(8));
    EXPECT_TRUE(CVemuHID::UsableFeatureLength(9));
    EXPECT_TRUE(CVemuHID::UsableFeatureLength(329));
    EXPECT_TRUE(CVemuHID::UsableFeatureLength(2057));   // longest send report 2057
    EXPECT_FALSE(CVemuHID::UsableFeatureLength(2058));  // a 2058-byte transfer would ask for report 66 of 2089 bytes
    EXPECT_FALSE(CVemuHID::UsableFeatureLength(2080));
}

TEST(HexWordFromText, ReadsFourHexDigitsOrGivesZero) {
    EXPECT_EQ(0xF408, HexWordFromText(L"F408&MI_00"));
    EXPECT_EQ(0x3A5C, HexWordFromText(L"3a5C"));
    EXPECT_EQ(0x1234, HexWordFromText(L"12345"));
    EXPECT_EQ(0, HexWordFromText(L"F40G"));
    EXPECT_EQ(0, HexWordFromText(L"F40"));
    EXPECT_EQ(0, HexWordFromText(L"-408"));
}

TEST(TransportFunctions, RefuseMissingTransportsAndNullHandles) {
    for (DWORD type : {0ul, 4ul, 6ul}) {
        EXPECT_EQ(nullptr, CVemuDriverManager::Create(type)) << type;
    }
    IVemuComm* made[] = {CVemuDriverManager::Create(VEMU_DRIVER_MASS_STORAGE),
                         CVemuDriverManager::Create(VEMU_DRIVER_HID), CVemuDriverManager::Create(VEMU_DRIVER_CCID),
                         CVemuDriverManager::Create(VEMU_DRIVER_WINUSB)};
    EXPECT_NE(nullptr, dynamic_cast<CVemuMassStorage*>(made[0]));
    EXPECT_NE(nullptr, dynamic_cast<CVemuHID*>(made[1]));
    EXPECT_NE(nullptr, dynamic_cast<CVemuCCID*>(made[2]));
    EXPECT_NE(nullptr, dynamic_cast<CVemuWinUSB*>(made[3]));
    for (IVemuComm* transport : made) delete transport;

    char list[16];
    DWORD size = sizeof list;
    EXPECT_EQ(0x80070102u, VEmuEnumDevice(4, 0, 0xF408, list, &size));
    VEMU_HANDLE handle = nullptr;
    EXPECT_EQ(0x80070102u, VEmuOpenDevice(4, "\\\\?\\hid#x", &handle));
    EXPECT_EQ(nullptr, handle);
    EXPECT_EQ(0x80070101u, VEmuCloseDevice(nullptr));
    BYTE reply[8];
    DWORD replyLen = sizeof reply;
    EXPECT_EQ(0x80070101u, VEmuSendCommand(nullptr, reply, 8, reply, &replyLen, 1));
}

class HidTransportTest : public VirtualKeyTest {
protected:
    void TearDown() override {
        if (handle) {
            EXPECT_EQ(0u, VEmuCloseDevice(handle));
        }
        VirtualKeyTest::TearDown();
    }
    // A frame of INS 0x04 P1 0x03 (chip serial number) with `bodyLength` filler bytes.
    static std::vector<BYTE> ChipSNFrame(size_t bodyLength) {
        std::vector<BYTE> frame(8 + bodyLength, 0xA5);
        BYTE head[8] = {0xB0, 0x04, 0x03, 0x00, BYTE(bodyLength >> 8), BYTE(bodyLength), 0x00, 0x10};
        std::copy(head, head + 8, frame.begin());
        return frame;
    }
    uint32_t Send(const std::vector<BYTE>& frame, DWORD timeout = 5) {
        replyLen = sizeof reply;
        return VEmuSendCommand(handle, frame.data(), DWORD(frame.size()), reply, &replyLen, timeout);
    }
    VEMU_HANDLE handle = nullptr;
    BYTE reply[4096] = {};
    DWORD replyLen = 0;
};

TEST_F(HidTransportTest, ListsKeysByVendorAndProduct) {
    std::string key, otherProduct, otherVendor;
    AddKey(19, &key);
    AddKey(19, &otherProduct, 0xF001);
    AddKey(19, &otherVendor, KEYLINQ_USB_PRODUCT_ID, 0x1234);

    char list[4160];
    DWORD size = sizeof list;
    ASSERT_EQ(0u, VEmuEnumDevice(VEMU_DRIVER_HID, 0, 0xF408, list, &size));
    std::vector<std::string> exact = SplitPathList(list, size);
    EXPECT_NE(exact.end(), std::find(exact.begin(), exact.end(), key));
    EXPECT_EQ(exact.end(), std::find(exact.begin(), exact.end(), otherProduct));
    EXPECT_EQ(exact.end(), std::find(exact.begin(), exact.end(), otherVendor));

    // 0xF000 stands for every product 0xFxxx.
    size = sizeof list;
    ASSERT_EQ(0u, VEmuEnumDevice(VEMU_DRIVER_HID, 0, 0xF000, list, &size));
    std::vector<std::string> family = SplitPathList(list, size);
    EXPECT_NE(family.end(), std::find(family.begin(), family.end(), key));
    EXPECT_NE(family.end(), std::find(family.begin(), family.end(), otherProduct));
    EXPECT_EQ(family.end(), std::find(family.begin(), family.end(), otherVendor));

    size = sizeof list;
    ASSERT_EQ(0u, VEmuEnumDevice(VEMU_DRIVER_HID, 0, 0xF409, list, &size));
    EXPECT_EQ(0u, size);
}

TEST_F(HidTransportTest, ListThatFitsExactlyKeepsEveryPathOneByteLessDropsTheLast) {
    AddKey(19, nullptr);
    AddKey(3, nullptr);
    char full[4160];
    DWORD fullSize = sizeof full;
    ASSERT_EQ(0u, VEmuEnumDevice(VEMU_DRIVER_HID, 0, 0xF408, full, &fullSize));
    std::vector<std::string> paths = SplitPathList(full, fullSize);
    ASSERT_GE(paths.size(), 2u);

    char list[4160];
    DWORD size = fullSize;
    ASSERT_EQ(0u, VEmuEnumDevice(VEMU_DRIVER_HID, 0, 0xF408, list, &size));
    EXPECT_EQ(fullSize, size);
    EXPECT_EQ(0, std::memcmp(full, list, fullSize));

    size = fullSize - 1;
    ASSERT_EQ(0u, VEmuEnumDevice(VEMU_DRIVER_HID, 0, 0xF408, list, &size));
    EXPECT_EQ(fullSize - paths.back().size() - 1, size);
    paths.pop_back();
    EXPECT_EQ(paths, SplitPathList(list, size));

    size = 0;
    ASSERT_EQ(0u, VEmuEnumDevice(VEMU_DRIVER_HID, 0, 0xF408, list, &size));
    EXPECT_EQ(0u, size);
}

TEST_F(HidTransportTest, OpensReadsIdsAndCloses) {
    std::string path;
    AddKey(19, &path, 0xF408);
    ASSERT_EQ(0u, VEmuOpenDevice(VEMU_DRIVER_HID, path.c_str(), &handle));
    auto* hid = dynamic_cast<CVemuHID*>(handle);
    ASSERT_NE(nullptr, hid);
    EXPECT_EQ(329, hid->FeatureReportLength());
    BYTE id = 0;
    WORD length = 0;
    ASSERT_EQ(0u, hid->GetReportIDByLength(2080, &id, &length));
    EXPECT_EQ(11, id);
    EXPECT_EQ(329, length);
    WORD vid = 0, pid = 0;
    ASSERT_EQ(0u, hid->VEmuGetDeviceID(path.c_str(), &vid, &pid));
    EXPECT_EQ(KEYLINQ_USB_VENDOR_ID, vid);
    EXPECT_EQ(0xF408, pid);

    VEMU_HANDLE none = nullptr;
    EXPECT_EQ(0x80070201u, VEmuOpenDevice(VEMU_DRIVER_HID, "\\\\?\\hid#vid_3a5c&pid_f408#no&such&0&0000#{x}", &none));
    EXPECT_EQ(nullptr, none);
}

// The device must be able to take the longest report of its own length
// into the 2080-byte buffers; below 9 bytes not even a header fits.
TEST_F(HidTransportTest, RefusesDevicesWithUnusableFeatureReportLength) {
    for (WORD feature : {WORD(8), WORD(2058)}) {
        std::string path;
        AddKey(19, &path, 0xF408, KEYLINQ_USB_VENDOR_ID, feature);
        VEMU_HANDLE h = nullptr;
        EXPECT_EQ(0x80070032u, VEmuOpenDevice(VEMU_DRIVER_HID, path.c_str(), &h)) << feature;
        EXPECT_EQ(nullptr, h);
    }
}

TEST_F(HidTransportTest, FramesTravelWholeInTheirReports) {
    std::string path;
    uint32_t id = AddKey(19, &path);
    ASSERT_EQ(0u, VEmuOpenDevice(VEMU_DRIVER_HID, path.c_str(), &handle));
    // Frames of 8, 9, 40, 41 and 328 bytes: reports 1, 2, 2, 3 and 11.
    for (size_t body : {0u, 1u, 32u, 33u, 320u}) {
        ASSERT_EQ(0u, Send(ChipSNFrame(body))) << body;
        ASSERT_EQ(20u, replyLen);
        EXPECT_EQ(0x90, reply[0]);
        EXPECT_EQ(0x10, reply[3]);
        std::vector<vk::RecordEntry> record = Record(id);
        ASSERT_FALSE(record.empty());
        EXPECT_EQ(body, record.back().bodyLength);
        EXPECT_EQ(std::vector<uint8_t>(body, 0xA5), record.back().data);
    }
    // 329 bytes do not fit report 11: refused before anything is sent.
    ASSERT_EQ(0u, control.ClearRecord(id));
    EXPECT_EQ(0x80070057u, Send(ChipSNFrame(321)));
    EXPECT_TRUE(Record(id).empty());
}

TEST_F(HidTransportTest, RefusesRepliesLongerThanTheReportOrTheRoom) {
    std::string path;
    uint32_t id = AddKey(19, &path);
    ASSERT_EQ(0u, VEmuOpenDevice(VEMU_DRIVER_HID, path.c_str(), &handle));
    // 324 data bytes fill report 11 exactly; 325 announce more than it carries.
    ASSERT_EQ(0u, control.ForceReply(id, 0x04, 0x9000, std::vector<uint8_t>(324, 7)));
    ASSERT_EQ(0u, Send(ChipSNFrame(0)));
    EXPECT_EQ(328u, replyLen);
    ASSERT_EQ(0u, control.ForceReply(id, 0x04, 0x9000, std::vector<uint8_t>(325, 7)));
    EXPECT_EQ(0x80070103u, Send(ChipSNFrame(0)));

    BYTE small[19];
    DWORD smallLen = sizeof small;
    std::vector<BYTE> frame = ChipSNFrame(0);
    EXPECT_EQ(0x80070103u, VEmuSendCommand(handle, frame.data(), 8, small, &smallLen, 5));
    smallLen = 20;
    EXPECT_EQ(0u, VEmuSendCommand(handle, frame.data(), 8, reply, &smallLen, 5));
}

TEST_F(HidTransportTest, PollsABusyKeyAndMakesUpTheTimeOutReply) {
    std::string path;
    uint32_t id = AddKey(19, &path);
    ASSERT_EQ(0u, VEmuOpenDevice(VEMU_DRIVER_HID, path.c_str(), &handle));

    // Three busy reads: waits of 2, 8 and 40 ms, then the reply.
    ASSERT_EQ(0u, control.Busy(id, 3));
    DWORD start = GetTickCount();
    ASSERT_EQ(0u, Send(ChipSNFrame(0)));
    EXPECT_GE(GetTickCount() - start, 45u);
    EXPECT_EQ(20u, replyLen);
    EXPECT_EQ(0x90, reply[0]);

    // Busy for ever: after the time-out the reply is 05 B4 00 00 and the send succeeds.
    ASSERT_EQ(0u, control.Busy(id, 0xFFFFFFFF));
    start = GetTickCount();
    ASSERT_EQ(0u, Send(ChipSNFrame(0), 1));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 1000u);
    EXPECT_LT(elapsed, 5000u);
    ASSERT_EQ(4u, replyLen);
    EXPECT_EQ(0, std::memcmp(reply, "\x05\xB4\x00\x00", 4));
    ASSERT_EQ(0u, control.Reset(id));
}

TEST_F(HidTransportTest, PulledKeyFailsTheSendAndStillCloses) {
    std::string path;
    uint32_t id = AddKey(19, &path);
    ASSERT_EQ(0u, VEmuOpenDevice(VEMU_DRIVER_HID, path.c_str(), &handle));
    ASSERT_EQ(0u, control.Unplug(id));
    EXPECT_EQ(0x8007048Fu, Send(ChipSNFrame(0)));  // ERROR_DEVICE_NOT_CONNECTED
    EXPECT_EQ(0u, VEmuCloseDevice(handle));
    handle = nullptr;
    VEMU_HANDLE again = nullptr;
    EXPECT_EQ(0x80070201u, VEmuOpenDevice(VEMU_DRIVER_HID, path.c_str(), &again));
}

}  // namespace
