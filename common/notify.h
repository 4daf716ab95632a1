// Notification ids, timer ids and the main window handle shared by the
// engine, the serial driver and the windows.
#pragma once
#include <windows.h>

// WM_COMMAND ids posted to mainHwnd; the payload goes in lParam.
enum : UINT {
    ID_NOTIFY_LOG = 20001,
    ID_NOTIFY_LOCAL_DEVICE = 20002,
    ID_NOTIFY_FIRMWARE_VERSION = 20003,
    ID_NOTIFY_PAIR_DEVICE = 20004,
    ID_NOTIFY_STATUS = 20005,
    ID_NOTIFY_INQUIRY_RESULT = 20006,
    ID_NOTIFY_INQUIRY_CLEAR = 20007,
    ID_NOTIFY_INQUIRY_END = 20008,
    ID_NOTIFY_REMOTE_DEVICE = 20009,
    // Ours, apart from the table above: the read thread handled a handshake
    // reply, the main window kills HandshakeCommandTimer (payload: the arming).
    ID_NOTIFY_HANDSHAKE_HANDLED = 20020,
    // A message box asked for off the user-interface thread; the payload is
    // its wide text (common/msgbox.h).
    ID_NOTIFY_MESSAGE_BOX = 20010,
    // The Local Device panel's adapter controls: enabled when the payload
    // is nonzero.
    ID_NOTIFY_DEVICE_CONTROLS = 20011,
    // The serial port's device is gone; the payload is the port number.
    ID_NOTIFY_PORT_LOST = 20012,
    // Log texts wait in the engine's queue (takeLogTexts); no payload.
    ID_NOTIFY_LOG_QUEUED = 20030,
};

// One-shot timers owned by the main window.
enum : UINT_PTR {
    ATCommandTimer = 19000,
    DevInitTimer = 19001,
    HandshakeCommandTimer = 19002,
    // While the port is lost: the next try to open it again.
    PortRetryTimer = 19003,
};

// The main window: target of every notification and owner of the timers.
extern HWND mainHwnd;

// Posts WM_COMMAND(id) with the payload to mainHwnd; safe from any thread.
void postNotify(UINT id, LPARAM payload = 0);
