#pragma once
// The skin's files: a folder, a password-protected zip archive beside the
// program, or a zip archive held in memory (copied from a "ZIPRES" resource).
#include <windows.h>

#include <cstdint>

#include "UIValueTypes.h"

namespace Veneer {

struct SkinZipReader;
typedef unsigned long long SkinZipIndex;

// Opening (an ANSI path, or a memory block that outlives the reader).
SkinZipReader* SkinZipOpenFile(const char* ansiPath);
SkinZipReader* SkinZipOpenMemory(const void* data, size_t size);
void SkinZipClose(SkinZipReader* reader);

bool SkinZipFindEntry(const wchar_t* name, SkinZipReader* reader, SkinZipIndex* index, DWORD* size);
bool SkinZipExtractEntry(SkinZipReader* reader, SkinZipIndex index, const wchar_t* password,
                         void* buffer, DWORD bufferSize);
bool ExtractZipEntryWithPassword(SkinZipReader* reader, SkinZipIndex index, void* buffer,
                                 DWORD bufferSize, const char* password);

void InitZipCryptoKeys(const char* password, uint32_t keys[3]);
void UpdateZipCryptoKeys(uint32_t keys[3], unsigned char byte);

// Reading one skin file, in the look-up order that each kind of file uses.
// SkinFileGif: a digit name with a resource type (even an empty one) is only
// a module resource of that type; any other name only the archive entry
// while an archive is set, else only the file in the resource folder.
enum SkinFileKind { SkinFileLayout, SkinFileImage, SkinFileFont, SkinFileGif };

struct SkinFileBytes {
    SkinFileBytes() = default;
    ~SkinFileBytes() { free(data); }
    SkinFileBytes(const SkinFileBytes&) = delete;
    SkinFileBytes& operator=(const SkinFileBytes&) = delete;
    BYTE* Detach() { BYTE* d = data; data = nullptr; size = 0; return d; }

    BYTE* data = nullptr;   // size + 1 bytes, the last one zero
    DWORD size = 0;
};

// Layouts: no resource step, no plain path, at most 4 MiB; the failure
// message goes to *error. Images: module resource of resourceType first and
// the plain path last. Fonts: the plain path last.
bool ReadSkinFile(const wchar_t* name, const wchar_t* resourceType, SkinFileKind kind,
                  SkinFileBytes& out, const wchar_t** error = nullptr);

const DWORD kMaxLayoutFileSize = 4u * 1024u * 1024u;

}  // namespace Veneer
