#include "common/busywait.h"

#include <atomic>

namespace {

// The thread inside a procedure; 0 when none is. Other threads (the serial
// read thread settling a port change) wait plainly.
std::atomic<DWORD> busyThread{0};

// Bounds one round of painting: a window that never validates its update
// region must not keep the wait from ending.
constexpr int MAX_PAINTS_PER_ROUND = 64;

void repaint()
{
    MSG msg;
    for (int i = 0; i < MAX_PAINTS_PER_ROUND && PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE); ++i)
        DispatchMessageW(&msg);
}

void dropInput()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT)) {
    }
}

} // namespace

BusyProcedure::BusyProcedure() : previousThread_(busyThread.exchange(GetCurrentThreadId())) {}

BusyProcedure::~BusyProcedure()
{
    dropInput();
    busyThread = previousThread_;
}

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
        DWORD elapsed = GetTickCount() - start;
        DWORD left = elapsed < ms ? ms - elapsed : 0;
        result = MsgWaitForMultipleObjects(handles, handle ? &handle : nullptr, FALSE, left, QS_PAINT);
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
