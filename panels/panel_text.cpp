#include "panels/panel_text.h"
#include <windows.h>
#include <commctrl.h>
#include <cstring>

std::wstring fieldToWide(const char* field, size_t size)
{
    size_t length = strnlen(field, size);
    if (length == 0)
        return std::wstring();
    int wideLength = MultiByteToWideChar(CP_ACP, 0, field, static_cast<int>(length), nullptr, 0);
    if (wideLength <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, field, static_cast<int>(length), &wide[0], wideLength);
    return wide;
}

namespace {
std::string convert(const wchar_t* text, size_t length)
{
    if (length == 0)
        return std::string();
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return std::string();
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), &narrow[0], bytes, nullptr, nullptr);
    return narrow;
}
}

std::string wideToAnsi(const std::wstring& text, size_t maxBytes)
{
    // Each wide character becomes one or two bytes, so the text is shortened
    // one character at a time until it fits.
    size_t length = text.size();
    if (length > maxBytes)
        length = maxBytes;
    std::string narrow = convert(text.data(), length);
    while (narrow.size() > maxBytes && length > 0) {
        --length;
        if (length > 0 && IS_LOW_SURROGATE(text[length]) && IS_HIGH_SURROGATE(text[length - 1]))
            --length;
        narrow = convert(text.data(), length);
    }
    return narrow;
}

std::string fieldText(const char* field, size_t size)
{
    return std::string(field, strnlen(field, size));
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
