// The shell's "open" verb on a document, with shell32 loaded on first use.
#pragma once
#include <windows.h>

// What ShellExecuteW returns for the verb "open" on `file` (above 32 =
// success); SE_ERR_DLLNOTFOUND when the shell cannot be loaded.
INT_PTR shellOpen(const wchar_t* file);
