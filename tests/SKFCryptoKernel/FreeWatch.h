#pragma once
// The test program's array and scalar deletes look into each block they
// free while a check is installed: a block the check finds a secret in is
// counted.
#include <cstddef>

extern bool (*g_freedBlockCheck)(const void* p, size_t n);
extern int g_freedSecretBlocks;
