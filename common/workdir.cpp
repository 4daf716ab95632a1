#include "common/workdir.h"
#include <windows.h>

std::wstring currentDirectory()
{
    std::wstring dir(300, L'\0');
    DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(dir.size()), &dir[0]);
    if (n >= dir.size()) {
        // Longer than the usual buffer: ask again with the size it needs.
        dir.assign(n, L'\0');
        n = GetCurrentDirectoryW(static_cast<DWORD>(dir.size()), &dir[0]);
        if (n >= dir.size())
            n = 0;
    }
    dir.resize(n);
    return dir;
}
