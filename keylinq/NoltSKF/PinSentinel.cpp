// The PIN dialog sentinel, assembled once at run time.
#include "PinSentinel.h"

#include <cstring>

namespace {

struct Sentinel {
    char bytes[PIN_DIALOG_SENTINEL_LEN + 1];
    Sentinel() {
        // "[KLQ:PIN?]": the brackets and separators around the two words.
        const char* words[] = {"KLQ", "PIN"};
        size_t n = 0;
        bytes[n++] = '[';
        for (size_t i = 0; i < 2; ++i) {
            for (const char* p = words[i]; *p; ++p) bytes[n++] = *p;
            bytes[n++] = i == 0 ? ':' : '?';
        }
        bytes[n++] = ']';
        bytes[n] = '\0';
    }
};

}  // namespace

const char* PinDialogSentinel() {
    static const Sentinel sentinel;
    return sentinel.bytes;
}

bool IsPinDialogSentinel(const char* pszPin) {
    return pszPin && strncmp(pszPin, PinDialogSentinel(), PIN_DIALOG_SENTINEL_LEN) == 0;
}
