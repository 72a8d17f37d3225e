// The second process of the device-mutex tests: opens the key at the given
// path with a device context of its own and works its device mutex.
//
//   helper wait    PATH PREFIX  open; signal PREFIX-opened; take the mutex;
//                               signal PREFIX-acquired; release; close
//   helper hold    PATH PREFIX  open; take the mutex; signal PREFIX-held;
//                               wait for PREFIX-release; release; close
//   helper abandon PATH PREFIX  open; take the mutex; signal PREFIX-held;
//                               end without releasing or closing
//
// The exit code is 0, or the result code of the step that failed.
#include <windows.h>

#include <cstdio>
#include <string>

#include "DeviceContext.h"

namespace {

void Signal(const std::string& prefix, const char* what) {
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, (prefix + "-" + what).c_str());
    if (event) {
        SetEvent(event);
        CloseHandle(event);
    }
}

bool WaitFor(const std::string& prefix, const char* what, DWORD ms) {
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, (prefix + "-" + what).c_str());
    if (!event) return false;
    bool signalled = WaitForSingleObject(event, ms) == WAIT_OBJECT_0;
    CloseHandle(event);
    return signalled;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s wait|hold|abandon PATH PREFIX\n", argv[0]);
        return 87;
    }
    const std::string mode = argv[1];
    const std::string prefix = argv[3];
    CQuibContext* context = new CQuibContext();
    uint32_t hr = context->Open(VEMU_DRIVER_HID, argv[2]);
    if (hr != 0) return int(hr);
    if (mode == "wait") {
        Signal(prefix, "opened");
        hr = context->WaitDevMutex();
        if (hr != 0) return int(hr);
        Signal(prefix, "acquired");
    } else {
        hr = context->WaitDevMutex();
        if (hr != 0) return int(hr);
        Signal(prefix, "held");
        if (mode == "abandon") ExitProcess(0);
        if (!WaitFor(prefix, "release", 30000)) return int(WAIT_TIMEOUT);
    }
    hr = context->ReleaseDevMutex();
    if (hr == 0) hr = context->Close();
    delete context;
    return int(hr);
}
