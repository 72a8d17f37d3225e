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

static_assert(sizeof(ContainerHeader) == 10, "container header is 10 bytes");
static_assert(sizeof(CONTAINER_RECORD) == 50, "container record is 50 bytes");
