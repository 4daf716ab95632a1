#include "common/msgbox.h"
#include "common/notify.h"
#include "common/seams.h"

DWORD uiThreadId = 0;

namespace {

// Box texts travel by address to the main window, which shows them when its
// thread is free; several may be queued meanwhile.
constexpr int BOX_SLOTS = 64;
constexpr int BOX_TEXT_SIZE = 1024;
wchar_t boxSlots[BOX_SLOTS][BOX_TEXT_SIZE];
volatile LONG nextBoxSlot = -1;

// An OK box raised off the user-interface thread is shown by the main
// window, so that the thread that raised it (the serial read thread) never
// waits for the operator and reception goes on while the box is up.
bool postToMainWindow(const wchar_t* text, UINT type)
{
    if ((type & MB_TYPEMASK) != MB_OK || uiThreadId == 0 || GetCurrentThreadId() == uiThreadId || !mainHwnd)
        return false;
    LONG slot = InterlockedIncrement(&nextBoxSlot);
    wchar_t* buffer = boxSlots[static_cast<ULONG>(slot) % BOX_SLOTS];
    lstrcpynW(buffer, text, BOX_TEXT_SIZE);
    return PostMessageW(mainHwnd, WM_COMMAND, ID_NOTIFY_MESSAGE_BOX, reinterpret_cast<LPARAM>(buffer)) != FALSE;
}

} // namespace

int showMessageBox(const wchar_t* text, UINT type)
{
    if (postToMainWindow(text, type))
        return IDOK;
    if (seams.messageBox)
        return seams.messageBox(text, type);
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
