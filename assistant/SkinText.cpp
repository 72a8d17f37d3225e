#include "SkinText.h"

#include <cwchar>

std::wstring FormatSkinText(const wchar_t* format, int number, const wchar_t* text, size_t maxChars) {
    std::wstring out;
    if (!format) return out;
    bool numberUsed = false, textUsed = false;
    for (const wchar_t* p = format; *p; ++p) {
        if (p[0] == L'%' && p[1] == L'%') {
            out += L'%';
            ++p;
        } else if (p[0] == L'%' && p[1] == L'd' && !numberUsed) {
            out += std::to_wstring(number);
            numberUsed = true;
            ++p;
        } else if (p[0] == L'%' && p[1] == L's' && !textUsed) {
            if (text) out += text;
            textUsed = true;
            ++p;
        } else if (p[0] == L'%' && p[1] == L'l' && p[2] == L's' && !textUsed) {
            if (text) out += text;
            textUsed = true;
            p += 2;
        } else {
            out += *p;
        }
        if (out.size() >= maxChars) break;
    }
    if (out.size() > maxChars) out.resize(maxChars);
    return out;
}
