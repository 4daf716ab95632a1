#include "app/shellopen.h"
#include "common/systemdll.h"

#include <shellapi.h>

INT_PTR shellOpen(const wchar_t* file)
{
    // Loaded here, not linked: the shell is only needed for the Help menu,
    // and linked it adds its initialisation to every start of the tool.
    using ExecuteFn = HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
    HMODULE shell = loadSystemLibrary(L"shell32.dll");
    auto execute =
        shell ? reinterpret_cast<ExecuteFn>(reinterpret_cast<void*>(GetProcAddress(shell, "ShellExecuteW"))) : nullptr;
    if (!execute)
        return SE_ERR_DLLNOTFOUND;
    return reinterpret_cast<INT_PTR>(execute(nullptr, L"open", file, nullptr, nullptr, SW_SHOWNORMAL));
}
