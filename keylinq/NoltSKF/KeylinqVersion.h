#pragma once
// Keylinq's version (also read by the resource compiler).
#define KEYLINQ_VERSION_MAJOR 1
#define KEYLINQ_VERSION_MINOR 0
#define KEYLINQ_VERSION_PATCH 0
#define KEYLINQ_VERSION_TEXT "1.0.0.0"
