#include "app/engine_events.h"
#include "atcommand/atcommand.h"
#include "common/debuglog.h"
#include "common/msgbox.h"
#include "common/notify.h"

const char* engineTimerExpired(HWND window, UINT_PTR id)
{
    switch (id) {
    case ATCommandTimer:
        debugLog("ATCommandTimer expired");
        KillTimer(window, ATCommandTimer);
        processTimedResponse();
        return nullptr;
    case DevInitTimer:
        // Logs, kills the timer, handles what arrived and takes the next step.
        devInitTimerStep();
        return nullptr;
    case HandshakeCommandTimer:
        debugLog("Handshake Command Timer Expired.");
        KillTimer(window, HandshakeCommandTimer);
        // Back to idle, unless the reply won the race and was handled.
        return handshakeTimerStep();
    default:
        return nullptr;
    }
}

bool engineNotification(HWND window, UINT id, LPARAM payload)
{
    switch (id) {
    case ID_NOTIFY_HANDSHAKE_HANDLED:
        // Only the thread that owns the window can kill its timer.
        if (handshakeTimerSpent(payload))
            KillTimer(window, HandshakeCommandTimer);
        return true;
    case ID_NOTIFY_MESSAGE_BOX:
        if (payload)
            showMessageBox(reinterpret_cast<const wchar_t*>(payload));
        return true;
    default:
        return false;
    }
}
