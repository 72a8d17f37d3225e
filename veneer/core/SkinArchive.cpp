#include "SkinArchive.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include <minizip/ioapi.h>
#include <minizip/iowin32.h>
#include <minizip/unzip.h>
#include <zlib.h>

#include "PaintManager.h"
#include "UILock.h"

namespace Veneer {

// ------------------------------------------------------------------ readers

namespace {
// An archive held in memory, read through minizip's I/O interface.
struct MemoryArchive {
    const unsigned char* data;
    ZPOS64_T size;
};
struct MemoryStream {
    const MemoryArchive* archive;
    ZPOS64_T position;
};

voidpf ZCALLBACK MemOpen(voidpf opaque, const void*, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    MemoryStream* stream = new (std::nothrow) MemoryStream;
    if (!stream) return nullptr;
    stream->archive = static_cast<const MemoryArchive*>(opaque);
    stream->position = 0;
    return stream;
}

uLong ZCALLBACK MemRead(voidpf, voidpf handle, void* buffer, uLong size) {
    MemoryStream* stream = static_cast<MemoryStream*>(handle);
    const ZPOS64_T total = stream->archive->size;
    if (stream->position >= total) return 0;
    ZPOS64_T available = total - stream->position;
    if (available < size) size = static_cast<uLong>(available);
    memcpy(buffer, stream->archive->data + stream->position, size);
    stream->position += size;
    return size;
}

uLong ZCALLBACK MemWrite(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK MemTell(voidpf, voidpf handle) { return static_cast<MemoryStream*>(handle)->position; }

long ZCALLBACK MemSeek(voidpf, voidpf handle, ZPOS64_T offset, int origin) {
    MemoryStream* stream = static_cast<MemoryStream*>(handle);
    ZPOS64_T base = 0;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = stream->position; break;
    case ZLIB_FILEFUNC_SEEK_END: base = stream->archive->size; break;
    default: return -1;
    }
    if (base + offset > stream->archive->size) return -1;
    stream->position = base + offset;
    return 0;
}

int ZCALLBACK MemClose(voidpf, voidpf handle) {
    delete static_cast<MemoryStream*>(handle);
    return 0;
}

int ZCALLBACK MemError(voidpf, voidpf) { return 0; }

CUIString ToForwardSlashes(const wchar_t* name) {
    CUIString entry(name);
    entry.Replace(L"\\", L"/");
    return entry;
}

bool ToAnsi(const wchar_t* text, char* buffer, int bufferSize) {
    memset(buffer, 0, bufferSize);
    if (!text || !*text) return false;
    return WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, bufferSize - 1, nullptr, nullptr) > 0;
}
}  // namespace

struct SkinZipReader {
    unzFile file = nullptr;
    MemoryArchive memory = {nullptr, 0};
};

SkinZipReader* SkinZipOpenFile(const char* ansiPath) {
    if (!ansiPath || !*ansiPath) return nullptr;
    SkinZipReader* reader = new (std::nothrow) SkinZipReader;
    if (!reader) return nullptr;
    zlib_filefunc64_def functions;
    fill_win32_filefunc64A(&functions);
    reader->file = unzOpen2_64(ansiPath, &functions);
    if (!reader->file) {
        delete reader;
        return nullptr;
    }
    return reader;
}

SkinZipReader* SkinZipOpenMemory(const void* data, size_t size) {
    if (!data || size == 0) return nullptr;
    SkinZipReader* reader = new (std::nothrow) SkinZipReader;
    if (!reader) return nullptr;
    reader->memory.data = static_cast<const unsigned char*>(data);
    reader->memory.size = size;
    zlib_filefunc64_def functions = {};
    functions.zopen64_file = MemOpen;
    functions.zread_file = MemRead;
    functions.zwrite_file = MemWrite;
    functions.ztell64_file = MemTell;
    functions.zseek64_file = MemSeek;
    functions.zclose_file = MemClose;
    functions.zerror_file = MemError;
    functions.opaque = &reader->memory;
    reader->file = unzOpen2_64("membuffer", &functions);
    if (!reader->file) {
        delete reader;
        return nullptr;
    }
    return reader;
}

void SkinZipClose(SkinZipReader* reader) {
    if (!reader) return;
    if (reader->file) unzClose(reader->file);
    delete reader;
}

bool SkinZipFindEntry(const wchar_t* name, SkinZipReader* reader, SkinZipIndex* index, DWORD* size) {
    if (!name || !*name || !reader || !reader->file) return false;
    char ansi[260];
    if (!ToAnsi(name, ansi, sizeof(ansi))) return false;
    // Case sensitivity 2: ASCII letters compare without regard to case.
    if (unzLocateFile(reader->file, ansi, 2) != UNZ_OK) return false;
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(reader->file, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
    if (index) *index = unzGetOffset64(reader->file);
    if (size) *size = static_cast<DWORD>(info.uncompressed_size);
    return true;
}

bool SkinZipExtractEntry(SkinZipReader* reader, SkinZipIndex index, const wchar_t* password,
                         void* buffer, DWORD bufferSize) {
    char* ansi = nullptr;
    if (password && *password) {
        const int bytes = WideCharToMultiByte(CP_ACP, 0, password, -1, nullptr, 0, nullptr, nullptr);
        if (bytes <= 0) return false;
        ansi = static_cast<char*>(calloc(bytes + 1, 1));
        if (!ansi) return false;
        WideCharToMultiByte(CP_ACP, 0, password, -1, ansi, bytes, nullptr, nullptr);
    }
    const bool done = ExtractZipEntryWithPassword(reader, index, buffer, bufferSize, ansi);
    if (ansi) {
        SecureZeroMemory(ansi, strlen(ansi));
        free(ansi);
    }
    return done;
}

// ------------------------------------------------------------------ traditional encryption

namespace {
inline uint32_t CrcStep(uint32_t value, unsigned char byte) {
    static const z_crc_t* table = get_crc_table();
    return (value >> 8) ^ table[(value ^ byte) & 0xFF];
}

inline unsigned char DecryptByte(uint32_t keys[3], unsigned char cipher) {
    const uint32_t t = (keys[2] & 0xFFFF) | 2;
    const unsigned char plain = static_cast<unsigned char>(cipher ^ (((t * (t ^ 1)) >> 8) & 0xFF));
    UpdateZipCryptoKeys(keys, plain);
    return plain;
}
}  // namespace

void InitZipCryptoKeys(const char* password, uint32_t keys[3]) {
    keys[0] = 0x12345678u;
    keys[1] = 0x23456789u;
    keys[2] = 0x34567890u;
    if (!password) return;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(password); *p; ++p)
        UpdateZipCryptoKeys(keys, *p);
}

void UpdateZipCryptoKeys(uint32_t keys[3], unsigned char byte) {
    keys[0] = CrcStep(keys[0], byte);
    keys[1] = (keys[1] + (keys[0] & 0xFF)) * 134775813u + 1u;
    keys[2] = CrcStep(keys[2], static_cast<unsigned char>(keys[1] >> 24));
}

// ------------------------------------------------------------------ extraction

namespace {
const uInt kChunk = 65536;

// Reads the entry's raw (still compressed, maybe encrypted) bytes in chunks,
// decrypts and stores or inflates them into the caller's buffer.
class EntryExtractor {
public:
    EntryExtractor(unzFile file, const unz_file_info64& info, unsigned char* out, const char* password)
        : m_file(file), m_info(info), m_out(out), m_password(password) {}
    ~EntryExtractor() {
        if (m_inflating) inflateEnd(&m_stream);
        free(m_chunk);
        if (m_opened) unzCloseCurrentFile(m_file);
        SecureZeroMemory(m_keys, sizeof(m_keys));
    }

    bool Run() {
        int method = 0, level = 0;
        if (unzOpenCurrentFile2(m_file, &method, &level, 1) != UNZ_OK) return false;
        m_opened = true;
        ZPOS64_T remaining = m_info.compressed_size;
        const bool encrypted = (m_info.flag & 0x21) != 0;
        if (encrypted) {
            if (!m_password || remaining < 12) return false;
            InitZipCryptoKeys(m_password, m_keys);
            unsigned char header[12];
            if (unzReadCurrentFile(m_file, header, 12) != 12) return false;
            // The header is decrypted only to advance the keys: a wrong
            // password shows as a failed inflate or CRC check below.
            for (unsigned char& b : header) b = DecryptByte(m_keys, b);
            remaining -= 12;
        }
        const uInt chunkSize = remaining < kChunk ? static_cast<uInt>(remaining) : kChunk;
        m_chunk = static_cast<unsigned char*>(malloc(chunkSize ? chunkSize : 1));
        if (!m_chunk) return false;
        const bool deflated = m_info.compression_method == Z_DEFLATED;
        if (deflated) {
            memset(&m_stream, 0, sizeof(m_stream));
            if (inflateInit2(&m_stream, -MAX_WBITS) != Z_OK) return false;
            m_inflating = true;
        }
        const ZPOS64_T expected = m_info.uncompressed_size;
        ZPOS64_T written = 0;
        bool ended = false;
        while (remaining > 0 && !ended) {
            const uInt n = remaining < chunkSize ? static_cast<uInt>(remaining) : chunkSize;
            if (unzReadCurrentFile(m_file, m_chunk, n) != static_cast<int>(n)) return false;
            remaining -= n;
            if (encrypted)
                for (uInt i = 0; i < n; ++i) m_chunk[i] = DecryptByte(m_keys, m_chunk[i]);
            if (!deflated) {
                if (written + n > expected) return false;
                memcpy(m_out + written, m_chunk, n);
                written += n;
                continue;
            }
            m_stream.next_in = m_chunk;
            m_stream.avail_in = n;
            do {
                m_stream.next_out = m_out + m_stream.total_out;
                m_stream.avail_out = static_cast<uInt>(expected - m_stream.total_out);
                const int result = inflate(&m_stream, Z_NO_FLUSH);
                if (result == Z_STREAM_END) {
                    ended = true;
                    break;
                }
                // No progress possible (more data than the entry's size) or damaged data.
                if (result != Z_OK) return false;
            } while (m_stream.avail_in > 0);
            written = m_stream.total_out;
        }
        // A deflate stream must reach its end marker.
        if (deflated && !ended) return false;
        if (written != expected) return false;
        return crc32(0L, m_out, static_cast<uInt>(expected)) == m_info.crc;
    }

private:
    unzFile m_file;
    const unz_file_info64& m_info;
    unsigned char* m_out;
    const char* m_password;
    uint32_t m_keys[3] = {0, 0, 0};
    unsigned char* m_chunk = nullptr;
    z_stream m_stream;
    bool m_inflating = false;
    bool m_opened = false;
};
}  // namespace

bool ExtractZipEntryWithPassword(SkinZipReader* reader, SkinZipIndex index, void* buffer,
                                 DWORD bufferSize, const char* password) {
    if (!reader || !reader->file) return false;
    if (!buffer && bufferSize != 0) return false;
    CUISharedLock lock;   // one reader position per archive
    if (unzSetOffset64(reader->file, index) != UNZ_OK) return false;
    unz_file_info64 info;
    char name[260];
    if (unzGetCurrentFileInfo64(reader->file, &info, name, sizeof(name), nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    const size_t nameLength = strlen(name);
    const bool directory = nameLength > 0 && name[nameLength - 1] == '/';
    if (directory) return true;
    // Nothing stored: only right when there is nothing to give.
    if (info.compressed_size == 0) return info.uncompressed_size == 0;
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) return false;
    if (info.uncompressed_size > 0xFFFFFFFFull || info.uncompressed_size > bufferSize) return false;
    EntryExtractor extractor(reader->file, info, static_cast<unsigned char*>(buffer), password);
    return extractor.Run();
}

// ------------------------------------------------------------------ settings

namespace {
HINSTANCE g_instance = nullptr;
HINSTANCE g_resourceModule = nullptr;
CUIString g_resourceFolder;
CUIString g_archiveName;
CUIString g_archivePassword;
bool g_archiveCached = false;
SkinZipReader* g_cachedReader = nullptr;
const void* g_archiveMemory = nullptr;

SkinZipReader* OpenArchiveInFolder(const CUIString& name) {
    CUIString path = g_resourceFolder + name;
    char ansi[260];
    if (!ToAnsi(path, ansi, sizeof(ansi))) return nullptr;
    return SkinZipOpenFile(ansi);
}
}  // namespace

void CPaintManagerUI::SetInstance(HINSTANCE instance) {
    CUISharedLock lock;
    g_instance = instance;
}

HINSTANCE CPaintManagerUI::GetInstance() {
    CUISharedLock lock;
    return g_instance;
}

HINSTANCE CPaintManagerUI::GetResourceModule() {
    CUISharedLock lock;
    return g_resourceModule ? g_resourceModule : g_instance;
}

CUIString CPaintManagerUI::GetModuleFolder() {
    HINSTANCE instance = GetInstance();
    if (!instance) return CUIString();
    wchar_t path[MAX_PATH] = {0};
    GetModuleFileNameW(instance, path, MAX_PATH);
    CUIString folder(path);
    const wchar_t* slash = wcsrchr(path, L'\\');
    if (slash) folder.Assign(path, static_cast<int>(slash - path) + 1);
    return folder;
}

void CPaintManagerUI::SetResourceFolder(const wchar_t* path) {
    CUISharedLock lock;
    g_resourceFolder = path;
    if (!g_resourceFolder.IsEmpty()) {
        const wchar_t last = g_resourceFolder[g_resourceFolder.GetLength() - 1];
        if (last != L'\\' && last != L'/') g_resourceFolder += L'\\';
    }
}

CUIString CPaintManagerUI::GetResourceFolder() {
    CUISharedLock lock;
    return g_resourceFolder;
}

void CPaintManagerUI::SetSkinArchive(const wchar_t* name, bool cached, const wchar_t* password) {
    CUISharedLock lock;
    if (g_archiveName == (name ? name : L"") && g_archiveCached == cached) return;
    if (g_archiveCached && g_cachedReader) {
        SkinZipClose(g_cachedReader);
        g_cachedReader = nullptr;
    }
    g_archiveName = name;
    g_archivePassword = password;
    g_archiveCached = cached;
    if (cached) g_cachedReader = OpenArchiveInFolder(g_archiveName);
}

void CPaintManagerUI::SetSkinArchiveFromMemory(DWORD size, const wchar_t* password) {
    CUISharedLock lock;
    if (g_archiveName == L"membuffer") return;
    if (g_archiveCached && g_cachedReader) {
        SkinZipClose(g_cachedReader);
        g_cachedReader = nullptr;
    }
    g_archiveName = L"membuffer";
    g_archivePassword = password;
    g_archiveCached = true;
    if (g_archiveMemory) g_cachedReader = SkinZipOpenMemory(g_archiveMemory, size);
}

void CPaintManagerUI::SetSkinArchiveMemory(const void* block) {
    CUISharedLock lock;
    g_archiveMemory = block;
}

const void* CPaintManagerUI::GetSkinArchiveMemory() {
    CUISharedLock lock;
    return g_archiveMemory;
}

CUIString CPaintManagerUI::GetSkinArchiveName() {
    CUISharedLock lock;
    return g_archiveName;
}

bool CPaintManagerUI::IsSkinArchiveCached() {
    CUISharedLock lock;
    return g_archiveCached;
}

SkinZipReader* CPaintManagerUI::GetSkinArchiveReader() {
    CUISharedLock lock;
    return g_cachedReader;
}

CUIString CPaintManagerUI::GetSkinArchivePassword() {
    CUISharedLock lock;
    return g_archivePassword;
}

// ------------------------------------------------------------------ reading skin files

namespace {
const wchar_t* const kErrOpenFile = L"Error opening file";
const wchar_t* const kErrFileEmpty = L"File is empty";
const wchar_t* const kErrFileTooLarge = L"File too large";
const wchar_t* const kErrReadFile = L"Could not read file";
const wchar_t* const kErrOpenZip = L"Error opening zip file";
const wchar_t* const kErrFindEntry = L"Could not find ziped file";
const wchar_t* const kErrEntrySize = L"File is empty or too large";
const wchar_t* const kErrUnzip = L"Could not unzip file";

bool Allocate(SkinFileBytes& out, DWORD size) {
    free(out.data);
    out.data = static_cast<BYTE*>(calloc(static_cast<size_t>(size) + 1, 1));
    out.size = out.data ? size : 0;
    return out.data != nullptr;
}

bool Fail(const wchar_t** error, const wchar_t* message) {
    if (error) *error = message;
    return false;
}

// A whole file; files of size 0, or read short, count as not found.
bool ReadWholeFile(const wchar_t* path, SkinFileBytes& out, DWORD limit, const wchar_t** error) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail(error, kErrOpenFile);
    LARGE_INTEGER size;
    bool done = false;
    if (!GetFileSizeEx(file, &size)) {
        Fail(error, kErrOpenFile);
    } else if (size.QuadPart == 0) {
        Fail(error, kErrFileEmpty);
    } else if (size.QuadPart > limit) {
        Fail(error, kErrFileTooLarge);
    } else if (!Allocate(out, static_cast<DWORD>(size.QuadPart))) {
        Fail(error, kErrReadFile);
    } else {
        DWORD read = 0;
        if (!ReadFile(file, out.data, out.size, &read, nullptr) || read != out.size) {
            free(out.data);
            out.data = nullptr;
            out.size = 0;
            Fail(error, kErrReadFile);
        } else {
            done = true;
        }
    }
    CloseHandle(file);
    return done;
}

bool ReadArchiveEntry(const wchar_t* name, SkinFileBytes& out, DWORD limit, const wchar_t** error) {
    CUISharedLock lock;   // from finding the entry to the end of its extraction
    SkinZipReader* reader = g_archiveCached ? g_cachedReader : OpenArchiveInFolder(g_archiveName);
    if (!reader) return Fail(error, kErrOpenZip);
    bool done = false;
    SkinZipIndex index = 0;
    DWORD size = 0;
    if (!SkinZipFindEntry(ToForwardSlashes(name), reader, &index, &size)) {
        Fail(error, kErrFindEntry);
    } else if (size == 0 || size > limit) {
        Fail(error, kErrEntrySize);
    } else if (!Allocate(out, size)) {
        Fail(error, kErrUnzip);
    } else if (!SkinZipExtractEntry(reader, index, g_archivePassword, out.data, size)) {
        free(out.data);
        out.data = nullptr;
        out.size = 0;
        Fail(error, kErrUnzip);
    } else {
        done = true;
    }
    if (!g_archiveCached) SkinZipClose(reader);
    return done;
}

bool ReadModuleResource(const wchar_t* name, const wchar_t* type, SkinFileBytes& out) {
    HMODULE module = CPaintManagerUI::GetResourceModule();
    const wchar_t* id = name;
    if (name[0] >= L'0' && name[0] <= L'9') id = MAKEINTRESOURCEW(_wtoi(name));
    HRSRC found = FindResourceW(module, id, type);
    if (!found) return false;
    const DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = size ? LoadResource(module, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data || !Allocate(out, size)) return false;
    memcpy(out.data, data, size);
    return true;
}
}  // namespace

bool ReadSkinFile(const wchar_t* name, const wchar_t* resourceType, SkinFileKind kind,
                  SkinFileBytes& out, const wchar_t** error) {
    if (error) *error = nullptr;
    if (!name || !*name) return Fail(error, kind == SkinFileLayout ? kErrOpenFile : nullptr);
    const DWORD limit = kind == SkinFileLayout ? kMaxLayoutFileSize : 0xFFFFFFFEu;
    bool found = false;
    if (kind == SkinFileGif && resourceType && name[0] >= L'0' && name[0] <= L'9') {
        return *resourceType && ReadModuleResource(name, resourceType, out);
    }
    if (kind == SkinFileImage && resourceType && *resourceType) {
        if (ReadModuleResource(name, resourceType, out)) return true;
    } else {
        const CUIString archive = CPaintManagerUI::GetSkinArchiveName();
        if (!archive.IsEmpty()) {
            found = ReadArchiveEntry(name, out, limit, error);
        } else {
            const CUIString path = CPaintManagerUI::GetResourceFolder() + name;
            found = ReadWholeFile(path, out, limit, error);
        }
    }
    if (found) return true;
    if (kind == SkinFileLayout || kind == SkinFileGif) return false;
    return ReadWholeFile(name, out, limit, nullptr);
}

}  // namespace Veneer
