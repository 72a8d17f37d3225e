#include "PinCache.h"

#include <cstring>

SKF_PIN_CACHE g_stPIN;

void ClearPinCache() { memset(&g_stPIN, 0, sizeof g_stPIN); }
