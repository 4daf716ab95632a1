#include "common/busywait.h"

#include <atomic>

namespace {

// The thread inside a procedure; 0 when none is. Other threads (the serial
// read thread settling a port change) wait plainly.
std::atomic<DWORD> busyThread{0};
// Only that thread reads and writes these.
bool stopAllowed = false;
bool stopAsked = false;

// Bounds one round of painting: a window that never validates its update
// region must not keep the wait from ending.
constexpr int MAX_PAINTS_PER_ROUND = 64;

void repaint()
{
    MSG msg;
    for (int i = 0; i < MAX_PAINTS_PER_ROUND && PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE); ++i)
        DispatchMessageW(&msg);
}

// Takes the keys typed meanwhile; true when the procedure is to stop.
bool stopTyped()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE))
        if (stopAllowed && msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE)
            stopAsked = true;
    return stopAllowed && stopAsked;
}

void dropInput()
{
    stopTyped();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT)) {
    }
}

} // namespace

BusyProcedure::BusyProcedure() : previousThread_(busyThread.exchange(GetCurrentThreadId()))
{
    stopAllowed = stopAsked = false;
}

BusyProcedure::~BusyProcedure()
{
    stopAllowed = stopAsked = false;
    dropInput();
    busyThread = previousThread_;
}

void BusyProcedure::allowStop(bool allow) { stopAllowed = allow; }

bool BusyProcedure::stopped() const { return stopAsked; }

DWORD waitRepainting(HANDLE handle, DWORD ms)
{
    if (busyThread != GetCurrentThreadId()) {
        if (!handle) {
            Sleep(ms);
            return WAIT_TIMEOUT;
        }
        return WaitForSingleObject(handle, ms);
    }

    const DWORD handles = handle ? 1 : 0;
    const DWORD start = GetTickCount();
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
        // An answer that is already in wins over a stop.
        if (stopTyped() && !(handle && WaitForSingleObject(handle, 0) == WAIT_OBJECT_0)) {
            result = WAIT_STOPPED;
            break;
        }
        DWORD elapsed = GetTickCount() - start;
        DWORD left = elapsed < ms ? ms - elapsed : 0;
        // Keys wake the wait too: Esc must act at once, not after it.
        result = MsgWaitForMultipleObjects(handles, handle ? &handle : nullptr, FALSE, left, QS_PAINT | QS_KEY);
        if (result != WAIT_OBJECT_0 + handles)
            break;
        repaint();
        if (left == 0) {
            result = handle ? WaitForSingleObject(handle, 0) : WAIT_TIMEOUT;
            break;
        }
    }
    // What the operator typed or clicked while the tool could not answer.
    dropInput();
    return result;
}
