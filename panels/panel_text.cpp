#include "panels/panel_text.h"
#include "common/text.h"
#include <windows.h>
#include <commctrl.h>
#include <cstring>

std::wstring fieldToWide(const char* field, size_t size)
{
    return ansiToWide(field, size);
}

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

int answerToolTip(unsigned id, void* dispInfo, const ToolTipText* texts, size_t count)
{
    auto* info = static_cast<NMTTDISPINFOW*>(dispInfo);
    if (!info || !(info->uFlags & TTF_IDISHWND) || id == 0)
        return FALSE;
    const wchar_t* text = L"";
    for (size_t i = 0; i < count; ++i)
        if (texts[i].id == id)
            text = texts[i].text;
    info->lpszText = const_cast<wchar_t*>(text);
    return TRUE;
}
