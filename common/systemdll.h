// System libraries come from the system folder only: a DLL of the same name
// planted beside the exe (a downloads folder, an unpacked zip) is never
// loaded. Every program of the tool calls restrictDllSearch first thing.
#pragma once
#include <windows.h>

// The default search for every later load, implicit ones included.
bool restrictDllSearch();
// A library needed only on first use (the common dialogs, the shell).
HMODULE loadSystemLibrary(const wchar_t* name);
