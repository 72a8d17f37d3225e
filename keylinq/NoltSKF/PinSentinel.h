#pragma once
// The PIN dialog sentinel: an SKF application that passes these 10 bytes
// as the user PIN of SKF_VerifyPIN (the rest of the string is not looked
// at) has the library ask the user for the PIN in its own window.
//
// Value: the ten characters  [KLQ:PIN?]  (no NUL among them). Its first
// byte is no letter or digit, so no PIN that SKF_ChangePIN sets (letters and
// digits only) begins with it.
#include <cstdint>

constexpr uint32_t PIN_DIALOG_SENTINEL_LEN = 10;

// The sentinel's bytes (not NUL-terminated beyond them: the buffer holds
// the 10 bytes and a NUL), built at run time.
const char* PinDialogSentinel();
// True when the string begins with the sentinel; reads no byte past the
// string's terminator.
bool IsPinDialogSentinel(const char* pszPin);
