#include "common/msgbox.h"
#include "common/text.h"
#include "common/notify.h"
#include "common/seams.h"
#include <cerrno>
#include <cstdio>
#include <cstring>

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
    // Whole texts, so that each box's words can be found as they stand.
    struct Reason {
        const char* file;
        int error; // 0: any other error, its number in the text
        bool creating;
        const char* text;
    };
    static const Reason reasons[] = {
        {"settings.txt", EPERM, false, "Failed to open settings.txt file.Operation not permitted"},
        {"settings.txt", ENOENT, false, "Failed to open settings.txt file.No such file present"},
        {"settings.txt", EACCES, false, "Failed to open settings.txt file.Access Denied"},
        {"settings.txt", EPERM, true, "Failed to create settings.txt file.Operation not permitted"},
        {"settings.txt", ENOMEM, true, "Failed to create settings.txt file.No Space in disk left"},
        {"settings.txt", EACCES, true, "Failed to create settings.txt file.Access Denied"},
        {"settings.txt", EBUSY, true, "Failed to create settings.txt file.File in use."},
        {"settings.txt", ENAMETOOLONG, true, "Failed to create settings.txt file.File name too long"},
        {"settings.txt", 0, false, "Failed to open settings.txt file. Error %d"},
        {"settings.txt", 0, true, "Failed to open settings.txt file. Error %d"},
        {"Debug.txt", EPERM, true, "Failed to create Debug.txt file.Operation not permitted"},
        {"Debug.txt", ENOMEM, true, "Failed to create Debug.txt file.No Space in disk left"},
        {"Debug.txt", EACCES, true, "Failed to create Debug.txt file.Access Denied"},
        {"Debug.txt", EBUSY, true, "Failed to create Debug.txt file.File in use."},
        {"Debug.txt", ENAMETOOLONG, true, "Failed to create Debug.txt file.File name too long"},
        {"Debug.txt", 0, true, "Failed to open Debug.txt file. Error %d"},
    };
    char text[256];
    snprintf(text, sizeof text, "Failed to open %s file. Error %d", fileName, error);
    for (const Reason& reason : reasons) {
        if (strcmp(reason.file, fileName) != 0 || reason.creating != creating)
            continue;
        if (reason.error == error && error != 0) {
            snprintf(text, sizeof text, "%s", reason.text);
            break;
        }
        if (reason.error == 0)
            snprintf(text, sizeof text, reason.text, error);
    }
    showMessageBoxA(text);
}
