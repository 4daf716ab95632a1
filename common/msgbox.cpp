#include "common/msgbox.h"
#include "common/text.h"
#include "common/notify.h"
#include "common/seams.h"
#include <cerrno>
#include <cstdio>

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
    // Too long for the buffer: what fits is shown.
    wchar_t wide[1024];
    ansiToWide(text, WHOLE_TEXT, wide, 1024);
    return showMessageBox(wide, type);
}

void showFileError(const char* fileName, bool creating, int error)
{
    struct Reason {
        int error;
        bool creating;
        const char* text;
    };
    static const Reason reasons[] = {
        {EPERM, false, "Operation not permitted"}, {ENOENT, false, "No such file present"},
        {EACCES, false, "Access Denied"},          {EPERM, true, "Operation not permitted"},
        {ENOMEM, true, "No Space in disk left"},   {EACCES, true, "Access Denied"},
        {EBUSY, true, "File in use."},             {ENAMETOOLONG, true, "File name too long"},
    };
    char text[256];
    snprintf(text, sizeof text, "Failed to open %s file. Error %d", fileName, error);
    for (const Reason& reason : reasons)
        if (reason.error == error && reason.creating == creating)
            snprintf(text, sizeof text, "Failed to %s %s file.%s", creating ? "create" : "open", fileName,
                     reason.text);
    showMessageBoxA(text);
}
