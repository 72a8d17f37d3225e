// The WinUSB and mass-storage transports against the virtual key: the
// wrappers and pass-through requests as the key read them, identification,
// and the buffer bounds of every transport.
#include <cstring>

#include "TransportTestSupport.h"
// After windows.h.
#include <ntddscsi.h>

#include "VemuMassStorage.h"
#include "VemuWinUSB.h"
#include "VirtualPlatformControl.h"

namespace {

namespace Virtual = DevicePlatform::Virtual;

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

TEST_F(TransportTest, WinUsbWrappersCarryTheirTagAndTheInPipeItsPolicies) {
    std::string path;
    uint32_t id = AddTransportKey(VEMU_DRIVER_WINUSB, &path);
    OpenTransport link(VEMU_DRIVER_WINUSB, path);
    ASSERT_EQ(0u, link.result);

    // Opening set the bulk IN pipe's two policies, nothing on the others.
    std::vector<TransportUnit> policies = Units(id, vk::UNIT_POLICY);
    ASSERT_EQ(2u, policies.size());
    EXPECT_EQ((std::vector<uint8_t>{0x81, 0, 0, 0, AUTO_CLEAR_STALL, 0, 0, 0, 1}), policies[0].bytes);
    EXPECT_EQ((std::vector<uint8_t>{0x81, 0, 0, 0, PIPE_TRANSFER_TIMEOUT, 0, 0x02, 0xBF, 0x20}), policies[1].bytes);

    std::vector<uint8_t> reply;
    const std::vector<uint8_t> frames[] = {PlainFrame(0x04, 0x01, 32), PlainFrame(0x04, 0x02, 16)};
    for (const std::vector<uint8_t>& frame : frames) ASSERT_EQ(0u, link.Send(frame, reply));
    EXPECT_EQ(20u, reply.size());
    std::vector<TransportUnit> wrappers = Units(id, vk::UNIT_WRAPPER);
    ASSERT_EQ(4u, wrappers.size());
    for (uint32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const std::vector<uint8_t>& w = wrappers[i].bytes;
        ASSERT_EQ(12u, w.size());
        EXPECT_EQ(uint32_t(frames[i / 2].size() + 12), Le32(w, 0));
        const bool request = i % 2 == 1;
        EXPECT_EQ(request ? 1 : 2, w[4] | w[5] << 8);
        EXPECT_EQ(request ? 0x9091 : 0x9090, w[6] | w[7] << 8);
        EXPECT_EQ(i / 2 + 1, Le32(w, 8));
    }

    // A status wrapper of another command: no reply request is sent.
    ASSERT_EQ(0u, control.ClearRecord(id));
    ASSERT_EQ(0u, transports.UsbStatus(id, 1));
    EXPECT_EQ(0x80070117u, link.Send(frames[0], reply));
    wrappers = Units(id, vk::UNIT_WRAPPER);
    ASSERT_EQ(1u, wrappers.size());
    EXPECT_EQ(3u, Le32(wrappers[0].bytes, 8));
    EXPECT_EQ(0u, link.Send(frames[0], reply)) << "the next command goes through";
    EXPECT_EQ(4u, Le32(Units(id, vk::UNIT_WRAPPER)[1].bytes, 8));
}

TEST_F(TransportTest, MassStorageSendsTwoPassThroughsAsTheKeyReadsThem) {
    std::string path;
    uint32_t id = AddTransportKey(VEMU_DRIVER_MASS_STORAGE, &path);
    OpenTransport link(VEMU_DRIVER_MASS_STORAGE, path);
    ASSERT_EQ(0u, link.result);
    const std::vector<uint8_t> frame = PlainFrame(0x04, 0x01, 32);
    std::vector<uint8_t> reply;
    ASSERT_EQ(0u, link.Send(frame, reply));
    EXPECT_EQ(36u, reply.size());

    std::vector<TransportUnit> cdbs = Units(id, vk::UNIT_CDB);
    ASSERT_EQ(2u, cdbs.size());
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const std::vector<uint8_t>& u = cdbs[i].bytes;
        ASSERT_EQ(17u + 10u, u.size());
        EXPECT_EQ(sizeof(SCSI_PASS_THROUGH_DIRECT), size_t(u[0] << 8 | u[1]));
        EXPECT_EQ(10, u[2]);                                      // CDB length
        EXPECT_EQ(24, u[3]);                                      // sense length
        EXPECT_EQ(i == 0 ? SCSI_IOCTL_DATA_OUT : SCSI_IOCTL_DATA_IN, u[4]);
        EXPECT_EQ(i == 0 ? frame.size() : 2080u, Be32(u, 5));    // transfer length
        EXPECT_EQ(180u, Be32(u, 9));                              // time-out in seconds
        EXPECT_EQ(sizeof(SCSI_PASS_THROUGH_DIRECT) + 4, Be32(u, 13));  // sense behind the structure and filler
        std::vector<uint8_t> cdb(10, 0);
        cdb[0] = 0xFF;
        EXPECT_EQ(cdb, std::vector<uint8_t>(u.begin() + 17, u.end()));
    }

    // A device that refuses the command: the send fails rather than take
    // the reply of the command before.
    ASSERT_EQ(0u, control.ClearRecord(id));
    ASSERT_EQ(0u, transports.ScsiStatus(id, 0x02));
    EXPECT_EQ(0x8007001Fu, link.Send(PlainFrame(0x04, 0x02, 16), reply));
    EXPECT_EQ(1u, Units(id, vk::UNIT_CDB).size()) << "no data-in after a failed data-out";
    ASSERT_EQ(0u, link.Send(PlainFrame(0x04, 0x02, 16), reply));
    EXPECT_EQ(20u, reply.size());
}

TEST_F(TransportTest, MassStorageAndWinUsbKeysAreIdentifiedByTheirUsbDevice) {
    std::string cdrom, cdromOther, usb, usbOther;
    AddTransportKey(VEMU_DRIVER_MASS_STORAGE, &cdrom);
    AddTransportKey(VEMU_DRIVER_MASS_STORAGE, &cdromOther, 0xF4AB);
    AddTransportKey(VEMU_DRIVER_WINUSB, &usb);
    AddTransportKey(VEMU_DRIVER_WINUSB, &usbOther, 0xF4AB);

    // The CD-ROM's own instance id names no USB ids: its parent's do.
    EXPECT_EQ((std::vector<std::string>{cdrom}), Listed(VEMU_DRIVER_MASS_STORAGE));
    EXPECT_EQ((std::vector<std::string>{cdrom, cdromOther}), Listed(VEMU_DRIVER_MASS_STORAGE, 0xF000));
    EXPECT_EQ((std::vector<std::string>{usb}), Listed(VEMU_DRIVER_WINUSB));
    EXPECT_EQ((std::vector<std::string>{usb, usbOther}), Listed(VEMU_DRIVER_WINUSB, 0xF000));
    EXPECT_TRUE(Listed(VEMU_DRIVER_HID, 0xF4AB).empty());

    CVemuMassStorage storage;
    WORD vid = 0, pid = 0;
    EXPECT_EQ(0u, storage.VEmuGetDeviceID(cdromOther.c_str(), &vid, &pid));
    EXPECT_EQ(KEYLINQ_USB_VENDOR_ID, vid);
    EXPECT_EQ(0xF4AB, pid);
    vid = pid = 7;
    EXPECT_EQ(0u, storage.VEmuGetDeviceID("\\\\?\\usbstor#cdrom&ven_none#1#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}", &vid,
                                          &pid));
    EXPECT_EQ(7, vid) << "no such interface: the ids stay as they were";

    CVemuWinUSB winusb;
    EXPECT_EQ(0u, winusb.VEmuGetDeviceID(usbOther.c_str(), &vid, &pid));
    EXPECT_EQ(KEYLINQ_USB_VENDOR_ID, vid);
    EXPECT_EQ(0xF4AB, pid);
    EXPECT_EQ(0x80070201u, winusb.VEmuGetDeviceID("\\\\?\\usb#vid_0000&pid_0000#0#{a5dcbf10}", &vid, &pid));
}

// No copy passes its buffer: a reply one byte longer than the room, frames
// and replies beyond the 2080-byte buffers, answers that are too short.
TEST_F(TransportTest, RepliesAndFramesBeyondTheBuffersAreRefused) {
    const DWORD types[] = {VEMU_DRIVER_HID, VEMU_DRIVER_MASS_STORAGE, VEMU_DRIVER_CCID, VEMU_DRIVER_WINUSB};
    for (DWORD type : types) {
        SCOPED_TRACE(type);
        std::string path;
        uint32_t id = AddTransportKey(type, &path);
        OpenTransport link(type, path);
        ASSERT_EQ(0u, link.result);

        // The label reply is 36 bytes: a room of 35 takes nothing.
        std::vector<uint8_t> buffer(35 + 16, 0xA5);
        DWORD room = 35;
        const std::vector<uint8_t> frame = PlainFrame(0x04, 0x01, 32);
        EXPECT_EQ(0x80070103u, VEmuSendCommand(link.handle, frame.data(), DWORD(frame.size()), buffer.data(), &room, 180));
        EXPECT_EQ(std::vector<uint8_t>(buffer.size(), 0xA5), buffer) << "nothing written";

        if (type == VEMU_DRIVER_HID) continue;
        std::vector<uint8_t> reply;
        // A reply of 2100 data bytes does not fit the 2080-byte buffers.
        ASSERT_EQ(0u, control.ForceReply(id, 0x04, 0x9000, std::vector<uint8_t>(2100, 0x11)));
        if (type == VEMU_DRIVER_WINUSB) {
            ASSERT_EQ(0u, transports.UsbAnnounce(id, 2081));
        }
        EXPECT_EQ(0x80070103u, link.Send(frame, reply));
        if (type == VEMU_DRIVER_CCID) continue;

        // A frame longer than the buffer never leaves the host.
        ASSERT_EQ(0u, control.ClearRecord(id));
        EXPECT_EQ(0x80070057u, link.Send(PlainFrame(0x02, 0, 0, std::vector<uint8_t>(2081 - 8, 1)), reply));
        std::vector<TransportUnit> units;
        ASSERT_EQ(0u, transports.Units(id, units));
        EXPECT_TRUE(units.empty());
        EXPECT_TRUE(Record(id).empty());
        if (type == VEMU_DRIVER_WINUSB) {
            ASSERT_EQ(0u, transports.UsbStatus(id, 2));
            EXPECT_EQ(0x8007000Du, link.Send(frame, reply)) << "a status wrapper of 8 bytes";
        }
        EXPECT_EQ(0u, link.Send(frame, reply));
        EXPECT_EQ(36u, reply.size());
    }
}

TEST_F(TransportTest, WithoutItsLibraryOrOneOfItsFunctionsATransportFailsCleanly) {
    std::string reader, usb;
    AddTransportKey(VEMU_DRIVER_CCID, &reader);
    AddTransportKey(VEMU_DRIVER_WINUSB, &usb);
    const struct {
        DWORD type;
        const wchar_t* library;
        const char* function;
        const std::string& path;
    } rows[] = {
        {VEMU_DRIVER_CCID, L"WINSCARD.DLL", nullptr, reader},
        {VEMU_DRIVER_CCID, nullptr, "SCardGetAttrib", reader},
        {VEMU_DRIVER_CCID, nullptr, "SCardEstablishContext", reader},
        {VEMU_DRIVER_WINUSB, L"winusb.dll", nullptr, usb},
        {VEMU_DRIVER_WINUSB, nullptr, "WinUsb_WritePipe", usb},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.function ? row.function : "library");
        Virtual::HideLibrary(row.library);
        Virtual::HideFunction(row.function);
        char list[512];
        DWORD size = sizeof list;
        uint32_t hr = VEmuEnumDevice(row.type, 0, KEYLINQ_USB_PRODUCT_ID, list, &size);
        // The USB device interfaces list without the library.
        EXPECT_EQ(row.type == VEMU_DRIVER_CCID ? 0x80070006u : 0u, hr);
        VEMU_HANDLE handle = nullptr;
        EXPECT_EQ(0x80070006u, VEmuOpenDevice(row.type, row.path.c_str(), &handle));
        EXPECT_EQ(nullptr, handle);
        EXPECT_EQ(0, Virtual::LoadedModules()) << "a library without all its functions is unloaded";
    }
    Virtual::HideLibrary(nullptr);
    Virtual::HideFunction(nullptr);
    OpenTransport link(VEMU_DRIVER_CCID, reader);
    EXPECT_EQ(0u, link.result);
    EXPECT_EQ(1, Virtual::LoadedModules());
}

}  // namespace
