// Installs the crash handler and then dies of an unhandled access violation,
// so that the test can check the dump it leaves and the message it shows.
//
// The violation is raised as the processor would report a write to address 0
// (two parameters: write, address). A real null write is not used: under
// user-mode emulation of 32-bit code, Wine reports such a fault as an illegal
// instruction, and the test is about the handler, not the fault.
#include <windows.h>

#include "MiniDump.h"

int wmain() {
    MiniDumper::EnableAutoDump();
    const ULONG_PTR info[2] = {1, 0};
    RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 2, info);
    return 0;
}
