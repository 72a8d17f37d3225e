#pragma once
// Turns the internal result codes of the library into the SAR_* codes that
// the exports return.
#include <cstdint>

// A code as an object operation returned it, made ready for mapping: the
// library's fold (HResultFromError of Keylinq's build): a positive code that
// is not already a SAR_* code (bits 0x0A000000) becomes 0x8007 followed by
// its low 16 bits; negative and SAR_* codes stay.
uint32_t FoldObjectResult(uint32_t code);

// The SAR_* code for an internal code. Never turns a failure into SAR_OK.
uint32_t SarFromResult(uint32_t code);
