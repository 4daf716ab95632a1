// C-style escaping for the control channel: one request or reply per line,
// so bytes that would break a line or a space-separated list are escaped.
#pragma once

#include <string>

namespace sim {

// CR, LF and TAB as \r \n \t, backslash as \\, space and every other byte
// outside 0x21..0x7E as \xNN.
std::string escape(const std::string& bytes);

// Decodes \r \n \t \\ \xNN; other characters stand for themselves.
// Returns false, leaving `bytes` untouched, on an unknown or cut-off escape.
bool unescape(const std::string& text, std::string& bytes);

}  // namespace sim
