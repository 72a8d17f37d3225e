// A second SKF application for the file tests: connects to the key named on
// its command line, opens "ZELK" and creates (8 bytes) or deletes one file.
// Its exit code is the SAR_* result.
#include <cstdio>
#include <cstring>
#include <string>

#include "KeylinqLibrary.h"

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    KeylinqLibrary& k = Keylinq();
    if (k.missing || !k.module) return 3;
    std::string device = argv[1];
    std::string name = argv[3];
    DEVHANDLE dev = nullptr;
    HAPPLICATION app = nullptr;
    ULONG rc = k.SKF_ConnectDev(&device[0], &dev);
    char zelk[] = "ZELK";
    if (rc == SAR_OK) rc = k.SKF_OpenApplication(dev, zelk, &app);
    if (rc == SAR_OK) {
        rc = strcmp(argv[2], "create") == 0 ? k.SKF_CreateFile(app, &name[0], 8, 0xFF, 0xFF)
                                            : k.SKF_DeleteFile(app, &name[0]);
    }
    if (app) k.SKF_CloseApplication(app);
    if (dev) k.SKF_DisConnectDev(dev);
    return int(rc);
}
