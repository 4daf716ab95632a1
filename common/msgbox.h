// Every message box of the engine, the driver and the windows goes through
// here, so that tests can answer and record them.
#pragma once
#include "common/seams.h"
#include <windows.h>

// Shows a box with the given buttons (MB_OK, MB_OKCANCEL, ...) and returns the
// button pressed (IDOK, IDCANCEL). An OK box asked for off the user-interface
// thread is handed to the main window (ID_NOTIFY_MESSAGE_BOX) and IDOK comes
// back at once: the asking thread never waits for the operator. Without a
// main window the box has no owner: an owned box would make the system send
// messages to the owner's thread, which may be blocked waiting for this one.
int showMessageBox(const wchar_t* text, UINT type = MB_OK);

// 8-bit text converted with the ANSI code page.
int showMessageBoxA(const char* text, UINT type = MB_OK);

// "Failed to open settings.txt file.No such file present" and the like: the
// reason the runtime's error number gives for a file that could not be
// opened to be read (creating false) or created; another number is shown
// as it is ("Failed to open settings.txt file. Error 22").
void showFileError(const char* fileName, bool creating, int error);

// Tests answer boxes through seams.messageBox (common/seams.h).

// The thread that owns mainHwnd's windows; set by the main window at start-up
// (and by tests that stand in for it).
extern DWORD uiThreadId;
