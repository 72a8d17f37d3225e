#pragma once
// The operation callback through which the token operations ask the SKF
// layer for the user: a silent re-verification of the cached user PIN when
// the key has lost it, and the button confirmation while the key waits for
// its owner's touch. The SKF layer supplies the callback and its context;
// the operations only pass them on.
#include <atomic>
#include <cstdint>

class CDialogObject;

// Operation codes of the callback.
constexpr uint32_t CB_INPUT_PIN = 1;      // verify the cached user PIN, no dialog
constexpr uint32_t CB_VERIFY_PIN = 2;     // confirmation; the worker repeats VerifyPIN
constexpr uint32_t CB_CHANGE_PIN = 3;     // confirmation; the worker repeats ChangePIN
constexpr uint32_t CB_SIGN_HASH = 4;      // confirmation; the worker repeats SignDigest
constexpr uint32_t CB_INIT_TOKEN_USER = 5;  // the worker repeats InitTokenUser (raised by nothing)
constexpr uint32_t CB_QUERY_CANCEL = 11;  // the worker asks whether the dialog has ended

// The key's answers that the wrappers react to.
constexpr uint32_t KEY_E_PIN_NOT_VERIFIED = 0x80006982u;  // security status not satisfied
constexpr uint32_t KEY_E_WAIT_BUTTON = 0x8000F321u;       // the key waits for its button
// What the dialog writes into the callback context's status word.
constexpr uint32_t CB_STATUS_CANCELLED = 0x8010006Eu;
constexpr uint32_t CB_STATUS_TIMEOUT = 0x8010000Au;

// Result codes of the confirmation layer.
#define MW_E_NULL_POINTER   0x80070101u  // no context, no handle, no wrapped key ...
#define MW_E_BAD_LENGTH     0x80070104u  // a PIN or data longer than the worker's copies
#define MW_E_BAD_CODE       0x80070115u  // a middleware context with an unknown code
#define MW_E_NOT_CARRIED_OUT 0x80004005u  // the callback succeeded but no worker carried the operation out

// The context of one SKF call, built on the caller's stack. The status word
// is shared by the caller's thread (the dialog writes cancel or time-out)
// and the confirmation worker (which reads it between tries): every access
// goes through the atomic.
struct SKF_CALLBACK_CONTEXT {
    std::atomic<uint32_t> status{0};      // 0 while the operation runs
    CDialogObject* SKFObject = nullptr;  // the object whose operator carries out the operation
};

inline uint32_t GetCallbackStatus(const SKF_CALLBACK_CONTEXT* ctx) { return ctx->status.load(); }
inline void SetCallbackStatus(SKF_CALLBACK_CONTEXT* ctx, uint32_t value) { ctx->status.store(value); }

struct MIDDLEWARE_CONTEXT;

// (operation code, SKF callback context, middleware context or null) -> result.
typedef uint32_t (*SKF_OPERATION_CALLBACK)(uint32_t dwOperationCode, SKF_CALLBACK_CONTEXT* pstCallbackContext,
                                           MIDDLEWARE_CONTEXT* pMiddlewareContext);

constexpr uint32_t MIDDLEWARE_DATA_LEN = 263;
constexpr uint32_t BUTTON_PIN_COPY_LEN = 32;    // the worker's copy of each PIN
constexpr uint32_t BUTTON_DATA_COPY_LEN = 256;  // its copy of the data and of the signature

// The operation that the confirmation worker repeats, built on the stack of
// the wrapper that raises codes 2 to 4 and alive only during the callback.
// Data (16- and 32-bit lengths little-endian):
//   2: PIN type, PIN length n, PIN
//   3: PIN type, old length n, old PIN, new length m, new PIN
//   4: data length L (2), data; after success: signature length S (2), signature
//   5: step flag, length L (4), data
// Result starts as MW_E_NOT_CARRIED_OUT; the worker stores its final result
// there (after it wrote Data), so a callback that answers 0 without having
// run the worker is not taken for a completed operation.
struct MIDDLEWARE_CONTEXT {
    void* Handle = nullptr;  // the operator (codes 2, 3, 5) or the key object (code 4)
    uint8_t Code = 0;
    uint8_t Data[MIDDLEWARE_DATA_LEN] = {};
    SKF_OPERATION_CALLBACK Callback = nullptr;
    std::atomic<uint32_t> Result{MW_E_NOT_CARRIED_OUT};
};

// The pause between two tries of the confirmation worker (Sleep by
// default). Tests install a shorter one; null restores Sleep. Returns the
// previous pause.
typedef void (*BUTTON_PAUSE_FN)(uint32_t milliseconds);
constexpr uint32_t BUTTON_RETRY_PAUSE_MS = 300;
BUTTON_PAUSE_FN SetButtonPause(BUTTON_PAUSE_FN pause);
