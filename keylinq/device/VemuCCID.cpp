#include "VemuCCID.h"

#include <cstring>
#include <new>
#include <vector>

#include "DeviceResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"VemuCCID"

namespace {

const char* const FUNCTIONS[] = {"SCardEstablishContext", "SCardReleaseContext", "SCardIsValidContext",
                                 "SCardListReadersW",     "SCardConnectA",       "SCardFreeMemory",
                                 "SCardReconnect",        "SCardDisconnect",     "SCardTransmit",
                                 "SCardGetAttrib"};
constexpr size_t FUNCTION_COUNT = sizeof FUNCTIONS / sizeof FUNCTIONS[0];

constexpr DWORD PROTOCOLS = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;
constexpr DWORD PIECE_LEN = 255;
constexpr DWORD MAX_READERS_EXAMINED = 10;
constexpr int READER_NAME_BYTES = 128;
constexpr DWORD ATR_BUFFER_LEN = 260;
constexpr BYTE CLA_LAST = 0x80;
constexpr BYTE CLA_MORE = 0x90;
constexpr BYTE INS_TUNNEL = 0x10;
constexpr BYTE SW1_MORE_DATA = 0x61;
constexpr WORD SW_OK = 0x9000;

// The key's readers: names with "VARNO " and "CCID".
bool Qualifies(const wchar_t* name) { return wcsstr(name, L"VARNO ") && wcsstr(name, L"CCID"); }

}  // namespace

CVemuCCID::CVemuCCID()
    : CVemuDriver(VEMU_DRIVER_CCID),
      m_hWinSCard(nullptr),
      m_pfnEstablishContext(nullptr),
      m_pfnReleaseContext(nullptr),
      m_pfnIsValidContext(nullptr),
      m_pfnListReadersW(nullptr),
      m_pfnConnectA(nullptr),
      m_pfnFreeMemory(nullptr),
      m_pfnReconnect(nullptr),
      m_pfnDisconnect(nullptr),
      m_pfnTransmit(nullptr),
      m_pfnGetAttrib(nullptr) {
    m_hDevice = nullptr;
    FARPROC addresses[FUNCTION_COUNT] = {};
    m_hWinSCard = LoadSystemLibrary(L"WinSCard.dll", FUNCTIONS, FUNCTION_COUNT, addresses, nullptr);
    if (!m_hWinSCard) return;
    m_pfnEstablishContext = ProcAs<EstablishContextFn>(addresses[0]);
    m_pfnReleaseContext = ProcAs<ReleaseContextFn>(addresses[1]);
    m_pfnIsValidContext = ProcAs<IsValidContextFn>(addresses[2]);
    m_pfnListReadersW = ProcAs<ListReadersWFn>(addresses[3]);
    m_pfnConnectA = ProcAs<ConnectAFn>(addresses[4]);
    m_pfnFreeMemory = ProcAs<FreeMemoryFn>(addresses[5]);
    m_pfnReconnect = ProcAs<ReconnectFn>(addresses[6]);
    m_pfnDisconnect = ProcAs<DisconnectFn>(addresses[7]);
    m_pfnTransmit = ProcAs<TransmitFn>(addresses[8]);
    m_pfnGetAttrib = ProcAs<GetAttribFn>(addresses[9]);
}

CVemuCCID::~CVemuCCID() {
    TraceStepLine(L"CVemuCCID", L"Destructor");
    if (Record()) VEmuCloseDevice();
    if (m_hWinSCard) DevicePlatform::FreeLibrary(m_hWinSCard);
}

uint32_t CVemuCCID::VEmuOpenDevice(const char* devicePath) {
    TRACE_NAME(L"CVemuCCID::VEmuOpenDevice");
    uint32_t hr = 0;
    Connection* record = nullptr;
    SCARDCONTEXT context = 0;
    bool haveContext = false;
    SCARDHANDLE card = 0;
    DWORD protocol = 0;

    CHECK_GOTO(!m_hWinSCard, L"CHECK m_hWinSCard", VEMU_E_NO_LIBRARY);
    CHECK_GOTO(!devicePath, L"CHECK devicePath", VEMU_E_INVALID_ARG);
    record = new (std::nothrow) Connection();
    CHECK_GOTO(!record, L"New Connection", VEMU_E_OUT_OF_MEMORY);
    hr = uint32_t(m_pfnEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context));
    CHECK_GOTO(hr != 0, L"SCardEstablishContext", hr);
    haveContext = true;
    hr = uint32_t(m_pfnIsValidContext(context));
    CHECK_GOTO(hr != 0, L"SCardIsValidContext", hr);
    hr = uint32_t(m_pfnConnectA(context, devicePath, SCARD_SHARE_SHARED, PROTOCOLS, &card, &protocol));
    CHECK_GOTO(hr != 0, L"SCardConnectA", hr);
    CHECK_GOTO(card == 0, L"CHECK card", FoldedLastError());
    record->context = context;
    record->card = card;
    record->protocol = protocol;
    m_hDevice = record;
    record = nullptr;
    haveContext = false;
exit:
    if (haveContext) m_pfnReleaseContext(context);
    delete record;
    return hr;
}

uint32_t CVemuCCID::VEmuCloseDevice() {
    TRACE_NAME(L"CVemuCCID::VEmuCloseDevice");
    uint32_t hr = 0;
    Connection* record = Record();
    CHECK_GOTO(!record, L"CHECK m_hDevice", VEMU_E_NOT_CONNECTED);
    CHECK_GOTO(!m_hWinSCard, L"CHECK m_hWinSCard", VEMU_E_NO_LIBRARY);
    hr = uint32_t(m_pfnDisconnect(record->card, SCARD_LEAVE_CARD));
    CHECK_GOTO(hr != 0, L"SCardDisconnect", hr);
    record->card = 0;
    hr = uint32_t(m_pfnReleaseContext(record->context));
    CHECK_GOTO(hr != 0, L"SCardReleaseContext", hr);
    delete record;
    m_hDevice = nullptr;
exit:
    return hr;
}

uint32_t CVemuCCID::VEmuGetDeviceID(const char* devicePath, WORD* vendorId, WORD* productId) {
    TRACE_NAME(L"CVemuCCID::VEmuGetDeviceID");
    uint32_t hr = 0;
    HANDLE kept = m_hDevice;
    BYTE atr[ATR_BUFFER_LEN] = {};
    DWORD atrLen = sizeof atr;

    m_hDevice = nullptr;
    hr = VEmuOpenDevice(devicePath);
    CHECK_GOTO(hr != 0, L"VEmuOpenDevice", hr);
    CHECK_GOTO(!Record(), L"CHECK m_hDevice", VEMU_E_NO_DEVICE);
    hr = uint32_t(m_pfnGetAttrib(Record()->card, SCARD_ATTR_ATR_STRING, atr, &atrLen));
    CHECK_GOTO(hr != 0, L"SCardGetAttrib", hr);
    // The product id sits in bytes 6 and 7: a shorter ATR names none.
    CHECK_GOTO(atrLen < 8 || atrLen > sizeof atr, L"CHECK atrLen", VEMU_E_NO_DEVICE);
    if (productId) *productId = WORD(atr[6] << 8 | atr[7]);
    if (vendorId) *vendorId = KEYLINQ_USB_VENDOR_ID;
exit:
    if (Record()) VEmuCloseDevice();
    m_hDevice = kept;
    return hr;
}

uint32_t CVemuCCID::VEmuEnumDevice(WORD /*vendorId*/, WORD productId, char* list, DWORD* size) {
    TRACE_NAME(L"CVemuCCID::VEmuEnumDevice");
    uint32_t hr = 0;
    SCARDCONTEXT context = 0;
    bool haveContext = false;
    LPWSTR readers = nullptr;
    DWORD readersLen = SCARD_AUTOALLOCATE;
    DWORD used = 0;
    DWORD room = 0;
    uint32_t released = 0;

    CHECK_GOTO(!m_hWinSCard, L"CHECK m_hWinSCard", VEMU_E_NO_LIBRARY);
    CHECK_GOTO(!size || (!list && *size), L"CHECK list", VEMU_E_INVALID_ARG);
    room = *size;
    hr = uint32_t(m_pfnEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context));
    CHECK_GOTO(hr != 0, L"SCardEstablishContext", hr);
    haveContext = true;
    hr = uint32_t(m_pfnIsValidContext(context));
    CHECK_GOTO(hr != 0, L"SCardIsValidContext", hr);
    hr = uint32_t(m_pfnListReadersW(context, nullptr, reinterpret_cast<LPWSTR>(&readers), &readersLen));
    CHECK_GOTO(hr != 0, L"SCardListReadersW", hr);

    {
        const wchar_t* name = readers;
        for (DWORD examined = 0; name && *name && examined < MAX_READERS_EXAMINED && used < room;
             ++examined, name += wcslen(name) + 1) {
            if (!Qualifies(name)) continue;
            char ansi[READER_NAME_BYTES] = {};
            if (WideCharToMultiByte(CP_ACP, 0, name, -1, ansi, sizeof ansi, nullptr, nullptr) == 0) continue;
            WORD vid = 0, pid = 0;
            // A reader that cannot be identified (no card, no connection, no
            // usable ATR) is not the key's: it is skipped.
            if (VEmuGetDeviceID(ansi, &vid, &pid) != 0) continue;
            if (pid != productId && productId != 0xF000) continue;
            if (!AppendPath(list, room, used, ansi)) break;
        }
    }
    CloseList(list, used, size);
exit:
    // The reader list and the context go on every path; their failures are reported.
    if (readers) {
        released = uint32_t(m_pfnFreeMemory(context, readers));
        if (hr == 0 && released != 0) hr = released;
    }
    if (haveContext) {
        released = uint32_t(m_pfnReleaseContext(context));
        if (hr == 0 && released != 0) hr = released;
    }
    return hr;
}

uint32_t CVemuCCID::Transmit(const BYTE* apdu, DWORD apduLen, BYTE* answer, DWORD* answerLen) {
    Connection* record = Record();
    SCARD_IO_REQUEST pci = {record->protocol, sizeof(SCARD_IO_REQUEST)};
    const DWORD room = *answerLen;
    LONG rc = m_pfnTransmit(record->card, &pci, apdu, apduLen, nullptr, answer, answerLen);
    if (rc == LONG(SCARD_W_RESET_CARD)) {
        DWORD protocol = record->protocol;
        rc = m_pfnReconnect(record->card, SCARD_SHARE_SHARED, PROTOCOLS, SCARD_LEAVE_CARD, &protocol);
        if (rc != SCARD_S_SUCCESS) return uint32_t(rc);
        record->protocol = protocol;
        pci.dwProtocol = protocol;
        *answerLen = room;
        rc = m_pfnTransmit(record->card, &pci, apdu, apduLen, nullptr, answer, answerLen);
    }
    return uint32_t(rc);
}

uint32_t CVemuCCID::VEmuSendCommand(const BYTE* frame, DWORD frameLen, BYTE* reply, DWORD* replyLen,
                                   DWORD /*timeoutSeconds*/) {
    TRACE_NAME(L"CVemuCCID::VEmuSendCommand");
    uint32_t hr = 0;
    std::vector<BYTE> data;  // the data of the current piece's answers, without status words
    BYTE apdu[5 + PIECE_LEN];
    BYTE answer[VEMU_FRAME_BUFFER_LEN + 2];
    DWORD offset = 0;
    WORD sw = 0;

    CHECK_GOTO(!Record(), L"CHECK m_hDevice", VEMU_E_NO_DEVICE);
    CHECK_GOTO(!m_hWinSCard, L"CHECK m_hWinSCard", VEMU_E_NO_LIBRARY);
    CHECK_GOTO(!frame || !reply || !replyLen, L"CHECK arguments", VEMU_E_INVALID_ARG);
    do {
        const DWORD piece = frameLen - offset > PIECE_LEN ? PIECE_LEN : frameLen - offset;
        const bool last = offset + piece == frameLen;
        apdu[0] = last ? CLA_LAST : CLA_MORE;
        apdu[1] = INS_TUNNEL;
        apdu[2] = 0;
        apdu[3] = 0;
        apdu[4] = BYTE(piece);
        std::memcpy(apdu + 5, frame + offset, piece);
        offset += piece;
        data.clear();

        DWORD answerLen = sizeof answer;
        hr = Transmit(apdu, 5 + piece, answer, &answerLen);
        CHECK_GOTO(hr != 0, L"SCardTransmit", hr);
        for (;;) {
            // No status word: no answer at all.
            CHECK_GOTO(answerLen < 2, L"CHECK answerLen", VEMU_E_BAD_ANSWER);
            sw = WORD(answer[answerLen - 2] << 8 | answer[answerLen - 1]);
            // Data past the receive buffer are refused, never cut.
            CHECK_GOTO(data.size() + answerLen - 2 > VEMU_FRAME_BUFFER_LEN, L"CHECK received data",
                       VEMU_E_DOES_NOT_FIT);
            data.insert(data.end(), answer, answer + answerLen - 2);
            if ((sw >> 8) != SW1_MORE_DATA) break;
            const BYTE le = BYTE(sw);
            const BYTE getResponse[5] = {0x80, 0xC0, 0x00, 0x00, le};
            answerLen = DWORD(le ? le : 256) + 2;
            hr = Transmit(getResponse, sizeof getResponse, answer, &answerLen);
            CHECK_GOTO(hr != 0, L"SCardTransmit GET RESPONSE", hr);
            // An answer that adds no data would repeat for ever.
            CHECK_GOTO(answerLen <= 2, L"CHECK GET RESPONSE data", VEMU_E_BAD_ANSWER);
        }
        // Any other status word is the card's own, 0x8000xxxx as every
        // status word of the key; 0000 is no status at all.
        CHECK_GOTO(sw == 0, L"CHECK SW", VEMU_E_BAD_ANSWER);
        CHECK_GOTO(sw != SW_OK, L"CHECK SW", 0x80000000u | sw);
    } while (offset < frameLen);

    CHECK_GOTO(data.size() > *replyLen, L"CHECK *replyLen", VEMU_E_DOES_NOT_FIT);
    if (!data.empty()) std::memcpy(reply, data.data(), data.size());
    *replyLen = DWORD(data.size());
exit:
    return hr;
}
