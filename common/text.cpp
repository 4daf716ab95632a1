#include "common/text.h"
#include <windows.h>
#include <cstring>

std::wstring ansiToWide(const char* text, size_t length)
{
    if (!text)
        return std::wstring();
    length = strnlen(text, length);
    if (length == 0)
        return std::wstring();
    int wideLength = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    if (wideLength <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), &wide[0], wideLength);
    return wide;
}

void ansiToWide(const char* text, size_t length, wchar_t* wide, int wideSize)
{
    if (wideSize <= 0)
        return;
    // Converting at most wideSize - 1 bytes always fits.
    length = strnlen(text, length);
    int bytes = length < static_cast<size_t>(wideSize - 1) ? static_cast<int>(length) : wideSize - 1;
    int n = bytes > 0 ? MultiByteToWideChar(CP_ACP, 0, text, bytes, wide, wideSize - 1) : 0;
    wide[n > 0 ? n : 0] = L'\0';
}

std::string wideToAnsiText(const wchar_t* text, size_t length)
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

std::string fieldText(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }
