#include "panels/panel_text.h"
#include "common/text.h"
#include <windows.h>
#include <commctrl.h>
#include <cstring>

std::wstring fieldToWide(const char* field, size_t size) { return ansiToWide(field, size); }

std::string wideToAnsi(const std::wstring& text, size_t maxBytes)
{
    // Each wide character becomes one or two bytes, so the text is shortened
    // one character at a time until it fits.
    size_t length = text.size();
    if (length > maxBytes)
        length = maxBytes;
    std::string narrow = wideToAnsiText(text.data(), length);
    while (narrow.size() > maxBytes && length > 0) {
        --length;
        if (length > 0 && IS_LOW_SURROGATE(text[length]) && IS_HIGH_SURROGATE(text[length - 1]))
            --length;
        narrow = wideToAnsiText(text.data(), length);
    }
    return narrow;
}
