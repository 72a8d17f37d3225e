#pragma once
// Hex texts and random bytes for the SM algorithm tests.
#include <openssl/rand.h>

#include <cctype>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

inline Bytes FromHex(const std::string& hex) {
    Bytes out;
    int high = -1;
    for (char c : hex) {
        if (!std::isxdigit((unsigned char)c)) continue;
        const int v = std::isdigit((unsigned char)c) ? c - '0' : (std::tolower((unsigned char)c) - 'a' + 10);
        if (high < 0) {
            high = v;
        } else {
            out.push_back((unsigned char)(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

inline std::string ToHex(const unsigned char* p, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}
inline std::string ToHex(const Bytes& b) { return ToHex(b.data(), b.size()); }

inline Bytes RandomBytes(size_t n) {
    Bytes b(n);
    if (n) RAND_bytes(b.data(), int(n));
    return b;
}

inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
