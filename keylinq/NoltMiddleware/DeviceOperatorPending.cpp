// Operations of the operator's table that this build does not carry out
// yet: containers, PINs, keys and certificates, hashing on the key and key
// objects. Each answers "not supported" without sending a command; the
// layers that implement them replace these bodies.
#include "DeviceOperator.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceOperator"

namespace {

uint32_t NotYetSupported(const wchar_t* traceFunc_) {
    TRACE_FAIL(L"Unsupported function", L"TRUE", DEVOP_E_UNSUPPORTED);
    return DEVOP_E_UNSUPPORTED;
}

}  // namespace


uint32_t CDeviceOperator::EnumContainer(char*, uint32_t*, uint32_t) {
    TRACE_NAME(L"CDeviceOperator::EnumContainer");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::CreateContainer(const char*) {
    TRACE_NAME(L"CDeviceOperator::CreateContainer");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::DeleteContainer(const char*) {
    TRACE_NAME(L"CDeviceOperator::DeleteContainer");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::ReadContainer(CONTAINER_RECORD*, uint32_t) {
    TRACE_NAME(L"CDeviceOperator::ReadContainer");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::VerifyPIN(uint8_t, const char*, uint8_t) {
    TRACE_NAME(L"CDeviceOperator::VerifyPIN");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::ChangePIN(uint8_t, const char*, uint8_t, const char*, uint8_t) {
    TRACE_NAME(L"CDeviceOperator::ChangePIN");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::UnlockPIN(uint8_t, uint8_t*, uint32_t*) {
    TRACE_NAME(L"CDeviceOperator::UnlockPIN");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::GetPINStatus(uint8_t, uint8_t*, uint8_t*, uint8_t*, uint8_t*) {
    TRACE_NAME(L"CDeviceOperator::GetPINStatus");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::InitTokenUser(uint8_t, uint8_t*, uint32_t*) {
    TRACE_NAME(L"CDeviceOperator::InitTokenUser");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::GenerateRandom(uint8_t, uint8_t, uint8_t*) {
    TRACE_NAME(L"CDeviceOperator::GenerateRandom");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::GenerateKeyPair(const char*, uint8_t, uint8_t, CAsymKeyObject**) {
    TRACE_NAME(L"CDeviceOperator::GenerateKeyPair");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::ImportEncSessionKey(uint16_t, const uint8_t*, uint32_t) {
    TRACE_NAME(L"CDeviceOperator::ImportEncSessionKey");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::ImportKeyPair(const char*, uint8_t, uint8_t, const uint8_t*, uint32_t, const uint8_t*, uint32_t, CAsymKeyObject**) {
    TRACE_NAME(L"CDeviceOperator::ImportKeyPair");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::ExportPublicKey(const char*, uint8_t, uint8_t*, uint8_t*, uint32_t*) {
    TRACE_NAME(L"CDeviceOperator::ExportPublicKey");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::ImportCert(const char*, uint8_t, const uint8_t*, uint32_t) {
    TRACE_NAME(L"CDeviceOperator::ImportCert");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::ExportCert(const char*, uint8_t, uint8_t*, uint32_t*) {
    TRACE_NAME(L"CDeviceOperator::ExportCert");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::GetUserKey(const char*, uint8_t, uint8_t*, CAsymKeyObject**) {
    TRACE_NAME(L"CDeviceOperator::GetUserKey");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::GetZValue(const char*, uint8_t*) {
    TRACE_NAME(L"CDeviceOperator::GetZValue");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::HashInit(uint8_t, void**) {
    TRACE_NAME(L"CDeviceOperator::HashInit");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::HashUpdate(const uint8_t*, uint32_t) {
    TRACE_NAME(L"CDeviceOperator::HashUpdate");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::HashFinal(uint8_t*, uint32_t*) {
    TRACE_NAME(L"CDeviceOperator::HashFinal");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::InitSymKey(uint8_t, uint8_t, uint8_t, const uint8_t*, const uint8_t*, CSymKeyHandle**) {
    TRACE_NAME(L"CDeviceOperator::InitSymKey");
    return NotYetSupported(traceFunc_);
}

uint32_t CDeviceOperator::NewAsymKey(uint8_t, uint16_t, CAsymKeyObject**) {
    TRACE_NAME(L"CDeviceOperator::NewAsymKey");
    return NotYetSupported(traceFunc_);
}
