// Test binding of WinSCard.dll: PC/SC over the virtual key. The readers are
// the CCID keys' readers and the readers that tests add; a card handle owns
// a connection to its reader. Contexts and the reader lists allocated for a
// caller are counted, so tests can see that the transport frees them.
#include <winsock2.h>
#include <windows.h>
#include <winscard.h>

#include <mutex>
#include <set>
#include <string>

#include "VirtualDevice.h"
#include "VirtualPlatformControl.h"

namespace DevicePlatform {
namespace Virtual {
namespace {

std::mutex g_lock;
std::set<SCARDCONTEXT> g_contexts;
std::set<const void*> g_allocations;
SCARDCONTEXT g_nextContext = 0x5C00;

bool ValidContext(SCARDCONTEXT context) {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_contexts.count(context) != 0;
}

// A failed request's error: the key's PC/SC code, or a lost connection.
LONG CardError() {
    DWORD error = GetLastError();
    return (error & 0xFFFF0000u) == 0x80100000u ? LONG(error) : LONG(SCARD_W_REMOVED_CARD);
}

LONG WINAPI EstablishContext(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
    if (!context) return SCARD_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> hold(g_lock);
    *context = ++g_nextContext;
    g_contexts.insert(*context);
    return SCARD_S_SUCCESS;
}

LONG WINAPI ReleaseContext(SCARDCONTEXT context) {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_contexts.erase(context) ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

LONG WINAPI IsValidContext(SCARDCONTEXT context) {
    return ValidContext(context) ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

LONG WINAPI ListReadersW(SCARDCONTEXT context, LPCWSTR, LPWSTR readers, LPDWORD length) {
    if (!ValidContext(context)) return SCARD_E_INVALID_HANDLE;
    if (!length) return SCARD_E_INVALID_PARAMETER;
    std::vector<uint8_t> data;
    if (!CallOnce(vk::Writer().u8(vk::OP_LIST_CLASS).u8(vk::TRANSPORT_CCID).take(), data)) return SCARD_E_NO_SERVICE;
    vk::Reader r(data);
    uint16_t count = r.u16();
    std::wstring list;
    for (uint16_t i = 0; i < count && r.ok(); ++i) {
        r.u32();
        r.u16();
        r.u16();
        r.str();
        r.str();
        std::string name = r.str();
        list.append(name.begin(), name.end());
        list.push_back(L'\0');
    }
    if (list.empty()) return SCARD_E_NO_READERS_AVAILABLE;
    list.push_back(L'\0');
    const DWORD needed = DWORD(list.size());
    if (*length == SCARD_AUTOALLOCATE) {
        if (!readers) return SCARD_E_INVALID_PARAMETER;
        auto* copy = new wchar_t[needed];
        std::copy(list.begin(), list.end(), copy);
        {
            std::lock_guard<std::mutex> hold(g_lock);
            g_allocations.insert(copy);
        }
        *reinterpret_cast<LPWSTR*>(readers) = copy;
        *length = needed;
        return SCARD_S_SUCCESS;
    }
    if (readers && *length < needed) {
        *length = needed;
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    if (readers) std::copy(list.begin(), list.end(), readers);
    *length = needed;
    return SCARD_S_SUCCESS;
}

LONG WINAPI FreeMemory(SCARDCONTEXT context, LPCVOID memory) {
    if (!ValidContext(context)) return SCARD_E_INVALID_HANDLE;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        if (!g_allocations.erase(memory)) return SCARD_E_INVALID_PARAMETER;
    }
    delete[] static_cast<const wchar_t*>(memory);
    return SCARD_S_SUCCESS;
}

LONG WINAPI ConnectA(SCARDCONTEXT context, LPCSTR reader, DWORD, DWORD protocols, LPSCARDHANDLE card, LPDWORD active) {
    if (!ValidContext(context)) return SCARD_E_INVALID_HANDLE;
    if (!reader || !card || !active) return SCARD_E_INVALID_PARAMETER;
    if (!(protocols & (SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1))) return SCARD_E_PROTO_MISMATCH;
    DWORD error = 0;
    SOCKET s = OpenConnection(vk::Writer().u8(vk::OP_CCID_CONNECT).str(reader).take(), error);
    if (s == INVALID_SOCKET)
        return (error & 0xFFFF0000u) == 0x80100000u ? LONG(error) : LONG(SCARD_E_UNKNOWN_READER);
    auto h = std::make_shared<VirtualHandle>(HandleKind::Card);
    h->socket = s;
    h->protocol = (protocols & SCARD_PROTOCOL_T1) ? SCARD_PROTOCOL_T1 : SCARD_PROTOCOL_T0;
    *active = h->protocol;
    *card = reinterpret_cast<SCARDHANDLE>(AddHandle(h));
    return SCARD_S_SUCCESS;
}

LONG WINAPI Reconnect(SCARDHANDLE card, DWORD, DWORD, DWORD, LPDWORD active) {
    std::shared_ptr<VirtualHandle> h = FindHandle(reinterpret_cast<void*>(card), HandleKind::Card);
    if (!h) return SCARD_E_INVALID_HANDLE;
    std::vector<uint8_t> data;
    if (!h->Request({vk::OP_CCID_RECONNECT}, data)) return CardError();
    if (active) *active = h->protocol;
    return SCARD_S_SUCCESS;
}

LONG WINAPI Disconnect(SCARDHANDLE card, DWORD) {
    return RemoveHandle(reinterpret_cast<void*>(card), HandleKind::Card) ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

LONG WINAPI Transmit(SCARDHANDLE card, LPCSCARD_IO_REQUEST sendPci, LPCBYTE send, DWORD sendLength,
                     LPSCARD_IO_REQUEST, LPBYTE receive, LPDWORD receiveLength) {
    std::shared_ptr<VirtualHandle> h = FindHandle(reinterpret_cast<void*>(card), HandleKind::Card);
    if (!h) return SCARD_E_INVALID_HANDLE;
    if (!sendPci || !send || !receive || !receiveLength) return SCARD_E_INVALID_PARAMETER;
    // The I/O header names the connection's protocol and its own size.
    if (sendPci->cbPciLength != sizeof(SCARD_IO_REQUEST)) return SCARD_E_INVALID_PARAMETER;
    if (sendPci->dwProtocol != h->protocol) return SCARD_E_PROTO_MISMATCH;
    std::vector<uint8_t> answer;
    if (!h->Request(vk::Writer().u8(vk::OP_CCID_TRANSMIT).bytes(send, sendLength).take(), answer)) return CardError();
    if (answer.size() > *receiveLength) return SCARD_E_INSUFFICIENT_BUFFER;
    std::copy(answer.begin(), answer.end(), receive);
    *receiveLength = DWORD(answer.size());
    return SCARD_S_SUCCESS;
}

LONG WINAPI GetAttrib(SCARDHANDLE card, DWORD attribute, LPBYTE buffer, LPDWORD length) {
    std::shared_ptr<VirtualHandle> h = FindHandle(reinterpret_cast<void*>(card), HandleKind::Card);
    if (!h) return SCARD_E_INVALID_HANDLE;
    if (!length) return SCARD_E_INVALID_PARAMETER;
    if (attribute != SCARD_ATTR_ATR_STRING) return SCARD_E_UNSUPPORTED_FEATURE;
    std::vector<uint8_t> atr;
    if (!h->Request({vk::OP_CCID_ATR}, atr)) return CardError();
    if (buffer && *length < atr.size()) {
        *length = DWORD(atr.size());
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    if (buffer) std::copy(atr.begin(), atr.end(), buffer);
    *length = DWORD(atr.size());
    return SCARD_S_SUCCESS;
}

}  // namespace

std::vector<VirtualFunction> WinSCardFunctions() {
    return {
        {"SCardEstablishContext", AsProc(&EstablishContext)},
        {"SCardReleaseContext", AsProc(&ReleaseContext)},
        {"SCardIsValidContext", AsProc(&IsValidContext)},
        {"SCardListReadersW", AsProc(&ListReadersW)},
        {"SCardConnectA", AsProc(&ConnectA)},
        {"SCardFreeMemory", AsProc(&FreeMemory)},
        {"SCardReconnect", AsProc(&Reconnect)},
        {"SCardDisconnect", AsProc(&Disconnect)},
        {"SCardTransmit", AsProc(&Transmit)},
        {"SCardGetAttrib", AsProc(&GetAttrib)},
    };
}

int OpenPcscContexts() {
    std::lock_guard<std::mutex> hold(g_lock);
    return int(g_contexts.size());
}

int PcscAllocations() {
    std::lock_guard<std::mutex> hold(g_lock);
    return int(g_allocations.size());
}

int OpenCardHandles() { return CountHandles(HandleKind::Card); }

}  // namespace Virtual
}  // namespace DevicePlatform
