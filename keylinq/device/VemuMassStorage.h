#pragma once
// The mass-storage transport: the key presents itself as a USB CD-ROM that
// takes one vendor-specific SCSI command, whose data out carries the command
// frame and whose data in returns the reply frame.
#include "VemuDriver.h"

class CVemuMassStorage : public CVemuDriver {
public:
    CVemuMassStorage();
    ~CVemuMassStorage() override;

    uint32_t VEmuEnumDevice(WORD vendorId, WORD productId, char* list, DWORD* size) override;
    uint32_t VEmuOpenDevice(const char* devicePath) override;
    uint32_t VEmuCloseDevice() override;
    uint32_t VEmuGetDeviceID(const char* devicePath, WORD* vendorId, WORD* productId) override;
    uint32_t VEmuSendCommand(const BYTE* frame, DWORD frameLen, BYTE* reply, DWORD* replyLen,
                            DWORD timeoutSeconds) override;
};
