// The engine's timers and the notifications that need no panel: handled
// alike by the main window and by the batch programmer's hidden window.
#pragma once
#include <windows.h>

// One of the engine's timers (ATCommandTimer, DevInitTimer,
// HandshakeCommandTimer) expired on `window`: kills it and takes the step.
// Returns a text for the operator's log, or nullptr.
const char* engineTimerExpired(HWND window, UINT_PTR id);

// ID_NOTIFY_HANDSHAKE_HANDLED and ID_NOTIFY_MESSAGE_BOX; false for any other id.
bool engineNotification(HWND window, UINT id, LPARAM payload);
