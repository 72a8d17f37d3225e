// The PIN cache and the operation callback of the application and container
// objects.
#include "DialogObject.h"

#include <cstdlib>
#include <cstring>

#include "DeviceContext.h"
#include "DeviceResult.h"
#include "PinCache.h"
#include "SKFApi.h"
#include "SKFWindows.h"
#include "SarFromResult.h"
#include "SoftCrypto.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DialogObject"

namespace {

constexpr uint32_t E_INVALIDARG_CODE = 0x80070057u;
constexpr uint32_t KEY_E_PIN_LOCKED = 0x80006983u;
constexpr uint8_t PIN_STATE_VERIFIED = 0x20;
constexpr uint32_t USER_PIN = 1;

bool KeyRefusedPin(uint32_t hr) { return (hr & 0xFFFFFFF0u) == 0x800063C0u || hr == KEY_E_PIN_LOCKED; }

// The SM4-CBC pass shared by the protection and its reverse.
uint32_t RunProtection(bool encrypt, const uint8_t* pbyDataIn, uint32_t dwDataInSize, const uint8_t* pbyPIN,
                       uint8_t** ppbyDataOut, uint32_t* pdwDataOutSize) {
    TRACE_NAME(L"CDialogObject::ProtectData");
    if (!pbyDataIn || dwDataInSize == 0 || !pbyPIN || !ppbyDataOut) return E_INVALIDARG_CODE;
    if (dwDataInSize > 0xFFFFFFFFu - 16) return E_INVALIDARG_CODE;
    const uint32_t room = dwDataInSize + 16;
    uint8_t* out = static_cast<uint8_t*>(malloc(room));
    if (!out) return 0x8007000Eu;
    SYMKEY_CTX* ctx = nullptr;
    uint32_t updated = 0;
    uint32_t finished = 0;
    uint32_t hr = encrypt ? SymEncryptInit(&ctx, SOFT_ALG_SM4, SOFT_MODE_CBC, pbyPIN, nullptr)
                          : SymDecryptInit(&ctx, SOFT_ALG_SM4, SOFT_MODE_CBC, pbyPIN, nullptr);
    if (hr == 0) {
        updated = room;
        hr = SymKeyUpdate(ctx, pbyDataIn, dwDataInSize, out, &updated);
    }
    if (hr == 0) {
        finished = room - updated;
        hr = ctx ? SymKeyFinal(ctx, out + updated, &finished) : E_INVALIDARG_CODE;
        if (hr == 0) ctx = nullptr;  // the final step freed it
    }
    SymKeyFree(ctx);
    if (hr != 0) {
        TRACE_FAIL(encrypt ? L"Cipher::SM4EncryptByPin" : L"Cipher::SM4DecryptByPin", L"ALG_OPENSSL_OK != nRet",
                   HRESULT(hr));
        SecureZeroMemory(out, room);
        free(out);
        return hr;
    }
    *ppbyDataOut = out;
    if (pdwDataOutSize) *pdwDataOutSize = updated + finished;
    return 0;
}

}  // namespace

uint32_t CreateProtectData(const uint8_t* pbyDataIn, uint32_t dwDataInSize, const uint8_t* pbyPIN, uint32_t,
                           uint8_t** ppbyDataOut, uint32_t* pdwDataOutSize) {
    return RunProtection(true, pbyDataIn, dwDataInSize, pbyPIN, ppbyDataOut, pdwDataOutSize);
}

uint32_t AcquireProtectData(const uint8_t* pbyDataIn, uint32_t dwDataInSize, const uint8_t* pbyPIN, uint32_t,
                            uint8_t** ppbyDataOut, uint32_t* pdwDataOutSize) {
    return RunProtection(false, pbyDataIn, dwDataInSize, pbyPIN, ppbyDataOut, pdwDataOutSize);
}

uint8_t* CopyReversed(uint8_t* destination, uint32_t length, uint32_t value) {
    if (length > 4) length = 4;
    for (uint32_t i = 0; i < length; ++i) destination[i] = uint8_t(value >> (8 * (length - 1 - i)));
    return destination;
}

CDialogObject::CDialogObject(CDeviceContext* pDeviceContext) : CNoltOperator(pDeviceContext) {
    CDeviceContext::TraceInfo(L"CDialogObject: Constructor");
}

CDialogObject::~CDialogObject() { CDeviceContext::TraceInfo(L"CDialogObject: Destructor"); }

const char* CDialogObject::PinCacheName() const {
    return m_pDeviceContext ? m_pDeviceContext->GetDeviceName() : nullptr;
}

uint32_t CDialogObject::VerifyAndProtectPIN(uint32_t ulPINType, const char* pszPin, uint32_t nPinLen) {
    TRACE_NAME(L"CDialogObject::VerifyAndProtectPIN");
    uint32_t hr = 0;
    SKF_CALLBACK_CONTEXT context;
    context.SKFObject = this;
    CHECK_GOTO(!pszPin, L"CHECK pszPin", MW_E_NULL_POINTER);
    // The key's exchange carries the length in a byte.
    CHECK_GOTO(nPinLen > 0xFF, L"CHECK nPinLen", SAR_INDATALENERR);
    hr = FoldObjectResult(CNoltOperator::VerifyPIN(uint8_t(ulPINType), pszPin, uint8_t(nPinLen),
                                                   &CDialogObject::SKFOperationCallback, &context));
    CHECK_GOTO(hr != 0, L"CNoltOperator::VerifyPIN", hr);
    TRACE_STEP(L"CNoltOperator::VerifyPIN");
    if (ulPINType != USER_PIN) goto exit;
    hr = PinCache::Store(PinCacheName(), pszPin, nPinLen);
    CHECK_GOTO(hr != 0, L"CreateProtectData for PIN", hr);
    TRACE_STEP(L"CreateProtectData for PIN");
exit:
    return hr;
}

uint32_t CDialogObject::GetUserPIN(int32_t nLeftTimes, char** ppszPIN) {
    TRACE_NAME(L"CDialogObject::GetUserPIN");
    const uint32_t hr = ShowUserPinDialog(nLeftTimes, ppszPIN);
    if (hr != 0) TRACE_FAIL(L"ShowUserPinDialog", L"S_OK != hResult", HRESULT(hr));
    return hr;
}

uint32_t CDialogObject::CheckUserPIN(uint32_t show) {
    TRACE_NAME(L"CDialogObject::CheckUserPIN");
    uint32_t hr = 0;
    uint8_t retryLeft = 0;
    uint8_t state = 0;
    uint8_t defaultFlag = 0;
    CPlainPin pin;
    char* typed = nullptr;

    // Silently: only this key's own cached PIN, and nothing sent without one.
    if (!show) {
        CHECK_GOTO(!PinCache::Has(PinCacheName()), L"CHECK g_stPIN", 0x80006982u);
    }
    hr = FoldObjectResult(CDeviceOperator::GetPINStatus(uint8_t(USER_PIN), &retryLeft, &state, &defaultFlag, nullptr));
    CHECK_GOTO(hr != 0, L"CDeviceOperator::GetPINStatus", hr);
    TRACE_STEP(L"CDeviceOperator::GetPINStatus");
    if (show) {
        hr = GetUserPIN(retryLeft, &typed);
        CHECK_GOTO(hr != 0, L"CDialogObject::GetUserPIN", hr);
        TRACE_STEP(L"CDialogObject::GetUserPIN");
        pin.Assign(typed, uint32_t(strlen(typed)));
        FreeUserPIN(typed);
    } else {
        if (state == PIN_STATE_VERIFIED) goto exit;
        hr = PinCache::Recover(PinCacheName(), pin);
        CHECK_GOTO(hr != 0, L"AcquireProtectData", hr);
        TRACE_STEP(L"AcquireProtectData");
    }
    hr = VerifyAndProtectPIN(USER_PIN, pin.Data(), pin.Length());
    // A stale cached PIN costs one try, never the lock.
    if (!show && KeyRefusedPin(hr)) PinCache::Drop(PinCacheName());
    CHECK_GOTO(hr != 0, L"VerifyAndProtectPIN", hr);
    TRACE_STEP(L"VerifyAndProtectPIN");
exit:
    return hr;
}

uint32_t CDialogObject::SKFOperationCallback(uint32_t dwOperationCode, SKF_CALLBACK_CONTEXT* pstCallbackContext,
                                             MIDDLEWARE_CONTEXT* pMiddlewareContext) {
    TRACE_NAME(L"CDialogObject::SKFOperationCallback");
    uint32_t hr = 0;
    CHECK_GOTO(!pstCallbackContext, L"CHECK pstCallbackContext", MW_E_NULL_POINTER);
    if (dwOperationCode == CB_QUERY_CANCEL) return GetCallbackStatus(pstCallbackContext);
    CHECK_GOTO(dwOperationCode != CB_INPUT_PIN && dwOperationCode != CB_VERIFY_PIN &&
                   dwOperationCode != CB_CHANGE_PIN && dwOperationCode != CB_SIGN_HASH,
               L"CHECK dwOperationCode", DEVOP_E_UNSUPPORTED);
    CHECK_GOTO(!pstCallbackContext->SKFObject, L"CHECK SKFObject", 0x80070113u);
    if (dwOperationCode == CB_INPUT_PIN) {
        hr = pstCallbackContext->SKFObject->CheckUserPIN(0);
        CHECK_GOTO(hr != 0, L"CheckUserPIN", hr);
        TRACE_STEP(L"CheckUserPIN");
    } else {
        hr = Confirm(dwOperationCode, pstCallbackContext, pMiddlewareContext);
        CHECK_GOTO(hr != 0, L"Confirm (Dialog)", hr);
        TRACE_STEP(L"Confirm (Dialog)");
    }
exit:
    return hr;
}

uint32_t CDialogObject::Confirm(uint32_t dwOperationCode, SKF_CALLBACK_CONTEXT* pstCallbackContext,
                                MIDDLEWARE_CONTEXT* pMiddlewareContext) {
    TRACE_NAME(L"CDialogObject::Confirm");
    uint32_t hr = 0;
    wchar_t text[CONFIRM_TASK_TEXT_CHARS] = {};
    CONFIRM_TASK task;
    const UINT textId = dwOperationCode == CB_VERIFY_PIN   ? IDS_CONFIRM_VERIFY_PIN
                        : dwOperationCode == CB_CHANGE_PIN ? IDS_CONFIRM_CHANGE_PIN
                                                           : IDS_CONFIRM_SIGN;
    CHECK_GOTO(!pstCallbackContext, L"CHECK pstCallbackContext", MW_E_NULL_POINTER);
    LoadSKFString(textId, text, CONFIRM_TASK_TEXT_CHARS);
    task.pszText = text;
    task.pfnTask = &CNoltOperator::WaitPressButton;
    task.pCallbackContext = pstCallbackContext;
    task.pMiddlewareContext = pMiddlewareContext;
    hr = ShowConfirmWindow(&task);
    // A window that could not be shown, or one that ended without starting
    // its worker: nobody repeats the command, and the key must stop waiting.
    if (hr != 0 || task.result.load() == MW_E_NOT_CARRIED_OUT) {
        CDialogObject* object = pstCallbackContext->SKFObject;
        if (object) CNoltOperator::CancelPressButton(object->GetDeviceContext());
        CHECK_GOTO(hr != 0, L"COperationConfirmDlg::DoModal", hr);
    }
    hr = task.result.load();
    CHECK_GOTO(hr != 0, L"COperationConfirmDlg::Result", hr);
exit:
    return hr;
}
