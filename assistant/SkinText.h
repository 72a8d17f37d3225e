#pragma once
// Skin texts that carry a number and a text (the result line's failures,
// the PIN tips). A skin text is never handed to printf: the first %d takes
// the number, the first %s or %ls the text, "%%" is one "%", everything
// else stays as written; the result is cut at maxChars characters.
#include <string>

std::wstring FormatSkinText(const wchar_t* format, int number, const wchar_t* text, size_t maxChars);
