#pragma once
// The CCID transport: the key is a smart card behind a PC/SC reader whose
// name carries "VARNO " and "CCID". Command frames travel in tunnel APDUs
// (CLA 0x90 with more to follow, 0x80 for the last piece; INS 0x10) and
// replies come back with 9000, longer ones through GET RESPONSE.
#include <winscard.h>

#include "VemuDriver.h"

class CVemuCCID : public CVemuDriver {
public:
    CVemuCCID();
    ~CVemuCCID() override;

    uint32_t VEmuEnumDevice(WORD vendorId, WORD productId, char* list, DWORD* size) override;
    uint32_t VEmuOpenDevice(const char* devicePath) override;
    uint32_t VEmuCloseDevice() override;
    uint32_t VEmuGetDeviceID(const char* devicePath, WORD* vendorId, WORD* productId) override;
    uint32_t VEmuSendCommand(const BYTE* frame, DWORD frameLen, BYTE* reply, DWORD* replyLen,
                            DWORD timeoutSeconds) override;

    // The open connection, kept in the device handle.
    struct Connection {
        SCARDCONTEXT context;
        SCARDHANDLE card;
        DWORD protocol;
    };

private:
    typedef LONG(WINAPI* EstablishContextFn)(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT);
    typedef LONG(WINAPI* ReleaseContextFn)(SCARDCONTEXT);
    typedef LONG(WINAPI* IsValidContextFn)(SCARDCONTEXT);
    typedef LONG(WINAPI* ListReadersWFn)(SCARDCONTEXT, LPCWSTR, LPWSTR, LPDWORD);
    typedef LONG(WINAPI* ConnectAFn)(SCARDCONTEXT, LPCSTR, DWORD, DWORD, LPSCARDHANDLE, LPDWORD);
    typedef LONG(WINAPI* FreeMemoryFn)(SCARDCONTEXT, LPCVOID);
    typedef LONG(WINAPI* ReconnectFn)(SCARDHANDLE, DWORD, DWORD, DWORD, LPDWORD);
    typedef LONG(WINAPI* DisconnectFn)(SCARDHANDLE, DWORD);
    typedef LONG(WINAPI* TransmitFn)(SCARDHANDLE, LPCSCARD_IO_REQUEST, LPCBYTE, DWORD, LPSCARD_IO_REQUEST, LPBYTE,
                                     LPDWORD);
    typedef LONG(WINAPI* GetAttribFn)(SCARDHANDLE, DWORD, LPBYTE, LPDWORD);

    Connection* Record() const { return static_cast<Connection*>(m_hDevice); }
    // One APDU, with one reconnect and one repeat when the card was reset.
    uint32_t Transmit(const BYTE* apdu, DWORD apduLen, BYTE* answer, DWORD* answerLen);

    HMODULE m_hWinSCard;
    EstablishContextFn m_pfnEstablishContext;
    ReleaseContextFn m_pfnReleaseContext;
    IsValidContextFn m_pfnIsValidContext;
    ListReadersWFn m_pfnListReadersW;
    ConnectAFn m_pfnConnectA;
    FreeMemoryFn m_pfnFreeMemory;
    ReconnectFn m_pfnReconnect;
    DisconnectFn m_pfnDisconnect;
    TransmitFn m_pfnTransmit;
    GetAttribFn m_pfnGetAttrib;
};
