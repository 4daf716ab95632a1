#include "app/msgbox.h"
#include "app/notify.h"

MessageBoxHook messageBoxHook = nullptr;
DWORD uiThreadId = 0;

int showMessageBox(const wchar_t* text, UINT type)
{
    if (messageBoxHook)
        return messageBoxHook(text, type);
    HWND owner = (uiThreadId != 0 && GetCurrentThreadId() == uiThreadId) ? mainHwnd : nullptr;
    UINT flags = type;
    if (!owner)
        flags |= MB_TASKMODAL | MB_SETFOREGROUND;
    return MessageBoxW(owner, text, L"RZ310_Config", flags);
}

int showMessageBoxA(const char* text, UINT type)
{
    wchar_t wide[1024];
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 1024) == 0) {
        // Too long for the buffer: show what fits.
        int n = MultiByteToWideChar(CP_ACP, 0, text, 1023, wide, 1023);
        wide[n > 0 ? n : 0] = L'\0';
    }
    return showMessageBox(wide, type);
}
