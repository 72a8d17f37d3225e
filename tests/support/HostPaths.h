#pragma once
// Paths handed to Windows test programs by CTest are host paths; under
// Wine the host's root is drive Z:.
#include <cstdlib>
#include <string>

inline std::string HostEnvPath(const char* variable) {
    const char* value = std::getenv(variable);
    if (!value || !*value) return std::string();
    std::string path = value;
    if (path[0] == '/') path = "Z:" + path;
    return path;
}

inline std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }
