#include "VemuWinUSB.h"

#include <cstring>
#include <new>

#include "DeviceResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"VemuWinUSB"

namespace {

// GUID_DEVINTERFACE_USB_DEVICE
const GUID USB_DEVICE_INTERFACE = {0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};

const char* const FUNCTIONS[] = {"WinUsb_Initialize",   "WinUsb_Free",          "WinUsb_GetDescriptor",
                                 "WinUsb_QueryInterfaceSettings", "WinUsb_QueryPipe", "WinUsb_SetPipePolicy",
                                 "WinUsb_ReadPipe",     "WinUsb_WritePipe"};
constexpr size_t FUNCTION_COUNT = sizeof FUNCTIONS / sizeof FUNCTIONS[0];

constexpr ULONG PIPE_TIMEOUT_MS = 180000;
constexpr DWORD WRAPPER_LEN = 12;
constexpr WORD DIRECTION_COMMAND = 2;
constexpr WORD DIRECTION_REPLY = 1;
constexpr WORD OPERATION_COMMAND = 0x9090;
constexpr WORD OPERATION_REPLY = 0x9091;
constexpr DWORD DEVICE_DESCRIPTOR_LEN = 18;

void PutWrapper(BYTE* w, DWORD length, WORD direction, WORD operation, DWORD tag) {
    for (int i = 0; i < 4; ++i) w[i] = BYTE(length >> (8 * i));
    w[4] = BYTE(direction);
    w[5] = BYTE(direction >> 8);
    w[6] = BYTE(operation);
    w[7] = BYTE(operation >> 8);
    for (int i = 0; i < 4; ++i) w[8 + i] = BYTE(tag >> (8 * i));
}

DWORD Le32(const BYTE* p) { return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24; }

}  // namespace

CVemuWinUSB::CVemuWinUSB()
    : CVemuDriver(VEMU_DRIVER_WINUSB),
      m_hWinUsb(nullptr),
      m_pfnInitialize(nullptr),
      m_pfnFree(nullptr),
      m_pfnGetDescriptor(nullptr),
      m_pfnQueryInterfaceSettings(nullptr),
      m_pfnQueryPipe(nullptr),
      m_pfnSetPipePolicy(nullptr),
      m_pfnReadPipe(nullptr),
      m_pfnWritePipe(nullptr) {
    m_hDevice = nullptr;
    FARPROC addresses[FUNCTION_COUNT] = {};
    m_hWinUsb = LoadSystemLibrary(L"winusb.dll", FUNCTIONS, FUNCTION_COUNT, addresses, nullptr);
    if (!m_hWinUsb) return;
    m_pfnInitialize = ProcAs<InitializeFn>(addresses[0]);
    m_pfnFree = ProcAs<FreeFn>(addresses[1]);
    m_pfnGetDescriptor = ProcAs<GetDescriptorFn>(addresses[2]);
    m_pfnQueryInterfaceSettings = ProcAs<QueryInterfaceSettingsFn>(addresses[3]);
    m_pfnQueryPipe = ProcAs<QueryPipeFn>(addresses[4]);
    m_pfnSetPipePolicy = ProcAs<SetPipePolicyFn>(addresses[5]);
    m_pfnReadPipe = ProcAs<ReadPipeFn>(addresses[6]);
    m_pfnWritePipe = ProcAs<WritePipeFn>(addresses[7]);
}

CVemuWinUSB::~CVemuWinUSB() {
    TraceStepLine(L"CVemuWinUSB", L"Destructor");
    // A connection still open goes with the transport.
    if (Record()) VEmuCloseDevice();
    if (m_hWinUsb) DevicePlatform::FreeLibrary(m_hWinUsb);
}

uint32_t CVemuWinUSB::VEmuEnumDevice(WORD vendorId, WORD productId, char* list, DWORD* size) {
    return EnumDeviceName(&USB_DEVICE_INTERFACE, vendorId, productId, list, size);
}

uint32_t CVemuWinUSB::VEmuOpenDevice(const char* devicePath) {
    TRACE_NAME(L"CVemuWinUSB::VEmuOpenDevice");
    uint32_t hr = 0;
    HANDLE file = INVALID_HANDLE_VALUE;
    WINUSB_INTERFACE_HANDLE usb = nullptr;
    USB_INTERFACE_DESCRIPTOR settings = {};
    Connection* record = nullptr;

    CHECK_GOTO(!m_hWinUsb, L"CHECK m_hWinUsb", VEMU_E_NO_LIBRARY);
    hr = OpenDevice(devicePath, &file);
    CHECK_GOTO(hr != 0, L"OpenDevice", FoldResult(hr));
    CHECK_GOTO(!m_pfnInitialize(file, &usb), L"WinUsb_Initialize", FoldedLastError());
    CHECK_GOTO(!m_pfnQueryInterfaceSettings(usb, 0, &settings), L"WinUsb_QueryInterfaceSettings", FoldedLastError());
    record = new (std::nothrow) Connection();
    CHECK_GOTO(!record, L"New Connection", VEMU_E_OUT_OF_MEMORY);
    for (UCHAR i = 0; i < settings.bNumEndpoints; ++i) {
        WINUSB_PIPE_INFORMATION pipe = {};
        CHECK_GOTO(!m_pfnQueryPipe(usb, 0, i, &pipe), L"WinUsb_QueryPipe", FoldedLastError());
        if (pipe.PipeType != UsbdPipeTypeBulk) continue;
        if (pipe.PipeId & 0x80) {
            record->pipeIn = pipe.PipeId;
            UCHAR autoClear = TRUE;
            ULONG timeout = PIPE_TIMEOUT_MS;
            CHECK_GOTO(!m_pfnSetPipePolicy(usb, pipe.PipeId, AUTO_CLEAR_STALL, sizeof autoClear, &autoClear),
                       L"WinUsb_SetPipePolicy AUTO_CLEAR_STALL", FoldedLastError());
            CHECK_GOTO(!m_pfnSetPipePolicy(usb, pipe.PipeId, PIPE_TRANSFER_TIMEOUT, sizeof timeout, &timeout),
                       L"WinUsb_SetPipePolicy PIPE_TRANSFER_TIMEOUT", FoldedLastError());
        } else {
            record->pipeOut = pipe.PipeId;
        }
    }
    // Without both bulk pipes no command can travel.
    CHECK_GOTO(!record->pipeIn || !record->pipeOut, L"CHECK bulk pipes", VEMU_E_NO_DEVICE);
    record->usb = usb;
    record->file = file;
    record->tag = 0;
    m_hDevice = record;
    record = nullptr;
    usb = nullptr;
    file = INVALID_HANDLE_VALUE;
exit:
    if (usb) m_pfnFree(usb);
    if (file != INVALID_HANDLE_VALUE) DevicePlatform::CloseHandle(file);
    delete record;
    return hr;
}

uint32_t CVemuWinUSB::VEmuCloseDevice() {
    Connection* record = Record();
    if (record) {
        if (m_hWinUsb && record->usb) m_pfnFree(record->usb);
        if (record->file != INVALID_HANDLE_VALUE && record->file) DevicePlatform::CloseHandle(record->file);
        delete record;
        m_hDevice = nullptr;
    }
    return 0;
}

uint32_t CVemuWinUSB::VEmuGetDeviceID(const char* devicePath, WORD* vendorId, WORD* productId) {
    TRACE_NAME(L"CVemuWinUSB::VEmuGetDeviceID");
    uint32_t hr = 0;
    HANDLE kept = m_hDevice;
    BYTE descriptor[DEVICE_DESCRIPTOR_LEN] = {};
    ULONG got = 0;

    m_hDevice = nullptr;
    hr = VEmuOpenDevice(devicePath);
    CHECK_GOTO(hr != 0, L"VEmuOpenDevice", hr);
    CHECK_GOTO(!Record(), L"CHECK m_hDevice", VEMU_E_NO_DEVICE);
    CHECK_GOTO(!m_pfnGetDescriptor(Record()->usb, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, descriptor, sizeof descriptor, &got) ||
                   got < sizeof descriptor,
               L"WinUsb_GetDescriptor", VEMU_E_NO_DEVICE);
    if (vendorId) *vendorId = WORD(descriptor[8] | descriptor[9] << 8);
    if (productId) *productId = WORD(descriptor[10] | descriptor[11] << 8);
exit:
    VEmuCloseDevice();
    m_hDevice = kept;
    return hr;
}

uint32_t CVemuWinUSB::Write(const BYTE* data, DWORD length) {
    ULONG written = 0;
    if (!m_pfnWritePipe(Record()->usb, Record()->pipeOut, const_cast<PUCHAR>(data), length, &written, nullptr))
        return FoldedLastError();
    return written == length ? 0 : FoldResult(ERROR_WRITE_FAULT);
}

uint32_t CVemuWinUSB::Read(BYTE* data, DWORD length, DWORD* got) {
    ULONG read = 0;
    if (!m_pfnReadPipe(Record()->usb, Record()->pipeIn, data, length, &read, nullptr)) return FoldedLastError();
    *got = read;
    return 0;
}

uint32_t CVemuWinUSB::VEmuSendCommand(const BYTE* frame, DWORD frameLen, BYTE* reply, DWORD* replyLen,
                                     DWORD /*timeoutSeconds*/) {
    TRACE_NAME(L"CVemuWinUSB::VEmuSendCommand");
    uint32_t hr = 0;
    BYTE buffer[VEMU_FRAME_BUFFER_LEN] = {};
    BYTE wrapper[WRAPPER_LEN] = {};
    DWORD got = 0;
    DWORD announced = 0;
    Connection* record = Record();

    CHECK_GOTO(!record, L"CHECK m_hDevice", VEMU_E_NO_DEVICE);
    CHECK_GOTO(!m_hWinUsb, L"CHECK m_hWinUsb", VEMU_E_NO_LIBRARY);
    CHECK_GOTO(!frame || !reply || !replyLen, L"CHECK arguments", VEMU_E_INVALID_ARG);
    // A frame the buffer cannot hold is refused before anything is sent.
    CHECK_GOTO(frameLen > sizeof buffer, L"CHECK frameLen", VEMU_E_INVALID_ARG);
    std::memcpy(buffer, frame, frameLen);
    ++record->tag;

    PutWrapper(wrapper, frameLen + WRAPPER_LEN, DIRECTION_COMMAND, OPERATION_COMMAND, record->tag);
    hr = Write(wrapper, WRAPPER_LEN);
    CHECK_GOTO(hr != 0, L"WinUsb_WritePipe command wrapper", hr);
    hr = Write(buffer, frameLen);
    CHECK_GOTO(hr != 0, L"WinUsb_WritePipe frame", hr);

    hr = Read(wrapper, WRAPPER_LEN, &got);
    CHECK_GOTO(hr != 0, L"WinUsb_ReadPipe status wrapper", hr);
    CHECK_GOTO(got < WRAPPER_LEN, L"CHECK status wrapper length", VEMU_E_BAD_ANSWER);
    CHECK_GOTO(Le32(wrapper + 8) != record->tag, L"CHECK status wrapper tag", VEMU_E_STALE_TAG);

    std::memset(buffer, 0, sizeof buffer);
    wrapper[4] = BYTE(DIRECTION_REPLY);
    wrapper[5] = BYTE(DIRECTION_REPLY >> 8);
    wrapper[6] = BYTE(OPERATION_REPLY);
    wrapper[7] = BYTE(OPERATION_REPLY >> 8);
    hr = Write(wrapper, WRAPPER_LEN);
    CHECK_GOTO(hr != 0, L"WinUsb_WritePipe reply request", hr);

    hr = Read(wrapper, WRAPPER_LEN, &got);
    CHECK_GOTO(hr != 0, L"WinUsb_ReadPipe reply wrapper", hr);
    CHECK_GOTO(got < WRAPPER_LEN, L"CHECK reply wrapper length", VEMU_E_BAD_ANSWER);
    // A reply announced longer than the buffer is refused, never cut.
    announced = Le32(wrapper);
    CHECK_GOTO(announced > sizeof buffer, L"CHECK announced length", VEMU_E_DOES_NOT_FIT);
    got = 0;
    if (announced) {
        hr = Read(buffer, announced, &got);
        CHECK_GOTO(hr != 0, L"WinUsb_ReadPipe reply", hr);
    }
    CHECK_GOTO(got > *replyLen, L"CHECK *replyLen", VEMU_E_DOES_NOT_FIT);
    std::memcpy(reply, buffer, got);
    *replyLen = got;
exit:
    return hr;
}
