// Text crossing between the panels' controls (UTF-16) and the engine's
// records and commands (8-bit, ANSI code page).
#pragma once
#include "common/text.h"
#include <cstddef>
#include <string>

// A record field of `size` bytes, read up to its NUL or its end, whichever
// comes first (a full field may lack the NUL).
std::wstring fieldToWide(const char* field, size_t size);

// At most `maxBytes` bytes of 8-bit text; a text that does not fit is cut at
// a character boundary, never inside a double-byte character.
std::string wideToAnsi(const std::wstring& text, size_t maxBytes);
