#include "common/systemdll.h"
#include "common/seams.h"

bool restrictDllSearch() { return seams.setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE; }

HMODULE loadSystemLibrary(const wchar_t* name)
{
    return seams.loadLibraryEx(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}
