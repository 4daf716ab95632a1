// The process's working directory, which the file dialogs move and the
// Debug toggle, help documents and exit sequence put back.
#pragma once
#include <string>

// The current directory, whatever its length (empty if it cannot be read).
std::wstring currentDirectory();
