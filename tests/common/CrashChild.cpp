// Installs the crash handler and then crashes with an access violation, so
// that the test can check the dump it leaves and the message it shows.
#include <windows.h>

#include "MiniDump.h"

int wmain() {
    MiniDumper::EnableAutoDump();
    volatile int* volatile nowhere = nullptr;
    *nowhere = 42;
    return 0;
}
