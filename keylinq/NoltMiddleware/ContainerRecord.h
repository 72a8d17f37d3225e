#pragma once
// The record of one container as the key keeps it in its container list
// (50 bytes, numbers big-endian): a 10-byte header, then the name.
#include <cstdint>

#pragma pack(push, 1)
struct ContainerHeader {
    uint8_t byType;             // 1 RSA, 2 SM2
    uint8_t byReserved1;        // carried as the key gives it
    uint8_t abyFileIDBase[2];   // big-endian; a key's file id is this base OR its key spec
    uint8_t ExKeyType;          // exchange key's algorithm id: 0 none, 1, 7 or 17
    uint8_t byExCertFlag;       // 1 when the exchange key has a certificate
    uint8_t SignKeyType;        // signature key's algorithm id
    uint8_t bySignCertFlag;     // 1 when the signature key has a certificate
    uint8_t byReserved8;        // carried as the key gives it
    uint8_t byNameLen;          // without the terminator
};

constexpr uint32_t CONTAINER_NAME_FIELD_LEN = 40;

struct CONTAINER_RECORD {
    ContainerHeader header;
    char szName[CONTAINER_NAME_FIELD_LEN];  // NUL-terminated within the field
};
#pragma pack(pop)

// Results of the container operations.
#define DEVOP_E_CONTAINER_NAME 0x8007020Cu  // no cached record of that name, or a name that does not fit the record
#define DEVOP_E_NOT_CACHED     524u         // RemoveCachedContainer: no cached record of that name

// One entry of the operation log that the library keeps on the key (16
// bytes) and the tags it writes after each logged operation.
#pragma pack(push, 1)
struct KEY_LOG_RECORD {
    uint8_t bySequence;  // 0 to 254; 0xFF marks an empty entry
    char szTag[11];      // NUL-terminated
    uint8_t abyTime[4];  // seconds since 1970 UTC, low 32 bits, little-endian
};
#pragma pack(pop)
static_assert(sizeof(KEY_LOG_RECORD) == 16, "key log record is 16 bytes");

#define KEY_LOG_TAG_CREATE_CONTAINER "CreCtnr"
#define KEY_LOG_TAG_DELETE_CONTAINER "DelCtnr"
#define KEY_LOG_TAG_IMPORT_KEY_PAIR  "ImpKeyP"
#define KEY_LOG_TAG_WRITE_CERT       "WriCert"
#define KEY_LOG_TAG_CHANGE_PIN       "ChgPin"
#define KEY_LOG_TAG_UNLOCK_PIN       "UnlkPin"
#define KEY_LOG_TAG_RESET_APP        "RstApp"

static_assert(sizeof(ContainerHeader) == 10, "container header is 10 bytes");
static_assert(sizeof(CONTAINER_RECORD) == 50, "container record is 50 bytes");
