#include "common/notify.h"

HWND mainHwnd = nullptr;

void postNotify(UINT id, LPARAM payload)
{
    // A missing main window (tests without one, or before start-up) drops it.
    if (mainHwnd)
        PostMessageW(mainHwnd, WM_COMMAND, id, payload);
}
