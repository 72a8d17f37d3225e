// The application object: construction, the PIN family and the container
// operations. The emulated files are in ApplicationFiles.cpp.
#include "ApplicationObject.h"

#include <cstring>
#include <new>
#include <vector>

#include "ContainerObject.h"
#include "DeviceContext.h"
#include "PinCache.h"
#include "PinSentinel.h"
#include "SKFDevice.h"
#include "SKFHandles.h"
#include "SarFromResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"ApplicationObject"

namespace {

constexpr uint32_t USER_PIN = 1;

// The result of a PIN exchange for the PIN exports: the tries left of a
// wrong PIN (63Cx) go to the caller.
uint32_t PinExchangeResult(uint32_t hr, ULONG* pulRetryCount) {
    hr = FoldObjectResult(hr);
    if (hr == 0) {
        *pulRetryCount = 0;
        return SAR_OK;
    }
    if ((hr & 0xFFFFFFF0u) == 0x800063C0u) {
        const ULONG left = hr & 0xFu;
        *pulRetryCount = left;
        return left > 0 ? SAR_PIN_INCORRECT : SAR_PIN_LOCKED;
    }
    return hr;
}

bool LettersAndDigitsOnly(const char* pszPin) {
    if (!*pszPin) return false;
    for (const char* p = pszPin; *p; ++p) {
        const char c = *p;
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    }
    return true;
}

struct DeletedContainer {
    CDeviceContext* context;
    const char* name;
};

void MarkIfDeleted(const void* handle, void* arg) {
    const DeletedContainer* deleted = static_cast<const DeletedContainer*>(arg);
    CContainerObject* container = ContainerFromHandle(const_cast<void*>(handle));
    if (container->GetDeviceContext() == deleted->context &&
        strcmp(container->GetContainerName(), deleted->name) == 0)
        container->MarkDeleted();
}

}  // namespace

CApplicationObject::CApplicationObject(CDeviceContext* pDeviceContext)
    : CDialogObject(pDeviceContext), m_szAppName{}, m_objRec{} {
    CDeviceContext::TraceInfo(L"CApplicationObject: Constructor");
}

CApplicationObject::~CApplicationObject() { CDeviceContext::TraceInfo(L"CApplicationObject: Destructor"); }

void CApplicationObject::SetName(const char* pszName) {
    memset(m_szAppName, 0, sizeof m_szAppName);
    if (!pszName) return;
    memcpy(m_szAppName, pszName, strnlen(pszName, SKF_APP_NAME_FIELD - 1));
}

// ---- PINs

uint32_t CApplicationObject::VerifyPIN(ULONG ulPINType, const char* szPIN, ULONG* pulRetryCount) {
    TRACE_NAME(L"CApplicationObject::VerifyPIN");
    uint32_t hr = 0;
    uint32_t nPinLen = 0;
    CHECK_GOTO(!szPIN, L"CHECK pszPinBuf", SAR_INVALIDPARAMERR);
    CHECK_GOTO(!pulRetryCount, L"CHECK pulRetryCount", SAR_INVALIDPARAMERR);
    if (ulPINType == USER_PIN && IsPinDialogSentinel(szPIN)) {
        hr = CheckUserPIN(1);
    } else {
        nPinLen = uint32_t(strnlen(szPIN, MAX_PIN_SIZE + 1));
        CHECK_GOTO(nPinLen < MIN_PIN_SIZE || nPinLen > MAX_PIN_SIZE, L"CHECK ulPinLen",
                   SAR_INDATALENERR);
        hr = VerifyAndProtectPIN(ulPINType, szPIN, nPinLen);
    }
    hr = PinExchangeResult(hr, pulRetryCount);
    CHECK_GOTO(hr != 0, L"VerifyAndProtectPIN", hr);
    TRACE_STEP(L"VerifyAndProtectPIN");
exit:
    return hr;
}

uint32_t CApplicationObject::ChangePIN(ULONG ulPINType, const char* szOldPin, const char* szNewPin,
                                       ULONG* pulRetryCount) {
    TRACE_NAME(L"CApplicationObject::ChangePIN");
    uint32_t hr = 0;
    size_t oldLen = 0;
    size_t newLen = 0;
    SKF_CALLBACK_CONTEXT context;
    context.SKFObject = this;
    CHECK_GOTO(!szOldPin || !szNewPin, L"CHECK pszOldPin", SAR_INVALIDPARAMERR);
    CHECK_GOTO(!pulRetryCount, L"CHECK pulRetryCount", SAR_INVALIDPARAMERR);
    CHECK_GOTO(strcmp(szOldPin, szNewPin) == 0, L"strcmp(pszOldPin, pszNewPin)", SAR_PIN_INVALID);
    CHECK_GOTO(!LettersAndDigitsOnly(szNewPin), L"regex_match", SAR_PIN_INVALID);
    // The exchange carries each length in a byte and the key's wait copies at
    // most 32 bytes of a PIN: a longer old PIN is refused, never cut.
    oldLen = strnlen(szOldPin, MAX_OLD_PIN_SIZE + 1);
    newLen = strnlen(szNewPin, MAX_OLD_PIN_SIZE + 1);
    CHECK_GOTO(oldLen > MAX_OLD_PIN_SIZE, L"CHECK ulOldPinLen", SAR_INDATALENERR);
    CHECK_GOTO(newLen > MAX_PIN_SIZE, L"CHECK ulNewPinLen", SAR_INDATALENERR);
    hr = CNoltOperator::ChangePIN(uint8_t(ulPINType), szOldPin, uint8_t(oldLen), szNewPin, uint8_t(newLen),
                                  &CDialogObject::SKFOperationCallback, &context);
    hr = PinExchangeResult(hr, pulRetryCount);
    CHECK_GOTO(hr != 0, L"CNoltOperator::ChangePIN", hr);
    TRACE_STEP(L"CNoltOperator::ChangePIN");
    // A cached user PIN follows the change, so that the next silent
    // verification does not spend a try on the old one.
    if (uint8_t(ulPINType) == USER_PIN) PinCache::Replace(PinCacheName(), szNewPin, uint32_t(newLen));
exit:
    return hr;
}

uint32_t CApplicationObject::UnlockPIN(const char*, const char*, ULONG*) { return SKFNotSupported(); }

uint32_t CApplicationObject::GetPINStatus(ULONG ulPINType, ULONG* pulMaxRetryCount, ULONG* pulRemainRetryCount,
                                          BOOL* pbDefaultPin) {
    TRACE_NAME(L"CApplicationObject::GetPINStatus");
    uint32_t hr = 0;
    uint8_t remain = 0;
    uint8_t defaultFlag = 0;
    uint8_t maximum = 0;
    hr = FoldObjectResult(
        CDeviceOperator::GetPINStatus(uint8_t(ulPINType), &remain, nullptr, &defaultFlag, &maximum));
    CHECK_GOTO(hr != 0, L"CDeviceOperator::GetPINStatus", hr);
    TRACE_STEP(L"CDeviceOperator::GetPINStatus");
    if (pulMaxRetryCount) *pulMaxRetryCount = maximum;
    if (pulRemainRetryCount) *pulRemainRetryCount = remain;
    if (pbDefaultPin) *pbDefaultPin = defaultFlag;
exit:
    return hr;
}

uint32_t CApplicationObject::ClearAuthCode() {
    TRACE_NAME(L"CApplicationObject::ClearAuthCode");
    // The key's verification ends, and so does this key's cached PIN: the
    // next signature must not log in again silently.
    PinCache::Drop(PinCacheName());
    const uint32_t hr = FoldObjectResult(CDeviceOperator::ClearAuthCode());
    if (hr != 0) TRACE_FAIL(L"CDeviceOperator::ClearAuthCode", L"VM_ERR_OK != hResult", hr);
    return hr;
}

// ---- containers

uint32_t CApplicationObject::EnumContainer(char* szContainerNames, ULONG* pulSize) {
    TRACE_NAME(L"CApplicationObject::EnumContainer");
    uint32_t hr = 0;
    uint32_t size = 0;
    std::vector<char> names;
    CHECK_GOTO(!pulSize, L"CHECK pulNamesSize", SAR_INVALIDPARAMERR);
    hr = FoldObjectResult(CDeviceOperator::EnumContainer(nullptr, &size, 0));
    if (hr != 0) *pulSize = 0;
    CHECK_GOTO(hr != 0, L"CDeviceOperator::EnumContainer(NULL)", hr);
    if (!szContainerNames) {
        *pulSize = size;
        TRACE_STEP(L"CHECK pszContainerNames");
        goto exit;
    }
    if (*pulSize < size) {
        *pulSize = size;
        CHECK_GOTO(true, L"CHECK *pulNamesSize SIZE", SAR_BUFFER_TOO_SMALL);
    }
    if (size != 0) {
        names.assign(size, '\0');
        uint32_t listed = size;
        hr = FoldObjectResult(CDeviceOperator::EnumContainer(names.data(), &listed, 0));
        CHECK_GOTO(hr != 0, L"CDeviceOperator::EnumContainer", hr);
        memcpy(szContainerNames, names.data(), size);
    }
    *pulSize = size;
exit:
    return hr;
}

uint32_t CApplicationObject::CreateContainer(const char* szContainerName, HCONTAINER* phContainer) {
    TRACE_NAME(L"CApplicationObject::CreateContainer");
    uint32_t hr = 0;
    char name[VM_CTNR_NAME_LENGTH] = {};
    size_t len = 0;
    bool singleCert = false;
    CHECK_GOTO(!szContainerName || !phContainer, L"CHECK szContainerName", SAR_INVALIDPARAMERR);
    len = strnlen(szContainerName, VM_CTNR_NAME_LENGTH);
    CHECK_GOTO(len >= VM_CTNR_NAME_LENGTH, L"CHECK szContainerName length", SAR_NAMELENERR);
    if (len >= 2 && szContainerName[len - 2] == '#' && szContainerName[len - 1] == '2') {
        singleCert = true;
        len -= 2;
    }
    memcpy(name, szContainerName, len);
    hr = FoldObjectResult(CDeviceOperator::CreateContainer(name));
    CHECK_GOTO(hr != 0, L"CDeviceOperator::CreateContainer", hr);
    TRACE_STEP(L"CDeviceOperator::CreateContainer");
    hr = OpenContainer(name, phContainer);
    if (hr != 0) {
        // No handle reaches the caller: the new container must not stay
        // behind half made.
        CDeviceOperator::DeleteContainer(name);
        CHECK_GOTO(true, L"OpenContainer", hr);
    }
    if (singleCert) ContainerFromHandle(*phContainer)->SetSingleCert(1);
exit:
    return hr;
}

uint32_t CApplicationObject::DeleteContainer(const char* szContainerName) {
    TRACE_NAME(L"CApplicationObject::DeleteContainer");
    uint32_t hr = FoldObjectResult(CDeviceOperator::DeleteContainer(szContainerName));
    if (hr != 0) {
        TRACE_FAIL(L"CDeviceOperator::DeleteContainer", L"VM_ERR_OK != hResult", hr);
        return hr;
    }
    DeletedContainer deleted{m_pDeviceContext, szContainerName};
    SKFHandles::Visit(SKFHandleKind::Container, &MarkIfDeleted, &deleted);
    return 0;
}

CContainerObject* CApplicationObject::NewContainerObject() {
    return new (std::nothrow) CContainerObject(m_pDeviceContext);
}

uint32_t CApplicationObject::OpenContainer(const char* szContainerName, HCONTAINER* phContainer) {
    TRACE_NAME(L"CApplicationObject::OpenContainer");
    uint32_t hr = 0;
    CContainerObject* container = nullptr;
    CONTAINER_RECORD record;
    memset(&record, 0, sizeof record);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", SAR_INVALIDHANDLEERR);
    CHECK_GOTO(!szContainerName || !phContainer, L"CHECK szContainerName", SAR_INVALIDPARAMERR);
    CHECK_GOTO(strnlen(szContainerName, VM_CTNR_NAME_LENGTH) >= VM_CTNR_NAME_LENGTH, L"CHECK szContainerName length",
               SAR_NAMELENERR);
    container = NewContainerObject();
    CHECK_GOTO(!container, L"new SKF_CONTAINER_OBJECT", SAR_MEMORYERR);
    TRACE_STEP(L"new SKF_CONTAINER_OBJECT");
    strcpy(record.szName, szContainerName);
    hr = FoldObjectResult(container->ReadContainer(&record, 0));
    if (hr != 0) {
        delete container;
        CHECK_GOTO(true, L"pContainerObject->ReadContainer", hr);
    }
    container->SetContainerName(szContainerName);
    *phContainer = HandleOfContainer(container);
exit:
    return hr;
}
