#pragma once
// SHA-1 and SHA-256 compression on the x86 SHA extensions (internal). The
// digests call these when the processor has them (CPUID) and fall back to
// their portable code otherwise.
#include <cstddef>
#include <cstdint>

namespace softcrypto {

// True when the processor has the SHA extensions and SSE4.1 and the
// portable path is not forced.
bool UseShaExtensions();

// Makes SHA-1 and SHA-256 take the portable path (true) or choose by
// CPUID again (false); the tests run both paths with it.
void ForcePortableSha(bool force);

// Compress count whole 64-byte blocks into the chaining words. Call only
// when UseShaExtensions() is true.
void Sha1CompressShaExt(uint32_t h[5], const uint8_t* blocks, size_t count);
void Sha256CompressShaExt(uint32_t h[8], const uint8_t* blocks, size_t count);

}  // namespace softcrypto
