// Certaide's SM2 hooks (see sm2_hooks.h).
#include "sm2_hooks.h"

#include "sm2_key_decoder.h"
#include "sm2_pkey_method.h"

namespace smcrypto {

int RegisterSM2Hooks() {
    const int keyMethod = RegisterSM2KeyMethod(kCertaideSM2Rules);
    const int decoder = RegisterSM2KeyDecoder();
    return keyMethod == 1 && decoder == 1 ? 1 : 0;
}

}  // namespace smcrypto
