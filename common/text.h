// Text between the engine, the commands and the files (8-bit, the system's
// ANSI code page) and the windows (UTF-16).
#pragma once
#include <cstddef>
#include <string>

constexpr size_t WHOLE_TEXT = static_cast<size_t>(-1);

// Up to `length` bytes of 8-bit text (or up to its NUL) as wide text; empty
// when it cannot be converted.
std::wstring ansiToWide(const char* text, size_t length = WHOLE_TEXT);
// The same into a buffer of `wideSize` characters: as much as fits, always
// terminated. One byte never gives more than one wide character.
void ansiToWide(const char* text, size_t length, wchar_t* wide, int wideSize);
// Wide text as 8-bit text; empty when it cannot be converted.
std::string wideToAnsiText(const wchar_t* text, size_t length);

// The 8-bit text of a record field of `size` bytes, up to its NUL or its
// end, whichever comes first (a full field may lack the NUL).
std::string fieldText(const char* field, size_t size);
